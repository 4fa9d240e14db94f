#pragma once

#include "filetools/OtherCaseNames.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tollavar::files {

// What the folders of a batch held when they were read, so that its many lines need not each ask the file
// system about their names. A listing is stale from the moment it is read: it may say that a name is a
// regular file, or that it was not there then; everything else is for the caller to ask the file system.
class FolderListings
{
public:
    enum class Seen
    {
        File,    // listed as a regular file
        NotSeen, // the folder was read, and the name was not in it
        Unknown, // not read (yet), or listed as something whose kind only lstat can tell
    };

    // What the listing of `folder` (a key the caller chooses, open at `folderFd`) says of `name`. A folder is
    // read only once it has been asked about often enough to repay reading it. A name is vouched for as a
    // file once only: the caller is expected to move it, and whatever became of it is then for lstat to say.
    Seen look(std::string_view folder, int folderFd, std::string_view name);

    // Tells that about `names` more names are to be asked for (an index file's lines): a folder that a
    // large batch draws on is then read whole at once rather than tried ever larger while the lines pay
    // lstat meanwhile. What is read on this promise counts against it, so the entries read stay within
    // kEntriesPerAsked per name asked or promised.
    void expectNames(unsigned long names);

    // The names of `folder` that differ from `name` in letter case only (see OtherCaseNames::find). A
    // listing at hand that holds `mustHold` answers without a second read of the folder.
    std::vector<std::string> otherCaseOf(std::string_view folder, int folderFd, std::string_view name,
                                         std::string_view mustHold);

private:
    // A folder's names packed into one text, and an open-addressing table of where each lies in it: a
    // batch's folder may hold a million names, and a map node per name would cost more than the document
    // each belongs to. A slot carries a few bits of its name's hash, so that a name not there is mostly
    // told without reading any text: the table is larger than the caches, and each read may miss them.
    struct Slot
    {
        unsigned offset;
        unsigned short length; // 0: a free slot (a folder holds no empty name)
        unsigned char type;    // d_type
        unsigned char tag;
    };
    struct Listing
    {
        unsigned long asked = 0;
        unsigned long nextRead;
        bool read = false;
        std::string text;
        std::vector<Slot> slots; // a power of two long, at most half of them used
    };
    bool readInto(Listing& listing, int folderFd);
    Listing& listingOf(std::string_view folder);

    std::map<std::string, Listing, std::less<>> m_folders;
    // Consecutive lines mostly name the same folder.
    std::string m_lastFolder;
    Listing* m_last = nullptr;
    unsigned long m_expected = 0;
    OtherCaseNames m_otherCase;
};

// The listings of the image folders of one Convert command, handed from one index file to the next, so
// that a folder which many small index files draw on is read once rather than once for each of them.
class SharedFolderListings
{
public:
    // The listings of the folders below `root`, as the placer of each index file names them.
    FolderListings& below(const std::string& root) { return m_roots[root]; }

private:
    std::map<std::string, FolderListings, std::less<>> m_roots;
};

} // namespace tollavar::files
