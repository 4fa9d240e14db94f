#include "filetools/MountTable.h"

#include "filetools/FaultInjection.h"
#include "filetools/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace tollavar::files {

namespace {

constexpr const char* kMountTable = "/proc/self/mountinfo";

std::vector<std::string_view> fieldsOf(std::string_view line)
{
    std::vector<std::string_view> fields;
    size_t at = 0;
    while (at < line.size()) {
        const size_t start = line.find_first_not_of(' ', at);
        if (start == std::string_view::npos)
            break;
        const size_t end = std::min(line.find(' ', start), line.size());
        fields.push_back(line.substr(start, end - start));
        at = end;
    }
    return fields;
}

// The table writes a space, tab, newline and backslash in a path as \040, \011, \012 and \134.
std::string unescaped(std::string_view text)
{
    std::string plain;
    plain.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto octal = [&](size_t at) { return at < text.size() && text[at] >= '0' && text[at] <= '7'; };
        if (text[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            plain += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0'));
            i += 3;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

void addOptions(std::vector<std::string>& options, std::string_view list)
{
    size_t at = 0;
    while (at <= list.size()) {
        const size_t end = std::min(list.find(',', at), list.size());
        if (end > at)
            options.emplace_back(list.substr(at, end - at));
        at = end + 1;
    }
}

bool holds(std::string_view mountPoint, std::string_view path)
{
    if (mountPoint == "/")
        return path.starts_with('/');
    return path.starts_with(mountPoint) && (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

// The whole table, read straight from the kernel (it reports a size of 0); empty when it cannot be read.
std::string readMountTable()
{
    const std::string_view replaced = faults::mountTableReplacement();
    const std::string path = replaced.empty() ? kMountTable : std::string(replaced);
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.isOpen())
        return {};
    std::string text;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return {};
        if (n == 0)
            return text;
        text.append(buffer, static_cast<size_t>(n));
    }
}

// The folder's real path (links resolved); for a folder still to be made, the real path of the nearest
// folder above that exists, with the rest as written.
std::string resolvedPath(const std::string& folder)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    if (error)
        return {};
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal().string() : resolved.string();
}

} // namespace

bool MountEntry::hasOption(std::string_view option) const
{
    return std::find(options.begin(), options.end(), option) != options.end();
}

std::optional<MountEntry> parseMountTableLine(std::string_view line)
{
    // "36 35 98:0 /root /mnt/point rw,noatime master:1 - nfs4 server:/export rw,vers=4.2,local_lock=none"
    // The optional fields before "-" are as many as the kernel has to say.
    const std::vector<std::string_view> fields = fieldsOf(line);
    const auto separator = std::find(fields.begin(), fields.end(), "-");
    if (separator == fields.end() || separator - fields.begin() < 6 || fields.end() - separator < 3)
        return std::nullopt;
    MountEntry entry;
    entry.mountPoint = unescaped(fields[4]);
    entry.type = unescaped(*(separator + 1));
    entry.source = unescaped(*(separator + 2));
    addOptions(entry.options, fields[5]);
    if (fields.end() - separator > 3)
        addOptions(entry.options, *(separator + 3));
    return entry;
}

std::optional<MountEntry> mountHolding(std::string_view path, std::string_view mountTable)
{
    std::optional<MountEntry> best;
    size_t at = 0;
    while (at < mountTable.size()) {
        const size_t end = std::min(mountTable.find('\n', at), mountTable.size());
        std::optional<MountEntry> entry = parseMountTableLine(mountTable.substr(at, end - at));
        at = end + 1;
        if (!entry || !holds(entry->mountPoint, path))
            continue;
        if (!best || entry->mountPoint.size() >= best->mountPoint.size())
            best = std::move(entry);
    }
    return best;
}

bool locksStayOnThisMachine(const MountEntry& mount)
{
    if (mount.type != "nfs" && mount.type != "nfs4")
        return false;
    return mount.hasOption("nolock") || mount.hasOption("local_lock=all") || mount.hasOption("local_lock=flock");
}

std::optional<std::string> localOnlyLockMount(const std::string& folder)
{
    const std::string path = resolvedPath(folder);
    if (path.empty())
        return std::nullopt;
    const std::optional<MountEntry> mount = mountHolding(path, readMountTable());
    if (!mount || !locksStayOnThisMachine(*mount))
        return std::nullopt;
    return mount->mountPoint;
}

} // namespace tollavar::files
