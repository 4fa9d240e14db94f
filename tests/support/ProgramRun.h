#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace tollavar::testing {

// Starts the real program as cron would start it: no display, no terminal on its input, its own
// settings folder, its error stream (and its output, when a path is given) into a file. -1 when it
// cannot be started.
inline pid_t startProgram(const std::vector<std::string>& arguments, const std::string& configHome,
                          const std::string& stderrPath, const std::string& stdoutPath = {},
                          const std::vector<std::string>& extraEnvironment = {})
{
    const std::string program = std::string(TOLLAVAR_BINARY_DIR) + "/tollavar";
    // The run history goes beside the settings, never into the home of whoever runs the tests.
    std::vector<std::string> environment{"XDG_CONFIG_HOME=" + configHome, "XDG_STATE_HOME=" + configHome};
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (!entry.starts_with("DISPLAY=") && !entry.starts_with("WAYLAND_DISPLAY=") &&
            !entry.starts_with("QT_QPA_PLATFORM=") && !entry.starts_with("XDG_CONFIG_HOME=") &&
            !entry.starts_with("XDG_STATE_HOME=") && !entry.starts_with("NOTIFY_SOCKET=") &&
            !entry.starts_with("JOURNAL_STREAM="))
            environment.push_back(entry);
    }
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : args)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!stdoutPath.empty())
        posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// The exit status, or -1 when the program did not exit by itself.
inline int exitStatusOf(pid_t pid)
{
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace tollavar::testing
