#include "filetools/FolderReader.h"

#include "filetools/UniqueFd.h"

#include <cstring>
#include <dirent.h>
#include <fcntl.h>

namespace tollavar::files {

FolderReader::FolderReader(int folderFd)
{
    // A descriptor of its own: closedir closes it, and the caller's may be O_PATH, which cannot be read.
    UniqueFd fd(::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.isOpen())
        return;
    m_dir = ::fdopendir(fd.get());
    if (m_dir)
        fd.release(); // closedir closes it
}

FolderReader::~FolderReader()
{
    if (m_dir)
        ::closedir(m_dir);
}

bool FolderReader::next(std::string_view& name, unsigned char& type)
{
    if (!m_dir)
        return false;
    const dirent* entry = ::readdir(m_dir);
    if (!entry)
        return false;
    name = std::string_view(entry->d_name, std::strlen(entry->d_name));
    type = entry->d_type;
    return true;
}

} // namespace tollavar::files
