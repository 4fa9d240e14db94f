#include "filetools/FolderListing.h"

#include <algorithm>
#include <cstring>
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
    listing.text.clear();
    listing.entries.clear();
    bool whole = true;
    while (const dirent* entry = ::readdir(dir)) {
        const size_t length = std::strlen(entry->d_name);
        if (listing.entries.size() >= most || length > std::numeric_limits<unsigned short>::max() ||
            listing.text.size() + length > std::numeric_limits<unsigned>::max()) {
            whole = false;
            break;
        }
        listing.entries.push_back(
            Entry{static_cast<unsigned>(listing.text.size()), static_cast<unsigned short>(length), entry->d_type});
        listing.text.append(entry->d_name, length);
    }
    ::closedir(dir);
    if (!whole) {
        listing.text = std::string();
        listing.entries = std::vector<Entry>();
        return false;
    }
    const std::string_view text = listing.text;
    std::sort(listing.entries.begin(), listing.entries.end(), [text](const Entry& a, const Entry& b) {
        return text.substr(a.offset, a.length) < text.substr(b.offset, b.length);
    });
    listing.entries.shrink_to_fit();
    listing.text.shrink_to_fit();
    return true;
}

FolderListings::Seen FolderListings::look(const std::string& folder, int folderFd, const std::string& name)
{
    auto it = m_folders.find(folder);
    if (it == m_folders.end())
        it = m_folders.emplace(folder, Listing{0, kFirstRead, false, {}, {}}).first;
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
    const std::string_view text = listing.text;
    const auto found = std::lower_bound(listing.entries.begin(), listing.entries.end(), std::string_view(name),
                                        [text](const Entry& entry, std::string_view wanted) {
                                            return text.substr(entry.offset, entry.length) < wanted;
                                        });
    if (found == listing.entries.end() || text.substr(found->offset, found->length) != name)
        return Seen::NotSeen;
    if (found->type != DT_REG)
        return Seen::Unknown;
    found->type = DT_UNKNOWN;
    return Seen::File;
}

} // namespace tollavar::files
