#include "batch/ImagePathRefusal.h"

#include "engine/ImagePlacement.h"

#include <cctype>
#include <sys/stat.h>
#include <vector>

namespace tollavar {

namespace {

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

ImagePathVerdict lstatVerdict(const std::string& path, bool last)
{
    struct stat st
    {
    };
    if (::lstat(path.c_str(), &st) != 0)
        return ImagePathVerdict::Missing;
    if (S_ISLNK(st.st_mode))
        return ImagePathVerdict::ThroughLink;
    if (last)
        return S_ISREG(st.st_mode) ? ImagePathVerdict::Usable : ImagePathVerdict::NotRegularFile;
    // A file where a folder should be: nothing can be found beneath it.
    return S_ISDIR(st.st_mode) ? ImagePathVerdict::Usable : ImagePathVerdict::Missing;
}

} // namespace

ImagePathVerdict JudgeImagePath(const std::string& imageFolder, std::string_view imagePath,
                                std::unordered_map<std::string, ImagePathVerdict>& folderVerdicts)
{
    if (LeavesItsFolder(imagePath))
        return ImagePathVerdict::LeavesFolder;
    if (imagePath.size() >= 2 && std::isalpha(static_cast<unsigned char>(imagePath[0])) && imagePath[1] == ':')
        return ImagePathVerdict::Absolute;
    if (imagePath.size() >= 2 && isSeparator(imagePath[0]) && isSeparator(imagePath[1]))
        return ImagePathVerdict::Absolute;
    // Joined by concatenation, "x.tif" beneath "/scans" would be the sibling "/scansx.tif".
    if (!imageFolder.empty() && !isSeparator(imageFolder.back()) && !imagePath.empty() && !isSeparator(imagePath[0]))
        return ImagePathVerdict::LeavesFolder;

    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= imagePath.size()) {
        size_t end = start;
        while (end < imagePath.size() && !isSeparator(imagePath[end]))
            ++end;
        const std::string_view part = imagePath.substr(start, end - start);
        if (!part.empty() && part != ".")
            parts.push_back(part);
        start = end + 1;
    }
    if (parts.empty())
        return ImagePathVerdict::NotRegularFile; // the folder itself

    std::string path = imageFolder;
    while (path.size() > 1 && isSeparator(path.back()))
        path.pop_back();
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        path += '/';
        path += parts[i];
        auto [known, added] = folderVerdicts.try_emplace(path, ImagePathVerdict::Usable);
        if (added)
            known->second = lstatVerdict(path, false);
        if (known->second != ImagePathVerdict::Usable)
            return known->second;
    }
    path += '/';
    path += parts.back();
    return lstatVerdict(path, true);
}

const char* RefusalReason(ImagePathVerdict verdict)
{
    switch (verdict) {
    case ImagePathVerdict::LeavesFolder:
        return "leaves its folder";
    case ImagePathVerdict::Absolute:
        return "is a full path, not one beneath the image folder";
    case ImagePathVerdict::ThroughLink:
        return "goes through a symbolic link";
    case ImagePathVerdict::NotRegularFile:
        return "names no regular file";
    case ImagePathVerdict::Usable:
    case ImagePathVerdict::Missing:
        break;
    }
    return "";
}

} // namespace tollavar
