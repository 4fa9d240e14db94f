#include "engine/ImagePlacement.h"

#include "engine/ConversionSettings.h"
#include "engine/DatagroupDocument.h"
#include "engine/MoveRecorder.h"
#include "engine/Prompter.h"
#include "filetools/Failure.h"
#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"
#include "filetools/TextReplace.h"

namespace tollavar {

using files::nativePath;

bool LeavesItsFolder(std::string_view path)
{
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of("/\\", start);
        if (end == std::string_view::npos)
            end = path.size();
        if (path.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

ImagePlacer::ImagePlacer(const ConversionSettings& settings, const FileTools& fileTools, Prompter& prompter,
                         std::string imageFolder, std::string indexFile, const std::string& xmlFile)
    : m_settings(settings), m_fileTools(fileTools), m_prompter(prompter), m_imageFolder(std::move(imageFolder)),
      m_indexFile(std::move(indexFile)), m_datagroupFolder(FileTools::GetFPath(xmlFile)),
      m_indexInDatagroup(FileTools::GetFPath(m_indexFile) == m_datagroupFolder)
{
}

std::string ImagePlacer::duplicateName(const std::string& destination, std::string_view imagePath,
                                       DatagroupDocument& document) const
{
    const std::string destinationExt = FileTools::GetFExt(destination);
    const std::string imageExt = FileTools::GetFExt(imagePath);
    for (long n = 1;; ++n) {
        const std::string number = "-" + FileTools::L0Pad(n, 4) + ".";
        std::string candidate =
            ReplaceAllIgnoreCase(destination, "." + destinationExt, number + AsciiLower(destinationExt));
        std::string newPath = ReplaceAllIgnoreCase(imagePath, "." + imageExt, number + AsciiLower(imageExt));
        // A name without any dot would never change, and the search would never end: number it at the end.
        if (candidate == destination) {
            candidate += number.substr(0, number.size() - 1);
            newPath += number.substr(0, number.size() - 1);
        }
        if (!files::pathExists(nativePath(candidate))) {
            document.changeFile1(newPath);
            return candidate;
        }
    }
}

PlacementOutcome ImagePlacer::place(std::string_view imagePath, DatagroupDocument& document)
{
    if (imagePath.empty() || m_indexInDatagroup)
        return PlacementOutcome::NothingToPlace;
    // Paths come from a text file anyone can write; one that climbs out of the image folder would move
    // files from, or into, anywhere.
    if (LeavesItsFolder(imagePath))
        throw Failure(ErrorCode::PathFileAccess, "Copy Image File",
                      "Image path leaves its folder: " + std::string(imagePath));

    const std::string source = m_imageFolder + std::string(imagePath);
    std::string destination = m_datagroupFolder + std::string(imagePath);

    const std::string destinationFolder = FileTools::GetFPath(destination);
    if (destinationFolder != m_lastFolderSeen) {
        if (!files::folderExists(nativePath(destinationFolder)))
            m_fileTools.CreateAnyFolder(destinationFolder);
        m_lastFolderSeen = destinationFolder;
    }

    // The usual line has its image and a free destination: one rename settles both. Otherwise nothing
    // moved, and the questions below are asked in their order.
    if (m_recorder)
        m_recorder->beforeMove(source, destination);
    if (files::moveFileIfFree(nativePath(source), nativePath(destination))) {
        ++m_movedCount;
        moveFullText(imagePath, destination);
        return PlacementOutcome::Placed;
    }

    if (m_recorder)
        m_recorder->moveNotMade();
    bool replacing = false;
    if (!files::fileExists(nativePath(source))) {
        const Message missing{"Source File: " + source + "\rIndex File: " + m_indexFile +
                                  "\rSkip file and continue processing?",
                              "Source File is Missing", MessageIcon::Warning, MessageButtons::YesNo};
        if (m_prompter.ask(missing) == MessageAnswer::Yes) {
            document.dropCurrentDocument();
            return PlacementOutcome::Dropped;
        }
        throw Failure(23, "Missing Source File", "Source file not found.");
    }
    if (files::pathExists(nativePath(destination))) {
        if (m_settings.mAllowDupes) {
            destination = duplicateName(destination, imagePath, document);
            // The numbering reaches folder names that end in the extension too; such a folder is new.
            const std::string numberedFolder = FileTools::GetFPath(destination);
            if (!files::folderExists(nativePath(numberedFolder)))
                m_fileTools.CreateAnyFolder(numberedFolder);
        } else {
            const Message exists{"Image file already exists! " + destination +
                                     ".  Do you want to replace this with the new file?",
                                 "File Exists", MessageIcon::Question, MessageButtons::YesNoCancel};
            switch (m_prompter.ask(exists)) {
            case MessageAnswer::Yes:
                document.dropCurrentDocument();
                replacing = true;
                break;
            case MessageAnswer::No:
                document.dropCurrentDocument();
                return PlacementOutcome::Dropped;
            default:
                throw Failure(21, "Copy Image File", "Image file aleady exists.");
            }
        }
    }

    // The user's replacement is one rename over the old file rather than a delete and a move, so a
    // failing move cannot leave the datagroup without the image its earlier document names.
    if (m_recorder)
        m_recorder->beforeMove(source, destination);
    if (replacing)
        files::moveFileReplacing(nativePath(source), nativePath(destination));
    else
        files::moveFile(nativePath(source), nativePath(destination));
    ++m_movedCount;

    moveFullText(imagePath, destination);
    return PlacementOutcome::Placed;
}

void ImagePlacer::moveFullText(std::string_view imagePath, const std::string& destination) const
{
    const std::string dottedExt = "." + FileTools::GetFExt(imagePath);
    const std::string fullTextSource = m_imageFolder + ReplaceAllIgnoreCase(imagePath, dottedExt, ".txt");
    if (files::fileExists(nativePath(fullTextSource))) {
        const std::string fullTextDestination = ReplaceAllIgnoreCase(destination, dottedExt, ".PVFULLTEXT");
        if (m_recorder)
            m_recorder->beforeMove(fullTextSource, fullTextDestination);
        files::moveFile(nativePath(fullTextSource), nativePath(fullTextDestination));
    }
}

} // namespace tollavar
