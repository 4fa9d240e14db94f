#include "app/OperatorModes.h"

#include "app/CheckReportWriter.h"
#include "app/LongOptions.h"
#include "app/QtFileDialog.h"
#include "app/QtSettingsStore.h"
#include "app/RunHistoryLog.h"
#include "app/Startup.h"
#include "app/SystemdNotifier.h"
#include "app/TerminalProgress.h"
#include "app/TerminalPrompter.h"
#include "batch/CommandContext.h"
#include "batch/DryRunCheck.h"
#include "batch/GrownFiles.h"
#include "batch/RunHistory.h"
#include "batch/RunMetrics.h"
#include "batch/SignalStop.h"
#include "batch/WatchCommand.h"
#include "batch/WatchSignals.h"
#include "engine/ConversionHost.h"
#include "engine/ConversionSettings.h"
#include "engine/StopRequest.h"
#include "filetools/DocumentOpener.h"
#include "filetools/FileTools.h"
#include "ui/MessageTable.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <optional>
#include <thread>
#include <unistd.h>

namespace tollavar {

namespace {

class NoDocumentOpener : public DocumentOpener
{
public:
    bool open(const std::string&) override { return false; }
};

// Passes every message on to the terminal. A wait for a busy datagroup asks again every second: each
// time is a sign of life for a watchdog.
class KeepAlivePrompter : public Prompter
{
public:
    explicit KeepAlivePrompter(Prompter& inner) : m_inner(inner) {}
    MessageAnswer ask(const Prompt& prompt) override
    {
        if (m_watchdog)
            m_watchdog->linesDone(0, 0);
        return m_inner.ask(prompt);
    }
    Message reportFailure(const FailureReport& report) override
    {
        if (m_watchdog)
            m_watchdog->linesDone(0, 0);
        return m_inner.reportFailure(report);
    }
    void keepAlive(ConversionObserver* watchdog) { m_watchdog = watchdog; }

private:
    Prompter& m_inner;
    ConversionObserver* m_watchdog = nullptr;
};

// The commands of a run without a window. Its status panels are nowhere: a check shows its progress
// on the terminal, a watch tells systemd, both through the context's progress observer.
class WindowlessCommands : private ConversionHost
{
public:
    WindowlessCommands(const FileTools& fileTools, Prompter& prompter, FileDialog& dialog)
        : m_ctx{m_settings, m_configFile, m_flags, fileTools, prompter, *this, dialog, messageTable()}
    {
    }
    CommandContext& context() { return m_ctx; }

private:
    void setStatusPanel(int, std::string_view) override {}
    void processPendingEvents() override {}

    ConversionSettings m_settings;
    std::string m_configFile;
    RunFlags m_flags;
    CommandContext m_ctx;
};

int runWatch(CommandContext& ctx, const LongOptions& options, WatchSignals& watchSignals, KeepAlivePrompter& prompter)
{
    WatchOptions watch;
    watch.settle = std::chrono::seconds(options.settleSeconds.value_or(2));
    if (options.pollSeconds)
        watch.poll = std::chrono::seconds(*options.pollSeconds);
    watch.retry = std::chrono::seconds(options.retrySeconds.value_or(300));
    if (options.groupWaitSeconds)
        watch.groupWait = std::chrono::seconds(*options.groupWaitSeconds);
    watch.stateFolder = defaultWatchStateFolder();
    RunHistoryLog history(options.logFile.value_or(defaultRunHistoryPath()), std::cerr);
    ctx.runRecords = &history;
    ctx.runMode = "watch";
    std::optional<RunMetrics> metrics;
    if (options.metricsFile) {
        metrics.emplace(*options.metricsFile, ctx.settings, ctx.configFile);
        watch.metrics = &*metrics;
    }
    SystemdNotifier systemd(std::cerr);
    if (systemd.active()) {
        watch.events = &systemd;
        // A long conversion must not look like a hang to the watchdog.
        ctx.progress = &systemd;
        prompter.keepAlive(&systemd);
    }
    const int status = watchAndConvert(ctx, watch, watchSignals, std::cerr);
    prompter.keepAlive(nullptr);
    ctx.progress = nullptr;
    ctx.runRecords = nullptr;
    if (status == ExitStatus::Success) {
        const int signal = watchSignals.stopSignal();
        std::cerr << "tollavar: stopped" << (signal != 0 ? std::string(" by SIG") + ::sigabbrev_np(signal) : "")
                  << "; no conversion was in progress" << std::endl;
    }
    return status;
}

} // namespace

int runOperatorMode(const LongOptions& options, const std::string& argumentText)
{
    // Blocked before anything else, so that a signal during a conversion waits for the batch to end
    // and is then read from the descriptor instead of ending the process half way.
    std::optional<WatchSignals> watchSignals;
    if (options.watch) {
        watchSignals.emplace();
        if (!watchSignals->ok()) {
            std::cerr << "tollavar: cannot take SIGTERM, SIGINT and SIGHUP: " << std::strerror(errno) << std::endl;
            return ExitStatus::StartupFailed;
        }
    } else {
        // A check changes nothing: a signal may end it as it comes.
        if (stopRequested()) {
            std::cerr << "tollavar: " << noticeText(stoppedBeforeConverting()) << std::endl;
            return ExitStatus::ConversionFailed;
        }
        restoreDefaultStopSignals();
    }

    QtSettingsStore store;
    NoDocumentOpener opener;
    FileTools fileTools(store, opener);
    // Nobody answers questions here, even at a terminal: a check asks none, and a watch must never
    // wait on its input.
    // A watcher waiting for a busy datagroup still hears SIGTERM at once.
    const auto pause = [&watchSignals] {
        if (watchSignals)
            watchSignals->pause(std::chrono::seconds(1));
        else
            std::this_thread::sleep_for(std::chrono::seconds(1));
    };
    TerminalPrompter terminal(std::cin, std::cerr, false, pause, options.waitSeconds.value_or(600));
    KeepAlivePrompter prompter(terminal);
    HeadlessFileDialog dialog;
    WindowlessCommands commands(fileTools, prompter, dialog);

    int status = ExitStatus::StartupFailed;
    const auto operate = [&](CommandContext& ctx) {
        if (options.watch) {
            status = runWatch(ctx, options, *watchSignals, prompter);
        } else {
            TerminalProgress progress(STDERR_FILENO);
            if (TerminalProgress::wanted(STDERR_FILENO, options.quiet))
                ctx.progress = &progress;
            const CheckReport report = checkBatch(ctx, options.waitSeconds.value_or(600));
            ctx.progress = nullptr;
            std::cout << (options.json ? checkReportJson(report) : checkReportText(report)) << std::flush;
            status = report.exitStatus() == 0 ? ExitStatus::Success : ExitStatus::ConversionFailed;
        }
        return ConvertOutcome{};
    };
    // A configuration named with /c: that does not exist is no failure of a check: it goes on with the
    // defaults, as the run it stands for would. A watch has nothing to work from.
    const StartupResult start = startUp(nullptr, commands.context(), argumentText, operate,
                                        options.watch ? MissingConfig::Refuse : MissingConfig::ConvertAnyway);
    if (start.road == StartRoad::Failed)
        return ExitStatus::StartupFailed; // start-up has said why
    if (start.road == StartRoad::Interactive || start.road == StartRoad::Manual) {
        std::cerr << "tollavar: " << (options.watch ? "--watch" : "--check")
                  << (start.road == StartRoad::Manual ? " cannot be used with /m\n"
                                                      : " needs a configuration file to work from\n");
        return ExitStatus::StartupFailed;
    }
    if (start.configUnopened) {
        std::cerr << "tollavar: the configuration cannot be read\n";
        return ExitStatus::StartupFailed;
    }
    return status;
}

} // namespace tollavar
