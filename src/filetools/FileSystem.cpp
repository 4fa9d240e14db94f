#include "filetools/FileSystem.h"

#include "filetools/Beneath.h"
#include "filetools/Failure.h"
#include "filetools/IdentityKeepingSave.h"
#include "filetools/MoveAt.h"
#include "filetools/NameOrder.h"
#include "filetools/PathParts.h"
#include "filetools/PosixFile.h"
#include "filetools/RegularFileOpen.h"
#include "filetools/SystemCall.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tollavar::files {

using namespace posix;

namespace {

// The folder of a full path held open for a move, and the name in it.
FileAt fileAtPath(const std::string& path, UniqueFd& folder)
{
    folder.reset(::open(folderOf(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0)
        fail("Move File", path);
    const auto slash = path.find_last_of('/');
    return FileAt{folder.get(), slash == std::string::npos ? path : path.substr(slash + 1), path};
}

} // namespace

std::string nativePath(std::string_view path)
{
    std::string out(path);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

bool fileExists(const std::string& path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool folderExists(const std::string& path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool pathExists(const std::string& path)
{
    struct stat st
    {
    };
    return ::lstat(path.c_str(), &st) == 0;
}

void createFolder(const std::string& path)
{
    if (sys::mkdir("Create Folder", path.c_str(), 0777) != 0)
        fail("Create Folder", path);
}

std::string readAll(const std::string& path)
{
    return readAll(path, LinkRule::FollowToRegularFile);
}

std::string readAll(const std::string& path, LinkRule links)
{
    const UniqueFd fd = openRegularFile(path, O_RDONLY, links, "Open File");
    struct stat st
    {
    };
    if (::fstat(fd.get(), &st) != 0)
        fail("Read File", path);
    // Read straight into the string, growing it only when the file turns out larger than it said.
    std::string data(static_cast<size_t>(st.st_size) + 1, '\0');
    size_t filled = 0;
    for (;;) {
        if (filled == data.size())
            data.resize(data.size() * 2 + 65536);
        ssize_t n = sys::read("Read File", fd.get(), data.data() + filled, data.size() - filled);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("Read File", path);
        }
        if (n == 0)
            break;
        filled += static_cast<size_t>(n);
    }
    data.resize(filled);
    return data;
}

void writeFileAtomic(const std::string& path, std::string_view bytes)
{
    saveKeepingIdentity(path, bytes);
}

void createEmptyFile(const std::string& path)
{
    // Never through a link: a marker planted as a link would truncate whatever it points to. The link
    // is the file of that name, so it is what gets replaced.
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    UniqueFd fd(sys::open("Create File", path.c_str(), flags, 0666));
    struct stat st
    {
    };
    if (!fd.isOpen() && errno == ELOOP && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (::unlink(path.c_str()) != 0)
            fail("Create File", path);
        fd.reset(::open(path.c_str(), flags | O_EXCL, 0666));
    }
    if (!fd.isOpen())
        fail("Create File", path);
    if (sys::close("Close File", fd.release()) != 0) {
        const int error = errno;
        // A file whose creation was reported as failed must not be there: its mere presence is its message.
        ::unlink(path.c_str());
        fail("Close File", path, error);
    }
}

void deleteFile(const std::string& path)
{
    if (sys::unlink("Delete File", path.c_str()) != 0)
        fail("Delete File", path);
}

bool removeEmptyFolder(const std::string& path)
{
    return ::rmdir(path.c_str()) == 0;
}

void moveFile(const std::string& from, const std::string& to)
{
    UniqueFd fromFolder;
    UniqueFd toFolder;
    const FileAt source = fileAtPath(from, fromFolder);
    switch (moveFileAt(source, fileAtPath(to, toFolder))) {
    case MoveOutcome::Moved:
        return;
    case MoveOutcome::SourceMissing:
        fail("Move File", from, ENOENT);
    case MoveOutcome::DestinationTaken:
        fail("Move File", to, EEXIST);
    }
}

void moveFileReplacing(const std::string& from, const std::string& to)
{
    UniqueFd fromFolder;
    UniqueFd toFolder;
    const FileAt source = fileAtPath(from, fromFolder);
    moveFileAtReplacing(source, fileAtPath(to, toFolder));
}

void addNameNoReplace(const std::string& existing, const std::string& newName)
{
    if (sys::link("Copy File", existing.c_str(), newName.c_str()) == 0) {
        syncFolder(folderOf(newName));
        return;
    }
    const int error = errno;
    if (error != EPERM && error != EXDEV && error != EMLINK && error != ENOTSUP)
        fail("Copy File", error == EEXIST ? newName : existing, error);
    if (pathExists(newName))
        fail("Copy File", newName, EEXIST);
    writeFileAtomic(newName, readAll(existing));
}

std::vector<std::string> listFiles(const std::string& folder)
{
    DIR* dir = sys::opendir("List Folder", folder.empty() ? "" : folder.c_str());
    if (!dir)
        fail("List Folder", folder);
    std::vector<std::string> names;
    errno = 0;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        bool isFile = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat st
            {
            };
            isFile = ::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (isFile)
            names.push_back(std::move(name));
    }
    int error = errno;
    ::closedir(dir);
    if (error != 0)
        fail("List Folder", folder, error);
    std::sort(names.begin(), names.end(), nameOrderLess);
    return names;
}

HeldFile::~HeldFile()
{
    close();
}

void HeldFile::openForAppend(const std::string& path)
{
    close();
    m_fd = openRegularFile(path, O_WRONLY | O_APPEND | O_CREAT, LinkRule::FollowToRegularFile, "Open File");
}

void HeldFile::close() noexcept
{
    m_fd.reset();
}

} // namespace tollavar::files
