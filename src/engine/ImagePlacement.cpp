#include "engine/ImagePlacement.h"

#include "engine/ConversionSettings.h"
#include "engine/DatagroupDocument.h"
#include "engine/JournalFormat.h"
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

// The folder part ("" for none) and the name of a path below a root ("/"-separated, see relativeBelow).
std::string_view folderPart(std::string_view below)
{
    const size_t slash = below.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : below.substr(0, slash);
}

std::string namePart(const std::string& below)
{
    const size_t slash = below.rfind('/');
    return slash == std::string::npos ? below : below.substr(slash + 1);
}

} // namespace

bool imagePathLeavesItsFolder(std::string_view path)
{
    return files::leavesByItsText(path);
}

ImagePlacer::ImagePlacer(const ConversionSettings& settings, const FileTools& fileTools, Prompter& prompter,
                         std::string imageFolder, std::string indexFile, const std::string& xmlFile)
    : m_settings(settings), m_fileTools(fileTools), m_prompter(prompter), m_imageFolder(std::move(imageFolder)),
      m_indexFile(std::move(indexFile)), m_datagroupFolder(FileTools::folderPart(xmlFile)),
      m_indexInDatagroup(FileTools::folderPart(m_indexFile) == m_datagroupFolder),
      m_sourcePrefix(prefixOf(m_imageFolder)), m_destinationPrefix(prefixOf(m_datagroupFolder)),
      m_sources(m_imageFolder), m_destinations(m_datagroupFolder)
{
}

// The destination's folder, made when missing: always beneath the datagroup folder.
files::FileAt ImagePlacer::destinationAt(const std::string& below, std::string_view imagePath)
{
    files::FileAt to;
    destinationInto(below, imagePath, to);
    return to;
}

// As destinationAt, into `to`, whose texts keep their room from one move to the next.
void ImagePlacer::destinationInto(std::string_view below, std::string_view imagePath, files::FileAt& to)
{
    const std::string_view folder = folderPart(below);
    const auto unmade = [&] {
        to.folder = -1;
        to.name.assign(below.substr(folder.empty() ? 0 : folder.size() + 1));
        to.shown.assign(m_destinationPrefix).append(below);
    };
    const bool recording = m_files->recording();
    if (recording && m_unmadeFolders.find(folder) != m_unmadeFolders.end())
        return unmade();
    // Once a folder (most lines share the previous line's): the folders about to be made, parents first.
    if (!recording && !folder.empty() && folder != m_lastFolderSeen) {
        if (m_knownFolders.emplace(folder).second) {
            std::vector<std::string> missing;
            for (std::string_view part = folder; !part.empty(); part = folderPart(part)) {
                if (m_files->folderExists(m_destinationPrefix + std::string(part)))
                    break;
                missing.emplace_back(part);
            }
            m_madeFolders.insert(m_madeFolders.end(), missing.rbegin(), missing.rend());
        }
        m_lastFolderSeen.assign(folder);
    }
    files::RootFolder::Folder found = m_destinations.open(folder, !recording);
    if (found.reach == files::Reach::Missing && !m_files->folderExists(nativePath(m_datagroupFolder))) {
        // The datagroup folder itself is the user's to name, links and all: it is made as named.
        m_files->createFolder(m_fileTools, m_datagroupFolder);
        found = m_destinations.open(folder, !recording);
    }
    // A dry run makes no folder: what it would move there is known to its record only.
    if (recording && found.reach == files::Reach::Missing) {
        m_files->createFolder(m_fileTools, m_destinationPrefix + std::string(folder));
        m_unmadeFolders.emplace(folder);
        return unmade();
    }
    switch (found.reach) {
    case files::Reach::Inside:
        to.folder = found.fd;
        to.name.assign(below.substr(folder.empty() ? 0 : folder.size() + 1));
        to.shown.assign(m_destinationPrefix).append(below);
        return;
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
// judged missing only with `unlistedIsMissing`; otherwise lstat says. The answer tells whether the
// listing vouched for it. A missing name is looked for in other letter case (the stations' file system ignored
// case); `besideName` names the image a full-text file belongs to.
ImagePlacer::SourceLookup ImagePlacer::sourceAt(const std::string& below, std::string_view imagePath, bool fullText,
                                                bool unlistedIsMissing, std::string_view besideName)
{
    const std::function<Failure()> refused = [&] {
        if (!fullText)
            return leavesItsFolder(imagePath);
        return leavesItsFolder(replaceNameExtension(imagePath, ".txt").value_or(std::string(imagePath)));
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
        return {files::FileAt{found.fd, std::move(name), m_sourcePrefix + below}, {}, true};
    case files::FolderListings::Seen::NotSeen:
        if (unlistedIsMissing)
            return otherCaseAt(found.fd, below, besideName, refused);
        break;
    case files::FolderListings::Seen::Unknown:
        break;
    }
    std::string shown = m_sourcePrefix + below;
    const files::EntryLook source = m_files->kindOfEntry(found.fd, name, shown);
    switch (source.kind) {
    case files::EntryKind::File:
        return {files::FileAt{found.fd, std::move(name), std::move(shown)}, {}};
    case files::EntryKind::Link:
        throw refused();
    case files::EntryKind::Failed:
        throw systemFailure(source.error, "Find File", shown);
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
    std::vector<std::string> names = m_sourceListings->otherCaseOf(folder, folderFd, namePart(below), besideName);
    const std::string shownFolder = m_sourcePrefix + (folder.empty() ? "" : std::string(folder) + "/");
    SourceLookup found;
    for (std::string& name : names) {
        const files::EntryLook other = m_files->kindOfEntry(folderFd, name, shownFolder + name);
        switch (other.kind) {
        case files::EntryKind::File:
            found.otherCase.push_back(std::move(name));
            break;
        case files::EntryKind::Link:
            throw refused();
        case files::EntryKind::Failed:
            throw systemFailure(other.error, "Find File", shownFolder + name);
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
    Prompt missing{MessageKind::SourceMissing};
    missing.path = files::joinBelow(m_imageFolder, imagePath);
    missing.paths = otherCase;
    missing.indexFile = m_indexFile;
    if (m_prompter.ask(missing) == MessageAnswer::Yes) {
        document.dropCurrentDocument();
        return PlacementOutcome::Dropped;
    }
    throw Failure(ErrorCode::SourceFileMissing, "Missing Source File", "Source file not found.",
                  files::joinBelow(m_imageFolder, imagePath));
}

// The image's full-text file, found before anything moves so that a refused or doubtful one leaves the
// image where it was. Two or more names in other letter case are asked about as a missing file: Yes
// places the image without any of them.
std::optional<files::FileAt> ImagePlacer::fullTextBeside(const std::string& below, std::string_view imagePath,
                                                         const SourceLookup& image, bool imageListed)
{
    const std::optional<std::string> fullTextBelow = replaceNameExtension(below, ".txt");
    if (!fullTextBelow)
        return std::nullopt; // a name without an extension has nothing to replace it with
    // Most images have no full-text file. A listing read after the image was there is trusted to have
    // shown the full-text file as well had it been written beside it.
    SourceLookup fullText = sourceAt(*fullTextBelow, imagePath, true, imageListed, image.file->name);
    if (fullText.file || fullText.otherCase.empty())
        return std::move(fullText.file);
    Prompt doubtful{MessageKind::SourceMissing};
    doubtful.path = files::joinBelow(m_imageFolder, *replaceNameExtension(imagePath, ".txt"));
    doubtful.paths = std::move(fullText.otherCase);
    doubtful.indexFile = m_indexFile;
    if (m_prompter.ask(doubtful) == MessageAnswer::Yes)
        return std::nullopt;
    throw Failure(ErrorCode::SourceFileMissing, "Missing Source File", "Source file not found.", doubtful.path);
}

// Whether a file lies at `below` in the datagroup (a failure to tell is raised).
bool ImagePlacer::destinationTaken(const std::string& below, std::string_view shownPath)
{
    const files::RootFolder::Folder found = m_destinations.open(folderPart(below));
    if (found.reach == files::Reach::Leaves)
        throw leavesItsFolder(shownPath);
    const files::EntryLook taken = m_files->kindOfEntry(found.reach == files::Reach::Inside ? found.fd : -1,
                                                        namePart(below), m_destinationPrefix + below);
    if (taken.kind == files::EntryKind::Failed)
        throw systemFailure(taken.error, "Find File", m_destinationPrefix + below);
    return taken.kind != files::EntryKind::Missing;
}

// The image path's full-text name (as the image path is written) when a file already lies at its place in
// the datagroup.
std::optional<std::string> ImagePlacer::fullTextPlaceTaken(const std::string& below, std::string_view imagePath)
{
    const std::optional<std::string> textBelow = replaceNameExtension(below, ".PVFULLTEXT");
    if (!textBelow || !destinationTaken(*textBelow, imagePath))
        return std::nullopt;
    return replaceNameExtension(imagePath, ".PVFULLTEXT");
}

// The first numbered name free for the image and, `withFullText`, for its full-text file as well: the two
// keep one number.
std::string ImagePlacer::duplicateName(std::string_view imagePath, DatagroupDocument& document, bool withFullText)
{
    const std::string imageExt = FileTools::extensionPart(imagePath);
    for (long n = 1;; ++n) {
        const std::string number = "-" + FileTools::zeroPadded(n, 4);
        // A name without an extension is numbered at its end.
        const std::string newPath = replaceNameExtension(imagePath, number + "." + asciiLower(imageExt))
                                        .value_or(std::string(imagePath) + number);
        const std::string below = files::relativeBelow(newPath);
        if (destinationTaken(below, newPath) || (withFullText && fullTextPlaceTaken(below, newPath)))
            continue;
        document.changeFile1(newPath);
        return newPath;
    }
}

PlacementOutcome ImagePlacer::place(std::string_view imagePath, DatagroupDocument& document)
{
    if (imagePath.empty() || m_indexInDatagroup)
        return PlacementOutcome::NothingToPlace;
    if (imagePathLeavesItsFolder(imagePath))
        throw leavesItsFolder(imagePath);

    const std::string below = files::relativeBelow(imagePath);
    files::FileAt to = destinationAt(below, imagePath);
    SourceLookup image = sourceAt(below, imagePath, false, false);
    if (!image.file)
        return missingSource(imagePath, document, image.otherCase);
    std::optional<files::FileAt> fullText = fullTextBeside(below, imagePath, image, image.listed);

    if (m_recorder) {
        if (deferMove(below, *image.file, to, fullText, imagePath))
            return PlacementOutcome::Placed;
        // Whatever follows is decided on the files as they are: the batch so far goes first. Its moves
        // open folders of their own, which may close the ones found above: they are found again.
        if (!m_pending.empty()) {
            finishMoves();
            to = destinationAt(below, imagePath);
            image = sourceAt(below, imagePath, false, false);
            if (!image.file)
                return missingSource(imagePath, document, image.otherCase);
            fullText = fullTextBeside(below, imagePath, image, false);
        }
    }
    const files::FileAt& from = *image.file;

    // An image and its full-text file travel together: a taken place for either is asked about before
    // either moves.
    const std::optional<std::string> textTaken = fullText ? fullTextPlaceTaken(below, imagePath) : std::nullopt;

    // The usual line has its image and a free destination: one rename settles it. Otherwise nothing
    // moved, and the questions below are asked in their order.
    bool imageTaken = true;
    if (!textTaken) {
        if (m_recorder) {
            m_recorder->beforeMove(from.shown, to.shown);
            m_recorder->makeDurable();
        }
        switch (m_files->move(from, to, m_recorder)) {
        case files::MoveOutcome::Moved:
            ++m_movedCount;
            if (m_recorder)
                m_takenDestinations.insert(below);
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
    } else {
        imageTaken = m_files->kindOfEntry(to.folder, to.name, to.shown).kind != files::EntryKind::Missing;
        m_files->noteTaken(m_destinationPrefix + files::relativeBelow(*textTaken));
    }

    std::string placedBelow = below;
    bool replacedEarlier = false;
    if (m_settings.allowDuplicates) {
        const std::string placedPath = duplicateName(imagePath, document, fullText.has_value());
        placedBelow = files::relativeBelow(placedPath);
        to = destinationAt(placedBelow, placedPath);
    } else {
        Prompt exists{MessageKind::ImageExists};
        exists.path = files::joinBelow(m_datagroupFolder, imageTaken ? std::string(imagePath) : *textTaken);
        switch (m_prompter.ask(exists)) {
        case MessageAnswer::Yes:
            // The earlier document that names the file describes the new scan from now on. A file
            // that no document names gets the new one.
            replacedEarlier = document.replaceEarlierDocument(imagePath);
            // The old image (and its full-text file) stays recoverable until DATAGRP.XML is saved: the
            // documents that name it are only replaced then.
            setAside(below, imagePath, sourceBelowOf(from), true);
            if (const std::optional<std::string> oldText = replaceNameExtension(below, ".PVFULLTEXT"))
                setAside(*oldText, imagePath, fullText ? sourceBelowOf(*fullText) : std::string(), false);
            to = destinationAt(below, imagePath);
            break;
        case MessageAnswer::No:
            document.dropCurrentDocument();
            return PlacementOutcome::Dropped;
        default:
            throw Failure(ErrorCode::ImageFileExists, "Copy Image File", "Image file aleady exists.", exists.path);
        }
    }

    recordedMove(from, to);
    ++m_movedCount;
    moveFullText(fullText, placedBelow, imagePath);
    return replacedEarlier ? PlacementOutcome::ReplacedEarlier : PlacementOutcome::Placed;
}

void ImagePlacer::recordedMove(const files::FileAt& from, const files::FileAt& to)
{
    if (m_recorder) {
        m_recorder->beforeMove(from.shown, to.shown);
        m_recorder->makeDurable();
    }
    const files::MoveOutcome outcome = m_files->move(from, to, m_recorder);
    if (outcome != files::MoveOutcome::Moved && m_recorder)
        m_recorder->moveNotMade();
    switch (outcome) {
    case files::MoveOutcome::Moved:
        if (m_recorder)
            m_takenDestinations.insert(std::string_view(to.shown).substr(m_destinationPrefix.size()));
        return;
    case files::MoveOutcome::SourceMissing:
        throw systemFailure(ENOENT, "Move File", from.shown);
    case files::MoveOutcome::DestinationTaken:
        throw systemFailure(EEXIST, "Move File", to.shown);
    }
}

// Whether nothing lies at the destination: the folder's listing, taken once, and the destinations this
// placer has taken since answer most lines; a folder not (yet) read is asked.
bool ImagePlacer::destinationFree(const std::string& below, const files::FileAt& to)
{
    if (m_takenDestinations.contains(below))
        return false;
    // A dry run's record knows what the disk's listing cannot.
    if (m_files->recording())
        return m_files->kindOfEntry(to.folder, to.name, to.shown).kind == files::EntryKind::Missing;
    switch (m_destinationListings.look(folderPart(below), to.folder, to.name)) {
    case files::FolderListings::Seen::NotSeen:
        return true;
    case files::FolderListings::Seen::File:
        return false;
    case files::FolderListings::Seen::Unknown:
        break;
    }
    return m_files->kindOfEntry(to.folder, to.name, to.shown).kind == files::EntryKind::Missing;
}

ImagePlacer::Span ImagePlacer::keep(std::string_view text)
{
    const Span span{static_cast<uint32_t>(m_pendingText.size()), static_cast<uint32_t>(text.size())};
    m_pendingText.append(text);
    return span;
}

// The usual line: its image is there, its destination free, and no move waiting in the batch touches
// either. Its records are written now; the moves wait until the batch's records are durable, so that a
// power cut can lose the records only of moves that were never made.
bool ImagePlacer::deferMove(const std::string& below, const files::FileAt& from, const files::FileAt& to,
                            const std::optional<files::FileAt>& fullText, std::string_view imagePath)
{
    const std::string_view sourceBelow = std::string_view(from.shown).substr(m_sourcePrefix.size());
    if (m_pendingSources.contains(sourceBelow) || !destinationFree(below, to))
        return false;
    std::optional<std::string> textToBelow;
    std::string_view textFromBelow;
    if (fullText) {
        textToBelow = replaceNameExtension(below, ".PVFULLTEXT");
        textFromBelow = std::string_view(fullText->shown).substr(m_sourcePrefix.size());
        if (textToBelow && (m_pendingSources.contains(textFromBelow) ||
                            !destinationFree(*textToBelow, destinationAt(*textToBelow, imagePath))))
            return false;
    }
    PendingMove pending;
    pending.imageFrom = keep(sourceBelow);
    pending.imageTo = sourceBelow == below ? pending.imageFrom : keep(below);
    m_recorder->beforeMove(from.shown, to.shown);
    m_pendingSources.insert(sourceBelow);
    m_takenDestinations.insert(below);
    if (textToBelow) {
        pending.textFrom = keep(textFromBelow);
        pending.textTo = keep(*textToBelow);
        m_recorder->beforeMove(fullText->shown, destinationAt(*textToBelow, imagePath).shown);
        m_pendingSources.insert(textFromBelow);
    }
    m_pending.push_back(pending);
    if (m_pending.size() >= kMovesPerBatch)
        finishMoves();
    return true;
}

void ImagePlacer::finishMoves()
{
    if (m_pending.empty())
        return;
    m_recorder->makeDurable();
    // Whatever happens to the batch, it is over: its records say what may have been done.
    struct BatchEnd
    {
        ImagePlacer& placer;
        ~BatchEnd()
        {
            placer.m_pending.clear();
            placer.m_pendingText.clear();
            placer.m_pendingSources.clear();
        }
    } batchEnd{*this};
    // Reused from move to move: their texts keep their room.
    files::FileAt from;
    files::FileAt to;
    const auto moveOne = [&](Span fromSpan, Span toSpan, std::string_view imagePath) {
        const std::string_view fromBelow = kept(fromSpan);
        const std::string_view folder = folderPart(fromBelow);
        from.shown.assign(m_sourcePrefix).append(fromBelow);
        const files::RootFolder::Folder source = m_sources.open(folder);
        if (source.reach != files::Reach::Inside)
            return files::MoveOutcome::SourceMissing;
        from.folder = source.fd;
        from.name.assign(fromBelow.substr(folder.empty() ? 0 : folder.size() + 1));
        destinationInto(kept(toSpan), imagePath, to);
        return m_files->move(from, to, m_recorder);
    };
    for (const PendingMove& move : m_pending) {
        const std::string_view imageTo = kept(move.imageTo);
        if (const files::MoveOutcome outcome = moveOne(move.imageFrom, move.imageTo, imageTo);
            outcome != files::MoveOutcome::Moved)
            throw systemFailure(outcome == files::MoveOutcome::SourceMissing ? ENOENT : EEXIST, "Move File",
                                outcome == files::MoveOutcome::SourceMissing ? from.shown : to.shown);
        ++m_movedCount;
        if (move.textFrom.length == 0)
            continue;
        switch (moveOne(move.textFrom, move.textTo, imageTo)) {
        case files::MoveOutcome::Moved:
            ++m_fullTextsMoved;
            break;
        case files::MoveOutcome::SourceMissing: // gone meanwhile: there is nothing left to move
            break;
        case files::MoveOutcome::DestinationTaken:
            throw systemFailure(EEXIST, "Move File", to.shown);
        }
    }
}

// Renames the datagroup's file `destinationBelow`, when there is one, to a hidden name beside it.
void ImagePlacer::setAside(const std::string& destinationBelow, std::string_view imagePath,
                           const std::string& sourceBelow, bool image)
{
    const files::FileAt existing = destinationAt(destinationBelow, imagePath);
    const files::EntryLook look = m_files->kindOfEntry(existing.folder, existing.name, existing.shown);
    if (look.kind == files::EntryKind::Missing)
        return;
    if (look.kind == files::EntryKind::Failed)
        throw systemFailure(look.error, "Find File", existing.shown);
    const std::string folderBelow(folderPart(destinationBelow));
    for (int n = 0;; ++n) {
        const std::string asideName = "." + existing.name + std::string(journal::kSetAsideMark) +
                                      (n == 0 ? std::string() : "-" + std::to_string(n));
        const std::string asideBelow = folderBelow.empty() ? asideName : folderBelow + "/" + asideName;
        const files::FileAt aside{existing.folder, asideName, m_destinationPrefix + asideBelow};
        const files::EntryLook asideLook = m_files->kindOfEntry(aside.folder, aside.name, aside.shown);
        // A refusal that the next number would meet again (a name too long) must not spin here forever.
        if (asideLook.kind == files::EntryKind::Failed)
            throw systemFailure(asideLook.error, "Find File", aside.shown);
        if (asideLook.kind != files::EntryKind::Missing)
            continue;
        if (m_recorder)
            m_recorder->beforeSetAside(existing.shown, aside.shown);
        switch (m_files->move(existing, aside)) {
        case files::MoveOutcome::Moved:
            m_replaced.push_back({destinationBelow, asideName, sourceBelow, image});
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
            m_files->deleteAt(
                files::FileAt{folder.fd, replaced.asideName, m_destinationPrefix + replaced.destinationBelow});
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
                m_files->move(current, files::FileAt{source.fd, namePart(it->sourceBelow),
                                                     m_sourcePrefix + it->sourceBelow}) == files::MoveOutcome::Moved &&
                it->image)
                --m_movedCount;
        }
        m_files->move(files::FileAt{folder.fd, it->asideName, current.shown}, current);
    }
    m_replaced.clear();
}

void ImagePlacer::removeMadeFolders()
{
    for (auto folder = m_madeFolders.rbegin(); folder != m_madeFolders.rend(); ++folder)
        m_files->removeEmptyFolder(m_destinationPrefix + *folder);
    m_madeFolders.clear();
}

void ImagePlacer::moveFullText(const std::optional<files::FileAt>& fullText, const std::string& placedBelow,
                               std::string_view imagePath)
{
    // Only an image with an extension has a full-text file, and a numbered name keeps it.
    const std::optional<std::string> fullTextBelow = replaceNameExtension(placedBelow, ".PVFULLTEXT");
    if (!fullText || !fullTextBelow)
        return;
    const files::FileAt to = destinationAt(*fullTextBelow, imagePath);
    if (m_recorder) {
        m_recorder->beforeMove(fullText->shown, to.shown);
        m_recorder->makeDurable();
    }
    const files::MoveOutcome outcome = m_files->move(*fullText, to, m_recorder);
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
