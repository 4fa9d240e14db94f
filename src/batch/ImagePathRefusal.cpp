#include "batch/ImagePathRefusal.h"

#include "engine/ImagePlacement.h"
#include "filetools/Beneath.h"

#include <cctype>
#include <sys/stat.h>

namespace tollavar {

using files::isSeparator;

namespace {

ImagePathVerdict folderVerdict(const std::string& path)
{
    struct stat st
    {
    };
    if (::lstat(path.c_str(), &st) != 0)
        return ImagePathVerdict::Missing;
    if (S_ISLNK(st.st_mode))
        return ImagePathVerdict::ThroughLink;
    // A file where a folder should be: nothing can be found beneath it.
    return S_ISDIR(st.st_mode) ? ImagePathVerdict::Usable : ImagePathVerdict::Missing;
}

} // namespace

ImagePathVerdict JudgeImagePath(const std::string& imageFolder, std::string_view imagePath, ImagePathMemory& memory)
{
    if (LeavesItsFolder(imagePath))
        return ImagePathVerdict::LeavesFolder;
    if (imagePath.size() >= 2 && std::isalpha(static_cast<unsigned char>(imagePath[0])) && imagePath[1] == ':')
        return ImagePathVerdict::Absolute;
    if (imagePath.size() >= 2 && isSeparator(imagePath[0]) && isSeparator(imagePath[1]))
        return ImagePathVerdict::Absolute;
    if (files::LeavesByItsText(imagePath))
        return ImagePathVerdict::LeavesFolder;

    // The path with "/" only, no empty or "." parts, the folder's own trailing separators dropped.
    std::string& path = memory.path;
    path.assign(imageFolder);
    while (path.size() > 1 && isSeparator(path.back()))
        path.pop_back();
    const size_t base = path.size();
    size_t start = 0;
    size_t lastPart = std::string::npos;
    while (start < imagePath.size()) {
        size_t end = start;
        while (end < imagePath.size() && !isSeparator(imagePath[end]))
            ++end;
        const std::string_view part = imagePath.substr(start, end - start);
        if (!part.empty() && part != ".") {
            lastPart = path.size();
            path += '/';
            path += part;
        }
        start = end + 1;
    }
    if (lastPart == std::string::npos)
        return ImagePathVerdict::NotRegularFile; // the folder itself

    const std::string_view folder = std::string_view(path).substr(0, lastPart);
    if (folder != memory.lastFolder) {
        ImagePathVerdict verdict = ImagePathVerdict::Usable;
        for (size_t at = path.find('/', base + 1); at <= lastPart && at != std::string::npos;
             at = path.find('/', at + 1)) {
            auto [known, added] = memory.folders.try_emplace(path.substr(0, at), ImagePathVerdict::Usable);
            if (added)
                known->second = folderVerdict(known->first);
            if (known->second != ImagePathVerdict::Usable) {
                verdict = known->second;
                break;
            }
        }
        memory.lastFolder.assign(folder);
        memory.lastFolderVerdict = verdict;
    }
    if (memory.lastFolderVerdict == ImagePathVerdict::ThroughLink) {
        // The move follows a link on the way while it stays beneath the folder: ask the resolver it uses.
        switch (files::CheckBeneath(imageFolder, imagePath)) {
        case files::PathCheck::File:
            return ImagePathVerdict::Usable;
        case files::PathCheck::Missing:
            return ImagePathVerdict::Missing;
        case files::PathCheck::NotAFile:
            return ImagePathVerdict::NotRegularFile;
        case files::PathCheck::Leaves:
            return ImagePathVerdict::ThroughLink;
        }
    }
    if (memory.lastFolderVerdict != ImagePathVerdict::Usable)
        return memory.lastFolderVerdict;
    switch (memory.listings.of(memory.lastFolder).find(std::string_view(path).substr(lastPart + 1))) {
    case FolderEntries::Kind::None:
        return ImagePathVerdict::Missing;
    case FolderEntries::Kind::Regular:
        return ImagePathVerdict::Usable;
    case FolderEntries::Kind::Link:
        return ImagePathVerdict::ThroughLink;
    case FolderEntries::Kind::Folder:
    case FolderEntries::Kind::Other:
        break;
    }
    return ImagePathVerdict::NotRegularFile;
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
