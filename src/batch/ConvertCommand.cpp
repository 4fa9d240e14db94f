#include "batch/ConvertCommand.h"

#include "batch/CommandPorts.h"
#include "batch/CommandRecord.h"
#include "batch/ConfigFile.h"
#include "batch/ConfigFileState.h"
#include "batch/DatagroupLock.h"
#include "batch/LocalLockWarnings.h"
#include "batch/Recovery.h"
#include "batch/RunRecorder.h"
#include "batch/Wildcard.h"
#include "engine/ConversionHost.h"
#include "engine/ConversionRun.h"
#include "engine/ConversionSettings.h"
#include "engine/DatagroupCache.h"
#include "engine/NumberText.h"
#include "engine/Prompter.h"
#include "engine/RunJournal.h"
#include "engine/RunRollback.h"
#include "engine/StopRequest.h"
#include "filetools/Failure.h"
#include "filetools/FileEffects.h"
#include "filetools/FileStatus.h"
#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"
#include "filetools/FolderListing.h"
#include "filetools/FolderLock.h"
#include "filetools/OpenForWriting.h"
#include "filetools/PathParts.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <sys/stat.h>

namespace tollavar {

namespace {

constexpr const char* kProgramName = "Tollavar";

std::atomic<bool> g_commandRunning{false};

// Clears the in-progress mark on every way out of the command, exceptions included.
struct RunningMark
{
    ~RunningMark() { g_commandRunning.store(false); }
};

Failure numberFailure(std::string_view text)
{
    return isNumeric(text) ? Failure(ErrorCode::Overflow, kProgramName, "Overflow", std::string(text))
                           : Failure(ErrorCode::TypeMismatch, kProgramName, "Type mismatch", std::string(text));
}

// The full path a folder listing reports for its folder: a relative folder is taken from the current
// folder. This is why an exact item written as a relative path never matches a listed file.
std::string fullFolderPath(const std::string& folder)
{
    std::filesystem::path path(folder);
    if (!path.is_absolute()) {
        std::error_code error;
        std::filesystem::path current = std::filesystem::current_path(error);
        if (error)
            throw systemFailure(error.value(), "List Folder", folder);
        path = current / path;
    }
    std::string full = path.lexically_normal().string();
    while (full.size() > 1 && full.back() == '/')
        full.pop_back();
    return full;
}

// Whether any file of the folder matches the pattern now: earlier conversions and deletions may have
// changed the folder. A file known to match that is still there settles it without a listing; listing
// the folder for each of its files would make a folder of n index files cost n * n.
bool anyFileMatches(files::FileEffects& effects, const std::string& folder, std::string_view pattern,
                    std::string& witness)
{
    const auto inFolder = [&](const std::string& name) { return (folder == "/" ? "" : folder) + "/" + name; };
    if (!witness.empty() && effects.fileExists(inFolder(witness)))
        return true;
    witness.clear();
    for (const std::string& name : effects.listFiles(folder)) {
        if (matchesWildcard(pattern, name)) {
            witness = name;
            return true;
        }
    }
    return false;
}

// A path's folder as a listing needs it: a name without any folder lies in the current folder, and a
// name directly under the root in the root (the folder part of both is empty text).
std::string folderToList(std::string_view path)
{
    const std::string folder = FileTools::folderPart(path);
    if (!folder.empty() || path.empty())
        return folder;
    return path.find_first_of("/\\") == std::string_view::npos ? "." : "/";
}

// What tells a changed or different file: an index file still being written grows or is touched.
struct FileStamp
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    long long modifiedSeconds = 0;
    long modifiedNanoseconds = 0;

    bool operator==(const FileStamp&) const = default;
    bool sameFile(const FileStamp& other) const { return size >= 0 && device == other.device && inode == other.inode; }
};

FileStamp stampOf(const std::string& path)
{
    const std::optional<struct stat> st = files::statusOf(path);
    if (!st)
        return FileStamp{};
    return FileStamp{st->st_dev, st->st_ino, st->st_size, st->st_mtim.tv_sec, st->st_mtim.tv_nsec};
}

// Puts a conversion that ended before its save back from the steps it recorded: its journal's or, in a
// run that keeps no journal (a dry run), the ones its ports were told of.
class ConversionRollback : public RunRollback
{
public:
    ConversionRollback(CommandContext& ctx, RunJournal* journal, std::string indexFile, std::string datagroupFolder,
                       std::string xmlPath)
        : m_ctx(ctx), m_journal(journal), m_indexFile(std::move(indexFile)),
          m_datagroupFolder(std::move(datagroupFolder)), m_xmlPath(std::move(xmlPath))
    {
    }

    RollbackResult rollBack(const std::string& originalText) override
    {
        JournalContents recorded;
        if (m_journal && m_journal->begun()) {
            recorded = m_journal->contents();
        } else {
            const ConversionSettings& s = m_ctx.settings;
            recorded.datagroupFolder = files::nativePath(m_datagroupFolder);
            recorded.imageFolder =
                files::nativePath(s.imageFolder.empty() ? FileTools::folderPart(m_indexFile) : s.imageFolder);
            recorded.xmlFile = files::nativePath(m_xmlPath);
            std::error_code error;
            recorded.workingFolder = std::filesystem::current_path(error).string();
            if (!originalText.empty())
                recorded.original = fingerprintOf(originalText);
            recorded.steps = portsOf(m_ctx).takeMoveSteps();
        }
        return rollBackConversion(m_ctx, recorded, m_datagroupFolder, m_xmlPath, originalText);
    }

private:
    CommandContext& m_ctx;
    RunJournal* m_journal;
    const std::string m_indexFile;
    const std::string m_datagroupFolder;
    const std::string m_xmlPath;
};

class ConvertRun
{
public:
    ConvertRun(CommandContext& ctx, const IndexFileConverter& convert, ConvertOutcome& outcome,
               RunRecorder* recorder = nullptr)
        : m_ctx(ctx), m_convert(convert), m_outcome(outcome), m_recorder(recorder), m_ports(portsOf(ctx)),
          m_files(m_ports.files())
    {
    }

    void run()
    {
        m_ctx.flags = RunFlags{};
        // Folders the command made for a datagroup that got no DATAGRP.XML go again, once its lock is gone:
        // a command that converted nothing leaves the disk as it found it.
        struct MadeFoldersEnd
        {
            ConvertRun& run;
            ~MadeFoldersEnd() { run.removeEmptyMadeFolders(); }
        } madeFoldersEnd{*this};
        // A datagroup found to hold the most documents one can is marked full and advanced, and the
        // command goes on in the next one.
        while (runInOneDatagroup()) {
            Notice advanced{NoticeKind::DatagroupAtCapAdvanced, m_datagroupFolder};
            advanced.text = m_ctx.settings.datagroupNumber;
            notice(advanced);
            m_ctx.flags = RunFlags{};
            m_record.reset();
            m_finishedJournal.reset();
            m_finishedEarlier.clear();
            m_finishedBeforeAdvance.clear();
            m_previousDatagroup.clear();
        }
    }

private:
    // True when the command stopped at a datagroup that could take no more documents, after marking it
    // and advancing the number: the rest goes into the next datagroup.
    bool runInOneDatagroup()
    {
        ConversionSettings& s = m_ctx.settings;
        followConfigFolder(m_ctx);
        // One writer per datagroup, from before DATAGRP.XML is read until the marker and the advance:
        // two runs reading the same DATAGRP.XML would each save it without the other's documents.
        files::FolderLock lock;
        std::string datagroupFolder;
        std::string markerPath;
        for (;;) {
            datagroupFolder = lockDatagroup(lock);
            m_xmlPath = datagroupFolder + "/DATAGRP.XML";
            m_datagroupFolder = datagroupFolder;
            // Beside DATAGRP.XML under its own fixed name: a folder or company ID that holds ".xml" must not
            // send it elsewhere, or the datagroup would never be submitted nor its number advanced.
            markerPath = datagroupFolder + "/DATAGRP.SUBMIT";
            finishPreviousDatagroup();
            if (m_recorder) {
                m_recorder->setDatagroup(datagroupFolder);
                if (files::pathExists(RunJournal::pathFor(datagroupFolder)))
                    m_recorder->setRecoveryRan();
            }
            // A file whose conversion recovery finishes is recorded as finished before its journal goes.
            recoverInterruptedRun(m_ctx, datagroupFolder, m_xmlPath, markerPath,
                                  [this](const std::string& finished) { startRecord(finished); });
            // A command killed past its last file had marked a full datagroup: its recovery advanced it,
            // and this command converts into the next one, where the record it left is taken over.
            if (datagroupFolderPath(m_ctx.settings) == datagroupFolder)
                break;
            m_record.reset();
            lock.release();
        }
        const std::vector<std::string> items = splitBarList(s.indexFiles);
        warnOfLocalOnlyLock(datagroupFolder);

        rememberRunningConfig();
        if (!m_record)
            startRecord("");
        // Only a command that was killed or stopped by a signal leaves its record: one that ended on a
        // failure it reported is run again whole, as a failed command always was.
        struct RecordEnd
        {
            std::unique_ptr<CommandRecord>& record;
            bool keepsRecords;
            ~RecordEnd()
            {
                // A record that holds no finished file has nothing to tell the next command.
                if (record && keepsRecords && (!stopRequested() || !record->holdsFinished())) {
                    try {
                        record->remove();
                    } catch (const Failure&) {
                    }
                }
            }
        } recordEnd{m_record, m_ports.keepsRecords()};
        for (const std::string& item : items) {
            if (stopRequested() && m_stoppedAfter.empty() && !stopBetweenItems())
                return false;
            if (!convertItem(item)) {
                if (!m_ctx.flags.datagroupAtCap)
                    return false;
                break;
            }
        }
        const bool atCap = m_ctx.flags.datagroupAtCap;
        if (atCap)
            m_ctx.flags.datagroupFull = true;
        if (!m_selectedAny && !atCap) {
            Notice nothing{NoticeKind::NoIndexFileMatched};
            nothing.text = s.indexFiles;
            notice(nothing);
        }
        // Whether the datagroup is full is not known while the limit is not a number: it is not marked.
        if (!atCap && !parseInt32(s.maxDocuments) && m_files.fileExists(files::nativePath(m_xmlPath)))
            throw Failure(ErrorCode::TypeMismatch, kProgramName,
                          "Type mismatch: maximum files per datagroup \"" + s.maxDocuments + "\" is not a number",
                          s.maxDocuments);

        // A kill from here on leaves the last file's journal saying that only the advance, its own removal
        // and the marker were left: its recovery does them and touches no image.
        if (m_finishedJournal)
            m_finishedJournal->markCommandEnded();
        // The importer takes a marked datagroup as finished: nothing of ours may be left in it, so the lock,
        // the journal and the record go first, and the marker comes last. A kill before it leaves the
        // datagroup unmarked: its next command marks it, or, once the number has advanced, the next
        // command into the datagroup above.
        lock.release();
        const bool advanced = !m_ctx.flags.datagroupFull || advanceDatagroupNumber(m_ctx);
        m_outcome.configSaveFailed |= !advanced;
        // One whose advance failed stays, so that the next run advances. The command's record stays while
        // files are left for the next run.
        try {
            if (m_finishedJournal && advanced)
                m_finishedJournal->remove();
            if (m_leftForNextRun == 0 && m_ports.keepsRecords())
                m_record->remove();
        } catch (const Failure& failure) {
            m_ctx.prompter.reportFailure(FailureReport{FailedWork::ConvertCommand, failure});
        }
        // A datagroup without its DATAGRP.XML has nothing to submit.
        if (m_files.fileExists(files::nativePath(m_xmlPath)))
            m_files.createEmptyFile(files::nativePath(markerPath));
        if (atCap && advanced)
            return true;
        if (atCap) {
            m_outcome.allConverted = false;
            return false;
        }
        if (!m_stoppedAfter.empty()) {
            Notice stopped{NoticeKind::StoppedBetweenFiles, m_stoppedAfter};
            stopped.reason = stopRequestName();
            stopped.count = m_leftForNextRun;
            notice(stopped);
            m_outcome.stoppedBetweenFiles = true;
            m_outcome.allConverted = m_outcome.allConverted && m_leftForNextRun == 0;
        }
        m_outcome.ranToEnd = true;
        return false;
    }

    // Takes the writer lock of the datagroup the settings name. A run that waited may find the
    // configuration changed by the run it waited for (a full datagroup advanced, say): it goes on with
    // what the file holds now, and so into the datagroup that names.
    std::string lockDatagroup(files::FolderLock& lock)
    {
        for (;;) {
            if (m_ctx.settings.xmlFilePath.empty())
                throw Failure(ErrorCode::InvalidCall, "Reading Configuration", "Missing XML file setting");
            // Nothing to convert: a datagroup folder made for it would only be an empty one to clear away.
            if (m_ctx.settings.indexFiles.empty())
                throw Failure(ErrorCode::InvalidCall, "Reading Configuration", "Missing index file setting");
            const std::string folder = datagroupFolderPath(m_ctx.settings);
            if (!m_files.folderExists(files::nativePath(folder))) {
                noteFoldersToMake(files::nativePath(folder));
                m_files.createFolder(m_ctx.fileTools, folder);
            }
            m_ports.takeLock(m_ctx, lock, folder);
            if (!refreshFromConfigFile(m_ctx) || datagroupFolderPath(m_ctx.settings) == folder)
                return folder;
            lock.release();
        }
    }

    // The folders of `folder`'s path that are missing, deepest first.
    void noteFoldersToMake(const std::string& folder)
    {
        for (std::string missing = folder; !missing.empty() && missing != "/" && !m_files.folderExists(missing);
             missing = files::folderOf(missing))
            m_madeFolders.push_back(missing);
    }

public:
    void removeEmptyMadeFolders() noexcept
    {
        for (const std::string& folder : m_madeFolders) {
            if (m_files.fileExists(folder + "/DATAGRP.XML") || !m_files.removeEmptyFolder(folder))
                break;
        }
        m_madeFolders.clear();
    }

private:
    // A stop heard between items: before the first file it ends the command with a word, as a stop before
    // the command would; after a converted file it is honoured as one heard at the end of that file.
    bool stopBetweenItems()
    {
        if (m_lastConverted.empty()) {
            Notice stopped{NoticeKind::StoppedBeforeConverting};
            stopped.reason = stopRequestName();
            notice(stopped);
            return false;
        }
        m_stoppedAfter = m_lastConverted;
        return true;
    }

    // False when the conversion run cancelled the batch.
    bool convertItem(const std::string& item)
    {
        return forEachSelected(item, [this](const std::string& file) { return convertFile(file); });
    }

public:
    // The item's index files in the order the command takes them; stops when `visit` returns false.
    bool forEachSelected(const std::string& itemAsWritten, const SelectedFileVisitor& visit)
    {
        const std::string item = settingPath(m_ctx.settings, itemAsWritten);
        const bool wildcard = item.find('*') != std::string::npos;
        const std::string folder = files::nativePath(folderToList(item));
        const std::vector<std::string> names = m_files.listFiles(folder);
        const std::string folderFull = fullFolderPath(folder);
        const std::string itemPath = files::nativePath(item);
        const std::string itemExtension = FileTools::extensionPart(item);
        const std::string pattern = FileTools::namePart(item);
        // The pattern test is made for every listed file; a listed file that matches the pattern itself
        // and is still there answers it at once, else the last file found to match.
        std::string witness;

        for (const std::string& name : names) {
            const std::string file = (folderFull == "/" ? "" : folderFull) + "/" + name;
            if (wildcard && itemExtension != "*" && FileTools::extensionPart(name) != itemExtension)
                continue;
            bool selected = file == itemPath;
            if (!selected && wildcard) {
                if (matchesWildcard(pattern, name))
                    witness = name;
                selected = anyFileMatches(m_files, folder, pattern, witness);
            }
            if (!selected)
                continue;
            // "*.*" beside the configuration would otherwise convert the file the run is saving to.
            if (wildcard && stampOf(file).sameFile(m_runningConfig))
                continue;
            m_selectedAny = true;
            if (!visit(file))
                return false;
        }
        return true;
    }

    // A save replaces the file (or a dialog names another one): what to leave out changes with it.
    void rememberRunningConfig()
    {
        m_runningConfig = m_ctx.configFile.empty() ? FileStamp{} : stampOf(files::nativePath(m_ctx.configFile));
    }

private:
    void warnOfLocalOnlyLock(const std::string& datagroupFolder)
    {
        LocalLockWarnings own;
        LocalLockWarnings& warnings = m_ctx.localLocks ? *m_ctx.localLocks : own;
        if (const std::optional<Notice> local = warnings.check(datagroupFolder))
            notice(*local);
    }

    // A command killed after it had advanced past the datagroup below this one may have left its last
    // journal and its record there.
    void finishPreviousDatagroup()
    {
        const auto number = parseInt16(m_ctx.settings.datagroupNumber);
        if (!number || *number <= 0)
            return;
        ConversionSettings previous = m_ctx.settings;
        previous.datagroupNumber = std::to_string(*number - 1);
        m_previousDatagroup = datagroupFolderPath(previous);
        try {
            m_finishedBeforeAdvance = finishAdvancedDatagroup(m_ctx, m_previousDatagroup);
        } catch (const Failure& failure) {
            // Not this datagroup's lock nor its journal: whatever stops the tidy-up there (a link, a FIFO or
            // a folder where the lock file belongs) is said once, and the command goes on.
            Notice left{NoticeKind::PreviousDatagroupLeft, m_previousDatagroup};
            left.reason = failure.description();
            notice(left);
        }
    }

    // What an unfinished earlier command with this configuration finished is not converted again; each
    // file this command selects is recorded as it comes to it.
    void startRecord(const std::string& recovered)
    {
        m_record = std::make_unique<CommandRecord>(m_datagroupFolder, m_ctx.configFile);
        m_finishedEarlier = m_record->finishedEarlier(m_ctx.configFile);
        m_finishedEarlier.insert(m_finishedEarlier.end(), m_finishedBeforeAdvance.begin(),
                                 m_finishedBeforeAdvance.end());
        if (!recovered.empty() && files::fileExists(files::nativePath(recovered)))
            m_finishedEarlier.push_back(CommandRecord::describe(recovered));
        if (m_ports.keepsRecords()) {
            m_record->start(m_ctx.configFile, m_finishedEarlier);
            // This command's record holds them now.
            if (!m_finishedBeforeAdvance.empty())
                CommandRecord(m_previousDatagroup, m_ctx.configFile).remove();
        }
    }

    void notice(const Notice& notice)
    {
        std::string text = m_ctx.words.notice(notice);
        m_ctx.host.setStatusPanel(1, text);
        m_outcome.notices.push_back(std::move(text));
    }

    // Readers (a viewer, a backup, a virus scanner) do no harm; only a file still being written is left.
    bool noWriterElsewhere(const std::string& file)
    {
        switch (files::openForWritingElsewhere(file)) {
        case files::WriterCheck::None:
            return true;
        case files::WriterCheck::Writing:
            return false;
        case files::WriterCheck::Unknown:
            break;
        }
        if (!m_saidWriterUnknown) {
            m_saidWriterUnknown = true;
            notice(Notice{NoticeKind::WritersUnknown});
        }
        return files::sizeAndTimeStayStill(file);
    }

    bool convertFile(const std::string& file)
    {
        if (!m_stoppedAfter.empty()) {
            ++m_leftForNextRun;
            return true;
        }
        if (!noWriterElsewhere(file)) {
            notice(Notice{NoticeKind::IndexFileInUse, file});
            return true;
        }
        const CommandRecord::IndexFile described = CommandRecord::describe(file);
        // Converted into the datagroup before the one this command went on to.
        if (std::find(m_convertedHere.begin(), m_convertedHere.end(), described) != m_convertedHere.end())
            return true;
        if (std::find(m_finishedEarlier.begin(), m_finishedEarlier.end(), described) != m_finishedEarlier.end()) {
            notice(Notice{NoticeKind::ConvertedByInterruptedCommand, file});
            return true;
        }
        const bool keepsRecords = m_ports.keepsRecords();
        if (keepsRecords)
            m_record->select(described);
        const FileStamp before = stampOf(file);
        // The previous file's bookkeeping is durable: its journal has done its work.
        if (m_finishedJournal)
            m_finishedJournal->remove();
        std::unique_ptr<RunJournal> journalOwner;
        if (keepsRecords)
            journalOwner =
                std::make_unique<RunJournal>(m_datagroupFolder, m_ctx.configFile,
                                             m_ctx.settings.removeProcessedFiles || m_ctx.alwaysRemoveProcessed);
        ConversionContext conversion{m_ctx.settings, m_ctx.flags, m_ctx.fileTools,
                                     m_recorder ? static_cast<Prompter&>(*m_recorder) : m_ctx.prompter, m_ctx.host};
        if (m_recorder) {
            m_recorder->beginIndexFile(file);
            conversion.observer = m_recorder;
        }
        conversion.datagroupCache = &m_datagroup;
        conversion.folderListings = &m_folderListings;
        conversion.journal = journalOwner.get();
        conversion.files = &m_files;
        conversion.documents = m_ports.documents();
        conversion.moves = m_ports.moves();
        m_ports.takeMoveSteps(); // the earlier file's steps are done with
        ConversionRollback rollback(m_ctx, journalOwner.get(), file, m_datagroupFolder, m_xmlPath);
        conversion.rollback = &rollback;
        const bool converted = m_convert(conversion, file, files::nativePath(m_xmlPath), "REZI_DATAGRP", "DOCUMENT");
        if (m_ctx.flags.datagroupAtCap)
            return false; // converted into the next datagroup
        if (converted) {
            m_convertedHere.push_back(described);
            refreshFromConfigFile(m_ctx);
            m_outcome.configSaveFailed |= !saveConfigIfChanged(m_ctx, m_ctx.configFile);
            rememberRunningConfig();
            if (m_ctx.settings.removeProcessedFiles) {
                // Lines written after the file was read are in no datagroup yet: keep them.
                if (stampOf(file) == before)
                    m_files.deleteFile(file);
                else
                    notice(Notice{NoticeKind::IndexFileChangedKept, file});
            }
            // Kept until the next file begins or the command has advanced the datagroup: a run killed
            // before then still finds what is left to do.
            m_finishedJournal = std::move(journalOwner);
            if (keepsRecords)
                m_record->finish(described);
            m_lastConverted = file;
            // A stop that came once the save had begun has let this file finish; the command ends here,
            // counting what it leaves, and still marks and advances the datagroup.
            if (stopRequested() && !m_ctx.flags.batchCanceled)
                m_stoppedAfter = file;
        } else {
            m_outcome.allConverted = false;
        }
        return !m_ctx.flags.batchCanceled && (!stopRequested() || !m_stoppedAfter.empty());
    }

    CommandContext& m_ctx;
    const IndexFileConverter& m_convert;
    ConvertOutcome& m_outcome;
    RunRecorder* m_recorder;
    CommandPorts& m_ports;
    files::FileEffects& m_files;
    std::string m_xmlPath;
    FileStamp m_runningConfig;
    bool m_selectedAny = false;
    bool m_saidWriterUnknown = false;
    DatagroupCache m_datagroup;
    files::SharedFolderListings m_folderListings;
    std::string m_datagroupFolder;
    std::unique_ptr<RunJournal> m_finishedJournal;
    std::unique_ptr<CommandRecord> m_record;
    std::vector<CommandRecord::IndexFile> m_finishedEarlier;
    // Folders the command made to hold a datagroup, deepest first.
    std::vector<std::string> m_madeFolders;
    // Every file this command converted, whichever datagroup it went into.
    std::vector<CommandRecord::IndexFile> m_convertedHere;
    std::string m_previousDatagroup;
    std::vector<CommandRecord::IndexFile> m_finishedBeforeAdvance;
    std::string m_stoppedAfter;
    std::string m_lastConverted;
    long m_leftForNextRun = 0;
};

} // namespace

std::string datagroupFolderPath(const ConversionSettings& s)
{
    const auto number = parseInt16(s.datagroupNumber);
    if (!number)
        throw numberFailure(s.datagroupNumber);
    const std::string xmlFolder = folderToList(settingPath(s, s.xmlFilePath));
    return (xmlFolder == "/" ? "" : xmlFolder) + "/" + s.companyId + FileTools::zeroPadded(*number, 4);
}

bool forEachSelectedIndexFile(CommandContext& ctx, const std::string& item, const SelectedFileVisitor& visit)
{
    ConvertOutcome unused;
    const IndexFileConverter none;
    ConvertRun selection(ctx, none, unused);
    selection.rememberRunningConfig();
    return selection.forEachSelected(item, visit);
}

bool advanceDatagroupNumber(CommandContext& ctx)
{
    ConversionSettings& s = ctx.settings;
    refreshFromConfigFile(ctx);
    const auto current = parseInt32(s.datagroupNumber);
    if (!current)
        throw numberFailure(s.datagroupNumber);
    if (*current == INT32_MAX)
        throw Failure(ErrorCode::Overflow, kProgramName, "Overflow", s.datagroupNumber);
    s.datagroupNumber = std::to_string(*current + 1);
    return saveConfig(ctx, ctx.configFile);
}

ConvertOutcome convertCommand(CommandContext& ctx, const IndexFileConverter& convert)
{
    ConvertOutcome outcome;
    bool idle = false;
    if (!g_commandRunning.compare_exchange_strong(idle, true)) {
        outcome.refused = true;
        return outcome;
    }
    RunningMark mark;
    const IndexFileConverter& converter = convert ? convert : IndexFileConverter(convertIndexFile);
    RunRecorder recorder(ctx);
    std::string failed;
    try {
        ConvertRun(ctx, converter, outcome, &recorder).run();
    } catch (const Failure& failure) {
        failed = failure.source() + ": " + failure.description();
        ctx.prompter.reportFailure(FailureReport{FailedWork::ConvertCommand, failure});
    } catch (const std::exception& error) {
        failed = error.what();
        ctx.prompter.reportFailure(
            FailureReport{FailedWork::ConvertCommand, Failure(ErrorCode::InvalidCall, kProgramName, error.what())});
    }
    outcome.record = recorder.finish(outcome, failed);
    if (ctx.runRecords)
        ctx.runRecords->recordRun(outcome.record);
    // The conversions since have written their file names over it.
    if (!outcome.notices.empty())
        ctx.host.setStatusPanel(1, outcome.notices.back());
    return outcome;
}

ConvertOutcome runCommand(CommandContext& ctx)
{
    return convertCommand(ctx);
}

} // namespace tollavar
