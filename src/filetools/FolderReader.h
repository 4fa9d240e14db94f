#pragma once

#include <dirent.h>
#include <string_view>

namespace tollavar::files {

// The entries of a folder open at a descriptor, one at a time, with the kind the directory gives
// (d_type; DT_UNKNOWN where the file system keeps none). "." and ".." come as any other entry. The
// folder's own descriptor is left to its owner.
class FolderReader
{
public:
    explicit FolderReader(int folderFd);
    ~FolderReader();
    FolderReader(const FolderReader&) = delete;
    FolderReader& operator=(const FolderReader&) = delete;

    // False when the folder could not be opened for reading.
    bool opened() const { return m_dir != nullptr; }
    // The next entry; false after the last. `name` is valid until the next call.
    bool next(std::string_view& name, unsigned char& type);

private:
    DIR* m_dir = nullptr;
};

} // namespace tollavar::files
