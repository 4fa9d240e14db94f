#include "batch/WatchCommand.h"

#include "batch/CommandContext.h"
#include "batch/ConfigFile.h"
#include "batch/ConfigFileState.h"
#include "batch/ConvertCommand.h"
#include "batch/GroupedArrival.h"
#include "batch/GrownFiles.h"
#include "batch/HotFolder.h"
#include "batch/LocalLockWarnings.h"
#include "batch/RunMetrics.h"
#include "batch/WatchEvents.h"
#include "batch/WatchPrompter.h"
#include "batch/WatchSignals.h"
#include "engine/ConversionRun.h"
#include "engine/ConversionSettings.h"
#include "engine/StopRequest.h"
#include "filetools/Failure.h"
#include "filetools/FileStatus.h"
#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"
#include "filetools/OpenForWriting.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <set>

namespace tollavar {

namespace {

// The hot folder's log: one line per notice, worded by the table and marked with the program's name as
// its other lines on stderr are.
class WatchLog
{
public:
    WatchLog(std::ostream& out, const MessageWords& words) : m_out(out), m_words(words) {}

    void operator()(const Notice& notice) const { m_out << "tollavar: " << m_words.notice(notice) << std::endl; }
    std::string words(const Notice& notice) const { return m_words.notice(notice); }

private:
    std::ostream& m_out;
    const MessageWords& m_words;
};

// As many failing files as a station could leave behind; past it, each tells its whole account once more.
constexpr size_t kFailuresRemembered = 1000;

// "2026-03-04 05:06:07", the local time.
std::string localTimeNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

Notice aboutFile(NoticeKind kind, const std::string& file, long retrySeconds)
{
    Notice notice{kind, file};
    notice.count = retrySeconds;
    return notice;
}

Notice convertedInto(NoticeKind kind, const std::string& file, const std::string& xmlFile)
{
    Notice notice{kind, file};
    notice.folder = FileTools::folderPart(xmlFile);
    return notice;
}

// The folder as the Convert command's listing names its files: absolute, without a trailing "/".
std::string listedFolder(const std::string& folder)
{
    std::error_code error;
    std::string full = std::filesystem::absolute(folder, error).lexically_normal().string();
    while (full.size() > 1 && full.back() == '/')
        full.pop_back();
    return full;
}

std::vector<std::string> watchableFolders(const ConversionSettings& settings, const WatchLog& log)
{
    std::vector<std::string> folders;
    for (const std::string& item : splitBarList(settings.indexFiles)) {
        const std::string folder = files::nativePath(FileTools::folderPart(settingPath(settings, item)));
        if (folder.empty() || !files::folderExists(folder)) {
            Notice skipped{folder.empty() ? NoticeKind::ItemNamesNoFolder : NoticeKind::ItemFolderMissing, folder};
            skipped.text = item;
            log(skipped);
            continue;
        }
        const std::string full = listedFolder(folder);
        if (std::find(folders.begin(), folders.end(), full) == folders.end())
            folders.push_back(full);
    }
    return folders;
}

// Two watchers on two machines would both take each index file, and two runs write one datagroup:
// said once per mount for the watch's life.
void sayWhereLocksStayLocal(const ConversionSettings& settings, const std::vector<std::string>& folders,
                            LocalLockWarnings& warnings, const WatchLog& log)
{
    std::vector<std::string> checked = folders;
    try {
        checked.push_back(datagroupFolderPath(settings));
    } catch (const Failure&) {
        // The Convert command reports a datagroup number that is none.
    }
    for (const std::string& folder : checked)
        if (const std::optional<Notice> local = warnings.check(folder))
            log(*local);
}

class Watch
{
public:
    Watch(CommandContext& ctx, WatchPrompter& prompter, const WatchOptions& options, const WatchLog& log)
        : m_ctx(ctx), m_prompter(prompter), m_options(options), m_log(log),
          m_grouped(options.settle, options.groupWait.value_or(options.retry)), m_grown(options.stateFolder)
    {
        m_ctx.alwaysRemoveProcessed = true;
        m_ctx.sparesUnreadableConfigFile = true;
    }

    // One Convert command over the files of the burst that an item selects; the rest wait. Each file
    // then has its next turn arranged with the hot folder.
    void convertBurst(const std::vector<ReadyFile>& ready, HotFolder& hot)
    {
        m_ready.clear();
        for (const ReadyFile& file : ready)
            m_ready.emplace(file.path, file);
        m_selected.clear();
        m_attempted.clear();
        m_failed.clear();
        for (const std::string& item : splitBarList(m_ctx.settings.indexFiles)) {
            try {
                forEachSelectedIndexFile(m_ctx, item, [this](const std::string& file) {
                    if (m_ready.count(file))
                        m_selected.insert(file);
                    return true;
                });
            } catch (const Failure&) {
                // The Convert command meets the same failure and reports it.
            }
        }
        holdThoseWaitingForImages();
        if (m_selected.empty()) {
            arrangeNextTurns(ready, ConvertOutcome{}, hot);
            return;
        }

        // A file that failed before is tried again: what the command shows waits until it is known whether
        // it failed the same way.
        const bool retrying = std::any_of(ready.begin(), ready.end(), [this](const ReadyFile& file) {
            return m_failing.count(file.path) && m_selected.count(file.path);
        });
        m_repeated.clear();
        m_prompter.beginCommand(retrying);
        const ConvertOutcome outcome = convertCommand(
            m_ctx, [this](ConversionContext& conversion, const std::string& file, const std::string& xmlFile,
                          const std::string& rootName, const std::string& documentName) {
                return convertOne(conversion, file, xmlFile, rootName, documentName);
            });
        m_prompter.release(m_repeated);
        if (m_options.events)
            m_options.events->status(m_log.words(statusLine(outcome.record)));
        tellOfConfigFile();
        const bool onlyRepeats = !m_failed.empty() && m_repeated.size() == m_failed.size();
        if (!outcome.ranToEnd && !onlyRepeats) {
            m_log(Notice{NoticeKind::CommandStoppedEarly});
        } else if (m_ctx.flags.datagroupFull) {
            Notice full{NoticeKind::DatagroupFull};
            full.text = m_ctx.settings.datagroupNumber;
            m_log(full);
            if (m_ctx.configFileState.unreadableOnDisk) {
                Notice kept{NoticeKind::DatagroupNumberKeptInMemory, m_ctx.configFile};
                kept.text = m_ctx.settings.datagroupNumber;
                m_log(kept);
            }
        }
        arrangeNextTurns(ready, outcome, hot);
    }

    // Once each time the configuration file stops reading as one; said again after it has read again.
    void tellOfConfigFile()
    {
        const bool unreadable = m_ctx.configFileState.unreadableOnDisk;
        if (unreadable && !m_saidConfigUnreadable)
            m_log(Notice{NoticeKind::ConfigFileKeptInMemory, m_ctx.configFile});
        m_saidConfigUnreadable = unreadable;
    }

    // After SIGHUP: a file that does not read as a configuration leaves the settings as they are.
    bool configFileReads()
    {
        m_ctx.configFileState.unreadableOnDisk = !readsAsConfiguration(m_ctx.configFile);
        tellOfConfigFile();
        return !m_ctx.configFileState.unreadableOnDisk;
    }

private:
    // An index file whose images are still arriving is no part of this command.
    void holdThoseWaitingForImages()
    {
        m_held.clear();
        if (!m_grouped.active() || m_selected.empty())
            return;
        std::vector<Notice> notices;
        m_held = m_grouped.toHold(m_ctx, {m_selected.begin(), m_selected.end()}, notices, &m_grown);
        for (const Notice& notice : notices)
            m_log(notice);
        for (const std::string& file : m_held)
            m_selected.erase(file);
    }

    // "converted a.idx: 300 documents into ACME0007"
    static Notice statusLine(const RunRecord& record)
    {
        Notice line{NoticeKind::BurstConverted};
        bool allConverted = true;
        for (const IndexFileRecord& file : record.files) {
            line.paths.push_back(FileTools::namePart(file.path));
            line.count += file.facts.documentsAdded;
            allConverted &= file.converted;
        }
        line.folder = FileTools::namePart(record.datagroupFolder);
        if (record.files.empty()) {
            line.kind = NoticeKind::BurstWithoutFiles;
            line.text = record.outcome;
        } else if (!allConverted || record.exitStatus != 0) {
            line.kind = NoticeKind::BurstFailed;
        }
        return line;
    }

    // A failing file never holds back the files after it: those the command did not reach are tried
    // again at once, the failing one after the retry time (or when it changes). A file the command
    // did not reach because the datagroup stayed busy is tried again at once too: the next command
    // waits for the datagroup and converts as soon as it frees.
    void arrangeNextTurns(const std::vector<ReadyFile>& ready, const ConvertOutcome& outcome, HotFolder& hot)
    {
        using std::chrono::milliseconds;
        std::vector<ReadyFile> done;
        for (const ReadyFile& file : ready) {
            if (m_held.count(file.path) && !stopRequested()) {
                hot.retryAfter(file, m_grouped.lookAgainIn());
            } else if (!m_selected.count(file.path) || stopRequested()) {
                done.push_back(file);
            } else if (m_failed.count(file.path)) {
                hot.retryAfter(file, m_options.retry);
            } else if (m_attempted.count(file.path)) {
                done.push_back(file);
            } else if (m_prompter.gaveUpWaiting() || !m_failed.empty()) {
                m_log(Notice{m_prompter.gaveUpWaiting() ? NoticeKind::WaitsForDatagroup : NoticeKind::TriedAgain,
                             file.path});
                hot.retryAfter(file, milliseconds(0));
            } else if (outcome.ranToEnd) {
                // Passed over by the command (held open meanwhile): judged again after a pause.
                hot.retryAfter(file, std::max<milliseconds>(m_options.settle, std::chrono::seconds(1)));
            } else {
                m_log(aboutFile(NoticeKind::NotConverted, file.path, retrySeconds()));
                hot.retryAfter(file, m_options.retry);
            }
        }
        hot.handled(done);
    }

    bool convertOne(ConversionContext& conversion, const std::string& file, const std::string& xmlFile,
                    const std::string& rootName, const std::string& documentName)
    {
        // Files the command selects that were not judged complete are not this burst's.
        if (!m_selected.count(file))
            return false;
        m_attempted.insert(file);
        const ReadyFile& judged = m_ready.at(file);
        const std::optional<struct stat> st = files::statusOf(file);
        if (!st)
            return false; // taken away meanwhile
        if (!unchangedSince(judged, *st) || files::openForWritingElsewhere(file) == files::WriterCheck::Writing) {
            say(file, Notice{NoticeKind::BeingWrittenAgain, file});
            m_attempted.erase(file);
            return false;
        }
        std::vector<Notice> notices;
        m_prompter.aboutFile(file);
        const bool converted = m_grown.convert(conversion, file, xmlFile, rootName, documentName, notices);
        m_prompter.aboutFile("");
        for (const Notice& notice : notices)
            m_log(notice);
        if (!converted) {
            m_failed.insert(file);
            noteFailure(file);
            return false;
        }
        m_failing.erase(file);
        // Lines a station appended while the file was read are in no datagroup yet: a file that is not
        // exactly what was converted stays, and is converted again once it settles.
        const std::optional<struct stat> after = files::statusOf(file);
        if (!after || !unchangedSince(judged, *after)) {
            say(file, convertedInto(NoticeKind::ConvertedButChanged, file, xmlFile));
            return true;
        }
        m_grown.forget(file);
        // With the configuration's own switch on, the command removes the file itself (after the
        // same check).
        if (!m_ctx.settings.removeProcessedFiles) {
            try {
                files::deleteFile(file);
            } catch (const Failure& failure) {
                Notice kept{NoticeKind::ConvertedNotRemoved, file};
                kept.reason = failure.description();
                say(file, kept);
                return true;
            }
        }
        say(file, convertedInto(NoticeKind::Converted, file, xmlFile));
        return true;
    }

    // A log line in its turn among the messages the command shows.
    void say(const std::string& file, const Notice& notice)
    {
        m_prompter.showInTurn(file, [this, notice] { m_log(notice); });
    }

    // The full account the first time and whenever the failure changes; one line while it stays the same.
    void noteFailure(const std::string& file)
    {
        const std::vector<std::string>& words = m_prompter.wordsAbout(file);
        const auto known = m_failing.find(file);
        if (known != m_failing.end() && known->second.words == words) {
            ++known->second.tries;
            m_repeated.insert(file);
            Notice still{NoticeKind::StillFailing, file};
            still.reason = words.empty() ? std::string() : words.front().substr(0, words.front().find('\r'));
            still.text = known->second.since;
            still.count = known->second.tries;
            say("", still);
            return;
        }
        if (m_failing.size() >= kFailuresRemembered)
            m_failing.clear();
        m_failing[file] = Failing{words, localTimeNow(), 1};
        say(file, aboutFile(NoticeKind::ConversionFailed, file, retrySeconds()));
    }

    long retrySeconds() const { return static_cast<long>(m_options.retry.count()); }

    static bool unchangedSince(const ReadyFile& judged, const struct stat& st)
    {
        return st.st_dev == judged.device && st.st_ino == judged.inode && st.st_size == judged.size &&
               st.st_mtim.tv_sec == judged.modified.tv_sec && st.st_mtim.tv_nsec == judged.modified.tv_nsec;
    }

    CommandContext& m_ctx;
    WatchPrompter& m_prompter;
    const WatchOptions& m_options;
    const WatchLog& m_log;
    std::map<std::string, ReadyFile> m_ready;
    std::set<std::string> m_selected;
    std::set<std::string> m_attempted; // reached by the command, converted or failed
    std::set<std::string> m_failed;
    // Files that failed, with what their last failure showed; gone once a file converts.
    struct Failing
    {
        std::vector<std::string> words;
        std::string since;
        long tries = 0;
    };
    std::map<std::string, Failing> m_failing;
    std::set<std::string> m_repeated; // this command's files that failed as they did the last time
    bool m_saidConfigUnreadable = false;
    GroupedArrival m_grouped;
    std::set<std::string> m_held; // waiting for the images they name
    GrownFiles m_grown;
};

// The figures a site's monitoring reads, written whole. A write that fails is said once for each
// cause, and watching goes on.
class MetricsWriter
{
public:
    static constexpr std::chrono::seconds kEvery{30};

    MetricsWriter(RunMetrics* metrics, const WatchLog& log) : m_metrics(metrics), m_log(log) {}

    void write(const HotFolder& hot)
    {
        if (!m_metrics)
            return;
        const HotFolder::Waiting waiting = hot.waiting();
        m_metrics->waiting(waiting.files, waiting.oldest);
        m_lastWrite = std::chrono::steady_clock::now();
        try {
            m_metrics->write();
            m_lastProblem.clear();
        } catch (const Failure& failure) {
            if (failure.description() == m_lastProblem)
                return;
            m_lastProblem = failure.description();
            Notice notWritten{NoticeKind::MetricsNotWritten, m_metrics->path()};
            notWritten.reason = failure.description();
            m_log(notWritten);
        }
    }
    void writeWhenDue(const HotFolder& hot)
    {
        if (m_metrics && std::chrono::steady_clock::now() - m_lastWrite >= kEvery)
            write(hot);
    }
    bool active() const { return m_metrics != nullptr; }

private:
    RunMetrics* m_metrics;
    const WatchLog& m_log;
    std::chrono::steady_clock::time_point m_lastWrite{};
    std::string m_lastProblem;
};

void printNotices(HotFolder& hot, const WatchLog& log)
{
    for (const Notice& notice : hot.takeNotices())
        log(notice);
}

void printFolders(HotFolder& hot, const WatchLog& log)
{
    for (const HotFolder::WatchedFolder& folder : hot.folders())
        log(folder.how);
    printNotices(hot, log);
}

} // namespace

int watchAndConvert(CommandContext& commands, const WatchOptions& options, WatchSignals& watchSignals,
                    std::ostream& out)
{
    const WatchLog log(out, commands.words);
    // The hot folder's own context: its messages go through a prompter that reports a repeated
    // failure once.
    WatchPrompter prompter(commands.prompter, commands.words);
    CommandContext ctx{
        commands.settings, commands.configFile, commands.flags, commands.fileTools,      prompter, commands.host,
        commands.dialog,   commands.words,      true,           commands.configFileState};
    ctx.runRecords = commands.runRecords;
    ctx.progress = commands.progress;
    ctx.runMode = commands.runMode;
    LocalLockWarnings localLocks;
    ctx.localLocks = &localLocks;
    if (options.metrics) {
        options.metrics->forwardTo(ctx.runRecords);
        ctx.runRecords = options.metrics;
    }
    MetricsWriter metrics(options.metrics, log);
    WatchEvents* const events = options.events;
    // A hot folder made anew (after SIGHUP) keeps giving signs of life, and its figures.
    const auto keepAlive = [events, &metrics](HotFolder& folder) {
        const std::chrono::milliseconds beat = events ? events->heartbeatEvery() : std::chrono::milliseconds(0);
        std::chrono::milliseconds every = beat;
        if (metrics.active())
            every = beat.count() > 0 ? std::min<std::chrono::milliseconds>(beat, MetricsWriter::kEvery)
                                     : MetricsWriter::kEvery;
        if (every.count() > 0)
            folder.setHeartbeat(every, [events, beat, &metrics, &folder] {
                if (beat.count() > 0)
                    events->alive();
                metrics.writeWhenDue(folder);
            });
    };

    std::vector<std::string> folders = watchableFolders(ctx.settings, log);
    if (folders.empty()) {
        log(Notice{NoticeKind::NothingToWatch});
        return 2;
    }
    auto hot = std::make_unique<HotFolder>(folders, options.settle, options.poll, ctx.fileTools);
    Notice watching{NoticeKind::WatchingStarted};
    watching.count = static_cast<long>(options.settle.count());
    log(watching);
    log(Notice{NoticeKind::RemovingEveryConverted});
    printFolders(*hot, log);
    sayWhereLocksStayLocal(ctx.settings, folders, localLocks, log);
    keepAlive(*hot);
    metrics.write(*hot);
    if (events)
        events->watching();

    Watch watch(ctx, prompter, options, log);
    std::vector<ReadyFile> ready;
    for (;;) {
        watchSignals.take();
        if (watchSignals.stopSignal() != 0)
            break;
        if (watchSignals.takeReloadRequest()) {
            // Between conversions only: a hang-up never cuts one short.
            if (!watch.configFileReads())
                continue;
            refreshFromConfigFile(ctx);
            log(Notice{NoticeKind::ConfigurationReadAgain, ctx.configFile});
            std::vector<std::string> now = watchableFolders(ctx.settings, log);
            if (!now.empty() && now != folders) {
                folders = std::move(now);
                hot = std::make_unique<HotFolder>(folders, options.settle, options.poll, ctx.fileTools);
                keepAlive(*hot);
                printFolders(*hot, log);
            }
            sayWhereLocksStayLocal(ctx.settings, folders, localLocks, log);
            continue;
        }
        if (!hot->waitForBurst(watchSignals.fd(), ready)) {
            printNotices(*hot, log);
            if (!watchSignals.take())
                break; // waiting itself failed, and has said why
            continue;
        }
        printNotices(*hot, log);
        // A full datagroup advanced: the next may lie elsewhere.
        sayWhereLocksStayLocal(ctx.settings, {}, localLocks, log);
        watch.convertBurst(ready, *hot);
        metrics.write(*hot);
    }
    if (events)
        events->stopping();
    printNotices(*hot, log);
    return 0;
}

} // namespace tollavar
