#include "filetools/AccessCheck.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace tollavar::files {

namespace {

int accessRefusal(int folderFd, const char* name, int mode)
{
    return ::faccessat(folderFd, name, mode, AT_EACCESS) == 0 ? 0 : errno;
}

// A read-only mount refuses every change before any permission is asked.
bool readOnlyMount(int fd)
{
    struct statvfs vfs
    {
    };
    return ::fstatvfs(fd, &vfs) == 0 && (vfs.f_flag & ST_RDONLY) != 0;
}

bool readOnlyMount(const std::string& path)
{
    struct statvfs vfs
    {
    };
    return ::statvfs(path.c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY) != 0;
}

FolderAccess describe(const struct stat& st)
{
    FolderAccess access;
    access.exists = true;
    access.device = st.st_dev;
    access.sticky = (st.st_mode & S_ISVTX) != 0;
    access.owner = st.st_uid;
    return access;
}

std::string parentOf(const std::string& path)
{
    std::string parent = path;
    while (parent.size() > 1 && parent.back() == '/')
        parent.pop_back();
    const size_t slash = parent.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : parent.substr(0, slash);
}

// Only a file's owner, the folder's owner or the super-user may take a name out of a sticky folder.
int stickyRefusal(const FolderAccess& folder, const struct stat& file)
{
    const uid_t self = ::geteuid();
    if (!folder.sticky || self == 0 || self == folder.owner || self == file.st_uid)
        return 0;
    return EPERM;
}

} // namespace

FolderAccess folderAccess(const std::string& folder)
{
    std::string path = folder.empty() ? "." : folder;
    bool missing = false;
    for (;;) {
        struct stat st
        {
        };
        if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            FolderAccess access = describe(st);
            access.exists = !missing;
            access.entriesRefusal = readOnlyMount(path) ? EROFS : accessRefusal(AT_FDCWD, path.c_str(), W_OK | X_OK);
            return access;
        }
        const std::string parent = parentOf(path);
        if (parent == path)
            return FolderAccess{};
        missing = true;
        path = parent;
    }
}

FolderAccess folderAccessAt(int folderFd)
{
    struct stat st
    {
    };
    if (::fstat(folderFd, &st) != 0)
        return FolderAccess{};
    FolderAccess access = describe(st);
    access.entriesRefusal = readOnlyMount(folderFd) ? EROFS : accessRefusal(folderFd, ".", W_OK | X_OK);
    return access;
}

int removalRefusal(const FolderAccess& folder, int folderFd, const std::string& name)
{
    if (folder.entriesRefusal != 0)
        return folder.entriesRefusal;
    struct stat st
    {
    };
    if (!folder.sticky || ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return 0;
    return stickyRefusal(folder, st);
}

int removalRefusal(const FolderAccess& folder, const std::string& path)
{
    if (folder.entriesRefusal != 0)
        return folder.entriesRefusal;
    struct stat st
    {
    };
    if (!folder.sticky || ::lstat(path.c_str(), &st) != 0)
        return 0;
    return stickyRefusal(folder, st);
}

int writeRefusal(const std::string& path)
{
    return accessRefusal(AT_FDCWD, path.c_str(), W_OK);
}

int readRefusal(const std::string& path)
{
    return accessRefusal(AT_FDCWD, path.c_str(), R_OK);
}

int readRefusalAt(int folderFd, const std::string& name)
{
    return accessRefusal(folderFd, name.c_str(), R_OK);
}

} // namespace tollavar::files
