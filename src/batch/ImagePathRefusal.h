#pragma once

#include "batch/FolderEntries.h"

#include <string>
#include <string_view>
#include <unordered_map>

namespace tollavar {

// What an image path read from an index file names beneath its image folder.
enum class ImagePathVerdict
{
    Usable,         // a regular file, reached without leaving the folder
    Missing,        // nothing of that name (or a folder on the way is missing)
    LeavesFolder,   // "..", or a path that is not relative
    Absolute,       // a drive letter or a network path: never beneath the folder
    ThroughLink,    // a symbolic link at the end, or one on the way that leads out of the folder
    NotRegularFile, // a folder, a device, a pipe
};

// What judging remembers between paths: the verdict of every folder on the way and the listing of
// every folder an image lies in, which most lines of a batch share; so a path costs a lookup, not a
// stat.
struct ImagePathMemory
{
    std::unordered_map<std::string, ImagePathVerdict> folders;
    std::string lastFolder; // the folder the previous path ended in, and its verdict
    ImagePathVerdict lastFolderVerdict = ImagePathVerdict::Usable;
    FolderListingCache listings;
    std::string path;
};

// Judges `imagePath` beneath `imageFolder` (joined as the conversion joins them, with one separator) by
// what every part beneath the folder is itself (lstat, or the folder's listing for the last part), so
// that a link never leads the judgement elsewhere. The folder itself is the user's setting and may be
// a link.
ImagePathVerdict JudgeImagePath(const std::string& imageFolder, std::string_view imagePath, ImagePathMemory& memory);

// "leaves its folder", "goes through a symbolic link" ...: why a verdict other than Usable and
// Missing refuses the path.
const char* RefusalReason(ImagePathVerdict verdict);

} // namespace tollavar
