#include "filetools/PosixFile.h"

#include "filetools/Failure.h"
#include "filetools/FaultInjection.h"

#include <fcntl.h>
#include <unistd.h>

namespace tollavar::files::posix {

void fail(std::string_view operation, std::string_view path, int error)
{
    throw systemFailure(error, operation, path);
}

Fd::~Fd()
{
    if (fd >= 0)
        ::close(fd);
}

void syncFd(int fd, const std::string& path)
{
    faults::checkpoint("Sync File", path);
    if (::fsync(fd) != 0)
        fail("Sync File", path);
}

void syncFolder(const std::string& folder)
{
    faults::checkpoint("Sync Folder", folder);
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd < 0)
        fail("Sync Folder", folder);
    if (::fsync(dir.fd) != 0 && errno != EINVAL && errno != EROFS)
        fail("Sync Folder", folder);
}

} // namespace tollavar::files::posix
