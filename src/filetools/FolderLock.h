#pragma once

#include "filetools/UniqueFd.h"

#include <optional>
#include <string>

namespace tollavar::files {

// An exclusive kernel lock (flock) on a small file, held by an open descriptor: it dies with the
// process, so a crash never leaves a stale lock. The holder removes the file when it lets go; a
// waiter that then wins the lock on the removed file notices and tries the new one.
class FolderLock
{
public:
    enum class State
    {
        Held,
        Busy,        // another process holds it
        Unsupported, // the file system cannot lock (some network file systems)
    };

    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Tries once, without waiting. Failures to create the lock file are raised.
    State tryAcquire(const std::string& lockFile);
    // The same on a lock file that is already there, opened for reading only: nothing is created, and
    // nothing removed when it is let go. Nothing when there is no lock file.
    std::optional<State> tryAcquireExisting(const std::string& lockFile);
    void release() noexcept;
    bool held() const noexcept { return m_fd.isOpen(); }

private:
    UniqueFd m_fd;
    std::string m_path;
    bool m_removeOnRelease = true;
};

} // namespace tollavar::files
