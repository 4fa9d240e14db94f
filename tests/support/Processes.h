#pragma once

#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace tollavar::testing {

// Permission cases need a user that permissions apply to: root passes every check, so a run as
// root drops to nobody; any other user already is one.
inline uid_t unprivilegedUid()
{
    return ::geteuid() == 0 ? 65534 : ::geteuid();
}

inline gid_t unprivilegedGid()
{
    return ::geteuid() == 0 ? 65534 : ::getegid();
}

// Runs `body` in a forked child as that user; its result (0 to 255) is the child's exit status,
// -1 when the child could not drop its rights or did not end normally.
inline int runAsUnprivileged(const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 ||
                                 ::setresgid(unprivilegedGid(), unprivilegedGid(), unprivilegedGid()) != 0 ||
                                 ::setresuid(unprivilegedUid(), unprivilegedUid(), unprivilegedUid()) != 0))
            ::_exit(255);
        int result = 254;
        try {
            result = body();
        } catch (...) {
        }
        ::_exit(result);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 255)
        return -1;
    return WEXITSTATUS(status);
}

// Another process that holds a file open, by default for writing (as a scanner still writing it would),
// for as long as this object lives.
class FileHeldElsewhere
{
public:
    explicit FileHeldElsewhere(const std::string& path, int openFlags = O_WRONLY | O_APPEND)
    {
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(m_release) != 0)
            return;
        m_child = ::fork();
        if (m_child == 0) {
            const int fd = ::open(path.c_str(), openFlags);
            char c = 'r';
            (void)!::write(ready[1], &c, 1);
            (void)!::read(m_release[0], &c, 1);
            ::close(fd);
            ::_exit(0);
        }
        char c;
        (void)!::read(ready[0], &c, 1);
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~FileHeldElsewhere()
    {
        char c = 'x';
        (void)!::write(m_release[1], &c, 1);
        if (m_child > 0)
            ::waitpid(m_child, nullptr, 0);
        ::close(m_release[0]);
        ::close(m_release[1]);
    }
    FileHeldElsewhere(const FileHeldElsewhere&) = delete;
    FileHeldElsewhere& operator=(const FileHeldElsewhere&) = delete;

private:
    int m_release[2] = {-1, -1};
    pid_t m_child = -1;
};

} // namespace tollavar::testing
