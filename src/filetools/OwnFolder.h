#pragma once

#include "filetools/UniqueFd.h"

#include <string>
#include <string_view>

namespace tollavar::files {

// Opens the folder `path` (an O_PATH descriptor), making the parts of it that are missing, for a file
// the program writes on its own account where others may write too (the run history on a share).
// Every part is made with mkdirat beneath the part before it, never through a link. An existing link
// is followed only where nobody but its folder's owner, root or this user, may write: in a folder that
// several stations write to, anyone could have planted it, and the file would go wherever it points.
// Anything else raises a Failure of `operation` naming the path.
UniqueFd openOwnFolder(const std::string& path, std::string_view operation);

} // namespace tollavar::files
