#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tollavar::files {

// True when the two names differ at most in letter case (ASCII and the Latin-1 letters), as the
// stations' own file system compared names.
bool sameNameIgnoringCase(std::string_view a, std::string_view b) noexcept;

// The name as sameNameIgnoringCase compares it (its letters in small case), in `out`.
void foldNameInto(std::string& out, std::string_view name);

// Finds the names a folder holds in another letter case than an index line wrote them. Only asked when
// the exact name is missing, but then for nearly every line (most images have no full-text file), so
// each folder is read once and its names kept by their case-folded hash; the caller checks a name found
// before it trusts it, as the folder changes meanwhile.
class OtherCaseNames
{
public:
    // The names of the folder open at `folderFd` (kept under the caller's key `folder`) that differ from
    // `name` in letter case only. The folder is read again when `mustHold` is not empty and the names at
    // hand lack it: a listing that knew the image is trusted to know its full-text file as well.
    std::vector<std::string> find(std::string_view folder, int folderFd, std::string_view name,
                                  std::string_view mustHold = {});

    bool knows(std::string_view folder) const { return m_folders.find(folder) != m_folders.end(); }
    // Takes `names` as what the folder holds now, as read by the caller.
    void adopt(std::string_view folder, const std::vector<std::string_view>& names);

private:
    struct Entry
    {
        size_t foldedHash;
        unsigned offset;
        unsigned length;
        bool operator<(const Entry& other) const { return foldedHash < other.foldedHash; }
    };
    struct Names
    {
        std::string text;
        std::vector<Entry> entries; // sorted by foldedHash
    };
    static bool readInto(Names& names, int folderFd);
    static bool holds(const Names& names, std::string_view name);

    std::map<std::string, Names, std::less<>> m_folders;
};

} // namespace tollavar::files
