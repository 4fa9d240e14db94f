#include "filetools/MoveAt.h"

#include "filetools/Beneath.h"
#include "filetools/Failure.h"
#include "filetools/SystemCall.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <stdio.h> // renameat2
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tollavar::files {

namespace {

[[noreturn]] void fail(std::string_view operation, std::string_view path, int error = errno)
{
    throw systemFailure(error, operation, path);
}

// What a file system answers to a hard link it cannot make.
bool noHardLinks(int error)
{
    return error == EPERM || error == EOPNOTSUPP || error == EXDEV || error == EMLINK || error == ENOSYS;
}

// What a file system answers to a rename that is to refuse to replace, when it cannot do that.
bool noRenameNoReplace(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EPERM;
}

int linkAt(const FileAt& from, const FileAt& to)
{
    return sys::linkat("Link File", from.folder, from.name.c_str(), to.folder, to.name.c_str()) == 0 ? 0 : errno;
}

int renameNoReplaceAt(int folder, const std::string& fromName, const FileAt& to)
{
    return sys::renameat2("Link File", folder, fromName.c_str(), to.folder, to.name.c_str(), RENAME_NOREPLACE) == 0
               ? 0
               : errno;
}

bool sourceMissing(const FileAt& from)
{
    struct stat st
    {
    };
    return ::fstatat(from.folder, from.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

void syncFolderAt(int folder, std::string_view shown)
{
    UniqueFd dir(sys::openat("Sync Folder", folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        fail("Sync Folder", shown);
    // Some file systems refuse to sync a folder; the new name has then still been made.
    if (::fsync(dir.get()) != 0 && errno != EINVAL && errno != EROFS)
        fail("Sync Folder", shown);
}

// The source opened for copying, checked to be a regular file: O_NONBLOCK so that a FIFO swapped in
// meanwhile cannot hold the run, O_NOFOLLOW so that a link cannot be copied through.
UniqueFd openSource(const FileAt& from, struct stat& st)
{
    UniqueFd source(
        sys::openat("Open File", from.folder, from.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (source.get() < 0)
        return source;
    if (::fstat(source.get(), &st) != 0)
        fail("Open File", from.shown);
    if (!S_ISREG(st.st_mode))
        fail("Open File", from.shown, EINVAL);
    return source;
}

void copyAll(int from, int to, const FileAt& source, const FileAt& target)
{
    if (::lseek(from, 0, SEEK_SET) != 0)
        fail("Read File", source.shown);
    std::string buffer(1 << 20, '\0');
    for (;;) {
        const ssize_t n = sys::read("Read File", from, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("Read File", source.shown);
        }
        if (n == 0)
            return;
        for (ssize_t done = 0; done < n;) {
            const ssize_t written = sys::write("Write File", to, buffer.data() + done, static_cast<size_t>(n - done));
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                fail("Write File", target.shown);
            }
            done += written;
        }
    }
}

// The copy takes the source's mode and times, as a rename would keep them; then it is made durable.
void finishCopy(int fd, const struct stat& st, const FileAt& target)
{
    ::fchmod(fd, st.st_mode & 07777);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(fd, times);
    if (sys::fsync("Sync File", fd) != 0)
        fail("Sync File", target.shown);
}

// A new, private file beside the target, named so that it can be told for what it was.
UniqueFd createTemporaryAt(const FileAt& target, std::string& name)
{
    static unsigned long counter = 0;
    const std::string stem = "." + target.name.substr(0, 100) + ".tmp-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        unsigned long value = static_cast<unsigned long>(now.tv_nsec) ^ (static_cast<unsigned long>(::getpid()) << 16) ^
                              (++counter * 2654435761UL);
        name = stem;
        for (int i = 0; i < 6; ++i, value /= 36)
            name += "0123456789abcdefghijklmnopqrstuvwxyz"[value % 36];
        UniqueFd fd(sys::openat("Create File", target.folder, name.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.get() >= 0)
            return fd;
        if (errno != EEXIST)
            fail("Create File", target.shown);
    }
    fail("Create File", target.shown, EEXIST);
}

// The copy is whole at the destination: make that durable, then delete the source. Should either fail,
// the copy goes again, so that the file is in one place only: its source.
void deleteSourceAfterCopy(const FileAt& from, const FileAt& to, CopySteps* steps)
{
    try {
        syncFolderAt(to.folder, to.shown);
        if (steps)
            steps->copyDone(from, to);
        if (sys::unlinkat("Delete File", from.folder, from.name.c_str(), 0) != 0)
            fail("Delete File", from.shown);
    } catch (...) {
        ::unlinkat(to.folder, to.name.c_str(), 0);
        throw;
    }
}

// Where no step can refuse to replace (no hard links, no exclusive rename), the whole copy still takes
// its name in one rename, so that nobody ever finds half a file there; the name is checked free just
// before, which leaves only the moment between to another writer.
MoveOutcome renameIfStillFree(const std::string& tempName, const FileAt& to)
{
    struct stat taken
    {
    };
    if (::fstatat(to.folder, to.name.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0)
        return MoveOutcome::DestinationTaken;
    if (sys::renameat("Rename File", to.folder, tempName.c_str(), to.folder, to.name.c_str()) != 0)
        fail("Move File", to.shown);
    return MoveOutcome::Moved;
}

MoveOutcome copyMove(const FileAt& from, const FileAt& to, CopySteps* steps)
{
    struct stat st
    {
    };
    UniqueFd source = openSource(from, st);
    if (source.get() < 0) {
        if (errno == ENOENT)
            return MoveOutcome::SourceMissing;
        fail("Open File", from.shown);
    }
    // Not worth copying a large file only to find its name taken.
    struct stat existing
    {
    };
    if (::fstatat(to.folder, to.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0)
        return MoveOutcome::DestinationTaken;

    if (steps)
        steps->copyBegun(from, to);
    std::string tempName;
    UniqueFd temp = createTemporaryAt(to, tempName);
    MoveOutcome outcome = MoveOutcome::Moved;
    try {
        copyAll(source.get(), temp.get(), from, to);
        finishCopy(temp.get(), st, to);
        const FileAt finished{to.folder, tempName, to.shown};
        int error = linkAt(finished, to);
        if (error != 0 && noHardLinks(error))
            error = renameNoReplaceAt(to.folder, tempName, to);
        if (error == EEXIST)
            outcome = MoveOutcome::DestinationTaken;
        else if (error != 0 && noRenameNoReplace(error))
            outcome = renameIfStillFree(tempName, to);
        else if (error != 0)
            fail("Move File", to.shown, error);
    } catch (...) {
        ::unlinkat(to.folder, tempName.c_str(), 0);
        throw;
    }
    // Gone already when it was renamed into place.
    ::unlinkat(to.folder, tempName.c_str(), 0);
    if (outcome == MoveOutcome::Moved)
        deleteSourceAfterCopy(from, to, steps);
    return outcome;
}

} // namespace

MoveOutcome moveFileAt(const FileAt& from, const FileAt& to, CopySteps* steps)
{
    if (sys::renameat2("Move File", from.folder, from.name.c_str(), to.folder, to.name.c_str(), RENAME_NOREPLACE) == 0)
        return MoveOutcome::Moved;
    int error = errno;
    if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
        // No rename that refuses to replace here: a hard link never replaces either.
        error = linkAt(from, to);
        if (error == 0) {
            if (sys::unlinkat("Delete File", from.folder, from.name.c_str(), 0) != 0) {
                const int unlinkError = errno;
                ::unlinkat(to.folder, to.name.c_str(), 0);
                fail("Delete File", from.shown, unlinkError);
            }
            return MoveOutcome::Moved;
        }
        if (noHardLinks(error))
            error = EXDEV;
    }
    if (error == EXDEV)
        return copyMove(from, to, steps);
    if (error == EEXIST)
        return MoveOutcome::DestinationTaken;
    if (error == ENOENT && sourceMissing(from))
        return MoveOutcome::SourceMissing;
    // Name the path that is at fault: an unreachable destination, else the source.
    fail("Move File", error == ENOENT ? to.shown : from.shown, error);
}

void moveFileAtReplacing(const FileAt& from, const FileAt& to)
{
    if (sys::renameat("Move File", from.folder, from.name.c_str(), to.folder, to.name.c_str()) == 0)
        return;
    if (errno != EXDEV)
        fail("Move File", from.shown);

    // Across file systems: a synced copy replaces the target in one rename, then the source goes.
    struct stat st
    {
    };
    UniqueFd source = openSource(from, st);
    if (source.get() < 0)
        fail("Open File", from.shown);
    std::string tempName;
    UniqueFd temp = createTemporaryAt(to, tempName);
    try {
        copyAll(source.get(), temp.get(), from, to);
        finishCopy(temp.get(), st, to);
        if (sys::renameat("Replace File", to.folder, tempName.c_str(), to.folder, to.name.c_str()) != 0)
            fail("Replace File", to.shown);
    } catch (...) {
        ::unlinkat(to.folder, tempName.c_str(), 0);
        throw;
    }
    syncFolderAt(to.folder, to.shown);
    if (sys::unlinkat("Delete File", from.folder, from.name.c_str(), 0) != 0)
        fail("Delete File", from.shown);
}

void deleteFileAt(int folder, const std::string& name, const std::string& shown)
{
    if (sys::unlinkat("Delete File", folder, name.c_str(), 0) != 0 && errno != ENOENT)
        fail("Delete File", shown);
}

} // namespace tollavar::files
