#pragma once

#include "filetools/FaultInjection.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h> // renameat2
#include <string_view>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

// The system calls of the file layer that can fail, each under the name of the operation a failure
// reports. A test's fault plan fails one of them the way the kernel would (-1 and errno, or the error
// number where the call returns one), so the caller's own handling and cleanup run. Without the test
// hook these are the plain calls. Not for use outside filetools.
namespace tollavar::files::sys {

// Runs `call` unless the plan fails this operation; then answers `failed` with errno set.
template <class Call, class Result = decltype(std::declval<Call>()())>
Result unlessInjected(std::string_view operation, Result failed, Call&& call)
{
    if (const int error = faults::injectedError(operation)) {
        errno = error;
        return failed;
    }
    return call();
}

inline int open(std::string_view operation, const char* path, int flags, mode_t mode = 0)
{
    return unlessInjected(operation, -1, [&] { return ::open(path, flags, mode); });
}

inline int openat(std::string_view operation, int folder, const char* name, int flags, mode_t mode = 0)
{
    return unlessInjected(operation, -1, [&] { return ::openat(folder, name, flags, mode); });
}

inline int mkostemp(std::string_view operation, char* pattern, int flags)
{
    return unlessInjected(operation, -1, [&] { return ::mkostemp(pattern, flags); });
}

inline ssize_t read(std::string_view operation, int fd, void* buffer, size_t size)
{
    return unlessInjected(operation, ssize_t(-1), [&] { return ::read(fd, buffer, size); });
}

inline ssize_t pread(std::string_view operation, int fd, void* buffer, size_t size, off_t offset)
{
    return unlessInjected(operation, ssize_t(-1), [&] { return ::pread(fd, buffer, size, offset); });
}

inline ssize_t write(std::string_view operation, int fd, const void* bytes, size_t size)
{
    return unlessInjected(operation, ssize_t(-1), [&] { return ::write(fd, bytes, size); });
}

inline ssize_t pwrite(std::string_view operation, int fd, const void* bytes, size_t size, off_t offset)
{
    return unlessInjected(operation, ssize_t(-1), [&] { return ::pwrite(fd, bytes, size, offset); });
}

inline int fsync(std::string_view operation, int fd)
{
    return unlessInjected(operation, -1, [&] { return ::fsync(fd); });
}

inline int fdatasync(std::string_view operation, int fd)
{
    return unlessInjected(operation, -1, [&] { return ::fdatasync(fd); });
}

inline int msync(std::string_view operation, void* start, size_t length, int flags)
{
    return unlessInjected(operation, -1, [&] { return ::msync(start, length, flags); });
}

inline int fallocate(std::string_view operation, int fd, int mode, off_t offset, off_t length)
{
    return unlessInjected(operation, -1, [&] { return ::fallocate(fd, mode, offset, length); });
}

// Answers the error number, as posix_fallocate itself does.
inline int posixFallocate(std::string_view operation, int fd, off_t offset, off_t length)
{
    if (const int error = faults::injectedError(operation))
        return error;
    return ::posix_fallocate(fd, offset, length);
}

inline int ftruncate(std::string_view operation, int fd, off_t length)
{
    return unlessInjected(operation, -1, [&] { return ::ftruncate(fd, length); });
}

inline int flock(std::string_view operation, int fd, int how)
{
    return unlessInjected(operation, -1, [&] { return ::flock(fd, how); });
}

// The descriptor is gone afterwards whatever the answer, as with close(2): a failed close must not leak.
inline int close(std::string_view operation, int fd)
{
    const int closed = ::close(fd);
    if (const int error = faults::injectedError(operation)) {
        errno = error;
        return -1;
    }
    return closed;
}

inline int mkdir(std::string_view operation, const char* path, mode_t mode)
{
    return unlessInjected(operation, -1, [&] { return ::mkdir(path, mode); });
}

inline int mkdirat(std::string_view operation, int folder, const char* name, mode_t mode)
{
    return unlessInjected(operation, -1, [&] { return ::mkdirat(folder, name, mode); });
}

inline int unlink(std::string_view operation, const char* path)
{
    return unlessInjected(operation, -1, [&] { return ::unlink(path); });
}

inline int unlinkat(std::string_view operation, int folder, const char* name, int flags)
{
    return unlessInjected(operation, -1, [&] { return ::unlinkat(folder, name, flags); });
}

inline int link(std::string_view operation, const char* existing, const char* newName)
{
    return unlessInjected(operation, -1, [&] { return ::link(existing, newName); });
}

inline int linkat(std::string_view operation, int fromFolder, const char* from, int toFolder, const char* to)
{
    return unlessInjected(operation, -1, [&] { return ::linkat(fromFolder, from, toFolder, to, 0); });
}

inline int rename(std::string_view operation, const char* from, const char* to)
{
    return unlessInjected(operation, -1, [&] { return ::rename(from, to); });
}

inline int renameat(std::string_view operation, int fromFolder, const char* from, int toFolder, const char* to)
{
    return unlessInjected(operation, -1, [&] { return ::renameat(fromFolder, from, toFolder, to); });
}

inline int renameat2(std::string_view operation, int fromFolder, const char* from, int toFolder, const char* to,
                     unsigned flags)
{
    return unlessInjected(operation, -1, [&] { return ::renameat2(fromFolder, from, toFolder, to, flags); });
}

inline DIR* opendir(std::string_view operation, const char* path)
{
    return unlessInjected(operation, static_cast<DIR*>(nullptr), [&] { return ::opendir(path); });
}

} // namespace tollavar::files::sys
