#include "engine/ImagePlacement.h"

#include "engine/ConversionSettings.h"
#include "engine/DatagroupDocument.h"
#include "engine/MoveRecorder.h"
#include "engine/Prompter.h"
#include "filetools/Failure.h"
#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"
#include "filetools/TextReplace.h"

#include <cerrno>

namespace tollavar {

using files::nativePath;

namespace {

// Paths come from a text file anyone can write; one that leads out of its folder would move files from,
// or into, anywhere.
Failure leavesItsFolder(std::string_view path)
{
    return Failure(ErrorCode::PathFileAccess, "Copy Image File", "Image path leaves its folder: " + std::string(path));
}

std::string prefixOf(const std::string& folder)
{
    std::string prefix = nativePath(folder);
    if (!prefix.empty() && prefix.back() != '/')
        prefix += '/';
    return prefix;
}

// The folder part ("" for none) and the name of a path below a root ("/"-separated, see RelativeBelow).
std::string_view folderPart(const std::string& below)
{
    const size_t slash = below.rfind('/');
    return slash == std::string::npos ? std::string_view() : std::string_view(below).substr(0, slash);
}

std::string namePart(const std::string& below)
{
    const size_t slash = below.rfind('/');
    return slash == std::string::npos ? below : below.substr(slash + 1);
}

} // namespace

bool LeavesItsFolder(std::string_view path)
{
    return files::LeavesByItsText(path);
}

ImagePlacer::ImagePlacer(const ConversionSettings& settings, const FileTools& fileTools, Prompter& prompter,
                         std::string imageFolder, std::string indexFile, const std::string& xmlFile)
    : m_settings(settings), m_fileTools(fileTools), m_prompter(prompter), m_imageFolder(std::move(imageFolder)),
      m_indexFile(std::move(indexFile)), m_datagroupFolder(FileTools::GetFPath(xmlFile)),
      m_indexInDatagroup(FileTools::GetFPath(m_indexFile) == m_datagroupFolder),
      m_sourcePrefix(prefixOf(m_imageFolder)), m_destinationPrefix(prefixOf(m_datagroupFolder)),
      m_sources(m_imageFolder), m_destinations(m_datagroupFolder)
{
}

// The destination's folder, made when missing: always beneath the datagroup folder.
files::FileAt ImagePlacer::destinationAt(const std::string& below, std::string_view imagePath)
{
    const std::string_view folder = folderPart(below);
    files::RootFolder::Folder found = m_destinations.open(folder, true);
    if (found.reach == files::Reach::Missing && !files::folderExists(nativePath(m_datagroupFolder))) {
        // The datagroup folder itself is the user's to name, links and all: it is made as named.
        m_fileTools.CreateAnyFolder(m_datagroupFolder);
        found = m_destinations.open(folder, true);
    }
    switch (found.reach) {
    case files::Reach::Inside:
        return files::FileAt{found.fd, namePart(below), m_destinationPrefix + below};
    case files::Reach::Leaves:
        throw leavesItsFolder(imagePath);
    case files::Reach::Missing:
    case files::Reach::Failed:
        break;
    }
    throw systemFailure(found.error, "Create Folder", m_destinationPrefix + std::string(folder));
}

// The file `below` the image folder when it is a regular file there; nothing when it is missing or no file
// at all (a folder, FIFO, socket or device is never opened). A link is refused like a path that climbs
// out: it may point anywhere. `fullTextOf` is the image's dotted extension when this is its full-text file.
// A name the folder's listing shows as a regular file is taken as one: the rename that follows moves the
// entry itself, whatever it has become, and finds it gone if it went. A name absent from the listing is
// judged missing only with `unlistedIsMissing`; otherwise lstat says. `listed` tells whether the listing
// vouched for it.
std::optional<files::FileAt> ImagePlacer::sourceAt(const std::string& below, std::string_view imagePath,
                                                   std::string_view fullTextOf, bool unlistedIsMissing, bool* listed)
{
    if (listed)
        *listed = false;
    const auto refused = [&] {
        return leavesItsFolder(fullTextOf.empty() ? std::string(imagePath)
                                                  : ReplaceAllIgnoreCase(imagePath, fullTextOf, ".txt"));
    };
    const files::RootFolder::Folder found = m_sources.open(folderPart(below));
    switch (found.reach) {
    case files::Reach::Inside:
        break;
    case files::Reach::Missing:
        return std::nullopt;
    case files::Reach::Leaves:
        throw refused();
    case files::Reach::Failed:
        throw systemFailure(found.error, "Find File", m_sourcePrefix + below);
    }
    std::string name = namePart(below);
    switch (m_sourceListings->look(folderPart(below), found.fd, name)) {
    case files::FolderListings::Seen::File:
        if (listed)
            *listed = true;
        return files::FileAt{found.fd, std::move(name), m_sourcePrefix + below};
    case files::FolderListings::Seen::NotSeen:
        if (unlistedIsMissing)
            return std::nullopt;
        break;
    case files::FolderListings::Seen::Unknown:
        break;
    }
    int error = 0;
    switch (files::KindOfEntry(found.fd, name, error)) {
    case files::EntryKind::File:
        return files::FileAt{found.fd, std::move(name), m_sourcePrefix + below};
    case files::EntryKind::Link:
        throw refused();
    case files::EntryKind::Failed:
        throw systemFailure(error, "Find File", m_sourcePrefix + below);
    case files::EntryKind::Missing:
    case files::EntryKind::Other:
        break;
    }
    return std::nullopt;
}

PlacementOutcome ImagePlacer::missingSource(std::string_view imagePath, DatagroupDocument& document)
{
    const Message missing{"Source File: " + files::JoinBelow(m_imageFolder, imagePath) +
                              "\rIndex File: " + m_indexFile + "\rSkip file and continue processing?",
                          "Source File is Missing", MessageIcon::Warning, MessageButtons::YesNo};
    if (m_prompter.ask(missing) == MessageAnswer::Yes) {
        document.dropCurrentDocument();
        return PlacementOutcome::Dropped;
    }
    throw Failure(23, "Missing Source File", "Source file not found.");
}

std::string ImagePlacer::duplicateName(std::string_view imagePath, DatagroupDocument& document)
{
    const std::string imageExt = FileTools::GetFExt(imagePath);
    for (long n = 1;; ++n) {
        const std::string number = "-" + FileTools::L0Pad(n, 4) + ".";
        std::string newPath = ReplaceAllIgnoreCase(imagePath, "." + imageExt, number + AsciiLower(imageExt));
        // A name without any dot would never change, and the search would never end: number it at the end.
        if (newPath == imagePath)
            newPath += number.substr(0, number.size() - 1);
        const std::string below = files::RelativeBelow(newPath);
        const files::RootFolder::Folder found = m_destinations.open(folderPart(below));
        if (found.reach == files::Reach::Leaves)
            throw leavesItsFolder(newPath);
        int error = 0;
        const files::EntryKind kind = found.reach == files::Reach::Inside
                                          ? files::KindOfEntry(found.fd, namePart(below), error)
                                          : files::EntryKind::Missing;
        if (kind == files::EntryKind::Failed)
            throw systemFailure(error, "Find File", m_destinationPrefix + below);
        if (kind == files::EntryKind::Missing) {
            document.changeFile1(newPath);
            return newPath;
        }
    }
}

PlacementOutcome ImagePlacer::place(std::string_view imagePath, DatagroupDocument& document)
{
    if (imagePath.empty() || m_indexInDatagroup)
        return PlacementOutcome::NothingToPlace;
    if (LeavesItsFolder(imagePath))
        throw leavesItsFolder(imagePath);

    const std::string below = files::RelativeBelow(imagePath);
    files::FileAt to = destinationAt(below, imagePath);
    bool imageListed = false;
    const std::optional<files::FileAt> from = sourceAt(below, imagePath, {}, false, &imageListed);
    if (!from)
        return missingSource(imagePath, document);
    // Looked at before anything moves, so that a refused full-text file leaves the image where it was.
    const std::string dottedExt = "." + FileTools::GetFExt(imagePath);
    const std::string fullTextBelow = ReplaceAllIgnoreCase(below, dottedExt, ".txt");
    // Most images have no full-text file. A listing read after the image was there, in the same folder,
    // is trusted to have shown the full-text file as well had it been written beside it.
    const bool listingSawBoth = imageListed && folderPart(fullTextBelow) == folderPart(below);
    const std::optional<files::FileAt> fullText =
        sourceAt(fullTextBelow, imagePath, dottedExt, listingSawBoth, nullptr);

    // The usual line has its image and a free destination: one rename settles it. Otherwise nothing
    // moved, and the questions below are asked in their order.
    if (m_recorder)
        m_recorder->beforeMove(from->shown, to.shown);
    switch (files::MoveFileAt(*from, to)) {
    case files::MoveOutcome::Moved:
        ++m_movedCount;
        moveFullText(fullText, dottedExt, below, imagePath);
        return PlacementOutcome::Placed;
    case files::MoveOutcome::SourceMissing:
        if (m_recorder)
            m_recorder->moveNotMade();
        return missingSource(imagePath, document);
    case files::MoveOutcome::DestinationTaken:
        if (m_recorder)
            m_recorder->moveNotMade();
        break;
    }

    std::string placedBelow = below;
    bool replacing = false;
    if (m_settings.mAllowDupes) {
        // The numbering reaches folder names that end in the extension too; such a folder is made.
        const std::string placedPath = duplicateName(imagePath, document);
        placedBelow = files::RelativeBelow(placedPath);
        to = destinationAt(placedBelow, placedPath);
    } else {
        const Message exists{"Image file already exists! " + files::JoinBelow(m_datagroupFolder, imagePath) +
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

    // The user's replacement is one rename over the old file rather than a delete and a move, so a
    // failing move cannot leave the datagroup without the image its earlier document names.
    if (m_recorder)
        m_recorder->beforeMove(from->shown, to.shown);
    if (replacing) {
        files::MoveFileAtReplacing(*from, to);
    } else {
        const files::MoveOutcome outcome = files::MoveFileAt(*from, to);
        if (outcome != files::MoveOutcome::Moved && m_recorder)
            m_recorder->moveNotMade();
        switch (outcome) {
        case files::MoveOutcome::Moved:
            break;
        case files::MoveOutcome::SourceMissing:
            throw systemFailure(ENOENT, "Move File", from->shown);
        case files::MoveOutcome::DestinationTaken:
            throw systemFailure(EEXIST, "Move File", to.shown);
        }
    }
    ++m_movedCount;

    moveFullText(fullText, dottedExt, placedBelow, imagePath);
    return PlacementOutcome::Placed;
}

void ImagePlacer::moveFullText(const std::optional<files::FileAt>& fullText, std::string_view dottedExt,
                               const std::string& placedBelow, std::string_view imagePath)
{
    if (!fullText)
        return;
    const files::FileAt to = destinationAt(ReplaceAllIgnoreCase(placedBelow, dottedExt, ".PVFULLTEXT"), imagePath);
    if (m_recorder)
        m_recorder->beforeMove(fullText->shown, to.shown);
    const files::MoveOutcome outcome = files::MoveFileAt(*fullText, to);
    if (outcome != files::MoveOutcome::Moved && m_recorder)
        m_recorder->moveNotMade();
    switch (outcome) {
    case files::MoveOutcome::Moved:
        ++m_fullTextsMoved;
        return;
    case files::MoveOutcome::SourceMissing: // gone meanwhile: there is nothing left to move
        return;
    case files::MoveOutcome::DestinationTaken:
        throw systemFailure(EEXIST, "Move File", to.shown);
    }
}

} // namespace tollavar
