#include "filetools/DescriptorsElsewhere.h"

#include "filetools/UniqueFd.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>

namespace tollavar::files {

namespace {

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

} // namespace

HeldElsewhere heldElsewhere(const struct stat& target, Sought sought)
{
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return HeldElsewhere::Unknown;
    const bool writersOnly = sought == Sought::Writer;
    const std::string self = std::to_string(::getpid());
    bool found = false;
    bool hidden = false;
    while (!found) {
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
        // Only a writer needs the access mode, which fdinfo alone tells.
        const UniqueFd fdinfo(writersOnly ? ::open((base + "/fdinfo").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                                          : -1);
        while (dirent* fd = ::readdir(fds)) {
            struct stat st
            {
            };
            if (fd->d_name[0] == '.')
                continue;
            if (::fstatat(::dirfd(fds), fd->d_name, &st, 0) != 0 || st.st_dev != target.st_dev ||
                st.st_ino != target.st_ino)
                continue;
            if (!writersOnly) {
                found = true;
                break;
            }
            if (!fdinfo.isOpen()) {
                hidden = true;
                continue;
            }
            if (fdinfoSaysWriting(fdinfo.get(), fd->d_name)) {
                found = true;
                break;
            }
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    if (found)
        return HeldElsewhere::Yes;
    return hidden ? HeldElsewhere::Unknown : HeldElsewhere::No;
}

} // namespace tollavar::files
