#include "batch/Recovery.h"

#include "batch/CommandContext.h"
#include "batch/CommandPorts.h"
#include "batch/ConfigFile.h"
#include "batch/ConvertCommand.h"
#include "batch/StateFolder.h"
#include "engine/ConversionSettings.h"
#include "engine/JournalReader.h"
#include "engine/NumberText.h"
#include "engine/Prompter.h"
#include "engine/RunJournal.h"
#include "filetools/Beneath.h"
#include "filetools/Failure.h"
#include "filetools/FileEffects.h"
#include "filetools/FileStatus.h"
#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"
#include "filetools/FolderLock.h"
#include "filetools/IdentityKeepingSave.h"
#include "filetools/JournalFile.h"
#include "filetools/MoveAt.h"
#include "filetools/PathParts.h"

#include <ctime>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace tollavar {

namespace {

constexpr const char* kSource = "Recovery Journal";

using Refusal = RecoveryFacts::Refusal;

std::string nameOf(const std::string& path)
{
    return path.substr(path.find_last_of('/') + 1);
}

std::string withSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// Hidden temporaries of interrupted atomic writes and copies: ".NAME.tmp-XXXXXX" beside NAME. The caller
// holds the datagroup's lock and the journal's, so none of them belongs to a write still going on.
void deleteTemporaries(files::FileEffects& effects, const std::map<std::string, std::set<std::string>>& namesByFolder)
{
    for (const auto& [folder, names] : namesByFolder) {
        if (!effects.folderExists(folder))
            continue;
        for (const std::string& entry : effects.listFiles(folder)) {
            const size_t mark = entry.rfind(".tmp-");
            if (entry.size() < 2 || entry[0] != '.' || mark == std::string::npos || mark < 2)
                continue;
            if (names.count(entry.substr(1, mark - 1)))
                effects.deleteFile(folder + "/" + entry);
        }
    }
}

// Raised when recovery must not act at all: the journal is set aside as it is.
struct Unacted
{
    Refusal why;
    std::string named = {};
    std::string expected = {};
};

// One file of a journal step, resolved the way placement resolves it: beneath its root folder, links
// refused.
struct Place
{
    files::FileAt at;
    files::EntryKind kind = files::EntryKind::Missing;
};

class JournalRecovery
{
public:
    JournalRecovery(CommandContext& ctx, const JournalContents& journal, std::string folder, std::string xml,
                    std::string journalPath)
        : m_ctx(ctx), m_journal(journal), m_folder(std::move(folder)), m_xml(std::move(xml)),
          m_journalPath(std::move(journalPath)), m_images(m_journal.imageFolder), m_datagroup(m_folder),
          m_files(portsOf(ctx).files())
    {
    }

    void checkConfined()
    {
        const auto here = identityOf(m_folder);
        const auto there = identityOf(resolve(m_journal.datagroupFolder));
        if (!here || !there || here->device != there->device || here->inode != there->inode)
            throw Unacted{Refusal::OtherDatagroup, m_journal.datagroupFolder, m_folder};
        if (files::nativePath(m_journal.xmlFile) != m_xml)
            throw Unacted{Refusal::OtherXmlFile, m_journal.xmlFile, m_xml};
        const std::string index = m_journal.indexFile;
        const std::string expectedImages = files::nativePath(
            m_ctx.settings.imageFolder.empty() ? FileTools::folderPart(index)
                                               : settingPath(m_ctx.settings, m_ctx.settings.imageFolder));
        if (m_journal.imageFolder != expectedImages)
            throw Unacted{Refusal::OtherImageFolder, m_journal.imageFolder};
        for (const JournalContents::Step& step : m_journal.steps) {
            if (step.setAside) {
                beneath(step.from, m_folder);
                beneath(step.to, m_folder);
                if (files::folderOf(step.from) != files::folderOf(step.to) ||
                    !nameOf(step.to).starts_with("." + nameOf(step.from) + std::string(journal::kSetAsideMark)))
                    throw Unacted{Refusal::OwnSetAsideName, step.from};
            } else {
                beneath(step.from, m_journal.imageFolder);
                beneath(step.to, m_folder);
            }
        }
        if (m_journal.saving && m_journal.saveTarget != files::saveTargetOf(m_xml))
            throw Unacted{Refusal::OtherSaveTarget, m_journal.saveTarget};
    }

    // The index file must be one the configuration selects now, and the very file the run converted.
    void checkIndexFile()
    {
        const std::string index = m_journal.indexFile;
        if (identityOf(index) != m_journal.indexIdentity)
            throw Unacted{Refusal::IndexFileChanged, index};
        bool selected = false;
        for (const std::string& item : splitBarList(m_ctx.settings.indexFiles)) {
            forEachSelectedIndexFile(m_ctx, item, [&](const std::string& file) {
                selected = file == index;
                return !selected;
            });
            if (selected)
                return;
        }
        throw Unacted{Refusal::IndexFileNotSelected, index};
    }

    // Whether DATAGRP.XML holds the run's save; a save cut short is undone first, from the original the
    // run kept.
    bool saveReached()
    {
        const bool xmlThere = m_files.fileExists(m_xml);
        const std::string bytes = xmlThere ? files::readAll(m_xml) : std::string();
        const Fingerprint now = fingerprintOf(bytes);
        if (m_journal.saved && xmlThere && now == *m_journal.saved)
            return true;
        const Fingerprint original = m_journal.original.value_or(fingerprintOf(""));
        if (now == original && (xmlThere || !m_journal.original))
            return false;
        const std::string kept = RunJournal::keptOriginalPathFor(m_folder);
        if (m_journal.keptOriginal && files::fileExists(kept)) {
            const std::string keptBytes = files::readAll(kept);
            if (fingerprintOf(keptBytes) == original) {
                m_files.writeWhole(m_xml, keptBytes);
                m_saveUndone = true;
                return false;
            }
        }
        throw Unacted{m_journal.saving ? Refusal::XmlNeitherBeforeNorSaved : Refusal::XmlChangedElsewhere};
    }

    // Every step undone, latest first, as far as the files allow.
    void putBack()
    {
        for (auto step = m_journal.steps.rbegin(); step != m_journal.steps.rend(); ++step) {
            if (step->setAside)
                putBackSetAside(*step);
            else
                putBackMove(*step);
        }
        if (!m_journal.original && m_files.fileExists(m_xml) && files::readAll(m_xml).empty())
            m_files.deleteFile(m_xml); // the empty file the run began a new datagroup with
        removeEmptiedFolders();
    }

    // A run that ends before its save: DATAGRP.XML goes back to the bytes it read, or goes when it had none.
    void restoreOriginal(const std::string& originalText)
    {
        if (originalText.empty()) {
            if (m_files.fileExists(m_xml))
                m_files.deleteFile(m_xml);
            return;
        }
        // A dry run's saves never reach the disk: there is nothing to bring back.
        if (m_files.recording())
            return;
        if (!m_files.fileExists(m_xml) || files::readAll(m_xml) != originalText) {
            m_files.writeWhole(m_xml, originalText);
            m_saveUndone = true;
        }
    }

    // What the save made final: the replaced files go, and a copy whose source was not yet removed.
    void finishSaved()
    {
        for (const JournalContents::Step& step : m_journal.steps) {
            if (step.setAside) {
                Place aside = place(m_datagroup, m_folder, step.to, false);
                if (aside.kind == files::EntryKind::File)
                    m_files.deleteAt(aside.at);
                continue;
            }
            Place from = place(m_images, m_journal.imageFolder, step.from, false);
            Place to = place(m_datagroup, m_folder, step.to, false);
            if (from.kind == files::EntryKind::File && to.kind == files::EntryKind::File && sameBytes(from, to))
                m_files.deleteAt(from.at);
        }
    }

    void deleteLeftovers()
    {
        std::map<std::string, std::set<std::string>> temporaries{{m_folder, {"DATAGRP.XML"}}};
        if (m_journal.saving) {
            const std::string target = files::saveTargetOf(m_xml);
            temporaries[files::folderOf(target)].insert(nameOf(target));
        }
        for (const JournalContents::Step& step : m_journal.steps) {
            temporaries[files::folderOf(resolve(step.to))].insert(nameOf(step.to));
            if (!step.setAside)
                temporaries[files::folderOf(resolve(step.from))].insert(nameOf(step.from));
        }
        deleteTemporaries(m_files, temporaries);
        const std::string kept = RunJournal::keptOriginalPathFor(m_folder);
        for (const std::string& path : {kept, kept + std::string(journal::kStagingSuffix)}) {
            if (m_files.fileExists(path))
                m_files.deleteFile(path);
        }
    }

    // The folders below the datagroup that moves went into and that are empty once they went back: the
    // run made them. The datagroup folder itself holds the lock and stays.
    void removeEmptiedFolders()
    {
        std::set<std::string> folders;
        const std::string root = withSlash(m_folder);
        for (const JournalContents::Step& step : m_journal.steps) {
            for (std::string folder = files::folderOf(step.to); folder.size() > root.size() && folder.starts_with(root);
                 folder = files::folderOf(folder))
                folders.insert(folder);
        }
        // The deepest first: a folder empties once the folders in it went.
        for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
            m_files.removeEmptyFolder(*folder);
    }

    long putBackCount() const { return m_putBack; }
    long imagesPutBack() const { return m_imagesPutBack; }
    bool saveUndone() const { return m_saveUndone; }
    const std::vector<std::string>& unplaced() const { return m_unplaced; }

private:
    std::string resolve(const std::string& path) const
    {
        return path.starts_with('/') || m_journal.workingFolder.empty() ? path : m_journal.workingFolder + "/" + path;
    }

    void beneath(const std::string& path, const std::string& root) const
    {
        const std::string prefix = withSlash(root);
        if (!path.starts_with(prefix) || path.size() == prefix.size() ||
            files::leavesByItsText(std::string_view(path).substr(prefix.size())))
            throw Unacted{Refusal::OutsideFolder, path, root};
    }

    Place place(files::RootFolder& root, const std::string& rootPath, const std::string& path, bool create)
    {
        const std::string below = files::relativeBelow(std::string_view(path).substr(withSlash(rootPath).size()));
        const size_t slash = below.rfind('/');
        const std::string_view folder =
            slash == std::string::npos ? std::string_view() : std::string_view(below).substr(0, slash);
        Place found;
        found.at.shown = path;
        found.at.name = slash == std::string::npos ? below : below.substr(slash + 1);
        // A dry run makes no folder: what it would put there is known to its record only.
        const bool recording = m_files.recording();
        const files::RootFolder::Folder opened = root.open(folder, create && !recording);
        if (recording && opened.reach == files::Reach::Missing) {
            if (create)
                m_files.createFolder(m_ctx.fileTools, withSlash(rootPath) + std::string(folder));
            found.kind = m_files.kindOfEntry(-1, found.at.name, found.at.shown).kind;
            return found;
        }
        if (opened.reach != files::Reach::Inside) {
            found.kind = opened.reach == files::Reach::Missing ? files::EntryKind::Missing : files::EntryKind::Other;
            return found;
        }
        found.at.folder = opened.fd;
        found.kind = m_files.kindOfEntry(opened.fd, found.at.name, found.at.shown).kind;
        return found;
    }

    bool sameBytes(const Place& a, const Place& b) const
    {
        return files::readAll(a.at.shown) == files::readAll(b.at.shown);
    }

    void putBackMove(const JournalContents::Step& step)
    {
        Place from = place(m_images, m_journal.imageFolder, step.from, false);
        Place to = place(m_datagroup, m_folder, step.to, false);
        using files::EntryKind;
        if (to.kind == EntryKind::Missing && from.kind == EntryKind::File)
            return; // never moved, or back already
        if (to.kind == EntryKind::File && from.kind == EntryKind::File) {
            // A copy-move cut short between the whole copy and the source's removal: the source is whole,
            // as the copy's bytes confirm, and the copy goes. Anything else at the source is a new file
            // that this one cannot be put back over.
            if (sameBytes(from, to)) {
                m_files.deleteAt(to.at);
                return;
            }
            m_unplaced.push_back(step.from);
            return;
        }
        if (to.kind == EntryKind::File && from.kind == EntryKind::Missing) {
            if (from.at.folder < 0)
                from = place(m_images, m_journal.imageFolder, step.from, true);
            if ((from.at.folder >= 0 || m_files.recording()) &&
                m_files.move(to.at, from.at) == files::MoveOutcome::Moved) {
                ++m_putBack;
                if (!step.to.ends_with(".PVFULLTEXT"))
                    ++m_imagesPutBack;
                return;
            }
        }
        m_unplaced.push_back(step.from);
    }

    void putBackSetAside(const JournalContents::Step& step)
    {
        Place path = place(m_datagroup, m_folder, step.from, false);
        Place aside = place(m_datagroup, m_folder, step.to, false);
        using files::EntryKind;
        if (aside.kind == EntryKind::File && path.kind == EntryKind::Missing &&
            m_files.move(aside.at, path.at) == files::MoveOutcome::Moved)
            return;
        if (aside.kind == EntryKind::Missing && path.kind == EntryKind::File)
            return; // never set aside, or back already
        m_unplaced.push_back(step.from);
    }

    CommandContext& m_ctx;
    const JournalContents& m_journal;
    const std::string m_folder;
    const std::string m_xml;
    const std::string m_journalPath;
    files::RootFolder m_images;
    files::RootFolder m_datagroup;
    files::FileEffects& m_files;
    long m_putBack = 0;
    long m_imagesPutBack = 0;
    bool m_saveUndone = false;
    std::vector<std::string> m_unplaced;
};

// A journal set aside leaves the datagroup, which an importer may take whole once it is marked: it goes
// to the program's state folder.
std::string setAsideJournalFolder()
{
    return inStateFolder("set-aside");
}

std::string fileNameDate()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

Failure stillRunning(const JournalContents* journal, const std::string& journalPath)
{
    const std::string host = journal && !journal->writer.host.empty() ? journal->writer.host : "another computer";
    const std::string pid = journal ? std::to_string(journal->writer.pid) : "unknown";
    return Failure(ErrorCode::PermissionDenied, kSource,
                   "A conversion on " + host + " (process " + pid + ") may still be running; if it is not, remove " +
                       journalPath);
}

Prompt interrupted(RecoveryFacts facts)
{
    Prompt prompt{MessageKind::InterruptedRun};
    prompt.recovery = std::move(facts);
    return prompt;
}

// Sets the journal aside and says why, once: as the command's failure after an interruption, as a
// message after a failure the user was already told of.
void setAsideAndReport(CommandContext& ctx, const std::string& journalPath, RecoveryFacts facts, bool failedBefore)
{
    facts.journalPath = journalPath;
    facts.keptAs = portsOf(ctx).files().setJournalAside(
        journalPath, setAsideJournalFolder(), nameOf(files::folderOf(journalPath)) + "-" + fileNameDate() + ".journal");
    const Prompt report = interrupted(std::move(facts));
    if (!failedBefore)
        throw Failure(ErrorCode::PathFileAccess, kSource, ctx.words.prompt(report).text);
    ctx.prompter.ask(report);
}

// The command was killed past its last file: the marker, the advance of a full datagroup and the
// journal's removal were left. The images are where the save put them and stay there.
void finishEndedCommand(CommandContext& ctx, const JournalContents& journal, JournalRecovery& recovery,
                        const std::string& xml, const std::string& marker, const std::string& journalPath,
                        const std::function<void(const std::string& indexFile)>& noteFinished)
{
    files::FileEffects& effects = portsOf(ctx).files();
    recovery.deleteLeftovers();
    RecoveryFacts facts;
    facts.outcome = RecoveryFacts::Outcome::FinishedCommand;
    facts.indexFile = journal.indexFile;
    const auto maxFiles = parseInt32(ctx.settings.maxDocuments);
    if (maxFiles && journal.lastDocId > *maxFiles) {
        // The journal stays until the advance is durable: a kill before then finds it again.
        if (!ctx.configFile.empty() && journal.configFile == ctx.configFile && advanceDatagroupNumber(ctx))
            facts.advancedTo = ctx.settings.datagroupNumber;
        else
            ctx.flags.datagroupFull = true;
    }
    if (noteFinished)
        noteFinished(journal.indexFile);
    effects.deleteFile(journalPath);
    // Last, as at the command's end: nothing of ours is left beside the marker.
    if (effects.fileExists(xml) && !effects.fileExists(marker))
        effects.createEmptyFile(marker);
    ctx.prompter.ask(interrupted(std::move(facts)));
}

// The journal's save is on disk and the command (with the configuration `configFile`) had ended: nothing in
// it is left to do. Another configuration's journal is left to that configuration's next run, which
// finishes its marker and its advance.
bool endedAndSaved(const std::string& folder, const std::string& journalPath, const std::string& configFile)
{
    std::optional<files::OpenedJournal> opened = files::openJournalForRecovery(journalPath);
    if (!opened || opened->lock == files::JournalLock::Busy)
        return false;
    JournalContents journal;
    try {
        journal = parseRunJournal(opened->bytes, journalPath);
    } catch (const Failure&) {
        return false;
    }
    if (opened->lock == files::JournalLock::Unsupported && files::mayStillRun(journal.writer))
        return false;
    const std::string xml = folder + "/DATAGRP.XML";
    return journal.commandEnded && journal.saved && journal.configFile == configFile && files::fileExists(xml) &&
           fingerprintOf(files::readAll(xml)) == *journal.saved;
}

// Another station's configuration left this journal (stations that each have their own configuration
// write one datagroup series): it is put right with that configuration's folders and index files, read
// from its file. A file that anyone but its owner (root or this user) may write could send recovery
// anywhere: then the command stops, leaving the journal to that configuration's own next run. Nothing
// when the configuration is gone or unreadable: the journal is then judged by this command's own.
std::optional<std::string> recoverForItsConfiguration(CommandContext& ctx, const JournalContents& journal,
                                                      const std::string& datagroupFolder, const std::string& xmlPath,
                                                      const std::string& markerPath)
{
    const std::optional<struct stat> status = files::statusOf(journal.configFile);
    if (!status || !S_ISREG(status->st_mode))
        return std::nullopt;
    const bool trusted =
        (status->st_uid == 0 || status->st_uid == ::geteuid()) && (status->st_mode & (S_IWGRP | S_IWOTH)) == 0;
    if (!trusted)
        throw Failure(ErrorCode::PermissionDenied, kSource,
                      "An interrupted conversion by " + journal.configFile + " is pending in " +
                          files::nativePath(datagroupFolder) + "; run that configuration to finish it.",
                      journal.configFile);
    ConversionSettings settings = ctx.settings;
    try {
        applyConfigText(files::readAll(journal.configFile), settings);
    } catch (const Failure&) {
        return std::nullopt;
    }
    std::string configFile = journal.configFile;
    RunFlags flags;
    CommandContext theirs{settings, configFile, flags, ctx.fileTools, ctx.prompter, ctx.host, ctx.dialog, ctx.words};
    theirs.ports = ctx.ports;
    theirs.alwaysRemoveProcessed = journal.removeProcessed;
    recoverInterruptedRun(theirs, datagroupFolder, xmlPath, markerPath);
    return std::string(); // their index file, not one this command converted
}

} // namespace

RollbackResult rollBackConversion(CommandContext& ctx, const JournalContents& journal,
                                  const std::string& datagroupFolder, const std::string& xmlPath,
                                  const std::string& originalText)
{
    const std::string folder = files::nativePath(datagroupFolder);
    JournalRecovery recovery(ctx, journal, folder, files::nativePath(xmlPath), RunJournal::pathFor(folder));
    recovery.restoreOriginal(originalText);
    recovery.putBack();
    recovery.deleteLeftovers();
    return RollbackResult{recovery.putBackCount(), recovery.imagesPutBack(), recovery.unplaced()};
}

std::vector<CommandRecord::IndexFile> finishAdvancedDatagroup(CommandContext& ctx, const std::string& previousFolder)
{
    files::FileEffects& effects = portsOf(ctx).files();
    const std::string folder = files::nativePath(previousFolder);
    const std::string journalPath = RunJournal::pathFor(folder);
    const std::string lockPath = folder + "/.DATAGRP.LOCK";
    const std::string xml = folder + "/DATAGRP.XML";
    const std::string marker = folder + "/DATAGRP.SUBMIT";
    CommandRecord record(folder, ctx.configFile);
    std::vector<CommandRecord::IndexFile> finished = record.finishedEarlier(ctx.configFile);
    const bool unmarked = files::fileExists(xml) && !files::pathExists(marker);
    if (!files::pathExists(journalPath) && !files::pathExists(lockPath) && finished.empty() && !unmarked)
        return {};
    // A run that changes nothing takes no lock: it only reads.
    files::FolderLock lock;
    if (!effects.recording() && lock.tryAcquire(lockPath) == files::FolderLock::State::Busy)
        return {};
    // Read again under the lock.
    finished = record.finishedEarlier(ctx.configFile);
    if (files::pathExists(journalPath) && endedAndSaved(folder, journalPath, ctx.configFile)) {
        const std::string kept = RunJournal::keptOriginalPathFor(folder);
        for (const std::string& path : {kept, kept + std::string(journal::kStagingSuffix)}) {
            if (effects.fileExists(path))
                effects.deleteFile(path);
        }
        effects.deleteFile(journalPath);
    }
    // A command killed between its advance and its marker left the datagroup it had finished unmarked;
    // once nothing of a run is left there, it is marked, after the lock is gone.
    const bool markNow = !files::pathExists(journalPath) && files::fileExists(xml) && !files::pathExists(marker);
    lock.release();
    if (markNow)
        effects.createEmptyFile(marker);
    return finished;
}

std::string recoverInterruptedRun(CommandContext& ctx, const std::string& datagroupFolder, const std::string& xmlPath,
                                  const std::string& markerPath,
                                  const std::function<void(const std::string& indexFile)>& noteFinished)
{
    (void)markerPath; // the command writes the marker once its lock is gone
    const std::string folder = files::nativePath(datagroupFolder);
    const std::string journalPath = RunJournal::pathFor(folder);
    std::optional<files::OpenedJournal> opened = files::openJournalForRecovery(journalPath);
    if (!opened) {
        // A run killed while it started its journal leaves the journal's first lines under their own name.
        const std::string startingPath = RunJournal::startingPathFor(folder);
        if (files::pathExists(startingPath))
            portsOf(ctx).files().deleteFile(startingPath);
        return "";
    }
    JournalContents journal;
    try {
        journal = parseRunJournal(opened->bytes, journalPath);
    } catch (const Failure& damaged) {
        if (opened->lock == files::JournalLock::Busy)
            throw stillRunning(nullptr, journalPath);
        RecoveryFacts facts;
        facts.outcome = RecoveryFacts::Outcome::Damaged;
        facts.reason = damaged.description();
        setAsideAndReport(ctx, journalPath, std::move(facts), false);
        return "";
    }
    if (opened->lock == files::JournalLock::Busy ||
        (opened->lock == files::JournalLock::Unsupported && files::mayStillRun(journal.writer)))
        throw stillRunning(&journal, journalPath);
    if (!journal.configFile.empty() && journal.configFile != ctx.configFile) {
        // Its recovery opens and locks the journal anew; the datagroup's lock keeps other runs out meanwhile.
        opened.reset();
        if (std::optional<std::string> recovered =
                recoverForItsConfiguration(ctx, journal, datagroupFolder, xmlPath, markerPath))
            return *recovered;
    }
    const bool failedBefore = !journal.failedOn.empty();
    const std::string xml = files::nativePath(xmlPath);

    JournalRecovery recovery(ctx, journal, folder, xml, journalPath);
    bool saved = false;
    try {
        recovery.checkConfined();
        saved = recovery.saveReached();
        if (!saved)
            recovery.checkIndexFile();
    } catch (const Unacted& unacted) {
        RecoveryFacts facts;
        facts.outcome = RecoveryFacts::Outcome::NotActedOn;
        facts.refusal = unacted.why;
        facts.named = unacted.named;
        facts.expected = unacted.expected;
        // The empty DATAGRP.XML its run began a new datagroup with holds nothing: left, every later run would
        // stop on it as a corrupt file.
        files::FileEffects& effects = portsOf(ctx).files();
        if (unacted.why != Refusal::OtherDatagroup && unacted.why != Refusal::OtherXmlFile && !journal.original &&
            effects.fileExists(xml) && files::readAll(xml).empty())
            effects.deleteFile(xml);
        setAsideAndReport(ctx, journalPath, std::move(facts), failedBefore);
        return "";
    }

    const std::string index = journal.indexFile;
    if (saved && journal.commandEnded) {
        finishEndedCommand(ctx, journal, recovery, xml, files::nativePath(markerPath), journalPath, noteFinished);
        return index;
    }
    RecoveryFacts facts;
    facts.indexFile = index;
    if (!saved) {
        recovery.putBack();
        if (failedBefore) {
            facts.outcome = RecoveryFacts::Outcome::FailedRunPutBack;
            facts.failedOn = journal.failedOn;
            facts.filesPutBack = recovery.imagesPutBack();
        } else {
            facts.outcome = RecoveryFacts::Outcome::PutBack;
            facts.filesPutBack = recovery.putBackCount();
            facts.saveUndone = recovery.saveUndone();
        }
    } else {
        recovery.finishSaved();
        // The user was told of the failure when it happened: it was no interruption.
        facts.outcome =
            failedBefore ? RecoveryFacts::Outcome::FailedAfterSave : RecoveryFacts::Outcome::FinishedAfterSave;
        facts.failedOn = journal.failedOn;
        if (!ctx.configFile.empty() && journal.configFile == ctx.configFile) {
            saveConfig(ctx, ctx.configFile);
            facts.configSaved = true;
        }
        if (journal.removeProcessed && files::fileExists(index)) {
            // A file of that name that is not the one converted is another batch: it stays.
            if (identityOf(index) == journal.indexIdentity) {
                portsOf(ctx).files().deleteFile(index);
                facts.indexFileFate = RecoveryFacts::IndexFileFate::Removed;
            } else {
                facts.indexFileFate = RecoveryFacts::IndexFileFate::KeptChanged;
            }
        }
        const auto maxFiles = parseInt32(ctx.settings.maxDocuments);
        if (maxFiles && journal.lastDocId > *maxFiles)
            ctx.flags.datagroupFull = true;
    }
    recovery.deleteLeftovers();
    if (saved && noteFinished)
        noteFinished(index);
    if (!recovery.unplaced().empty()) {
        facts.notPutBack = recovery.unplaced();
        setAsideAndReport(ctx, journalPath, std::move(facts), failedBefore);
        return saved ? index : "";
    }
    portsOf(ctx).files().deleteFile(journalPath);
    // A failed run that had put everything back itself leaves nothing to tell.
    if (!(facts.outcome == RecoveryFacts::Outcome::FailedRunPutBack && recovery.putBackCount() == 0))
        ctx.prompter.ask(interrupted(std::move(facts)));
    return saved ? index : "";
}

} // namespace tollavar
