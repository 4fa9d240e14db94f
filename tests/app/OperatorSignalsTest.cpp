#include "batch/ConfigFile.h"
#include "engine/ConversionSettings.h"
#include "support/ExampleBatchSettings.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tollavar {
namespace {

using testing::exists;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;
using namespace std::chrono_literals;

// A batch of `lines` documents without images, within what one datagroup holds.
std::string writeBatch(const TempDir& dir, long lines)
{
    std::string index;
    for (long i = 1; i <= lines; ++i)
        index += "Name " + std::to_string(i) + ",,1," + std::to_string(i) + "\r\n";
    writeFile(dir / "in/big.csv", index);
    const std::string config = dir / "batch.tvr";
    ConversionSettings s = testing::exampleBatchSettings(dir, "in/big.csv");
    s.maxDocuments = "100000000";
    writeFile(config, serializeConfig(s));
    return config;
}

// Runs the program with a terminal for its input and output and returns what the terminal showed.
std::string runOnTerminal(const TempDir& dir, std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), std::string(TOLLAVAR_BINARY_DIR) + "/tollavar");
    int master = -1;
    winsize size{24, 200, 0, 0};
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        ::unsetenv("QT_QPA_PLATFORM");
        ::unsetenv("JOURNAL_STREAM");
        ::setenv("XDG_CONFIG_HOME", (dir / "home").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (dir / "home").c_str(), 1);
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    EXPECT_GT(pid, 0);
    std::string shown;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0)
            break; // EIO once the program has ended and closed the terminal
        shown.append(buffer, static_cast<size_t>(got));
    }
    ::close(master);
    EXPECT_EQ(testing::exitStatusOf(pid), 0) << shown;
    return shown;
}

// The progress line shows on a terminal, is cleared at the end, and never reaches a file or pipe.
TEST(OperatorOutput, ProgressShowsOnATerminalOnly)
{
    TempDir dir;
    const std::string config = writeBatch(dir, 30000);

    const std::string terminal = runOnTerminal(dir, {config, "/u:1"});
    EXPECT_NE(terminal.find("\rbig.csv: "), std::string::npos) << terminal;
    EXPECT_NE(terminal.find(" of 30000 lines, "), std::string::npos) << terminal;
    EXPECT_NE(terminal.find(" documents/s, "), std::string::npos) << terminal;
    EXPECT_NE(terminal.find(" left\x1b[K"), std::string::npos) << terminal;
    EXPECT_NE(terminal.rfind("\r\x1b[K"), std::string::npos) << "never cleared: " << terminal;

    EXPECT_EQ(runOnTerminal(dir, {"--quiet", config, "/u:2"}).find("documents/s"), std::string::npos);

    const pid_t piped = testing::startProgram({config, "/u:3"}, dir / "home", dir / "stderr.txt");
    ASSERT_EQ(testing::exitStatusOf(piped), 0) << readFile(dir / "stderr.txt");
    EXPECT_EQ(readFile(dir / "stderr.txt").find("documents/s"), std::string::npos) << readFile(dir / "stderr.txt");
}

// The hot folder under systemd: the notify protocol on a socket the test listens on, and every line of
// standard error carrying its journal priority.
TEST(OperatorOutput, TheHotFolderSpeaksSystemdsNotifyProtocolAndTheJournalsPriorities)
{
    TempDir dir;
    writeFile(dir / "images/B1/1.TIF", "II*1");
    writeFile(dir / "in/a.csv", "A1,\\B1\\1.TIF,1,1\r\nA2,,1,2\r\n");
    const std::string config = dir / "batch.tvr";
    writeFile(config, serializeConfig(testing::exampleBatchSettings(dir, "in/*.csv")));

    const std::string socketPath = dir / "notify.sock";
    const int listener = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    // The journal names its stream by device and inode; the program's stderr file is made first so
    // that its inode is known.
    writeFile(dir / "stderr.txt", "");
    struct stat st
    {
    };
    ASSERT_EQ(::stat((dir / "stderr.txt").c_str(), &st), 0);
    const pid_t pid =
        testing::startProgram({"--watch", "--settle=0", config}, dir / "home", dir / "stderr.txt", {},
                              {"NOTIFY_SOCKET=" + socketPath, "WATCHDOG_USEC=400000",
                               "JOURNAL_STREAM=" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)});
    ASSERT_GT(pid, 0);

    std::vector<std::string> said;
    const auto hear = [&](const std::string& wanted, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd fd{listener, POLLIN, 0};
            if (::poll(&fd, 1, 50) <= 0)
                continue;
            char buffer[4096];
            const ssize_t got = ::recv(listener, buffer, sizeof buffer, 0);
            if (got <= 0)
                continue;
            said.emplace_back(buffer, static_cast<size_t>(got));
            if (said.back().find(wanted) != std::string::npos)
                return true;
        }
        return false;
    };
    EXPECT_TRUE(hear("READY=1", 10s));
    EXPECT_TRUE(hear("STATUS=converted a.csv: 2 documents into EXMP0001", 10s));
    EXPECT_TRUE(hear("WATCHDOG=1", 2s)) << "no sign of life while waiting";
    ::kill(pid, SIGTERM);
    EXPECT_TRUE(hear("STOPPING=1", 10s));
    EXPECT_EQ(testing::exitStatusOf(pid), 0);
    ::close(listener);
    std::string all;
    for (const std::string& datagram : said)
        all += datagram + "|";
    EXPECT_EQ(all.find("READY=1"), 0u) << all;

    const std::string err = readFile(dir / "stderr.txt");
    EXPECT_NE(err.find("<6>tollavar: converted " + dir / "in/a.csv"), std::string::npos) << err;
    size_t lines = 0;
    for (size_t start = 0; start < err.size(); start = err.find('\n', start) + 1) {
        EXPECT_EQ(err[start], '<') << err.substr(start, err.find('\n', start) - start);
        ++lines;
    }
    EXPECT_GT(lines, 3u);
    EXPECT_TRUE(exists(dir / "out/EXMP0001/DATAGRP.SUBMIT"));
}

// A notify socket whose queue is full and that nobody reads: the watcher neither stops converting nor
// stops hearing SIGTERM, and says once that its messages are dropped.
TEST(OperatorOutput, ANotifySocketNobodyReadsNeitherHoldsUpTheWatcherNorItsStop)
{
    TempDir dir;
    for (const char* name : {"a", "b", "c"})
        writeFile(dir / (std::string("images/B1/") + name + ".TIF"), "II*");
    std::filesystem::create_directories(dir / "in");
    const std::string config = dir / "batch.tvr";
    writeFile(config, serializeConfig(testing::exampleBatchSettings(dir, "in/*.csv")));

    const std::string socketPath = dir / "notify.sock";
    const int listener = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const int filler = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int queued = 0;
    while (queued < 100000 &&
           ::sendto(filler, "X", 1, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 1)
        ++queued;
    ASSERT_EQ(errno, EAGAIN) << "the socket's queue never filled";
    ::close(filler);

    const pid_t pid = testing::startProgram({"--watch", "--settle=0", config}, dir / "home", dir / "stderr.txt", {},
                                            {"NOTIFY_SOCKET=" + socketPath, "WATCHDOG_USEC=200000"});
    ASSERT_GT(pid, 0);
    const auto err = [&] { return exists(dir / "stderr.txt") ? readFile(dir / "stderr.txt") : std::string(); };
    const auto within = [](std::chrono::milliseconds limit, const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        return done();
    };
    EXPECT_TRUE(within(10s, [&] { return err().find(dir / "in: ") != std::string::npos; })) << err();
    for (const char* name : {"a", "b", "c"}) {
        writeFile(dir / (std::string("in/") + name + ".csv"), std::string(name) + ",\\B1\\" + name + ".TIF,1,1\r\n");
        EXPECT_TRUE(within(10s, [&] { return !exists(dir / (std::string("in/") + name + ".csv")); }))
            << name << " was not converted:\n"
            << err();
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    bool reaped = false;
    const bool ended = within(2s, [&] { return reaped = reaped || ::waitpid(pid, &status, WNOHANG) == pid; });
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ::close(listener);
    ASSERT_TRUE(ended) << "SIGTERM did not end the watcher within 2 s:\n" << err();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << err();
    const std::string log = err();
    const size_t said = log.find("notify socket");
    EXPECT_NE(said, std::string::npos) << log;
    EXPECT_EQ(log.find("notify socket", said + 1), std::string::npos) << log;
    for (const char* name : {"a", "b", "c"})
        EXPECT_TRUE(exists(dir / (std::string("out/EXMP0001/B1/") + name + ".TIF"))) << name;
}

} // namespace
} // namespace tollavar
