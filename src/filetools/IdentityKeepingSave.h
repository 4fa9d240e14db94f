#pragma once

#include <string>
#include <string_view>

namespace tollavar::files {

// Replaces the contents of `path` and keeps what makes the file the user's: a symbolic link stays a
// link (its target gets the new contents), a file with several names keeps them all, and owner, group
// and mode stay as they were. A file the user may not write is refused with "Permission denied", as a
// plain write would be.
//
// Wherever it can, the save writes a temporary file beside the target, fsyncs it and renames it over,
// so that a failure leaves the previous file whole. Where that would split the file's names or change
// its owner, or where the folder cannot take a temporary file, the new bytes are written into the file
// itself (space reserved first, then fsynced).
void saveKeepingIdentity(const std::string& path, std::string_view bytes);

} // namespace tollavar::files
