#include "filetools/FileStatus.h"

#include "filetools/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace tollavar::files {

std::optional<struct stat> statusOf(const std::string& path)
{
    struct stat status
    {
    };
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return status;
}

std::optional<struct stat> statusOf(int fd)
{
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0)
        return std::nullopt;
    return status;
}

std::optional<unsigned long> fileSystemTypeOf(const std::string& path)
{
    struct statfs fs
    {
    };
    if (::statfs(path.c_str(), &fs) != 0)
        return std::nullopt;
    return static_cast<unsigned long>(fs.f_type);
}

bool holdsExactly(const std::string& path, std::string_view bytes)
{
    const UniqueFd fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.isOpen())
        return false;
    struct stat st
    {
    };
    bool same = ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && static_cast<size_t>(st.st_size) == bytes.size();
    // One byte more than expected is asked for, so that a file grown meanwhile does not compare equal.
    std::string held(bytes.size() + 1, '\0');
    size_t filled = 0;
    while (same) {
        const ssize_t n = ::read(fd.get(), held.data() + filled, held.size() - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        filled += static_cast<size_t>(n);
        if (filled == held.size())
            same = false;
    }
    return same && std::string_view(held.data(), filled) == bytes;
}

} // namespace tollavar::files
