#pragma once

#include <cerrno>
#include <string>
#include <string_view>

// Small pieces the file layer's own files share: raising a failure for the errno at hand, a descriptor
// that closes itself, and the checked syncs every safe write ends with. Not for use outside filetools.
namespace tollavar::files::posix {

[[noreturn]] void fail(std::string_view operation, std::string_view path, int error = errno);

// A descriptor that closes itself on every exit path.
struct Fd
{
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd();
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int release()
    {
        int f = fd;
        fd = -1;
        return f;
    }
};

void syncFd(int fd, const std::string& path);

// Makes a rename or a new name in `folder` durable. Some file systems refuse to sync a folder; the
// rename itself has then still happened, so that is no failure.
void syncFolder(const std::string& folder);

} // namespace tollavar::files::posix
