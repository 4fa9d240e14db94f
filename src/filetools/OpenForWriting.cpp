#include "filetools/OpenForWriting.h"

#include "filetools/UniqueFd.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tollavar::files {

namespace {

std::atomic<bool> g_forceUnknown{false};

// The access mode of a descriptor from its fdinfo ("flags:\t0100001", octal).
bool fdinfoSaysWriting(int fdinfoFolder, const char* fdName)
{
    const UniqueFd fd(::openat(fdinfoFolder, fdName, O_RDONLY | O_CLOEXEC));
    if (!fd.isOpen())
        return false; // closed meanwhile
    char text[512];
    const ssize_t length = ::read(fd.get(), text, sizeof text - 1);
    if (length <= 0)
        return false;
    text[length] = '\0';
    const std::string_view info(text, static_cast<size_t>(length));
    const size_t at = info.find("flags:");
    if (at == std::string_view::npos)
        return false;
    const long flags = std::strtol(text + at + 6, nullptr, 8);
    return (flags & O_ACCMODE) != O_RDONLY;
}

// Walks every other process's descriptors. Unknown when a process's descriptors could not be read and
// no writer was found elsewhere.
WriterCheck byProc(const struct stat& target)
{
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return WriterCheck::Unknown;
    const std::string self = std::to_string(::getpid());
    WriterCheck answer = WriterCheck::None;
    bool hidden = false;
    while (answer != WriterCheck::Writing) {
        dirent* entry = ::readdir(proc);
        if (!entry)
            break;
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9' || self == entry->d_name)
            continue;
        const std::string base = std::string("/proc/") + entry->d_name;
        DIR* fds = ::opendir((base + "/fd").c_str());
        if (!fds) {
            hidden |= errno == EACCES || errno == EPERM;
            continue;
        }
        const UniqueFd fdinfo(::open((base + "/fdinfo").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        while (dirent* fd = ::readdir(fds)) {
            struct stat st
            {
            };
            if (fd->d_name[0] == '.')
                continue;
            if (::fstatat(::dirfd(fds), fd->d_name, &st, 0) != 0 || st.st_dev != target.st_dev ||
                st.st_ino != target.st_ino)
                continue;
            if (!fdinfo.isOpen()) {
                hidden = true;
                continue;
            }
            if (fdinfoSaysWriting(fdinfo.get(), fd->d_name)) {
                answer = WriterCheck::Writing;
                break;
            }
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return answer == WriterCheck::None && hidden ? WriterCheck::Unknown : answer;
}

} // namespace

WriterCheck openForWritingElsewhere(const std::string& path)
{
    // A look, not an operation the fault plan counts (see FileTools::isFileInUse).
    const UniqueFd held(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    const int fd = held.get();
    if (fd < 0)
        return WriterCheck::None;
    if (g_forceUnknown)
        return WriterCheck::Unknown;
    struct stat st
    {
    };
    ::fstat(fd, &st);
    // A read lease is refused with EAGAIN exactly while some descriptor on the file is open for writing;
    // it is granted only to the file's owner (or with CAP_LEASE) and on file systems that keep leases.
    // A writer opening the file meanwhile breaks it with a signal, SIGIO unless told otherwise, which
    // would end this process; SIGURG is ignored without a handler, and the lease is given back at once.
    if (::fcntl(fd, F_SETSIG, SIGURG) == 0 && ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
        return WriterCheck::None;
    }
    const int error = errno;
    if (error == EAGAIN)
        return WriterCheck::Writing;
    return byProc(st);
}

bool sizeAndTimeStayStill(const std::string& path)
{
    using namespace std::chrono;
    const auto stampOf = [&](struct stat& st) { return ::stat(path.c_str(), &st) == 0; };
    struct stat before
    {
    };
    if (!stampOf(before))
        return true; // gone: the conversion will say so
    const auto modified =
        system_clock::time_point(seconds(before.st_mtim.tv_sec) + nanoseconds(before.st_mtim.tv_nsec));
    const auto age = system_clock::now() - modified;
    // Written to within the last second: watch it for a second.
    if (age >= seconds(1))
        return true;
    std::this_thread::sleep_for(seconds(1));
    struct stat after
    {
    };
    if (!stampOf(after))
        return true;
    return before.st_size == after.st_size && before.st_mtim.tv_sec == after.st_mtim.tv_sec &&
           before.st_mtim.tv_nsec == after.st_mtim.tv_nsec;
}

void forceWriterCheckUnknown(bool on)
{
    g_forceUnknown = on;
}

} // namespace tollavar::files
