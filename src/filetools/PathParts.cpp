#include "filetools/PathParts.h"

namespace tollavar::files {

std::string folderOf(std::string_view path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string_view::npos)
        return ".";
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

} // namespace tollavar::files
