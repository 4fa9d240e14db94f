#include "engine/ImagePlacement.h"

#include "engine/ConversionSettings.h"
#include "engine/DatagroupDocument.h"
#include "engine/JournalFormat.h"
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

// Records made durable together: a sync costs milliseconds, and this keeps the journal to a few per cent
// of a run.
constexpr size_t kMovesPerBatch = 4096;

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
    std::optional<files::FileAt> from = sourceAt(below, imagePath, {}, false, &imageListed);
    if (!from)
        return missingSource(imagePath, document);
    // Looked at before anything moves, so that a refused full-text file leaves the image where it was.
    const std::string dottedExt = "." + FileTools::GetFExt(imagePath);
    const std::string fullTextBelow = ReplaceAllIgnoreCase(below, dottedExt, ".txt");
    // Most images have no full-text file. A listing read after the image was there, in the same folder,
    // is trusted to have shown the full-text file as well had it been written beside it.
    const bool listingSawBoth = imageListed && folderPart(fullTextBelow) == folderPart(below);
    std::optional<files::FileAt> fullText = sourceAt(fullTextBelow, imagePath, dottedExt, listingSawBoth, nullptr);

    if (m_recorder) {
        if (deferMove(below, to, fullText ? fullTextBelow : std::string(), dottedExt))
            return PlacementOutcome::Placed;
        // Whatever follows is decided on the files as they are: the batch so far goes first. Its moves
        // open folders of their own, which may close the ones found above: they are found again.
        if (!m_pending.empty()) {
            finishMoves();
            to = destinationAt(below, imagePath);
            from = sourceAt(below, imagePath, {}, false, nullptr);
            if (!from)
                return missingSource(imagePath, document);
            fullText = sourceAt(fullTextBelow, imagePath, dottedExt, false, nullptr);
        }
    }
    // The usual line has its image and a free destination: one rename settles it. Otherwise nothing
    // moved, and the questions below are asked in their order.
    if (m_recorder) {
        m_recorder->beforeMove(from->shown, to.shown);
        m_recorder->makeDurable();
    }
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
            // The old image (and its full-text file) stays recoverable until DATAGRP.XML is saved: the
            // documents that name it are only replaced then.
            setAside(below, imagePath, below);
            setAside(ReplaceAllIgnoreCase(below, dottedExt, ".PVFULLTEXT"), imagePath,
                     fullText ? fullTextBelow : std::string());
            to = destinationAt(below, imagePath);
            break;
        case MessageAnswer::No:
            document.dropCurrentDocument();
            return PlacementOutcome::Dropped;
        default:
            throw Failure(21, "Copy Image File", "Image file aleady exists.");
        }
    }

    recordedMove(*from, to);
    ++m_movedCount;
    moveFullText(fullText, dottedExt, placedBelow, imagePath);
    return PlacementOutcome::Placed;
}

void ImagePlacer::recordedMove(const files::FileAt& from, const files::FileAt& to)
{
    if (m_recorder) {
        m_recorder->beforeMove(from.shown, to.shown);
        m_recorder->makeDurable();
    }
    const files::MoveOutcome outcome = files::MoveFileAt(from, to);
    if (outcome != files::MoveOutcome::Moved && m_recorder)
        m_recorder->moveNotMade();
    switch (outcome) {
    case files::MoveOutcome::Moved:
        return;
    case files::MoveOutcome::SourceMissing:
        throw systemFailure(ENOENT, "Move File", from.shown);
    case files::MoveOutcome::DestinationTaken:
        throw systemFailure(EEXIST, "Move File", to.shown);
    }
}

// The usual line: its image is there, its destination free, and no move waiting in the batch touches
// either. Its records are written now; the moves wait until the batch's records are durable, so that a
// power cut can lose the records only of moves that were never made.
bool ImagePlacer::deferMove(const std::string& below, const files::FileAt& to, const std::string& fullTextBelow,
                            std::string_view dottedExt)
{
    int error = 0;
    if (m_pendingBelow.count(below) || files::KindOfEntry(to.folder, to.name, error) != files::EntryKind::Missing)
        return false;
    PendingMove pending{below, {}, {}};
    std::string textTo;
    if (!fullTextBelow.empty()) {
        pending.textFromBelow = fullTextBelow;
        pending.textToBelow = ReplaceAllIgnoreCase(below, dottedExt, ".PVFULLTEXT");
        if (m_pendingBelow.count(pending.textFromBelow))
            return false;
        textTo = destinationAt(pending.textToBelow, below).shown;
    }
    m_recorder->beforeMove(m_sourcePrefix + below, to.shown);
    if (!fullTextBelow.empty()) {
        m_recorder->beforeMove(m_sourcePrefix + fullTextBelow, textTo);
        m_pendingBelow.insert(pending.textFromBelow);
    }
    m_pendingBelow.insert(below);
    m_pending.push_back(std::move(pending));
    if (m_pending.size() >= kMovesPerBatch)
        finishMoves();
    return true;
}

void ImagePlacer::finishMoves()
{
    if (m_pending.empty())
        return;
    m_recorder->makeDurable();
    std::vector<PendingMove> batch;
    batch.swap(m_pending);
    m_pendingBelow.clear();
    for (const PendingMove& move : batch) {
        const files::RootFolder::Folder source = m_sources.open(folderPart(move.imageBelow));
        if (source.reach != files::Reach::Inside)
            throw systemFailure(ENOENT, "Move File", m_sourcePrefix + move.imageBelow);
        const files::FileAt from{source.fd, namePart(move.imageBelow), m_sourcePrefix + move.imageBelow};
        const files::FileAt to = destinationAt(move.imageBelow, move.imageBelow);
        if (const files::MoveOutcome outcome = files::MoveFileAt(from, to); outcome != files::MoveOutcome::Moved)
            throw systemFailure(outcome == files::MoveOutcome::SourceMissing ? ENOENT : EEXIST, "Move File",
                                outcome == files::MoveOutcome::SourceMissing ? from.shown : to.shown);
        ++m_movedCount;
        if (move.textFromBelow.empty())
            continue;
        const files::RootFolder::Folder textSource = m_sources.open(folderPart(move.textFromBelow));
        if (textSource.reach != files::Reach::Inside)
            continue;
        const files::FileAt textFrom{textSource.fd, namePart(move.textFromBelow), m_sourcePrefix + move.textFromBelow};
        const files::FileAt textTo = destinationAt(move.textToBelow, move.imageBelow);
        if (files::MoveFileAt(textFrom, textTo) == files::MoveOutcome::DestinationTaken)
            throw systemFailure(EEXIST, "Move File", textTo.shown);
    }
}

// Renames the datagroup's file `destinationBelow`, when there is one, to a hidden name beside it.
void ImagePlacer::setAside(const std::string& destinationBelow, std::string_view imagePath,
                           const std::string& sourceBelow)
{
    const files::FileAt existing = destinationAt(destinationBelow, imagePath);
    int error = 0;
    const files::EntryKind kind = files::KindOfEntry(existing.folder, existing.name, error);
    if (kind == files::EntryKind::Missing)
        return;
    if (kind == files::EntryKind::Failed)
        throw systemFailure(error, "Find File", existing.shown);
    const std::string folderBelow(folderPart(destinationBelow));
    for (int n = 0;; ++n) {
        const std::string asideName = "." + existing.name + std::string(journal::kSetAsideMark) +
                                      (n == 0 ? std::string() : "-" + std::to_string(n));
        const std::string asideBelow = folderBelow.empty() ? asideName : folderBelow + "/" + asideName;
        const files::FileAt aside{existing.folder, asideName, m_destinationPrefix + asideBelow};
        if (files::KindOfEntry(aside.folder, aside.name, error) != files::EntryKind::Missing)
            continue;
        if (m_recorder)
            m_recorder->beforeSetAside(existing.shown, aside.shown);
        switch (files::MoveFileAt(existing, aside)) {
        case files::MoveOutcome::Moved:
            m_replaced.push_back({destinationBelow, asideName, sourceBelow});
            return;
        case files::MoveOutcome::SourceMissing:
            return;
        case files::MoveOutcome::DestinationTaken:
            continue;
        }
    }
}

void ImagePlacer::discardReplaced()
{
    for (const Replaced& replaced : m_replaced) {
        const files::RootFolder::Folder folder = m_destinations.open(folderPart(replaced.destinationBelow));
        if (folder.reach == files::Reach::Inside)
            files::DeleteFileAt(folder.fd, replaced.asideName, m_destinationPrefix + replaced.destinationBelow);
    }
    m_replaced.clear();
}

void ImagePlacer::restoreReplaced()
{
    for (auto it = m_replaced.rbegin(); it != m_replaced.rend(); ++it) {
        const files::RootFolder::Folder folder = m_destinations.open(folderPart(it->destinationBelow));
        if (folder.reach != files::Reach::Inside)
            continue;
        const files::FileAt current{folder.fd, namePart(it->destinationBelow),
                                    m_destinationPrefix + it->destinationBelow};
        if (!it->sourceBelow.empty()) {
            const files::RootFolder::Folder source = m_sources.open(folderPart(it->sourceBelow), true);
            if (source.reach == files::Reach::Inside &&
                files::MoveFileAt(
                    current, files::FileAt{source.fd, namePart(it->sourceBelow), m_sourcePrefix + it->sourceBelow}) ==
                    files::MoveOutcome::Moved &&
                it->sourceBelow == it->destinationBelow)
                --m_movedCount;
        }
        files::MoveFileAt(files::FileAt{folder.fd, it->asideName, current.shown}, current);
    }
    m_replaced.clear();
}

void ImagePlacer::moveFullText(const std::optional<files::FileAt>& fullText, std::string_view dottedExt,
                               const std::string& placedBelow, std::string_view imagePath)
{
    if (!fullText)
        return;
    const files::FileAt to = destinationAt(ReplaceAllIgnoreCase(placedBelow, dottedExt, ".PVFULLTEXT"), imagePath);
    if (m_recorder) {
        m_recorder->beforeMove(fullText->shown, to.shown);
        m_recorder->makeDurable();
    }
    const files::MoveOutcome outcome = files::MoveFileAt(*fullText, to);
    if (outcome != files::MoveOutcome::Moved && m_recorder)
        m_recorder->moveNotMade();
    switch (outcome) {
    case files::MoveOutcome::Moved:
    case files::MoveOutcome::SourceMissing: // gone meanwhile: there is nothing left to move
        return;
    case files::MoveOutcome::DestinationTaken:
        throw systemFailure(EEXIST, "Move File", to.shown);
    }
}

} // namespace tollavar
