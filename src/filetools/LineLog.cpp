#include "filetools/LineLog.h"

#include "filetools/OwnFolder.h"
#include "filetools/PosixFile.h"
#include "filetools/RegularFileOpen.h"
#include "filetools/UniqueFd.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

namespace tollavar::files {

namespace {

constexpr const char* kSource = "Append Log";
// How long a writer waits for another to let go of the log: a line takes milliseconds, so anything
// longer is a process that holds the lock for ever, and the program must not hang behind it.
constexpr int kLockTries = 200;
constexpr useconds_t kLockPause = 25'000;

// Called with the log's lock held, so no other writer rotates at the same moment. Writers that opened
// the old file before the rename notice it under the lock and open the new one. Renames move names,
// never what a link points to.
void rotate(int folder, const std::string& name, const std::string& path, int keep)
{
    if (keep <= 0) {
        if (::unlinkat(folder, name.c_str(), 0) != 0 && errno != ENOENT)
            posix::fail(kSource, path);
        return;
    }
    ::unlinkat(folder, rotatedLogPath(name, keep).c_str(), 0);
    for (int n = keep - 1; n >= 1; --n) {
        const std::string from = rotatedLogPath(name, n);
        if (::renameat(folder, from.c_str(), folder, rotatedLogPath(name, n + 1).c_str()) != 0 && errno != ENOENT)
            posix::fail(kSource, rotatedLogPath(path, n));
    }
    if (::renameat(folder, name.c_str(), folder, rotatedLogPath(name, 1).c_str()) != 0 && errno != ENOENT)
        posix::fail(kSource, path);
}

void lockWithin(int fd, const std::string& path)
{
    for (int tries = 0;; ++tries) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return;
        if (errno != EWOULDBLOCK && errno != EINTR)
            posix::fail(kSource, path);
        if (tries == kLockTries)
            posix::fail(kSource, path, EWOULDBLOCK);
        ::usleep(kLockPause);
    }
}

} // namespace

std::string rotatedLogPath(const std::string& path, int number)
{
    return path + "." + std::to_string(number);
}

void appendWholeLine(const std::string& path, std::string_view line, const LineLogRotation& rotation)
{
    std::string record(line);
    record += '\n';
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        posix::fail(kSource, path, EISDIR);
    // The log may stand where others write too: neither its folder nor the file itself is reached
    // through a link someone planted, and a pipe or device at its name neither blocks nor takes the line.
    const UniqueFd folder = openOwnFolder(slash == std::string::npos ? "." : path.substr(0, slash + 1), kSource);

    // A few rounds at most: one to rotate, one more when another writer rotated while this one waited.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const UniqueFd log =
            openRegularFileAt(folder.get(), name, path, O_WRONLY | O_APPEND | O_CREAT, LinkRule::Refuse, kSource, 0644);
        lockWithin(log.get(), path);
        struct stat opened
        {
        };
        struct stat named
        {
        };
        if (::fstat(log.get(), &opened) != 0)
            posix::fail(kSource, path);
        if (::fstatat(folder.get(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_ino != opened.st_ino ||
            named.st_dev != opened.st_dev)
            continue;
        if (opened.st_size > 0 && static_cast<std::uint64_t>(opened.st_size) + record.size() > rotation.maxBytes) {
            rotate(folder.get(), name, path, rotation.keep);
            continue;
        }
        const ssize_t written = ::write(log.get(), record.data(), record.size());
        if (written < 0)
            posix::fail(kSource, path);
        if (static_cast<size_t>(written) != record.size()) {
            // Half a line would spoil the line after it too: cut the file back to where it was.
            const int cut = ::ftruncate(log.get(), opened.st_size);
            (void)cut;
            posix::fail(kSource, path, ENOSPC);
        }
        return;
    }
    posix::fail(kSource, path, EAGAIN);
}

std::string contentFingerprint(std::string_view bytes)
{
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(XXH3_64bits(bytes.data(), bytes.size())));
    return hex;
}

} // namespace tollavar::files
