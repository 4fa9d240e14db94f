#include "filetools/JournalFile.h"

#include "filetools/Failure.h"
#include "filetools/FileSystem.h"
#include "filetools/PathParts.h"
#include "filetools/PosixFile.h"
#include "filetools/RegularFileOpen.h"
#include "filetools/SystemCall.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tollavar::files {

using posix::fail;

namespace {

constexpr size_t kGrowth = size_t(1) << 20;

bool locksUnsupported(int error)
{
    return error == ENOLCK || error == EOPNOTSUPP || error == ENOTSUP || error == EINVAL || error == ENOSYS;
}

void writeAll(int fd, std::string_view bytes, const std::string& path)
{
    while (!bytes.empty()) {
        const ssize_t n = sys::write("Write File", fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("Write File", path);
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

std::string firstLineOf(const std::string& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// Field 22 of /proc/<pid>/stat: when the process started, in clock ticks since boot. The name in field 2
// may hold spaces and parentheses, so counting starts after its last ")".
unsigned long long startTicksOf(long long pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
        if (i == 22)
            return std::strtoull(field.c_str(), nullptr, 10);
    }
    return 0;
}

} // namespace

JournalFile::~JournalFile()
{
    close();
}

void JournalFile::create(const std::string& staging, const std::string& path, std::string_view head)
{
    close();
    UniqueFd fd = openRegularFile(staging, O_RDWR | O_CREAT | O_TRUNC, LinkRule::Refuse, "Create File", 0600);
    try {
        writeAll(fd.get(), head, staging);
        if (sys::fsync("Sync File", fd.get()) != 0)
            fail("Sync File", staging);
        if (sys::flock("Lock File", fd.get(), LOCK_EX | LOCK_NB) == 0)
            m_locked = true;
        else if (!locksUnsupported(errno))
            fail("Lock File", staging);
        if (sys::rename("Rename File", staging.c_str(), path.c_str()) != 0)
            fail("Rename File", path);
    } catch (...) {
        ::unlink(staging.c_str());
        m_locked = false;
        throw;
    }
    m_fd = std::move(fd);
    m_path = path;
    // The name must outlive a power cut as well as the bytes.
    posix::syncFolder(folderOf(path));
}

char* JournalFile::mapAtLeast(size_t size)
{
    if (m_map && size <= m_mapSize)
        return m_map;
    const size_t newSize = m_map ? std::max(m_mapSize * 2, size + kGrowth) : size;
    if (const int error = sys::posixFallocate("Extend File", m_fd.get(), 0, static_cast<off_t>(newSize)); error != 0)
        fail("Extend File", m_path, error);
    if (m_map)
        ::munmap(m_map, m_mapSize);
    m_map = nullptr;
    m_mapSize = 0;
    void* map = ::mmap(nullptr, newSize, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd.get(), 0);
    if (map == MAP_FAILED)
        fail("Extend File", m_path);
    m_map = static_cast<char*>(map);
    m_mapSize = newSize;
    return m_map;
}

char* JournalFile::recordSpace(size_t end)
{
    // Records are written straight into the mapping, where a write cannot fail by itself; the fault
    // plan fails the record here, as a full disk would have failed a write.
    if (const int error = faults::injectedError("Write File"))
        fail("Write File", m_path, error);
    return mapAtLeast(end);
}

void JournalFile::sync(size_t end)
{
    // One operation for the fault plan, though it takes two calls when the bytes are mapped.
    const bool mapped = m_map && end > 0;
    if (mapped && sys::msync("Sync File", m_map, std::min(end, m_mapSize), MS_SYNC) != 0)
        fail("Sync File", m_path);
    if ((mapped ? ::fdatasync(m_fd.get()) : sys::fdatasync("Sync File", m_fd.get())) != 0)
        fail("Sync File", m_path);
}

void JournalFile::close() noexcept
{
    if (m_map)
        ::munmap(m_map, m_mapSize);
    m_map = nullptr;
    m_mapSize = 0;
    m_fd.reset();
    m_locked = false;
}

void JournalFile::remove()
{
    // Unlinked while still locked, so that no recovery can lock the old file and believe it current.
    if (sys::unlink("Delete File", m_path.c_str()) != 0 && errno != ENOENT)
        fail("Delete File", m_path);
    close();
}

std::optional<OpenedJournal> openJournalForRecovery(const std::string& path)
{
    struct stat st
    {
    };
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return std::nullopt;
        fail("Open File", path);
    }
    // Never followed, never blocking, and anything but a regular file is refused by what it is.
    UniqueFd fd = openRegularFile(path, O_RDONLY, LinkRule::Refuse, "Open File");
    if (::fstat(fd.get(), &st) != 0)
        fail("Open File", path);
    OpenedJournal opened;
    if (sys::flock("Lock File", fd.get(), LOCK_EX | LOCK_NB) == 0)
        opened.lock = JournalLock::Held;
    else if (errno == EWOULDBLOCK || errno == EINTR)
        opened.lock = JournalLock::Busy;
    else if (locksUnsupported(errno))
        opened.lock = JournalLock::Unsupported;
    else
        fail("Lock File", path);
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            sys::pread("Read File", fd.get(), bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail("Read File", path);
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    opened.bytes = std::move(bytes);
    opened.fd = std::move(fd);
    return opened;
}

std::string moveJournalAside(const std::string& path)
{
    for (int n = 1;; ++n) {
        const std::string aside = path + "-" + std::to_string(n);
        // A hard link never replaces: the first free number wins even against a second recovery.
        if (sys::link("Rename File", path.c_str(), aside.c_str()) == 0) {
            ::unlink(path.c_str());
            posix::syncFolder(folderOf(path));
            return aside;
        }
        if (errno == EEXIST)
            continue;
        struct stat st
        {
        };
        if (::lstat(aside.c_str(), &st) == 0)
            continue;
        if (sys::rename("Rename File", path.c_str(), aside.c_str()) != 0)
            fail("Rename File", aside);
        posix::syncFolder(folderOf(path));
        return aside;
    }
}

std::string moveJournalInto(const std::string& path, const std::string& folder, const std::string& name)
{
    if (!folderCanTakeJournals(folder))
        return moveJournalAside(path);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return moveJournalAside(path);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
    for (;;) {
        const std::string target = freeNameIn(folder, name);
        try {
            moveFile(path, target);
            return target;
        } catch (const Failure&) {
            // Taken meanwhile: the next free name.
            if (!pathExists(target) || !pathExists(path))
                throw;
        }
    }
}

bool folderCanTakeJournals(const std::string& folder)
{
    std::string there = folder;
    while (!there.empty() && !pathExists(there))
        there = folderOf(there);
    return !there.empty() && folderExists(there) && ::faccessat(AT_FDCWD, there.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string freeNameIn(const std::string& folder, const std::string& name)
{
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    for (int n = 0;; ++n) {
        const std::string target = folder + "/" + stem + (n == 0 ? "" : "-" + std::to_string(n)) + extension;
        if (!pathExists(target))
            return target;
    }
}

void writeWholeFile(const std::string& staging, const std::string& path, std::string_view bytes)
{
    UniqueFd fd = openRegularFile(staging, O_WRONLY | O_CREAT | O_TRUNC, LinkRule::Refuse, "Create File", 0600);
    try {
        writeAll(fd.get(), bytes, staging);
        if (sys::fsync("Sync File", fd.get()) != 0)
            fail("Sync File", staging);
        if (sys::rename("Rename File", staging.c_str(), path.c_str()) != 0)
            fail("Rename File", path);
    } catch (...) {
        ::unlink(staging.c_str());
        throw;
    }
    posix::syncFolder(folderOf(path));
}

ProcessStamp currentProcessStamp()
{
    ProcessStamp stamp;
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0)
        stamp.host = host;
    stamp.bootId = firstLineOf("/proc/sys/kernel/random/boot_id");
    stamp.pid = ::getpid();
    stamp.startTicks = startTicksOf(stamp.pid);
    return stamp;
}

bool mayStillRun(const ProcessStamp& stamp)
{
    const ProcessStamp here = currentProcessStamp();
    if (stamp.host != here.host)
        return true; // nobody here can tell
    if (!stamp.bootId.empty() && !here.bootId.empty() && stamp.bootId != here.bootId)
        return false;
    if (stamp.pid <= 0)
        return true;
    if (::kill(static_cast<pid_t>(stamp.pid), 0) != 0 && errno == ESRCH)
        return false;
    // That id taken by a later process is not the writer.
    const unsigned long long started = startTicksOf(stamp.pid);
    return stamp.startTicks == 0 || started == 0 || started == stamp.startTicks;
}

} // namespace tollavar::files

namespace tollavar::files {

std::optional<FileIdentity> identityOf(const std::string& path)
{
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                        static_cast<int64_t>(st.st_size),
                        static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

} // namespace tollavar::files
