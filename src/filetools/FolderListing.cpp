#include "filetools/FolderListing.h"

#include "filetools/FolderReader.h"

#include <algorithm>
#include <bit>
#include <dirent.h>
#include <functional>
#include <limits>

namespace tollavar::files {

namespace {

// A folder is read once this many of its names have been asked for; a few lines never pay for a listing.
constexpr unsigned long kFirstRead = 32;
// A listing may hold at most this many entries per name asked so far. A huge folder of which a batch
// names little is given up when it grows past that, and tried again once the batch has asked twice as
// often; so the entries read in vain stay within twice this many per name asked.
constexpr unsigned long kEntriesPerAsked = 16;

size_t hashOf(std::string_view name)
{
    return std::hash<std::string_view>{}(name);
}

unsigned char tagOf(size_t hash)
{
    return static_cast<unsigned char>(hash >> (8 * sizeof(size_t) - 8));
}

} // namespace

bool FolderListings::readInto(Listing& listing, int folderFd)
{
    const unsigned long most =
        std::min(listing.asked + m_expected, std::numeric_limits<unsigned long>::max() / kEntriesPerAsked) *
        kEntriesPerAsked;
    FolderReader folder(folderFd);
    if (!folder.opened())
        return false;
    std::string text;
    std::vector<Slot> entries;
    bool whole = true;
    std::string_view name;
    unsigned char type = 0;
    while (folder.next(name, type)) {
        const size_t length = name.size();
        if (entries.size() >= most || entries.size() >= std::numeric_limits<unsigned>::max() / 4 ||
            length > std::numeric_limits<unsigned short>::max() ||
            text.size() + length > std::numeric_limits<unsigned>::max()) {
            whole = false;
            break;
        }
        entries.push_back(Slot{static_cast<unsigned>(text.size()), static_cast<unsigned short>(length), type, 0});
        text.append(name);
    }
    if (!whole)
        return false;
    text.shrink_to_fit();
    m_expected -= std::min(m_expected, entries.size() / kEntriesPerAsked);
    listing.text = std::move(text);
    listing.slots.assign(std::bit_ceil(2 * entries.size() + 2), Slot{0, 0, 0, 0});
    const size_t mask = listing.slots.size() - 1;
    const std::string_view names = listing.text;
    for (Slot entry : entries) {
        const size_t hash = hashOf(names.substr(entry.offset, entry.length));
        size_t slot = hash & mask;
        while (listing.slots[slot].length != 0)
            slot = (slot + 1) & mask;
        entry.tag = tagOf(hash);
        listing.slots[slot] = entry;
    }
    return true;
}

FolderListings::Listing& FolderListings::listingOf(std::string_view folder)
{
    if (m_last && folder == m_lastFolder)
        return *m_last;
    auto it = m_folders.find(folder);
    if (it == m_folders.end())
        it = m_folders.emplace(std::string(folder), Listing{0, kFirstRead, false, {}, {}}).first;
    m_lastFolder.assign(folder);
    m_last = &it->second;
    return it->second;
}

FolderListings::Seen FolderListings::look(std::string_view folder, int folderFd, std::string_view name)
{
    Listing& listing = listingOf(folder);
    if (!listing.read) {
        if (++listing.asked < listing.nextRead)
            return Seen::Unknown;
        listing.read = readInto(listing, folderFd);
        if (!listing.read) {
            const bool grows = listing.asked <= std::numeric_limits<unsigned long>::max() / 2;
            listing.nextRead = grows ? listing.asked * 2 : std::numeric_limits<unsigned long>::max();
            return Seen::Unknown;
        }
    }
    const std::string_view text = listing.text;
    const size_t mask = listing.slots.size() - 1;
    const size_t hash = hashOf(name);
    const unsigned char tag = tagOf(hash);
    for (size_t at = hash & mask; listing.slots[at].length != 0; at = (at + 1) & mask) {
        Slot& slot = listing.slots[at];
        if (slot.tag != tag || text.substr(slot.offset, slot.length) != name)
            continue;
        if (slot.type != DT_REG)
            return Seen::Unknown;
        slot.type = DT_UNKNOWN;
        return Seen::File;
    }
    return Seen::NotSeen;
}

void FolderListings::expectNames(unsigned long names)
{
    m_expected = names > std::numeric_limits<unsigned long>::max() - m_expected
                     ? std::numeric_limits<unsigned long>::max()
                     : m_expected + names;
}

std::vector<std::string> FolderListings::otherCaseOf(std::string_view folder, int folderFd, std::string_view name,
                                                     std::string_view mustHold)
{
    if (!mustHold.empty() && !m_otherCase.knows(folder)) {
        Listing& listing = listingOf(folder);
        // The other-case names need the whole folder anyway: read once, it serves both.
        if (!listing.read)
            listing.read = readInto(listing, folderFd);
        if (listing.read) {
            std::vector<std::string_view> names;
            names.reserve(listing.slots.size() / 2);
            bool holds = false;
            for (const Slot& slot : listing.slots) {
                if (slot.length == 0)
                    continue;
                const std::string_view entry = std::string_view(listing.text).substr(slot.offset, slot.length);
                holds = holds || entry == mustHold;
                names.push_back(entry);
            }
            if (holds)
                m_otherCase.adopt(folder, names);
        }
    }
    return m_otherCase.find(folder, folderFd, name, mustHold);
}

} // namespace tollavar::files
