#include "filetools/OtherCaseNames.h"

#include "filetools/FolderReader.h"

#include <algorithm>
#include <functional>
#include <limits>

namespace tollavar::files {

namespace {

// The byte as it compares without regard to case; `previous` tells a UTF-8 Latin-1 letter's second byte.
unsigned char foldedByte(unsigned char previous, unsigned char byte) noexcept
{
    if (byte >= 'A' && byte <= 'Z')
        return static_cast<unsigned char>(byte + ('a' - 'A'));
    // U+00C0 to U+00DE but the multiplication sign: C3 80..9E in UTF-8, their small letters C3 A0..BE.
    if (previous == 0xC3 && byte >= 0x80 && byte <= 0x9E && byte != 0x97)
        return static_cast<unsigned char>(byte + 0x20);
    return byte;
}

size_t foldedHashOf(std::string_view name)
{
    // FNV-1a over the folded bytes.
    size_t hash = static_cast<size_t>(14695981039346656037ULL);
    unsigned char previous = 0;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        hash = (hash ^ foldedByte(previous, byte)) * static_cast<size_t>(1099511628211ULL);
        previous = byte;
    }
    return hash;
}

} // namespace

bool sameNameIgnoringCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    unsigned char previousA = 0;
    unsigned char previousB = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto byteA = static_cast<unsigned char>(a[i]);
        const auto byteB = static_cast<unsigned char>(b[i]);
        if (foldedByte(previousA, byteA) != foldedByte(previousB, byteB))
            return false;
        previousA = byteA;
        previousB = byteB;
    }
    return true;
}

void foldNameInto(std::string& out, std::string_view name)
{
    out.resize(name.size());
    unsigned char previous = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        out[i] = static_cast<char>(foldedByte(previous, byte));
        previous = byte;
    }
}

bool OtherCaseNames::readInto(Names& names, int folderFd)
{
    FolderReader folder(folderFd);
    if (!folder.opened())
        return false;
    Names read;
    std::string_view name;
    unsigned char type = 0;
    while (folder.next(name, type)) {
        const size_t length = name.size();
        if (read.text.size() + length > std::numeric_limits<unsigned>::max())
            break;
        if (name == "." || name == "..")
            continue;
        read.entries.push_back(
            Entry{foldedHashOf(name), static_cast<unsigned>(read.text.size()), static_cast<unsigned>(length)});
        read.text.append(name);
    }
    std::sort(read.entries.begin(), read.entries.end());
    read.text.shrink_to_fit();
    names = std::move(read);
    return true;
}

void OtherCaseNames::adopt(std::string_view folder, const std::vector<std::string_view>& names)
{
    Names adopted;
    for (const std::string_view name : names) {
        if (name == "." || name == ".." || adopted.text.size() + name.size() > std::numeric_limits<unsigned>::max())
            continue;
        adopted.entries.push_back(
            Entry{foldedHashOf(name), static_cast<unsigned>(adopted.text.size()), static_cast<unsigned>(name.size())});
        adopted.text.append(name);
    }
    std::sort(adopted.entries.begin(), adopted.entries.end());
    auto it = m_folders.find(folder);
    if (it == m_folders.end())
        it = m_folders.emplace(std::string(folder), Names{}).first;
    it->second = std::move(adopted);
}

bool OtherCaseNames::holds(const Names& names, std::string_view name)
{
    const auto [first, last] =
        std::equal_range(names.entries.begin(), names.entries.end(), Entry{foldedHashOf(name), 0, 0});
    return std::any_of(first, last, [&](const Entry& entry) {
        return std::string_view(names.text).substr(entry.offset, entry.length) == name;
    });
}

std::vector<std::string> OtherCaseNames::find(std::string_view folder, int folderFd, std::string_view name,
                                              std::string_view mustHold)
{
    auto it = m_folders.find(folder);
    const bool fresh = it == m_folders.end();
    if (fresh)
        it = m_folders.emplace(std::string(folder), Names{}).first;
    Names& names = it->second;
    if (fresh || mustHold.empty() || !holds(names, mustHold)) {
        // Without a name to vouch for it, what is at hand may be older than the name looked for.
        if (!readInto(names, folderFd))
            return {};
    }
    std::vector<std::string> found;
    const auto [first, last] =
        std::equal_range(names.entries.begin(), names.entries.end(), Entry{foldedHashOf(name), 0, 0});
    for (auto entry = first; entry != last; ++entry) {
        const std::string_view candidate = std::string_view(names.text).substr(entry->offset, entry->length);
        if (candidate != name && sameNameIgnoringCase(candidate, name))
            found.emplace_back(candidate);
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace tollavar::files
