#include "filetools/LineLog.h"

#include "filetools/PathParts.h"
#include "filetools/PosixFile.h"
#include "filetools/UniqueFd.h"

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

namespace tollavar::files {

namespace {

constexpr const char* kSource = "Append Log";

// Called with the log's lock held, so no other writer rotates at the same moment. Writers that opened
// the old file before the rename notice it under the lock and open the new one.
void rotate(const std::string& path, int keep)
{
    if (keep <= 0) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            posix::fail(kSource, path);
        return;
    }
    ::unlink(rotatedLogPath(path, keep).c_str());
    for (int n = keep - 1; n >= 1; --n) {
        const std::string from = rotatedLogPath(path, n);
        if (::rename(from.c_str(), rotatedLogPath(path, n + 1).c_str()) != 0 && errno != ENOENT)
            posix::fail(kSource, from);
    }
    if (::rename(path.c_str(), rotatedLogPath(path, 1).c_str()) != 0 && errno != ENOENT)
        posix::fail(kSource, path);
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
    const std::string folder = folderOf(path);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        posix::fail(kSource, folder, error.value());

    // A few rounds at most: one to rotate, one more when another writer rotated while this one waited.
    for (int attempt = 0; attempt < 8; ++attempt) {
        UniqueFd log(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
        if (!log.isOpen())
            posix::fail(kSource, path);
        while (::flock(log.get(), LOCK_EX) != 0) {
            if (errno != EINTR)
                posix::fail(kSource, path);
        }
        struct stat opened
        {
        };
        struct stat named
        {
        };
        if (::fstat(log.get(), &opened) != 0)
            posix::fail(kSource, path);
        if (::stat(path.c_str(), &named) != 0 || named.st_ino != opened.st_ino || named.st_dev != opened.st_dev)
            continue;
        if (opened.st_size > 0 && static_cast<std::uint64_t>(opened.st_size) + record.size() > rotation.maxBytes) {
            rotate(path, rotation.keep);
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
