#include "filetools/FolderListing.h"

#include "filetools/UniqueFd.h"

#include <bit>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <unistd.h>

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

bool FolderListings::readInto(Listing& listing, int folderFd) const
{
    const unsigned long most = listing.asked * kEntriesPerAsked;
    UniqueFd fd(::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.isOpen())
        return false;
    DIR* dir = ::fdopendir(fd.get());
    if (!dir)
        return false;
    fd.release(); // closedir closes it
    std::string text;
    std::vector<Slot> entries;
    bool whole = true;
    while (const dirent* entry = ::readdir(dir)) {
        const size_t length = std::strlen(entry->d_name);
        if (entries.size() >= most || entries.size() >= std::numeric_limits<unsigned>::max() / 4 ||
            length > std::numeric_limits<unsigned short>::max() ||
            text.size() + length > std::numeric_limits<unsigned>::max()) {
            whole = false;
            break;
        }
        entries.push_back(
            Slot{static_cast<unsigned>(text.size()), static_cast<unsigned short>(length), entry->d_type, 0});
        text.append(entry->d_name, length);
    }
    ::closedir(dir);
    if (!whole)
        return false;
    text.shrink_to_fit();
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

} // namespace tollavar::files
