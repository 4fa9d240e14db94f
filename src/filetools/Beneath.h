#pragma once

#include "filetools/UniqueFd.h"

#include <map>
#include <string>
#include <string_view>

// Resolving paths from index files beneath the folder they belong to. Such paths come from a text file
// anyone can write; resolved naively, "..", an absolute path or a symbolic link would reach any file the
// user can reach. The folder itself may be reached through links: users choose it.
namespace tollavar::files {

// Index files separate folders with a backslash, as the station writes them, or with a slash.
inline bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

// Where a relative path leads.
enum class Reach
{
    Inside,  // to a folder beneath the root
    Missing, // a part of it is missing or is no folder
    Leaves,  // out of the root: through "..", an absolute link, or a link that climbs too far
    Failed,  // the file system refused (permission, I/O): `error` says why
};

// True when the text alone takes a relative path out of its folder: a ".." part, a drive ("C:..."), or a
// network path ("\\server\share"). One leading separator means "from the folder", as index files write it.
// Either separator counts.
bool leavesByItsText(std::string_view relative);

// The path below the folder: "/" separators and no leading one.
std::string relativeBelow(std::string_view relative);

// Folder and path joined with exactly one separator: the one either of them has, else "/".
std::string joinBelow(std::string_view folder, std::string_view relative);

struct FolderBeneath
{
    UniqueFd fd; // an O_PATH descriptor of the folder when Inside
    Reach reach = Reach::Failed;
    int error = 0;
};

// Opens the folder `relative` ("/"-separated, from leavesByItsText-clean text) beneath the folder open
// at `rootFd`. Links inside are followed only while they stay beneath it. With `create`, missing folders
// are made on the way, never through a link; a folder that cannot be made is raised as a Failure naming
// `shown`. Nothing else raises.
FolderBeneath openFolderBeneath(int rootFd, std::string_view relative, bool create = false,
                                std::string_view shown = {});

enum class EntryKind
{
    Missing,
    File,   // a regular file
    Link,   // a symbolic link, never followed
    Other,  // a folder, FIFO, socket or device: nothing to open or move as a file
    Failed, // the file system refused to say: `error` says why
};

struct EntryLook
{
    EntryKind kind = EntryKind::Missing;
    int error = 0; // the errno when Failed (or Missing)
};

// What the name is in the folder, by lstat: nothing is opened, so a FIFO cannot block.
EntryLook entryKindAt(int folderFd, const std::string& name);

// A root folder with the subfolders already resolved beneath it kept open: most lines of a batch share
// their folder, so each costs one lookup, not one walk.
class RootFolder
{
public:
    explicit RootFolder(std::string folder);

    // The folder's own path as given (messages name it).
    const std::string& path() const noexcept { return m_path; }

    struct Folder
    {
        int fd = -1; // valid while this RootFolder lives
        Reach reach = Reach::Failed;
        int error = 0;
    };
    // The subfolder `relativeDir` ("/"-separated, "" for the root itself), opened or, with `create`, made on
    // the way (the root itself is never made). Raises only when a folder cannot be made. Of the folders it
    // hands out, the latest few stay open however many are asked for.
    Folder open(std::string_view relativeDir, bool create = false);

private:
    std::string m_path;
    struct Cached
    {
        UniqueFd fd;
        unsigned long lastUse = 0;
    };
    UniqueFd m_root;
    std::map<std::string, Cached, std::less<>> m_open;
    unsigned long m_clock = 0;
};

} // namespace tollavar::files
