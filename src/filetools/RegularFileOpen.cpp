#include "filetools/RegularFileOpen.h"

#include "filetools/Failure.h"
#include "filetools/SystemCall.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tollavar::files {

namespace {

const char* kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISLNK(mode))
        return "a symbolic link";
    return "not a regular file";
}

Failure notAFile(std::string_view operation, const std::string& path, const char* kind)
{
    return Failure(ErrorCode::PathFileAccess, std::string(operation),
                   "Not a regular file: " + path + " is " + kind + "; it was left alone");
}

} // namespace

UniqueFd openRegularFile(const std::string& path, int flags, LinkRule links, std::string_view operation, mode_t mode)
{
    return openRegularFileAt(AT_FDCWD, path, path, flags, links, operation, mode);
}

UniqueFd openRegularFileAt(int folderFd, const std::string& name, const std::string& path, int flags, LinkRule links,
                           std::string_view operation, mode_t mode)
{
    int openFlags = flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (links == LinkRule::Refuse)
        openFlags |= O_NOFOLLOW;
    UniqueFd fd(sys::openat(operation, folderFd, name.c_str(), openFlags, mode));
    if (fd.get() < 0) {
        const int error = errno;
        struct stat there
        {
        };
        // What stands at the name says more than the errno: ELOOP for a refused link, EISDIR or ENXIO
        // for a folder or a pipe without a reader.
        if ((error == ELOOP || error == EISDIR || error == ENXIO || error == EMLINK) &&
            ::fstatat(folderFd, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(there.st_mode))
            throw notAFile(operation, path, kindOf(there.st_mode));
        throw systemFailure(error, operation, path);
    }
    struct stat st
    {
    };
    if (::fstat(fd.get(), &st) != 0)
        throw systemFailure(errno, operation, path);
    if (!S_ISREG(st.st_mode))
        throw notAFile(operation, path, kindOf(st.st_mode));
    // A regular file never blocks; the flag is dropped so that later reads and writes behave plainly.
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::optional<std::string> peekRegularFile(const std::string& path)
{
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st
    {
    };
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    std::string bytes(static_cast<size_t>(st.st_size) + 1, '\0');
    size_t filled = 0;
    for (;;) {
        if (filled == bytes.size())
            bytes.resize(bytes.size() * 2);
        const ssize_t n = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        filled += static_cast<size_t>(n);
    }
    bytes.resize(filled);
    return bytes;
}

} // namespace tollavar::files
