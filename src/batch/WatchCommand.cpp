#include "batch/WatchCommand.h"

#include "batch/CommandContext.h"
#include "batch/ConfigFileState.h"
#include "batch/ConvertCommand.h"
#include "batch/HotFolder.h"
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

class Watch
{
public:
    Watch(CommandContext& ctx, WatchPrompter& prompter, const WatchOptions& options, const WatchLog& log)
        : m_ctx(ctx), m_prompter(prompter), m_options(options), m_log(log)
    {
        m_ctx.alwaysRemoveProcessed = true;
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
        if (m_selected.empty()) {
            hot.handled(ready);
            return;
        }

        m_prompter.beginCommand();
        const ConvertOutcome outcome = convertCommand(
            m_ctx, [this](ConversionContext& conversion, const std::string& file, const std::string& xmlFile,
                          const std::string& rootName, const std::string& documentName) {
                return convertOne(conversion, file, xmlFile, rootName, documentName);
            });
        if (m_options.events)
            m_options.events->status(m_log.words(statusLine(outcome.record)));
        if (!outcome.ranToEnd) {
            m_log(Notice{NoticeKind::CommandStoppedEarly});
        } else if (m_ctx.flags.datagroupFull) {
            Notice full{NoticeKind::DatagroupFull};
            full.text = m_ctx.settings.datagroupNumber;
            m_log(full);
        }
        arrangeNextTurns(ready, outcome, hot);
    }

private:
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
            if (!m_selected.count(file.path) || stopRequested()) {
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
            m_log(Notice{NoticeKind::BeingWrittenAgain, file});
            m_attempted.erase(file);
            return false;
        }
        const bool converted = convertIndexFile(conversion, file, xmlFile, rootName, documentName);
        if (!converted) {
            m_failed.insert(file);
            m_log(aboutFile(NoticeKind::ConversionFailed, file, retrySeconds()));
            return false;
        }
        // Lines a station appended while the file was read are in no datagroup yet: a file that is not
        // exactly what was converted stays, and is converted again once it settles.
        const std::optional<struct stat> after = files::statusOf(file);
        if (!after || !unchangedSince(judged, *after)) {
            m_log(convertedInto(NoticeKind::ConvertedButChanged, file, xmlFile));
            return true;
        }
        // With the configuration's own switch on, the command removes the file itself (after the
        // same check).
        if (!m_ctx.settings.removeProcessedFiles) {
            try {
                files::deleteFile(file);
            } catch (const Failure& failure) {
                Notice kept{NoticeKind::ConvertedNotRemoved, file};
                kept.reason = failure.description();
                m_log(kept);
                return true;
            }
        }
        m_log(convertedInto(NoticeKind::Converted, file, xmlFile));
        return true;
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
    WatchEvents* const events = options.events;
    // A hot folder made anew (after SIGHUP) keeps giving signs of life.
    const auto keepAlive = [events](HotFolder& folder) {
        if (events && events->heartbeatEvery().count() > 0)
            folder.setHeartbeat(events->heartbeatEvery(), [events] { events->alive(); });
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
    keepAlive(*hot);
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
            refreshFromConfigFile(ctx);
            log(Notice{NoticeKind::ConfigurationReadAgain, ctx.configFile});
            std::vector<std::string> now = watchableFolders(ctx.settings, log);
            if (!now.empty() && now != folders) {
                folders = std::move(now);
                hot = std::make_unique<HotFolder>(folders, options.settle, options.poll, ctx.fileTools);
                keepAlive(*hot);
                printFolders(*hot, log);
            }
            continue;
        }
        if (!hot->waitForBurst(watchSignals.fd(), ready)) {
            printNotices(*hot, log);
            if (!watchSignals.take())
                break; // waiting itself failed, and has said why
            continue;
        }
        printNotices(*hot, log);
        watch.convertBurst(ready, *hot);
    }
    if (events)
        events->stopping();
    printNotices(*hot, log);
    return 0;
}

} // namespace tollavar
