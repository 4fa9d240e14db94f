#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tollavar {

// A 64-bit hash of a path or name. Two of the paths of a batch sharing one are as unlikely as a disk
// error, so sets of them stand in for sets of strings where a batch asks 100,000 questions.
uint64_t PathHash(std::string_view text);

// Hashes in one flat table: a question costs one look into memory, not a string compare per node.
class PathHashSet
{
public:
    bool contains(uint64_t hash) const;
    // False when the hash was there already.
    bool insert(uint64_t hash);
    bool empty() const { return m_count == 0; }

private:
    std::vector<uint64_t> m_slots;
    size_t m_count = 0;
};

// The entries of one folder by name, read once with their kinds: a folder of 100,000 images costs
// one pass over its directory instead of a stat per image.
class FolderEntries
{
public:
    enum class Kind : uint8_t
    {
        None, // no entry of that name
        Regular,
        Link,
        Folder,
        Other,
    };

    // A folder that cannot be read has no entries.
    static FolderEntries list(const std::string& folder);

    Kind find(std::string_view name) const;
    // How many regular files are named like `name` without regard to letter case, itself included: the
    // conversion takes the one file in other letter case when the exact name is missing.
    size_t regularFilesIgnoringCase(std::string_view name) const;
    // Whether a name ends in ".txt" in any letter case, as full-text files do: most folders have none.
    bool anyTextFile() const { return m_anyTextFile; }

private:
    void add(std::string_view name, Kind kind);

    std::vector<uint64_t> m_slots; // the name's hash with its kind in the low three bits
    size_t m_count = 0;
    std::vector<uint64_t> m_foldedRegular; // sorted hashes of the regular files' case-folded names
    bool m_anyTextFile = false;
};

// Folders listed once each and kept; consecutive questions about one folder skip the lookup too.
class FolderListingCache
{
public:
    const FolderEntries& of(std::string_view folder);
    // The listing of the folder part of a "/" path; `name` is set to its name part.
    const FolderEntries& ofPath(std::string_view path, std::string_view& name);

private:
    std::unordered_map<std::string, FolderEntries> m_listings;
    std::string m_lastFolder;
    const FolderEntries* m_last = nullptr;
};

} // namespace tollavar
