#include "filetools/IdentityKeepingSave.h"

#include "filetools/Failure.h"
#include "filetools/PathParts.h"
#include "filetools/PosixFile.h"
#include "filetools/SystemCall.h"
#include "filetools/UniqueFd.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tollavar::files {

using namespace posix;

namespace {

constexpr int kMaxLinkHops = 40; // as the kernel allows before ELOOP
constexpr std::string_view kTemporarySuffix = ".tmp-XXXXXX";

std::string nameOf(const std::string& path)
{
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where the save lands: a link is followed to the file it names (which may not exist yet), so that
// the link itself is never replaced by a plain file.
std::string resolveLinks(const std::string& path)
{
    std::string current = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st
        {
        };
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n < 0)
            fail("Replace File", path);
        target.resize(static_cast<size_t>(n));
        if (target.empty() || target[0] != '/') {
            const std::string folder = folderOf(current);
            target = (folder == "/" ? "" : folder) + "/" + target;
        }
        current = std::move(target);
    }
    fail("Replace File", path, ELOOP);
}

// "<folder>/.<name>.tmp-XXXXXX", the name cut (at a character boundary) so the whole fits NAME_MAX:
// a file with a long name must still be saved safely.
std::string temporaryPattern(const std::string& target)
{
    const std::string folder = folderOf(target);
    std::string name = nameOf(target);
    const size_t room = NAME_MAX - 1 - kTemporarySuffix.size();
    if (name.size() > room) {
        size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.resize(cut);
    }
    return (folder == "/" ? "" : folder) + "/." + name + std::string(kTemporarySuffix);
}

void writeAllAt(int fd, std::string_view bytes, const std::string& path)
{
    off_t offset = 0;
    while (!bytes.empty()) {
        const ssize_t n = sys::pwrite("Write File", fd, bytes.data(), bytes.size(), offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("Write File", path);
        }
        bytes.remove_prefix(static_cast<size_t>(n));
        offset += n;
    }
}

void closeChecked(UniqueFd& fd, const std::string& path)
{
    if (sys::close("Close File", fd.release()) != 0)
        fail("Close File", path);
}

// The folder refuses a new file (not writable, read-only, or no room in a name): the save can still
// go into the file itself.
bool folderCannotTakeTemporary(int error)
{
    return error == EACCES || error == EPERM || error == ENAMETOOLONG;
}

// Temporary file, fsync, rename over `target`, fsync the folder. `existing` is the file being
// replaced (nullptr for a new one): the temporary takes its owner, group and mode first. False, with
// nothing changed, when the folder cannot take the temporary or the owner cannot be given to it.
bool replaceThroughTemporary(const std::string& target, const std::string& path, std::string_view bytes,
                             const struct stat* existing)
{
    std::string tempPath = temporaryPattern(target);
    UniqueFd temp(sys::mkostemp("Create File", tempPath.data(), O_CLOEXEC));
    if (!temp.isOpen()) {
        if (existing && folderCannotTakeTemporary(errno))
            return false;
        fail("Create File", path);
    }
    try {
        mode_t mode;
        if (existing) {
            struct stat own
            {
            };
            // The owner before the mode: a change of owner clears the set-id bits.
            const bool ownerKept =
                ::fstat(temp.get(), &own) == 0 && ((own.st_uid == existing->st_uid && own.st_gid == existing->st_gid) ||
                                                   ::fchown(temp.get(), existing->st_uid, existing->st_gid) == 0);
            mode = existing->st_mode & 07777;
            if (!ownerKept || ::fchmod(temp.get(), mode) != 0) {
                ::unlink(tempPath.c_str());
                return false;
            }
        } else {
            // mkostemp makes the file private; a new file gets what a plain create would give it.
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
            ::fchmod(temp.get(), mode);
        }
        writeAllAt(temp.get(), bytes, path);
        syncFd(temp.get(), path);
        closeChecked(temp, path);
        if (sys::rename("Replace File", tempPath.c_str(), target.c_str()) != 0)
            fail("Replace File", path);
    } catch (...) {
        ::unlink(tempPath.c_str());
        throw;
    }
    syncFolder(folderOf(target));
    return true;
}

// Into the file itself. The space is reserved before the old contents are touched, so a full disk
// fails the save while the file is still whole; the old tail goes only after the new bytes are in.
void writeInPlace(UniqueFd& file, const std::string& path, std::string_view bytes, const std::function<void()>& before)
{
    if (before)
        before();
    if (!bytes.empty() &&
        sys::fallocate("Write File", file.get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes.size())) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL)
        fail("Write File", path);
    writeAllAt(file.get(), bytes, path);
    if (sys::ftruncate("Write File", file.get(), static_cast<off_t>(bytes.size())) != 0)
        fail("Write File", path);
    syncFd(file.get(), path);
    closeChecked(file, path);
}

} // namespace

std::string saveTargetOf(const std::string& path)
{
    return resolveLinks(path);
}

void saveKeepingIdentity(const std::string& path, std::string_view bytes,
                         const std::function<void()>& beforeWritingInPlace)
{
    const std::string target = resolveLinks(path);
    struct stat st
    {
    };
    if (::stat(target.c_str(), &st) != 0) {
        if (errno != ENOENT)
            fail("Replace File", path);
        replaceThroughTemporary(target, path, bytes, nullptr);
        return;
    }
    // What the plain write would do first: a file this user may not write is refused, not replaced.
    UniqueFd file(sys::open("Open File", target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.isOpen())
        fail("Open File", path);
    if (!S_ISREG(st.st_mode))
        fail("Replace File", path, EINVAL);
    // A rename would leave the other names of the file with the old contents.
    if (st.st_nlink > 1) {
        writeInPlace(file, path, bytes, beforeWritingInPlace);
        return;
    }
    if (!replaceThroughTemporary(target, path, bytes, &st))
        writeInPlace(file, path, bytes, beforeWritingInPlace);
}

} // namespace tollavar::files
