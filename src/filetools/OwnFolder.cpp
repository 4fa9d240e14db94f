#include "filetools/OwnFolder.h"

#include "filetools/Failure.h"
#include "filetools/SystemCall.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tollavar::files {

namespace {

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// Only the folder's owner may change what its entries are, and that owner is root or we ourselves.
bool onlyTrustedWriters(int folderFd)
{
    struct stat st
    {
    };
    if (::fstat(folderFd, &st) != 0)
        return false;
    const bool trustedOwner = st.st_uid == 0 || st.st_uid == ::geteuid();
    return trustedOwner && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

UniqueFd openOwnFolder(const std::string& path, std::string_view operation)
{
    const bool absolute = path.starts_with('/');
    UniqueFd current(::open(absolute ? "/" : ".", kFolderFlags));
    if (!current.isOpen())
        throw systemFailure(errno, operation, path);
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        const std::string reached = path.substr(0, end); // as failures name it
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        int fd = ::openat(current.get(), part.c_str(), kFolderFlags | O_NOFOLLOW);
        if (fd < 0 && errno == ENOENT) {
            if (sys::mkdirat(operation, current.get(), part.c_str(), 0777) != 0 && errno != EEXIST)
                throw systemFailure(errno, operation, reached);
            fd = ::openat(current.get(), part.c_str(), kFolderFlags | O_NOFOLLOW);
        }
        if (fd < 0) {
            const int error = errno;
            struct stat there
            {
            };
            const bool link =
                ::fstatat(current.get(), part.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(there.st_mode);
            if (!link)
                throw systemFailure(error, operation, reached);
            if (!onlyTrustedWriters(current.get()))
                throw Failure(ErrorCode::PathFileAccess, std::string(operation),
                              "Not followed: " + reached +
                                  " is a symbolic link in a folder that others may write to; it was left alone",
                              reached);
            fd = ::openat(current.get(), part.c_str(), kFolderFlags);
            if (fd < 0)
                throw systemFailure(errno, operation, reached);
        }
        current.reset(fd);
    }
    return current;
}

} // namespace tollavar::files
