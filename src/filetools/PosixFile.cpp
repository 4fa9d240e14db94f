#include "filetools/PosixFile.h"

#include "filetools/Failure.h"
#include "filetools/SystemCall.h"
#include "filetools/UniqueFd.h"

#include <fcntl.h>
#include <unistd.h>

namespace tollavar::files::posix {

void fail(std::string_view operation, std::string_view path, int error)
{
    throw systemFailure(error, operation, path);
}

void syncFd(int fd, const std::string& path)
{
    if (sys::fsync("Sync File", fd) != 0)
        fail("Sync File", path);
}

void syncFolder(const std::string& folder)
{
    const UniqueFd dir(sys::open("Sync Folder", folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.isOpen())
        fail("Sync Folder", folder);
    if (::fsync(dir.get()) != 0 && errno != EINVAL && errno != EROFS)
        fail("Sync Folder", folder);
}

} // namespace tollavar::files::posix
