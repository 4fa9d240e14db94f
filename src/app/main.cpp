#include "app/HistoryCommand.h"
#include "app/JournalStream.h"
#include "app/LongOptions.h"
#include "app/OperatorModes.h"
#include "app/Platform.h"
#include "app/QtDocumentOpener.h"
#include "app/QtFileDialog.h"
#include "app/QtPrompter.h"
#include "app/QtSettingsStore.h"
#include "app/RunHistoryLog.h"
#include "app/Startup.h"
#include "app/TerminalProgress.h"
#include "app/TerminalPrompter.h"
#include "batch/RunHistory.h"
#include "batch/RunMetrics.h"
#include "batch/SignalStop.h"
#include "engine/Notice.h"
#include "engine/StopRequest.h"
#include "filetools/Failure.h"
#include "filetools/FileTools.h"
#include "ui/MainWindow.h"
#include "ui/MessageTable.h"

#include <QApplication>
#include <QFileDialog>
#include <QTimer>

#include <iostream>
#include <optional>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
// The font cache that Qt loads lives as long as the process; a sanitizer build must not call it a leak.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
#endif

namespace {

// Figures for the site's monitoring after an unattended run; a file that cannot be written is said, and
// changes nothing about the run's own status.
void writeUnattendedMetrics(tollavar::RunMetrics& metrics, const tollavar::RunRecord& record)
{
    using namespace tollavar;
    metrics.waitingAfter(record);
    try {
        metrics.write();
    } catch (const Failure& failure) {
        Notice notWritten{NoticeKind::MetricsNotWritten, metrics.path()};
        notWritten.reason = failure.description();
        std::cerr << "Tollavar: " << noticeText(notWritten) << '\n';
    }
}

} // namespace

int main(int argc, char** argv)
{
    using namespace tollavar;
    // Before anything else: a signal that comes while the program starts must not kill it half way,
    // nor a file-size limit end a write without a word.
    handleStopSignalsFromStart();
    // Read before QApplication removes the options it knows from argv, and before any display is
    // needed: --help and --version work on a server too.
    const LongOptionsResult longOptions = readLongOptions(argc, argv);
    // Under systemd, stderr may be the journal: each line then says how much it matters.
    std::optional<JournalPrefixes> journal;
    if (isJournalStream(STDERR_FILENO))
        journal.emplace(std::cerr);
    if (!longOptions.error.empty()) {
        std::cerr << "tollavar: " << longOptions.error << "\nTry 'tollavar --help'.\n";
        return ExitStatus::StartupFailed;
    }
    if (longOptions.options.help) {
        std::cout << usageText();
        return ExitStatus::Success;
    }
    if (longOptions.options.version) {
        std::cout << versionText() << '\n';
        return ExitStatus::Success;
    }
    if (longOptions.options.history)
        return printRunHistory(longOptions.options, argc - longOptions.firstArgument, argv + longOptions.firstArgument,
                               std::cout, std::cerr);
    const std::string arguments = argumentText(argc, argv, longOptions.firstArgument);
    if (longOptions.options.check || longOptions.options.watch)
        return runOperatorMode(longOptions.options, arguments);
    // On a server or under cron there is no display, or one that does not answer: run offscreen and
    // talk through the terminal.
    const std::string noDisplay = noDisplayReason();
    const bool headless = !noDisplay.empty();
    if (headless)
        prepareHeadlessEnvironment();
    else
        preferReachableDisplay();
    QApplication app(argc, argv);

    QtSettingsStore store;
    QtDocumentOpener opener;
    FileTools fileTools(store, opener);
    QtPrompter windowPrompter;
    QtFileDialog windowDialog;
    HeadlessFileDialog noDialog;
    const auto terminal = makeProcessTerminalPrompter(longOptions.options.waitSeconds.value_or(600));
    TerminalProgress progress(STDERR_FILENO);
    const bool showProgress = TerminalProgress::wanted(STDERR_FILENO, longOptions.options.quiet);
    ProgressClearingPrompter terminalBelowProgress(*terminal, progress);
    Prompter& prompter = headless ? static_cast<Prompter&>(terminalBelowProgress) : windowPrompter;
    FileDialog& dialog = headless ? static_cast<FileDialog&>(noDialog) : windowDialog;

    MainWindow window(fileTools, prompter, dialog, store);
    windowPrompter.setParentWidget(&window);
    windowDialog.setParentWidget(&window);
    window.setClosing([&window] { keepWindowRectangle(window); });
    RunHistoryLog history(longOptions.options.logFile.value_or(defaultRunHistoryPath()), std::cerr);
    window.commands().runRecords = &history;

    // A signal while the start-up Open dialog waits for the user ends the dialog, so that one signal
    // ends the program, as it would before the dialog. Question boxes are left alone: a conversion
    // answers a stop at its next line, once the question is answered.
    QTimer stopDuringStart;
    QObject::connect(&stopDuringStart, &QTimer::timeout, [] {
        if (auto* open = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); open && stopRequested())
            open->reject();
    });
    stopDuringStart.start(100);
    // A signal stops an unattended conversion through its failure path; the run then counts as failed.
    std::optional<RunRecord> unattendedRecord;
    const StartupResult start = startUp(&window, window.commands(), arguments, [&](CommandContext& ctx) {
        if (stopRequested()) {
            ConvertOutcome stopped;
            stopped.notices.push_back(noticeText(stoppedBeforeConverting()));
            return stopped;
        }
        SignalStopGuard stopOnSignal;
        ctx.runMode = "unattended";
        if (showProgress)
            ctx.progress = &progress;
        std::optional<RunMetrics> metrics;
        RunRecordSink* const records = ctx.runRecords;
        if (longOptions.options.metricsFile) {
            metrics.emplace(*longOptions.options.metricsFile, ctx.settings, ctx.configFile);
            metrics->forwardTo(records);
            ctx.runRecords = &*metrics;
        }
        ConvertOutcome outcome = convertCommand(ctx);
        ctx.progress = nullptr;
        ctx.runRecords = records;
        unattendedRecord = outcome.record;
        if (metrics)
            writeUnattendedMetrics(*metrics, outcome.record);
        return outcome;
    });
    stopDuringStart.stop();
    switch (start.road) {
    case StartRoad::Unattended:
        for (const std::string& notice : start.notices)
            std::cerr << "Tollavar: " << notice << '\n';
        if (longOptions.options.json && unattendedRecord)
            std::cout << runRecordJson(*unattendedRecord) << std::endl;
        window.close();
        return start.exitStatus;
    case StartRoad::Failed:
        if (headless)
            return start.exitStatus;
        break;
    case StartRoad::Interactive:
    case StartRoad::Manual:
        if (headless) {
            std::cerr << "Tollavar: no display to show the window on (" << noDisplay << "); "
                      << (start.road == StartRoad::Manual ? "the /m switch needs one.\n"
                                                          : "name a configuration file to convert it unattended.\n");
            return ExitStatus::StartupFailed;
        }
        break;
    }
    if (stopRequested()) {
        std::cerr << "Tollavar: " << noticeText(stoppedBeforeConverting()) << '\n';
        return ExitStatus::ConversionFailed;
    }
    // An open window converts only when asked; until then a signal ends it as it would any program.
    restoreDefaultStopSignals();
    window.show();
    return app.exec();
}
