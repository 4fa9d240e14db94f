#include "filetools/Beneath.h"

#include "filetools/Failure.h"
#include "filetools/FileSystem.h"
#include "filetools/SystemCall.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace tollavar::files {

namespace {

// Cleared for good once the kernel says it has no openat2.
std::atomic<bool> g_kernelResolves{true};

// Links followed in one resolution before it counts as a loop, as the kernel counts.
constexpr int kMaxLinks = 40;
// Subfolders kept open per root; a batch spread over more is rare, and descriptors are finite.
constexpr size_t kMaxOpenFolders = 64;

// The parts of a "/"-separated path, last part first, so that the walk pops them in order.
void pushPartsReversed(std::vector<std::string>& pending, std::string_view path)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > start)
            parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    pending.insert(pending.end(), parts.rbegin(), parts.rend());
}

FolderBeneath result(Reach reach, int error, int fd = -1)
{
    FolderBeneath r;
    r.fd.reset(fd);
    r.reach = reach;
    r.error = error;
    return r;
}

// The same answers as the kernel's RESOLVE_BENEATH, one part at a time, for kernels without openat2:
// every part is opened without following a link, and a link's text is resolved here, so that it can
// neither be absolute nor climb above the root.
FolderBeneath walkBeneath(int rootFd, std::string_view relative, bool create, std::string_view shown)
{
    std::vector<UniqueFd> opened; // the folders below the root on the way down
    std::vector<std::string> pending;
    pushPartsReversed(pending, relative);
    int links = 0;
    auto current = [&] { return opened.empty() ? rootFd : opened.back().get(); };
    while (!pending.empty()) {
        const std::string part = std::move(pending.back());
        pending.pop_back();
        if (part == ".")
            continue;
        if (part == "..") {
            if (opened.empty())
                return result(Reach::Leaves, EXDEV);
            opened.pop_back();
            continue;
        }
        int fd = ::openat(current(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT && create) {
            if (sys::mkdirat("Create Folder", current(), part.c_str(), 0777) != 0 && errno != EEXIST)
                throw systemFailure(errno, "Create Folder", shown);
            fd = ::openat(current(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (fd >= 0) {
            opened.emplace_back(fd);
            continue;
        }
        const int error = errno;
        struct stat st
        {
        };
        if ((error == ENOTDIR || error == ELOOP) && ::fstatat(current(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode)) {
            if (++links > kMaxLinks)
                return result(Reach::Leaves, ELOOP);
            char target[PATH_MAX];
            const ssize_t n = ::readlinkat(current(), part.c_str(), target, sizeof target);
            if (n < 0)
                return result(Reach::Failed, errno);
            if (n == 0 || target[0] == '/')
                return result(Reach::Leaves, EXDEV);
            pushPartsReversed(pending, std::string_view(target, static_cast<size_t>(n)));
            continue;
        }
        if (error == ENOENT || error == ENOTDIR)
            return result(Reach::Missing, error);
        return result(Reach::Failed, error);
    }
    if (!opened.empty())
        return result(Reach::Inside, 0, opened.back().release());
    const int fd = ::openat(rootFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd >= 0 ? result(Reach::Inside, 0, fd) : result(Reach::Failed, errno);
}

} // namespace

bool leavesByItsText(std::string_view path)
{
    if (path.size() >= 2 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
        path[1] == ':')
        return true;
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]))
        return true;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !isSeparator(path[end]))
            ++end;
        if (path.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

std::string relativeBelow(std::string_view relative)
{
    std::string native = nativePath(relative);
    const size_t first = native.find_first_not_of('/');
    return first == std::string::npos ? std::string() : native.substr(first);
}

std::string joinBelow(std::string_view folder, std::string_view relative)
{
    if (folder.empty())
        return std::string(relative);
    const bool folderEnds = isSeparator(folder.back());
    const bool pathStarts = !relative.empty() && isSeparator(relative.front());
    if (folderEnds && pathStarts)
        relative.remove_prefix(1);
    std::string joined(folder);
    if (!folderEnds && !pathStarts)
        joined += '/';
    joined += relative;
    return joined;
}

FolderBeneath openFolderBeneath(int rootFd, std::string_view relative, bool create, std::string_view shown)
{
    if (!faults::componentWalkForced() && g_kernelResolves.load(std::memory_order_relaxed)) {
        const std::string path = relative.empty() ? std::string(".") : std::string(relative);
        open_how how{};
        how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
        for (int attempt = 0; attempt < 3; ++attempt) {
            const long fd = ::syscall(SYS_openat2, rootFd, path.c_str(), &how, sizeof how);
            if (fd >= 0)
                return result(Reach::Inside, 0, static_cast<int>(fd));
            const int error = errno;
            // A rename elsewhere in the tree meanwhile: the kernel asks to try again.
            if (error == EAGAIN)
                continue;
            if (error == ENOSYS) {
                g_kernelResolves.store(false, std::memory_order_relaxed);
                break;
            }
            if (error == EXDEV || error == ELOOP)
                return result(Reach::Leaves, error);
            if ((error == ENOENT || error == ENOTDIR) && !create)
                return result(Reach::Missing, error);
            // A missing part to make, or a sandbox that forbids the call: the walk answers.
            if (error == ENOENT || error == EPERM || error == EINVAL)
                break;
            return result(Reach::Failed, error);
        }
    }
    return walkBeneath(rootFd, relative, create, shown);
}

EntryLook entryKindAt(int folderFd, const std::string& name)
{
    struct stat st
    {
    };
    if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        const int error = errno;
        return {error == ENOENT || error == ENOTDIR ? EntryKind::Missing : EntryKind::Failed, error};
    }
    if (S_ISLNK(st.st_mode))
        return {EntryKind::Link};
    return {S_ISREG(st.st_mode) ? EntryKind::File : EntryKind::Other};
}

RootFolder::RootFolder(std::string folder) : m_path(std::move(folder))
{
}

RootFolder::Folder RootFolder::open(std::string_view relativeDir, bool create)
{
    if (m_root.get() < 0) {
        // The root is what the user set: it may be a link, and it is reached as the user named it.
        const std::string native = m_path.empty() ? std::string(".") : nativePath(m_path);
        m_root.reset(::open(native.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (m_root.get() < 0) {
            const int error = errno;
            return {-1, error == ENOENT || error == ENOTDIR ? Reach::Missing : Reach::Failed, error};
        }
    }
    if (relativeDir.empty())
        return {m_root.get(), Reach::Inside, 0};
    ++m_clock;
    if (auto it = m_open.find(relativeDir); it != m_open.end()) {
        it->second.lastUse = m_clock;
        return {it->second.fd.get(), Reach::Inside, 0};
    }
    FolderBeneath found =
        openFolderBeneath(m_root.get(), relativeDir, create, create ? nativePath(joinBelow(m_path, relativeDir)) : "");
    if (found.reach != Reach::Inside)
        return {-1, found.reach, found.error};
    // The folder used longest ago goes: the few a caller holds at a time are the latest.
    if (m_open.size() >= kMaxOpenFolders) {
        auto oldest = m_open.begin();
        for (auto it = m_open.begin(); it != m_open.end(); ++it)
            if (it->second.lastUse < oldest->second.lastUse)
                oldest = it;
        m_open.erase(oldest);
    }
    const int fd = found.fd.get();
    m_open.emplace(std::string(relativeDir), Cached{std::move(found.fd), m_clock});
    return {fd, Reach::Inside, 0};
}

} // namespace tollavar::files
