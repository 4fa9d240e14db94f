#include "engine/ImagePlacement.h"

#include "engine/ConversionSettings.h"
#include "engine/DatagroupDocument.h"
#include "engine/MoveRecorder.h"
#include "engine/NameExtension.h"
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

// The names found in other letter case only, for a missing-file question.
std::string otherCaseLines(const std::vector<std::string>& names)
{
    if (names.empty())
        return {};
    std::string text = "\rFound only in other letter case:";
    for (const std::string& name : names)
        text += "\r" + name;
    return text;
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
// out: it may point anywhere. `fullText` tells that this is an image's full-text file (for messages).
// A name the folder's listing shows as a regular file is taken as one: the rename that follows moves the
// entry itself, whatever it has become, and finds it gone if it went. A name absent from the listing is
// judged missing only with `unlistedIsMissing`; otherwise lstat says. `listed` tells whether the listing
// vouched for it. A missing name is looked for in other letter case (the stations' file system ignored
// case); `besideName` names the image a full-text file belongs to.
ImagePlacer::SourceLookup ImagePlacer::sourceAt(const std::string& below, std::string_view imagePath, bool fullText,
                                                bool unlistedIsMissing, bool* listed, std::string_view besideName)
{
    if (listed)
        *listed = false;
    const std::function<Failure()> refused = [&] {
        if (!fullText)
            return leavesItsFolder(imagePath);
        return leavesItsFolder(ReplaceNameExtension(imagePath, ".txt").value_or(std::string(imagePath)));
    };
    const files::RootFolder::Folder found = m_sources.open(folderPart(below));
    switch (found.reach) {
    case files::Reach::Inside:
        break;
    case files::Reach::Missing:
        return {};
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
        return {files::FileAt{found.fd, std::move(name), m_sourcePrefix + below}, {}};
    case files::FolderListings::Seen::NotSeen:
        if (unlistedIsMissing)
            return otherCaseAt(found.fd, below, besideName, refused);
        break;
    case files::FolderListings::Seen::Unknown:
        break;
    }
    int error = 0;
    switch (files::KindOfEntry(found.fd, name, error)) {
    case files::EntryKind::File:
        return {files::FileAt{found.fd, std::move(name), m_sourcePrefix + below}, {}};
    case files::EntryKind::Link:
        throw refused();
    case files::EntryKind::Failed:
        throw systemFailure(error, "Find File", m_sourcePrefix + below);
    case files::EntryKind::Missing:
        return otherCaseAt(found.fd, below, besideName, refused);
    case files::EntryKind::Other:
        break;
    }
    return {};
}

// The names that differ from the missing one in letter case only. Read earlier, each is checked now: an
// earlier line may have moved it away.
ImagePlacer::SourceLookup ImagePlacer::otherCaseAt(int folderFd, const std::string& below, std::string_view besideName,
                                                   const std::function<Failure()>& refused)
{
    const std::string_view folder = folderPart(below);
    std::vector<std::string> names = m_sourceListings->otherCase().find(folder, folderFd, namePart(below), besideName);
    const std::string shownFolder = m_sourcePrefix + (folder.empty() ? "" : std::string(folder) + "/");
    SourceLookup found;
    for (std::string& name : names) {
        int error = 0;
        switch (files::KindOfEntry(folderFd, name, error)) {
        case files::EntryKind::File:
            found.otherCase.push_back(std::move(name));
            break;
        case files::EntryKind::Link:
            throw refused();
        case files::EntryKind::Failed:
            throw systemFailure(error, "Find File", shownFolder + name);
        case files::EntryKind::Missing:
        case files::EntryKind::Other:
            break;
        }
    }
    if (found.otherCase.size() == 1) {
        found.file = files::FileAt{folderFd, found.otherCase.front(), shownFolder + found.otherCase.front()};
        found.otherCase.clear();
        return found;
    }
    for (std::string& name : found.otherCase)
        name.insert(0, shownFolder);
    return found;
}

PlacementOutcome ImagePlacer::missingSource(std::string_view imagePath, DatagroupDocument& document,
                                            const std::vector<std::string>& otherCase)
{
    const Message missing{"Source File: " + files::JoinBelow(m_imageFolder, imagePath) + otherCaseLines(otherCase) +
                              "\rIndex File: " + m_indexFile + "\rSkip file and continue processing?",
                          "Source File is Missing", MessageIcon::Warning, MessageButtons::YesNo};
    if (m_prompter.ask(missing) == MessageAnswer::Yes) {
        document.dropCurrentDocument();
        return PlacementOutcome::Dropped;
    }
    throw Failure(23, "Missing Source File", "Source file not found.");
}

// The image's full-text file, found before anything moves so that a refused or doubtful one leaves the
// image where it was. Two or more names in other letter case are asked about as a missing file: Yes
// places the image without any of them.
std::optional<files::FileAt> ImagePlacer::fullTextBeside(const std::string& below, std::string_view imagePath,
                                                         const SourceLookup& image, bool imageListed)
{
    const std::optional<std::string> fullTextBelow = ReplaceNameExtension(below, ".txt");
    if (!fullTextBelow)
        return std::nullopt; // a name without an extension has nothing to replace it with
    // Most images have no full-text file. A listing read after the image was there is trusted to have
    // shown the full-text file as well had it been written beside it.
    SourceLookup fullText = sourceAt(*fullTextBelow, imagePath, true, imageListed, nullptr, image.file->name);
    if (fullText.file || fullText.otherCase.empty())
        return std::move(fullText.file);
    const Message doubtful{"Source File: " + files::JoinBelow(m_imageFolder, *ReplaceNameExtension(imagePath, ".txt")) +
                               otherCaseLines(fullText.otherCase) + "\rIndex File: " + m_indexFile +
                               "\rSkip file and continue processing?",
                           "Source File is Missing", MessageIcon::Warning, MessageButtons::YesNo};
    if (m_prompter.ask(doubtful) == MessageAnswer::Yes)
        return std::nullopt;
    throw Failure(23, "Missing Source File", "Source file not found.");
}

std::string ImagePlacer::duplicateName(std::string_view imagePath, DatagroupDocument& document)
{
    const std::string imageExt = FileTools::GetFExt(imagePath);
    for (long n = 1;; ++n) {
        const std::string number = "-" + FileTools::L0Pad(n, 4);
        // A name without an extension is numbered at its end.
        const std::string newPath = ReplaceNameExtension(imagePath, number + "." + AsciiLower(imageExt))
                                        .value_or(std::string(imagePath) + number);
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
    const SourceLookup image = sourceAt(below, imagePath, false, false, &imageListed);
    if (!image.file)
        return missingSource(imagePath, document, image.otherCase);
    const files::FileAt& from = *image.file;
    const std::optional<files::FileAt> fullText = fullTextBeside(below, imagePath, image, imageListed);

    // The usual line has its image and a free destination: one rename settles it. Otherwise nothing
    // moved, and the questions below are asked in their order.
    if (m_recorder)
        m_recorder->beforeMove(from.shown, to.shown);
    switch (files::MoveFileAt(from, to)) {
    case files::MoveOutcome::Moved:
        ++m_movedCount;
        moveFullText(fullText, below, imagePath);
        return PlacementOutcome::Placed;
    case files::MoveOutcome::SourceMissing:
        if (m_recorder)
            m_recorder->moveNotMade();
        return missingSource(imagePath, document, {});
    case files::MoveOutcome::DestinationTaken:
        if (m_recorder)
            m_recorder->moveNotMade();
        break;
    }

    std::string placedBelow = below;
    bool replacing = false;
    if (m_settings.mAllowDupes) {
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
        m_recorder->beforeMove(from.shown, to.shown);
    if (replacing) {
        files::MoveFileAtReplacing(from, to);
    } else {
        const files::MoveOutcome outcome = files::MoveFileAt(from, to);
        if (outcome != files::MoveOutcome::Moved && m_recorder)
            m_recorder->moveNotMade();
        switch (outcome) {
        case files::MoveOutcome::Moved:
            break;
        case files::MoveOutcome::SourceMissing:
            throw systemFailure(ENOENT, "Move File", from.shown);
        case files::MoveOutcome::DestinationTaken:
            throw systemFailure(EEXIST, "Move File", to.shown);
        }
    }
    ++m_movedCount;

    moveFullText(fullText, placedBelow, imagePath);
    return PlacementOutcome::Placed;
}

void ImagePlacer::moveFullText(const std::optional<files::FileAt>& fullText, const std::string& placedBelow,
                               std::string_view imagePath)
{
    // Only an image with an extension has a full-text file, and a numbered name keeps it.
    const std::optional<std::string> fullTextBelow = ReplaceNameExtension(placedBelow, ".PVFULLTEXT");
    if (!fullText || !fullTextBelow)
        return;
    const files::FileAt to = destinationAt(*fullTextBelow, imagePath);
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
