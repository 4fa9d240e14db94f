#include "filetools/FolderListing.h"

#include <dirent.h>
#include <fcntl.h>
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

} // namespace

bool FolderListings::readInto(Listing& listing, int folderFd) const
{
    const unsigned long most = listing.asked * kEntriesPerAsked;
    const int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    listing.names.clear();
    bool whole = true;
    while (const dirent* entry = ::readdir(dir)) {
        if (listing.names.size() >= most) {
            whole = false;
            break;
        }
        listing.names.emplace(entry->d_name, entry->d_type);
    }
    ::closedir(dir);
    if (!whole) {
        listing.names.clear();
        listing.names.rehash(0);
    }
    return whole;
}

FolderListings::Seen FolderListings::look(const std::string& folder, int folderFd, const std::string& name)
{
    auto it = m_folders.find(folder);
    if (it == m_folders.end())
        it = m_folders.emplace(folder, Listing{0, kFirstRead, false, {}}).first;
    Listing& listing = it->second;
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
    const auto found = listing.names.find(name);
    if (found == listing.names.end())
        return Seen::NotSeen;
    if (found->second != DT_REG)
        return Seen::Unknown;
    found->second = DT_UNKNOWN;
    return Seen::File;
}

} // namespace tollavar::files
