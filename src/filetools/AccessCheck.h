#pragma once

#include <string>
#include <sys/types.h>

namespace tollavar::files {

// What the kernel would answer this process, asked without changing anything: the refusal a write, a
// new name or a removal would meet, as an errno value (0: allowed). Looks only; none of them fails.

// A folder as it bears on the names made and removed in it.
struct FolderAccess
{
    bool exists = false;
    int entriesRefusal = 0; // for making or removing a name in it: EROFS, EACCES ...
    dev_t device = 0;       // of the folder, or of its nearest existing parent when it is missing
    bool sticky = false;    // only a file's owner (or the folder's) may remove or rename it
    uid_t owner = 0;
};

// `folder` by its path; a missing folder answers for the nearest parent that exists, whose entries the
// run would make it in (`exists` false, `entriesRefusal` that parent's).
FolderAccess folderAccess(const std::string& folder);
// The same for a folder already open.
FolderAccess folderAccessAt(int folderFd);
// The removal or rename of `name` from a folder: its entries' refusal, then the sticky bit's.
int removalRefusal(const FolderAccess& folder, int folderFd, const std::string& name);
int removalRefusal(const FolderAccess& folder, const std::string& path);
// Opening an existing file for writing or for reading.
int writeRefusal(const std::string& path);
int readRefusal(const std::string& path);
int readRefusalAt(int folderFd, const std::string& name);

} // namespace tollavar::files
