#include "engine/RunJournal.h"

#include "filetools/Failure.h"
#include "filetools/FaultInjection.h"
#include "filetools/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tollavar {

namespace {

constexpr std::string_view kMagic = "TOLLAVAR RECOVERY JOURNAL 1\n";
constexpr size_t kGrowth = size_t(1) << 20;
// Room a journal starts with: enough for the moves of a usual index file, little to allocate and to sync.
constexpr size_t kFirstRoom = size_t(64) << 10;
// A sync costs milliseconds; once per this many moves keeps the journal under a few per cent of a run.
constexpr long kSyncEvery = 4096;

uint32_t fnv32(const char* data, size_t size)
{
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < size; ++i) {
        h ^= static_cast<unsigned char>(data[i]);
        h *= 16777619u;
    }
    return h;
}

void appendEscaped(std::string& out, std::string_view text)
{
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
}

// Writes `text` escaped at `out`, backslashes turned into "/" first (the file system's separator).
char* putNative(char* out, std::string_view text)
{
    for (char c : text) {
        switch (c) {
        case '\\':
            *out++ = '/';
            break;
        case '\t':
            *out++ = '\\';
            *out++ = 't';
            break;
        case '\n':
            *out++ = '\\';
            *out++ = 'n';
            break;
        case '\r':
            *out++ = '\\';
            *out++ = 'r';
            break;
        default:
            *out++ = c;
        }
    }
    return out;
}

std::optional<std::string> unescape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

std::string hex(uint64_t value, int digits)
{
    char buffer[17];
    std::snprintf(buffer, sizeof buffer, "%0*llx", digits, static_cast<unsigned long long>(value));
    return buffer;
}

std::vector<std::string_view> splitTabs(std::string_view line)
{
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? line.npos : tab - start));
        if (tab == std::string_view::npos)
            return fields;
        start = tab + 1;
    }
}

template <typename T> std::optional<T> number(std::string_view text, int base = 10)
{
    if (text.empty())
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const std::string copy(text);
    const long long value = base == 16 ? static_cast<long long>(std::strtoull(copy.c_str(), &end, 16))
                                       : std::strtoll(copy.c_str(), &end, 10);
    if (errno != 0 || end != copy.c_str() + copy.size())
        return std::nullopt;
    return static_cast<T>(value);
}

} // namespace

Fingerprint FingerprintOf(std::string_view bytes)
{
    // Eight bytes a step: DATAGRP.XML runs to tens of megabytes and is fingerprinted at every run.
    uint64_t h = 0x9E3779B97F4A7C15ull ^ bytes.size();
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        h = (h ^ word) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 29;
    }
    for (; i < bytes.size(); ++i)
        h = (h ^ static_cast<unsigned char>(bytes[i])) * 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 31;
    return Fingerprint{bytes.size(), h};
}

std::optional<FileIdentity> IdentityOf(const std::string& path)
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

namespace {

// Writes `bytes` to `staging`, syncs it and gives it the name `path`, so that `path` holds either
// nothing or all of it. A fixed staging name, unlike a random temporary, can be cleared without a listing.
void writeThenName(const std::string& staging, const std::string& path, std::string_view bytes)
{
    faults::checkpoint("Create File", staging);
    const int fd = ::open(staging.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        throw systemFailure(errno, "Create File", staging);
    const auto failWith = [&](int error, const char* operation) {
        ::close(fd);
        ::unlink(staging.c_str());
        throw systemFailure(error, operation, staging);
    };
    for (size_t done = 0; done < bytes.size();) {
        faults::checkpoint("Write File", staging);
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EINTR)
            failWith(errno, "Write File");
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    faults::checkpoint("Sync File", staging);
    if (::fsync(fd) != 0)
        failWith(errno, "Sync File");
    ::close(fd);
    faults::checkpoint("Rename File", path);
    if (::rename(staging.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(staging.c_str());
        throw systemFailure(error, "Rename File", path);
    }
    // The name must outlive a power cut as well as the bytes.
    const std::string folder = std::filesystem::path(path).parent_path().string();
    faults::checkpoint("Sync Folder", folder);
    const int folderFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        throw systemFailure(errno, "Sync Folder", folder);
    const bool synced = ::fsync(folderFd) == 0 || errno == EINVAL || errno == EROFS;
    const int error = errno;
    ::close(folderFd);
    if (!synced)
        throw systemFailure(error, "Sync Folder", folder);
}

} // namespace

std::string RunJournal::startingPathFor(const std::string& datagroupFolder)
{
    return pathFor(datagroupFolder) + ".new";
}

std::string RunJournal::pathFor(const std::string& datagroupFolder)
{
    return files::nativePath(datagroupFolder) + "/.DATAGRP.JOURNAL";
}

RunJournal::RunJournal(std::string datagroupFolder, std::string configFile, bool removeProcessed)
    : m_datagroupFolder(files::nativePath(datagroupFolder)), m_configFile(std::move(configFile)),
      m_removeProcessed(removeProcessed), m_path(pathFor(m_datagroupFolder))
{
}

RunJournal::~RunJournal()
{
    unmap();
}

void RunJournal::unmap() noexcept
{
    if (m_map)
        ::munmap(m_map, m_mapSize);
    m_map = nullptr;
    m_mapSize = 0;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void RunJournal::begin(const std::string& indexFile, const std::string& xmlFile, std::string_view originalText)
{
    unmap();
    m_begun = false;
    // A journal still here belongs to a run nobody has recovered yet; it must not be overwritten.
    if (files::pathExists(m_path))
        throw Failure(ErrorCode::FileAlreadyExists, "Recovery Journal",
                      "The journal of an interrupted conversion is still there: " + m_path);

    std::error_code error;
    const std::string cwd = std::filesystem::current_path(error).string();
    const std::string index = files::nativePath(indexFile);
    std::string head(kMagic);
    const auto field = [&head](std::string_view name, std::string_view value) {
        head += name;
        head += '\t';
        appendEscaped(head, value);
    };
    field("folder", m_datagroupFolder);
    head += "\n";
    field("cwd", cwd);
    head += "\n";
    field("index", index);
    if (const auto id = IdentityOf(index))
        head += "\t" + std::to_string(id->device) + "\t" + std::to_string(id->inode) + "\t" + std::to_string(id->size) +
                "\t" + std::to_string(id->modifiedNs);
    head += "\n";
    field("xml", files::nativePath(xmlFile));
    head += "\n";
    if (originalText.empty()) {
        head += "original\tnone\n";
    } else {
        const Fingerprint original = FingerprintOf(originalText);
        head += "original\t" + std::to_string(original.size) + "\t" + hex(original.hash, 16) + "\n";
    }
    head += m_removeProcessed ? "remove\t1\n" : "remove\t0\n";
    field("config", m_configFile);
    head += "\n";
    head += "head\t" + hex(fnv32(head.data(), head.size()), 8) + "\n";
    // Whole or absent: a journal is never seen half written.
    writeThenName(startingPathFor(m_datagroupFolder), m_path, head);

    faults::checkpoint("Open File", m_path);
    m_fd = ::open(m_path.c_str(), O_RDWR | O_CLOEXEC);
    if (m_fd < 0)
        throw systemFailure(errno, "Open File", m_path);
    m_used = head.size();
    m_sinceSync = 0;
    m_previousFrom.clear();
    m_previousTo.clear();
    m_begun = true;
    reserve(kFirstRoom);
}

void RunJournal::reserve(size_t bytes)
{
    if (m_map && m_used + bytes <= m_mapSize)
        return;
    const size_t size = m_map ? std::max(m_mapSize * 2, m_used + bytes + kGrowth) : m_used + bytes;
    // Blocks are allocated now, so that writing through the mapping can never meet a full disk (which
    // would kill the process with SIGBUS instead of failing the run).
    faults::checkpoint("Extend File", m_path);
    if (const int error = ::posix_fallocate(m_fd, 0, static_cast<off_t>(size)); error != 0)
        throw systemFailure(error, "Extend File", m_path);
    if (m_map)
        ::munmap(m_map, m_mapSize);
    m_map = nullptr;
    void* map = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
    if (map == MAP_FAILED)
        throw systemFailure(errno, "Extend File", m_path);
    m_map = static_cast<char*>(map);
    m_mapSize = size;
}

// Most moves of a run share their folders with the move before: a path is written as the length it
// shares with the previous one and the rest, which keeps the journal a few bytes a move.
char* RunJournal::putPath(char* out, std::string_view path, std::string& previous)
{
    const size_t limit = std::min(path.size(), previous.size());
    size_t shared = 0;
    while (shared < limit && path[shared] == previous[shared])
        ++shared;
    const auto [end, error] = std::to_chars(out, out + 20, shared);
    out = end;
    *out++ = '\t';
    out = putNative(out, path.substr(shared));
    previous.assign(path);
    return out;
}

void RunJournal::append(char type, std::string_view first, std::string_view second)
{
    if (!m_begun)
        return;
    faults::checkpoint("Write File", m_path);
    reserve(2 * (first.size() + second.size()) + 96);
    char* const start = m_map + m_used;
    char* out = start;
    *out++ = type;
    if (type == 'M') {
        *out++ = '\t';
        out = putPath(out, first, m_previousFrom);
        *out++ = '\t';
        out = putPath(out, second, m_previousTo);
    } else if (type == 'S') {
        *out++ = '\t';
        std::memcpy(out, first.data(), first.size());
        out += first.size();
    }
    const uint32_t sum = fnv32(start, static_cast<size_t>(out - start));
    *out++ = '\t';
    for (int shift = 28; shift >= 0; shift -= 4)
        *out++ = "0123456789abcdef"[(sum >> shift) & 0xF];
    *out++ = '\n';
    m_used += static_cast<size_t>(out - start);
}

void RunJournal::beforeMove(std::string_view from, std::string_view to)
{
    append('M', from, to);
    if (++m_sinceSync >= kSyncEvery) {
        faults::checkpoint("Sync File", m_path);
        if (::fdatasync(m_fd) != 0)
            throw systemFailure(errno, "Sync File", m_path);
        m_sinceSync = 0;
    }
}

void RunJournal::moveNotMade()
{
    append('N', {}, {});
}

void RunJournal::markSaving(long lastDocId)
{
    if (!m_begun)
        return;
    append('S', std::to_string(lastDocId), {});
    faults::checkpoint("Sync File", m_path);
    if (::msync(m_map, m_mapSize, MS_SYNC) != 0 || ::fdatasync(m_fd) != 0)
        throw systemFailure(errno, "Sync File", m_path);
    m_sinceSync = 0;
}

void RunJournal::remove()
{
    if (!m_begun)
        return;
    unmap();
    m_begun = false;
    files::deleteFile(m_path);
}

JournalContents ReadRunJournal(const std::string& path)
{
    const std::string bytes = files::readAll(path);
    const auto damaged = [&path](const std::string& why) {
        return Failure(ErrorCode::PathFileAccess, "Recovery Journal",
                       "The recovery journal " + path + " cannot be used (" + why +
                           "); nothing was changed. Move it away once the datagroup has been checked by hand.");
    };
    // The tail of the file is zeros reserved for records that never came; anything after them means
    // pages were lost.
    const size_t end = std::min(bytes.find('\0'), bytes.size());
    if (bytes.find_first_not_of('\0', end) != std::string::npos)
        throw damaged("records are missing in its middle");
    const std::string_view text(bytes.data(), end);
    if (!text.starts_with(kMagic))
        throw damaged("it is not a journal of this program");

    JournalContents contents;
    size_t pos = kMagic.size();
    bool headDone = false;
    bool lastWasMove = false;
    std::string previousFrom;
    std::string previousTo;
    while (pos < text.size()) {
        const size_t newline = text.find('\n', pos);
        if (newline == std::string_view::npos) {
            // A record cut short by the end of the process: its move had not begun.
            if (!headDone)
                throw damaged("it is cut short");
            break;
        }
        const std::string_view line = text.substr(pos, newline - pos);
        const size_t lineStart = pos;
        pos = newline + 1;
        const std::vector<std::string_view> f = splitTabs(line);
        if (!headDone) {
            const auto value = [&](size_t i) {
                auto v = i < f.size() ? unescape(f[i]) : std::nullopt;
                if (!v)
                    throw damaged("its head is damaged");
                return *v;
            };
            if (f[0] == "folder")
                contents.datagroupFolder = value(1);
            else if (f[0] == "cwd")
                contents.workingFolder = value(1);
            else if (f[0] == "index") {
                contents.indexFile = value(1);
                if (f.size() == 6) {
                    const auto dev = number<uint64_t>(f[2]), ino = number<uint64_t>(f[3]);
                    const auto size = number<int64_t>(f[4]), mtime = number<int64_t>(f[5]);
                    if (!dev || !ino || !size || !mtime)
                        throw damaged("its head is damaged");
                    contents.indexIdentity = FileIdentity{*dev, *ino, *size, *mtime};
                }
            } else if (f[0] == "xml")
                contents.xmlFile = value(1);
            else if (f[0] == "original") {
                if (f.size() == 3) {
                    const auto size = number<uint64_t>(f[1]);
                    const auto hash = number<uint64_t>(f[2], 16);
                    if (!size || !hash)
                        throw damaged("its head is damaged");
                    contents.original = Fingerprint{*size, *hash};
                } else if (f.size() != 2 || f[1] != "none") {
                    throw damaged("its head is damaged");
                }
            } else if (f[0] == "remove")
                contents.removeProcessed = value(1) == "1";
            else if (f[0] == "config")
                contents.configFile = value(1);
            else if (f[0] == "head") {
                if (f.size() != 2 || f[1] != hex(fnv32(text.data(), lineStart), 8))
                    throw damaged("its head is damaged");
                if (contents.datagroupFolder.empty() || contents.indexFile.empty() || contents.xmlFile.empty())
                    throw damaged("its head is incomplete");
                headDone = true;
            } else {
                throw damaged("its head is damaged");
            }
            continue;
        }
        const size_t lastTab = line.rfind('\t');
        if (lastTab == std::string_view::npos || line.substr(lastTab + 1) != hex(fnv32(line.data(), lastTab), 8))
            throw damaged("a record is damaged");
        if (f[0] == "M" && f.size() == 6) {
            const auto fromShared = number<size_t>(f[1]);
            const auto toShared = number<size_t>(f[3]);
            const auto fromRest = unescape(f[2]);
            const auto toRest = unescape(f[4]);
            if (!fromShared || !toShared || !fromRest || !toRest || *fromShared > previousFrom.size() ||
                *toShared > previousTo.size())
                throw damaged("a record is damaged");
            previousFrom = previousFrom.substr(0, *fromShared) + *fromRest;
            previousTo = previousTo.substr(0, *toShared) + *toRest;
            contents.moves.push_back({previousFrom, previousTo});
            lastWasMove = true;
            continue;
        }
        if (f[0] == "N" && f.size() == 2 && lastWasMove) {
            contents.moves.pop_back();
        } else if (f[0] == "S" && f.size() == 3) {
            const auto last = number<long>(f[1]);
            if (!last)
                throw damaged("a record is damaged");
            contents.saving = true;
            contents.lastDocId = *last;
        } else {
            throw damaged("a record is damaged");
        }
        lastWasMove = false;
    }
    if (!headDone)
        throw damaged("it is cut short");
    return contents;
}

} // namespace tollavar
