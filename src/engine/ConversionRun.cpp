#include "engine/ConversionRun.h"

#include "engine/ConversionHost.h"
#include "engine/ConversionObserver.h"
#include "engine/ConversionSettings.h"
#include "engine/DatagroupCache.h"
#include "engine/DatagroupDocument.h"
#include "engine/DocumentStore.h"
#include "engine/FailureReport.h"
#include "engine/ImagePlacement.h"
#include "engine/IndexFileReader.h"
#include "engine/IndexLineParser.h"
#include "engine/NameExtension.h"
#include "engine/NumberText.h"
#include "engine/Prompter.h"
#include "engine/RunJournal.h"
#include "engine/RunRollback.h"
#include "engine/RunStage.h"
#include "engine/StopRequest.h"
#include "engine/XmlSave.h"
#include "filetools/Failure.h"
#include "filetools/FileEffects.h"
#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"
#include "filetools/FolderListing.h"
#include "filetools/LineLog.h"
#include "filetools/TextReplace.h"

#include <new>
#include <optional>

namespace tollavar {

namespace {

// DOCID is a 16-bit number wherever a datagroup is read, this program's next run included: a document
// numbered above it would make the datagroup one that nothing can extend.
constexpr long kHighestDocId = 32767;

// The parser's decisions for one line, written into the document; the image path is kept for the
// placement that follows the line.
class DocumentSink : public FieldSink
{
public:
    DocumentSink(DatagroupDocument& document, ConversionHost& host) : m_document(document), m_host(host) {}

    void startLine() { m_imagePath.clear(); }
    const std::string& imagePath() const { return m_imagePath; }

    void beginObject() override { m_document.beginObject(); }
    void imagePath(std::string_view path) override
    {
        m_document.setImagePath(path);
        m_host.setStatusPanel(2, path);
        m_imagePath.assign(path);
    }
    void pageCount(std::string_view pages) override { m_document.setPages(pages); }
    void indexField(std::string_view name, std::string_view value, bool lastColumn) override
    {
        m_document.addIndexField(name, value, lastColumn);
    }

private:
    DatagroupDocument& m_document;
    ConversionHost& m_host;
    std::string m_imagePath;
};

// The delimiter is read from the settings for every line, but only worked out again when it changed.
class DelimiterReader
{
public:
    explicit DelimiterReader(const ConversionSettings& settings) : m_settings(settings) {}
    std::string_view current()
    {
        if (!m_valid || m_setting != m_settings.delimiter) {
            m_setting = m_settings.delimiter;
            m_delimiter = delimiterFromSetting(m_setting);
            m_valid = true;
        }
        return m_delimiter;
    }

private:
    const ConversionSettings& m_settings;
    std::string m_setting;
    std::string m_delimiter;
    bool m_valid = false;
};

// DATAGRP.XML's backup beside it: the file name's own extension is numbered ("DATAGRP-0001.XML"), never
// the same letters in a folder or company ID above it.
std::string firstFreeBackupName(const std::string& xmlFile)
{
    const std::string ext = FileTools::extensionPart(FileTools::namePart(xmlFile));
    for (long n = 1;; ++n) {
        const std::string number = "-" + FileTools::zeroPadded(n, 4);
        // No extension to number: the end is numbered instead.
        const std::string candidate = replaceNameExtension(xmlFile, number + "." + ext).value_or(xmlFile + number);
        if (!files::pathExists(files::nativePath(candidate)))
            return candidate;
    }
}

// The user's answer to the undo offer only chooses what the backup beside DATAGRP.XML holds: the run has
// already put DATAGRP.XML back as it was read, whatever the answer.
bool offerUndo(ConversionContext& context, const std::string& xmlFile, const std::string& originalText)
{
    const std::string nativeXml = files::nativePath(xmlFile);
    const std::string nativeBackup = files::nativePath(firstFreeBackupName(xmlFile));
    files::FileEffects& effects = context.files ? *context.files : files::diskEffects();
    if (context.prompter.ask(Prompt{MessageKind::UndoOffer}) == MessageAnswer::Yes) {
        // A copy, not a second name: a file with two names is restored in place, through both.
        const std::string current = files::fileExists(nativeXml) ? files::readAll(nativeXml) : std::string();
        if (!current.empty())
            effects.writeWhole(nativeBackup, current);
        if (current != originalText)
            effects.writeWhole(nativeXml, originalText);
        return true;
    }
    effects.writeWhole(nativeBackup, originalText);
    return false;
}

// A run used on its own keeps no journal to put it back from: taking the undo brings back what it set
// aside, and the user is told how many files it moved. True when the undo was taken.
bool undoWithoutRollback(ConversionContext& context, ImagePlacer* placer, const std::string& xmlFile,
                         const std::string& originalText)
{
    if (originalText.empty() || !offerUndo(context, xmlFile, originalText))
        return false;
    if (placer)
        placer->restoreReplaced();
    if (const long moved = placer ? placer->movedCount() : 0; moved > 0) {
        Prompt stay{MessageKind::MovedFilesStay};
        stay.count = moved;
        context.prompter.ask(stay);
    }
    return true;
}

// A run that ends before its save leaves everything as it was before it began, whatever the answer to
// the undo offer, which only chooses the backup written beside DATAGRP.XML. True when nothing is left for
// the next run to put back; the files that could not go back are named to the user.
bool putBackTheRun(ConversionContext& context, ImagePlacer* placer, const std::string& xmlFile,
                   const std::string& originalText, IndexFileFacts& facts)
{
    if (!context.rollback)
        return undoWithoutRollback(context, placer, xmlFile, originalText);
    const RollbackResult rolledBack = context.rollback->rollBack(originalText);
    if (placer)
        placer->removeMadeFolders();
    facts.imagesMoved -= rolledBack.imagesPutBack;
    facts.fullTextsMoved -= rolledBack.filesPutBack - rolledBack.imagesPutBack;
    if (!originalText.empty())
        offerUndo(context, xmlFile, originalText);
    if (rolledBack.notPutBack.empty())
        return true;
    Prompt stay{MessageKind::MovedFilesStay};
    stay.count = static_cast<long>(rolledBack.notPutBack.size());
    stay.paths = rolledBack.notPutBack;
    context.prompter.ask(stay);
    return false;
}

// Tells the observer, on every way out of the run, what the run did.
class FactsReport
{
public:
    explicit FactsReport(ConversionObserver* observer) : m_observer(observer) {}
    ~FactsReport()
    {
        if (m_observer)
            m_observer->indexFileEnded(facts, converted);
    }
    FactsReport(const FactsReport&) = delete;
    FactsReport& operator=(const FactsReport&) = delete;

    // The file was not taken on here (it goes into another datagroup): nothing to report.
    void withdraw() { m_observer = nullptr; }

    IndexFileFacts facts;
    bool converted = false;

private:
    ConversionObserver* m_observer;
};

} // namespace

bool convertIndexFile(ConversionContext& context, const std::string& indexFile, const std::string& xmlFile,
                      const std::string& rootName, const std::string& documentName)
{
    ConversionSettings& settings = context.settings;
    RunStage stage = RunStage::Starting;
    long lastDocId = 0;
    bool existing = false;
    std::string originalText;
    files::HeldFile heldXml;
    std::optional<IndexFileReader> reader;
    std::optional<ImagePlacer> placer;
    std::unique_ptr<DatagroupDocument> document = std::make_unique<DatagroupDocument>();
    bool reopened = false;
    ConversionObserver* const observer = context.observer;
    FactsReport report(observer);
    files::FileEffects& effects = context.files ? *context.files : files::diskEffects();
    long firstNewDocId = 0;
    long dropped = 0; // documents the user chose to leave out: their DOCIDs stay unused
    const auto countMoves = [&] {
        if (placer) {
            report.facts.imagesMoved = placer->movedCount();
            report.facts.fullTextsMoved = placer->fullTextsMoved();
        }
    };

    const std::vector<std::string> names = splitBarList(settings.fieldNames);
    const std::vector<std::string> types = splitBarList(settings.fieldTypes);
    if (names.size() != types.size()) {
        context.prompter.ask(Prompt{MessageKind::FieldListsDiffer});
        return false;
    }
    // The index file's path is native, as its folder listing named it: a backslash there is part of a name.
    const size_t slash = indexFile.rfind('/');
    const std::string imageFolder = !settings.imageFolder.empty() ? settingPath(settings, settings.imageFolder)
                                    : slash == std::string::npos  ? std::string()
                                                                  : indexFile.substr(0, slash);
    IndexLineParser parser(names);
    if (parser.reserved().imagePath < 0) {
        context.prompter.ask(Prompt{MessageKind::ImagePathMissing});
        return false;
    }

    try {
        try {
            context.host.setStatusPanel(1, FileTools::namePart(indexFile));
            const std::string xmlFolder = FileTools::folderPart(xmlFile);
            if (!xmlFolder.empty() && !effects.folderExists(files::nativePath(xmlFolder)))
                effects.createFolder(context.fileTools, xmlFolder);

            const std::string nativeXml = files::nativePath(xmlFile);
            bool startNew = true;
            if (effects.fileExists(nativeXml)) {
                stage = RunStage::WaitingForXml;
                while (context.fileTools.isFileInUse(xmlFile)) {
                    if (stopRequested())
                        throwStopped();
                    // Only a prompter with nobody behind it gives up (after its waiting limit).
                    if (context.prompter.ask(Prompt{MessageKind::XmlInUseWait}) == MessageAnswer::Cancel)
                        throw Failure(ErrorCode::PermissionDenied, "Tollavar",
                                      "Gave up waiting for another program to close " + xmlFile, xmlFile);
                }
                stage = RunStage::ReadingExistingXml;
                // The file this command saved a moment ago, unchanged since: its document is at hand.
                if (std::unique_ptr<DatagroupDocument> saved =
                        context.datagroupCache ? context.datagroupCache->take(nativeXml) : nullptr) {
                    std::string savedText = saved->serialize();
                    if (const std::optional<long> savedLast = saved->reopenSaved()) {
                        lastDocId = *savedLast;
                        originalText = std::move(savedText);
                        document = std::move(saved);
                        existing = reopened = true;
                    }
                }
                if (!reopened) {
                    std::string bytes = files::readAll(nativeXml);
                    if (bytes.empty()) {
                        if (context.prompter.ask(Prompt{MessageKind::CorruptXml}) != MessageAnswer::Yes) {
                            context.flags.batchCanceled = true;
                            return false;
                        }
                        effects.deleteFile(nativeXml);
                    } else {
                        originalText = std::move(bytes);
                        document->parseExisting(originalText);
                        existing = true;
                    }
                }
                startNew = false;
            }
            // Before DATAGRP.XML is created or held and before anything moves.
            if (context.journal)
                context.journal->begin(indexFile, xmlFile, imageFolder, originalText);
            if (!startNew) {
                stage = RunStage::ReopeningXml;
                effects.holdOpen(heldXml, nativeXml);
                stage = RunStage::XmlHeld;
            } else {
                stage = RunStage::CreatingXml;
                effects.holdOpen(heldXml, nativeXml);
            }

            stage = RunStage::ChoosingHeader;
            if (reopened) {
                stage = RunStage::LocatingDocuments;
            } else if (existing) {
                stage = RunStage::LocatingDocuments;
                try {
                    lastDocId = document->locateDocuments();
                } catch (const Failure& failure) {
                    // The document knows what is wrong with it, not which file it came from.
                    throw Failure(failure.code(), failure.source(), failure.description() + ": " + xmlFile, xmlFile);
                }
            } else {
                stage = RunStage::BuildingHeader;
                document->buildHeader(rootName,
                                      DatagroupHeader{settings.datagroupNumber, settings.companyName,
                                                      settings.companyId, settings.projectId, settings.projectName},
                                      names, types);
            }

            // A datagroup that holds the most documents one can must be marked full before anything is
            // added: the command advances the number and converts this file into the next one.
            if (existing && lastDocId >= kHighestDocId) {
                heldXml.close();
                if (context.journal)
                    context.journal->remove();
                context.flags.datagroupAtCap = true;
                report.withdraw();
                return false;
            }

            stage = RunStage::OpeningIndexFile;
            reader.emplace(indexFile);
            if (observer) {
                report.facts.bytes = static_cast<long long>(reader->bytes().size());
                report.facts.fingerprint = files::contentFingerprint(reader->bytes());
                report.facts.encoding = reader->encodingName();
                observer->indexFileStarted(indexFile, observer->wantsLineCount() ? reader->countLines() : -1);
            }
            stage = RunStage::ReadingFirstLine;
            long linesRead = 0;
            // A file without even its header line holds no documents: it is converted as empty.
            if (settings.skipHeaderLine && !reader->atEnd()) {
                reader->skipLine();
                ++report.facts.linesSkipped;
                ++linesRead;
            }
            firstNewDocId = lastDocId + 1;

            placer.emplace(settings, context.fileTools, context.prompter, imageFolder, indexFile, xmlFile);
            placer->setRecorder(context.journal ? static_cast<MoveRecorder*>(context.journal) : context.moves);
            placer->setFileEffects(effects);
            if (context.folderListings)
                placer->shareListings(context.folderListings->below(files::nativePath(imageFolder)));
            placer->expectLines(reader->countLines());
            DocumentSink sink(*document, context.host);
            DelimiterReader delimiter(settings);
            std::string_view line;
            while (reader->readLine(line)) {
                stage = RunStage::LineRead;
                context.host.processPendingEvents();
                if (stopRequested())
                    throwStopped();
                ++linesRead;
                if (observer && linesRead % ConversionObserver::kProgressEvery == 0)
                    observer->linesDone(linesRead, lastDocId - firstNewDocId + 1 - dropped);
                if (isBlankLine(line)) {
                    ++report.facts.linesSkipped;
                    continue;
                }
                if (lastDocId >= kHighestDocId)
                    throw Failure(ErrorCode::Overflow, "Tollavar",
                                  "Overflow: a datagroup holds at most 32,767 documents; split the index file or "
                                  "lower Max Files per Datagroup");
                ++lastDocId;
                document->beginDocument(documentName, lastDocId);
                sink.startLine();
                PlacementOutcome placed = PlacementOutcome::NothingToPlace;
                try {
                    parser.parseLine(line, delimiter.current(), sink, stage);
                    stage = RunStage::PlacingImage;
                    placed = placer->place(sink.imagePath(), *document);
                } catch (const Failure& failure) {
                    if (!context.lineFailures || !context.lineFailures->skipsLine(failure, stage))
                        throw;
                    document->dropCurrentDocument();
                    placed = PlacementOutcome::Dropped;
                }
                switch (placed) {
                case PlacementOutcome::Dropped:
                    ++report.facts.linesSkipped;
                    ++dropped;
                    break;
                case PlacementOutcome::ReplacedEarlier:
                    // The line went into an earlier document: its DOCID is the next line's.
                    ++report.facts.linesSkipped;
                    --lastDocId;
                    break;
                default:
                    break;
                }
                document->endDocument();
            }

            // The last batch's moves are the placement's, whatever the last line was.
            stage = RunStage::PlacingImage;
            placer->finishMoves();
            if (!existing)
                document->closeNewDocument();
            stage = RunStage::ClosingXml;
            heldXml.close();
            stage = RunStage::SavingXml;
            bool onDisk = true;
            if (context.documents)
                onDisk = context.documents->save(context, *document, nativeXml, lastDocId, originalText);
            else
                saveXml(context, *document, nativeXml, lastDocId, originalText);
            placer->discardReplaced();
            if (context.datagroupCache)
                context.datagroupCache->keep(nativeXml, std::move(document), onDisk);
            countMoves();
            if (lastDocId >= firstNewDocId) {
                report.facts.firstDocId = firstNewDocId;
                report.facts.lastDocId = lastDocId;
                report.facts.documentsAdded = lastDocId - firstNewDocId + 1 - dropped;
            }

            stage = RunStage::CheckingMaxFiles;
            const auto maxFiles = parseInt32(settings.maxDocuments);
            if (!maxFiles)
                throw Failure(ErrorCode::TypeMismatch, "Tollavar",
                              "Type mismatch: maximum files per datagroup \"" + settings.maxDocuments +
                                  "\" is not a number");
            if (lastDocId > *maxFiles || lastDocId >= kHighestDocId)
                context.flags.datagroupFull = true;
            stage = RunStage::Succeeded;
            stage = RunStage::Leaving;
            reader.reset();
            report.converted = true;
            return true;
        } catch (const std::bad_alloc&) {
            throw Failure(ErrorCode::OutOfMemory, "Tollavar", "Out of memory");
        } catch (const Failure&) {
            throw;
        } catch (const std::exception& e) {
            throw Failure(ErrorCode::InvalidCall, "Tollavar", e.what());
        }
    } catch (const Failure& failure) {
        countMoves();
        context.prompter.reportFailure(FailureReport{FailedWork::ConversionRun, failure, stage});
        bool nothingLeft = !failureOffersUndo(stage); // past the save the journal finishes the bookkeeping
        if (failureOffersUndo(stage)) {
            heldXml.close();
            try {
                nothingLeft = putBackTheRun(context, placer ? &*placer : nullptr, xmlFile, originalText, report.facts);
            } catch (const Failure& undoFailure) {
                context.prompter.reportFailure(FailureReport{FailedWork::ConversionRun, undoFailure, stage});
            }
        }
        if (context.journal && context.journal->begun()) {
            try {
                if (nothingLeft && failureOffersUndo(stage))
                    context.journal->remove();
                else
                    context.journal->markFailed();
            } catch (const Failure&) {
                // Unmarked, the journal reads as an interruption: the next run puts the same files back.
            }
        }
        context.flags.batchCanceled = true;
        reader.reset();
        return false;
    }
}

} // namespace tollavar
