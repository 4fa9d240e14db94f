#pragma once

#include "engine/NameSet.h"
#include "filetools/Beneath.h"
#include "filetools/FileEffects.h"
#include "filetools/FolderListing.h"
#include "filetools/MoveAt.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tollavar {

struct ConversionSettings;
class DatagroupDocument;
class Failure;
class FileTools;
class MoveRecorder;
class Prompter;

enum class PlacementOutcome
{
    NothingToPlace,
    Placed,
    Dropped,
    ReplacedEarlier, // placed over an earlier document's image, which that document now describes
};

// Moves each document's image (and its full-text file) from the image folder into the datagroup
// folder under the same relative path, asking the user when the source is missing or the
// destination is taken. One placer serves one conversion run.
class ImagePlacer
{
public:
    ImagePlacer(const ConversionSettings& settings, const FileTools& fileTools, Prompter& prompter,
                std::string imageFolder, std::string indexFile, const std::string& xmlFile);

    // Places the current document's image; may drop the document from `document` or change its FILE1.
    // Raises a Failure (codes 21 and 23 among them) for the run to report.
    PlacementOutcome place(std::string_view imagePath, DatagroupDocument& document);

    long movedCount() const { return m_movedCount; }
    long fullTextsMoved() const { return m_fullTextsMoved; }
    // Told of every move before it is made (none: nobody keeps a record).
    // With a recorder, the usual moves wait in a batch until its records are durable; finishMoves makes
    // the last batch's.
    void setRecorder(MoveRecorder* recorder) { m_recorder = recorder; }
    void finishMoves();
    // Files the user chose to replace wait under a hidden name until DATAGRP.XML no longer needs them:
    // deleted once it is saved, put back (and their replacements sent back to their sources) when its
    // changes are undone.
    void discardReplaced();
    void restoreReplaced();
    // Listings of the image folder that outlive this placer (by default it reads its own).
    void shareListings(files::FolderListings& listings) { m_sourceListings = &listings; }
    // The index file's line count: each line asks for an image, so its folder may well be read whole.
    void expectLines(long lines) { m_sourceListings->expectNames(lines > 0 ? static_cast<unsigned long>(lines) : 0); }
    // The folders below the datagroup that this placer made, removed where they are empty again: a run
    // that ends early takes back the folders it made with the files it moved.
    void removeMadeFolders();
    // Where moves and the folders they need go (by default the disk).
    void setFileEffects(files::FileEffects& effects) { m_files = &effects; }

private:
    // A source file found under its exact name or, failing that, under the one name that differs from it
    // in letter case only; with two or more such names, none is taken and they are listed instead.
    struct SourceLookup
    {
        std::optional<files::FileAt> file;
        std::vector<std::string> otherCase;
        bool listed = false; // the folder's listing vouched for `file`
    };
    files::FileAt destinationAt(const std::string& below, std::string_view imagePath);
    void destinationInto(std::string_view below, std::string_view imagePath, files::FileAt& to);
    SourceLookup sourceAt(const std::string& below, std::string_view imagePath, bool fullText, bool unlistedIsMissing,
                          std::string_view besideName = {});
    SourceLookup otherCaseAt(int folderFd, const std::string& below, std::string_view besideName,
                             const std::function<Failure()>& refused);
    PlacementOutcome missingSource(std::string_view imagePath, DatagroupDocument& document,
                                   const std::vector<std::string>& otherCase);
    std::optional<files::FileAt> fullTextBeside(const std::string& below, std::string_view imagePath,
                                                const SourceLookup& image, bool imageListed);
    void moveFullText(const std::optional<files::FileAt>& fullText, const std::string& placedBelow,
                      std::string_view imagePath);
    bool destinationTaken(const std::string& below, std::string_view shownPath);
    std::optional<std::string> fullTextPlaceTaken(const std::string& below, std::string_view imagePath);
    std::string duplicateName(std::string_view imagePath, DatagroupDocument& document, bool withFullText);
    bool deferMove(const std::string& below, const files::FileAt& from, const files::FileAt& to,
                   const std::optional<files::FileAt>& fullText, std::string_view imagePath);
    bool destinationFree(const std::string& below, const files::FileAt& to);
    void setAside(const std::string& destinationBelow, std::string_view imagePath, const std::string& sourceBelow,
                  bool image);
    void recordedMove(const files::FileAt& from, const files::FileAt& to);
    std::string sourceBelowOf(const files::FileAt& source) const { return source.shown.substr(m_sourcePrefix.size()); }

    const ConversionSettings& m_settings;
    const FileTools& m_fileTools;
    Prompter& m_prompter;
    const std::string m_imageFolder;
    const std::string m_indexFile;
    const std::string m_datagroupFolder;
    const bool m_indexInDatagroup;
    long m_movedCount = 0;
    long m_fullTextsMoved = 0;
    // The two folders as failures name the files in them: each file's path below is appended.
    const std::string m_sourcePrefix;
    const std::string m_destinationPrefix;
    files::RootFolder m_sources;
    files::RootFolder m_destinations;
    files::FolderListings m_ownListings;
    files::FolderListings* m_sourceListings = &m_ownListings;
    MoveRecorder* m_recorder = nullptr;
    files::FileEffects* m_files = &files::diskEffects();
    // Destination folders a dry run would have made: not on the disk, so not worth looking for again.
    std::set<std::string, std::less<>> m_unmadeFolders;
    // Destination folders looked at once, and those of them that were made (parents first).
    std::set<std::string, std::less<>> m_knownFolders;
    std::string m_lastFolderSeen;
    std::vector<std::string> m_madeFolders;

    // Moves whose records are written but not yet durable, by their paths below the two folders (a
    // folder descriptor may be closed by the time the batch is made), kept in one text that each batch
    // reuses.
    struct Span
    {
        uint32_t offset = 0;
        uint32_t length = 0;
    };
    struct PendingMove
    {
        Span imageFrom;
        Span imageTo;
        Span textFrom; // empty: no full-text file
        Span textTo;
    };
    Span keep(std::string_view text);
    std::string_view kept(Span span) const { return std::string_view(m_pendingText).substr(span.offset, span.length); }
    std::string m_pendingText;
    std::vector<PendingMove> m_pending;
    NameSet m_pendingSources;
    // What the datagroup's folders held when first read, and every destination this placer has taken
    // since: a usual line learns that its destination is free without asking the file system.
    files::FolderListings m_destinationListings;
    NameSet m_takenDestinations;
    struct Replaced
    {
        std::string destinationBelow;
        std::string asideName;
        std::string sourceBelow; // where its replacement came from; empty: nothing took its place
        bool image = false;
    };
    std::vector<Replaced> m_replaced;
};

// True when a relative image path climbs out of its folder by its text alone: "..", a drive or a network
// path, in either separator style.
bool imagePathLeavesItsFolder(std::string_view imagePath);

} // namespace tollavar
