#pragma once

#include <functional>
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
//
// `beforeWritingInPlace`, when given, is called just before the file itself is written, so that the
// caller can keep the old bytes somewhere safe: that write cannot be made atomic.
void saveKeepingIdentity(const std::string& path, std::string_view bytes,
                         const std::function<void()>& beforeWritingInPlace = {});

// The file a save of `path` writes: a symbolic link's final target, else `path` itself. Its temporary
// files are named ".<its name>.tmp-XXXXXX" beside it.
std::string saveTargetOf(const std::string& path);

} // namespace tollavar::files
