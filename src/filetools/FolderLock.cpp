#include "filetools/FolderLock.h"

#include "filetools/Failure.h"
#include "filetools/RegularFileOpen.h"
#include "filetools/SystemCall.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tollavar::files {

FolderLock::~FolderLock()
{
    release();
}

namespace {

// A lock another holder has, or one this file system cannot give; any other refusal is a failure.
FolderLock::State stateWhenLockRefused(int error, const std::string& lockFile)
{
    if (error == EWOULDBLOCK || error == EINTR)
        return FolderLock::State::Busy;
    if (error == ENOLCK || error == EOPNOTSUPP || error == ENOTSUP || error == EINVAL || error == ENOSYS)
        return FolderLock::State::Unsupported;
    throw systemFailure(error, "Lock File", lockFile);
}

} // namespace

FolderLock::State FolderLock::tryAcquire(const std::string& lockFile)
{
    release();
    for (;;) {
        // Never through a link or into a pipe: a name planted here must not make the run create or
        // truncate another file, nor hang it.
        UniqueFd fd = openRegularFile(lockFile, O_RDWR | O_CREAT, LinkRule::Refuse, "Lock File");
        if (sys::flock("Lock File", fd.get(), LOCK_EX | LOCK_NB) != 0)
            return stateWhenLockRefused(errno, lockFile);
        // The previous holder may have removed the file between our open and our lock: a lock on a
        // file that no longer has this name guards nothing.
        struct stat held
        {
        };
        struct stat named
        {
        };
        if (::fstat(fd.get(), &held) == 0 && ::lstat(lockFile.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino) {
            m_fd = std::move(fd);
            m_path = lockFile;
            m_removeOnRelease = true;
            return State::Held;
        }
    }
}

std::optional<FolderLock::State> FolderLock::tryAcquireExisting(const std::string& lockFile)
{
    release();
    struct stat named
    {
    };
    if (::lstat(lockFile.c_str(), &named) != 0 && errno == ENOENT)
        return std::nullopt;
    UniqueFd fd = openRegularFile(lockFile, O_RDONLY, LinkRule::Refuse, "Lock File");
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return stateWhenLockRefused(errno, lockFile);
    m_fd = std::move(fd);
    m_path = lockFile;
    m_removeOnRelease = false;
    return State::Held;
}

void FolderLock::release() noexcept
{
    if (!m_fd.isOpen())
        return;
    // Removed while still held, so that nobody can lock the old file and believe it current.
    if (m_removeOnRelease)
        ::unlink(m_path.c_str());
    m_fd.reset();
}

} // namespace tollavar::files
