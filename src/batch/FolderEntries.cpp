#include "batch/FolderEntries.h"

#include "filetools/OtherCaseNames.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace tollavar {

namespace {

constexpr uint64_t kKindBits = 7;

// Open addressing with linear probing, never fuller than half: `matches` says whether a slot holds
// the hash looked for. Zero marks a free slot.
template <typename Matches> size_t probe(const std::vector<uint64_t>& slots, uint64_t hash, Matches matches)
{
    const size_t mask = slots.size() - 1;
    size_t at = hash & mask;
    while (slots[at] != 0 && !matches(slots[at]))
        at = (at + 1) & mask;
    return at;
}

void grow(std::vector<uint64_t>& slots, uint64_t ignoredBits)
{
    std::vector<uint64_t> bigger(std::max<size_t>(64, slots.size() * 2), 0);
    for (const uint64_t value : slots)
        if (value)
            bigger[probe(bigger, value >> 3 ^ (value & ~ignoredBits), [](uint64_t) { return false; })] = value;
    slots.swap(bigger);
}

} // namespace

uint64_t PathHash(std::string_view text)
{
    // Eight bytes at a time: the paths of a batch differ mostly in their last few bytes.
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;
    uint64_t h = text.size() * kMultiplier;
    size_t at = 0;
    for (; at + 8 <= text.size(); at += 8) {
        uint64_t word = 0;
        std::memcpy(&word, text.data() + at, 8);
        h = (h ^ word) * kMultiplier;
        h ^= h >> 29;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, text.data() + at, text.size() - at);
    h = (h ^ tail) * kMultiplier;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h > kKindBits ? h : h + 8;
}

bool PathHashSet::contains(uint64_t hash) const
{
    if (m_count == 0)
        return false;
    const size_t at = probe(m_slots, hash >> 3 ^ hash, [&](uint64_t slot) { return slot == hash; });
    return m_slots[at] == hash;
}

bool PathHashSet::insert(uint64_t hash)
{
    if ((m_count + 1) * 2 > m_slots.size())
        grow(m_slots, 0);
    const size_t at = probe(m_slots, hash >> 3 ^ hash, [&](uint64_t slot) { return slot == hash; });
    if (m_slots[at] == hash)
        return false;
    m_slots[at] = hash;
    ++m_count;
    return true;
}

FolderEntries FolderEntries::list(const std::string& folder)
{
    FolderEntries entries;
    std::string folded;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return entries;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        Kind kind = Kind::Other;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st
            {
            };
            if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                type = S_ISREG(st.st_mode) ? DT_REG : S_ISLNK(st.st_mode) ? DT_LNK : S_ISDIR(st.st_mode) ? DT_DIR : 0;
        }
        if (type == DT_REG)
            kind = Kind::Regular;
        else if (type == DT_LNK)
            kind = Kind::Link;
        else if (type == DT_DIR)
            kind = Kind::Folder;
        entries.add(name, kind);
        if (kind != Kind::Folder) {
            files::FoldNameInto(folded, name);
            entries.m_anyTextFile |= folded.ends_with(".txt");
            if (kind == Kind::Regular)
                entries.m_foldedRegular.push_back(PathHash(folded));
        }
    }
    ::closedir(dir);
    std::sort(entries.m_foldedRegular.begin(), entries.m_foldedRegular.end());
    return entries;
}

void FolderEntries::add(std::string_view name, Kind kind)
{
    if ((m_count + 1) * 2 > m_slots.size())
        grow(m_slots, kKindBits);
    const uint64_t hash = PathHash(name) & ~kKindBits;
    const size_t at = probe(m_slots, hash >> 3 ^ hash, [&](uint64_t slot) { return (slot & ~kKindBits) == hash; });
    if (m_slots[at] == 0)
        ++m_count;
    m_slots[at] = hash | static_cast<uint64_t>(kind);
}

FolderEntries::Kind FolderEntries::find(std::string_view name) const
{
    if (m_count == 0)
        return Kind::None;
    const uint64_t hash = PathHash(name) & ~kKindBits;
    const size_t at = probe(m_slots, hash >> 3 ^ hash, [&](uint64_t slot) { return (slot & ~kKindBits) == hash; });
    return m_slots[at] == 0 ? Kind::None : static_cast<Kind>(m_slots[at] & kKindBits);
}

size_t FolderEntries::regularFilesIgnoringCase(std::string_view name) const
{
    std::string folded;
    files::FoldNameInto(folded, name);
    const auto [first, last] = std::equal_range(m_foldedRegular.begin(), m_foldedRegular.end(), PathHash(folded));
    return static_cast<size_t>(last - first);
}

const FolderEntries& FolderListingCache::of(std::string_view folder)
{
    if (m_last && folder == m_lastFolder)
        return *m_last;
    m_lastFolder.assign(folder);
    auto found = m_listings.find(m_lastFolder);
    if (found == m_listings.end())
        found = m_listings.emplace(m_lastFolder, FolderEntries::list(m_lastFolder.empty() ? "/" : m_lastFolder)).first;
    m_last = &found->second;
    return *m_last;
}

const FolderEntries& FolderListingCache::ofPath(std::string_view path, std::string_view& name)
{
    const size_t slash = path.rfind('/');
    name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    return of(slash == std::string_view::npos ? std::string_view() : path.substr(0, slash));
}

} // namespace tollavar
