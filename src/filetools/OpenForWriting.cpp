#include "filetools/OpenForWriting.h"

#include "filetools/DescriptorsElsewhere.h"
#include "filetools/FaultInjection.h"
#include "filetools/UniqueFd.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tollavar::files {

WriterCheck openForWritingElsewhere(const std::string& path)
{
    // A look, not an operation the fault plan counts (see FileTools::isFileInUse).
    const UniqueFd held(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    const int fd = held.get();
    if (fd < 0)
        return WriterCheck::None;
    if (faults::writerCheckForcedUnknown())
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
    switch (heldElsewhere(st, Sought::Writer)) {
    case HeldElsewhere::Yes:
        return WriterCheck::Writing;
    case HeldElsewhere::No:
        return WriterCheck::None;
    case HeldElsewhere::Unknown:
        break;
    }
    return WriterCheck::Unknown;
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

} // namespace tollavar::files
