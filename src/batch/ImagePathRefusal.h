#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

namespace tollavar {

// What an image path read from an index file names beneath its image folder.
enum class ImagePathVerdict
{
    Usable,         // a regular file, reached without leaving the folder
    Missing,        // nothing of that name (or a folder on the way is missing)
    LeavesFolder,   // "..", or a name that runs on from the folder's own name
    Absolute,       // a drive letter or a network path: never beneath the folder
    ThroughLink,    // a symbolic link on the way or at the end
    NotRegularFile, // a folder, a device, a pipe
};

// Judges `imageFolder` + `imagePath` (joined as the conversion joins them, by concatenation) with
// lstat on every part beneath the folder, so that a link never leads the judgement elsewhere. The
// folder itself is the user's setting and may be a link. `folderVerdicts` keeps the verdict of every
// folder on the way, which most lines of a batch share: a path then costs one lstat.
ImagePathVerdict JudgeImagePath(const std::string& imageFolder, std::string_view imagePath,
                                std::unordered_map<std::string, ImagePathVerdict>& folderVerdicts);

// "leaves its folder", "is a full path" ...: the reason a verdict other than Usable and Missing gives.
const char* RefusalReason(ImagePathVerdict verdict);

} // namespace tollavar
