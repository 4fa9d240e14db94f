// The menu tree and the commands behind it: File, Options and Help.
#include "ui/MainWindow.h"
#include "ui/MessageTable.h"

#include "batch/ConfigFile.h"
#include "batch/Defaults.h"
#include "batch/SignalStop.h"
#include "engine/FailureReport.h"
#include "engine/Prompter.h"
#include "engine/StopRequest.h"
#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"
#include "ui/AboutBox.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScopedValueRollback>

namespace tollavar {

namespace {

// A menu caption shows "&" as an access-key marker; a name from the build settings means it literally.
QString literalCaption(const char* text)
{
    return QString::fromUtf8(text).replace("&", "&&");
}

} // namespace

QAction* MainWindow::addSwitch(QMenu* menu, const char* name, const QString& caption, bool ConversionSettings::*field)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    action->setCheckable(true);
    m_switchBindings.push_back({action, field});
    connect(action, &QAction::toggled, this, [this, field](bool on) {
        if (!m_showing)
            settings.*field = on;
    });
    return action;
}

void MainWindow::buildMenus()
{
    auto addCommand = [this](QMenu* menu, const char* name, const QString& caption, void (MainWindow::*handler)()) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };

    QMenu* mFile = menuBar()->addMenu(tr("&File"));
    mFile->setObjectName("mFile");
    addCommand(mFile, "mNew", tr("&New"), &MainWindow::newCommand);
    addCommand(mFile, "mOpen", tr("&Open"), &MainWindow::openCommand);
    addCommand(mFile, "mSaveConfig", tr("&Save"), &MainWindow::saveCommand);
    addCommand(mFile, "mSave", tr("Save &As..."), &MainWindow::saveAsCommand);
    mFile->addSeparator()->setObjectName("mSep1");
    m_convertAction = addCommand(mFile, "mConvert", tr("&Convert File"), &MainWindow::convertCommand);
    mFile->addSeparator()->setObjectName("mSep2");
    addCommand(mFile, "mExit", tr("E&xit"), &MainWindow::exitCommand);

    QMenu* mOptions = menuBar()->addMenu(tr("&Options"));
    mOptions->setObjectName("mOptions");
    m_removeProcessedAction =
        addSwitch(mOptions, "mRemove", tr("&Remove Processed Files"), &ConversionSettings::removeProcessedFiles);
    m_allowDuplicatesAction =
        addSwitch(mOptions, "mAllowDupes", tr("&Allow Duplicates"), &ConversionSettings::allowDuplicates);
    m_skipHeaderAction =
        addSwitch(mOptions, "mSkipHeader", tr("&Skip Header Row"), &ConversionSettings::skipHeaderLine);
    m_promptWhenFinishedAction =
        addSwitch(mOptions, "mPrompt", tr("&Prompt When Finished"), &ConversionSettings::promptWhenFinished);
    // Shown but never changed by the user: only defaults and configuration files set it.
    m_autoCreateSubfoldersAction = mOptions->addAction(tr("Auto-&Create Subfolders"));
    m_autoCreateSubfoldersAction->setObjectName("mAutoSub");
    m_autoCreateSubfoldersAction->setCheckable(true);
    m_autoCreateSubfoldersAction->setEnabled(false);

    QMenu* mHelp = menuBar()->addMenu(tr("&Help"));
    mHelp->setObjectName("mHelp");
    addCommand(mHelp, "mViewManual", tr("View &Manual"), &MainWindow::viewManualCommand);
    addCommand(mHelp, "mQuenbrook", tr("&Visit ") + literalCaption(TOLLAVAR_WEBSITE_NAME),
               &MainWindow::openWebSiteCommand);
    addCommand(mHelp, "mAbout", tr("&About Tollavar"), &MainWindow::aboutCommand);
}
// ---- Options ----------------------------------------------------------------------------------

void MainWindow::toggleRemoveProcessedFiles()
{
    m_removeProcessedAction->trigger();
}

void MainWindow::toggleAllowDuplicates()
{
    m_allowDuplicatesAction->trigger();
}

void MainWindow::toggleSkipHeaderLine()
{
    m_skipHeaderAction->trigger();
}

void MainWindow::togglePromptWhenFinished()
{
    m_promptWhenFinishedAction->trigger();
}

// ---- Help -------------------------------------------------------------------------------------

void MainWindow::setManualFolders(std::string programFolder, std::string documentationFolder)
{
    m_programFolder = std::move(programFolder);
    m_documentationFolder = std::move(documentationFolder);
}

void MainWindow::startDocument(const std::string& target, MessageKind notOpened)
{
    try {
        m_fileTools.openDocument(target);
    } catch (const std::exception& failure) {
        Prompt prompt{notOpened};
        prompt.path = target;
        prompt.reason = failure.what();
        m_prompter.ask(prompt);
    }
}

void MainWindow::viewManualCommand()
{
    const std::string inProgramFolder = m_programFolder + "/TLManual.pdf";
    const std::string installed = m_documentationFolder + "/TLManual.pdf";
    if (files::fileExists(inProgramFolder)) {
        startDocument(inProgramFolder, MessageKind::ManualNotOpened);
    } else if (!m_documentationFolder.empty() && files::fileExists(installed)) {
        startDocument(installed, MessageKind::ManualNotOpened);
    } else {
        Prompt notFound{MessageKind::ManualNotFound};
        notFound.paths = {m_programFolder, m_documentationFolder};
        m_prompter.ask(notFound);
    }
}

void MainWindow::openWebSiteCommand()
{
    startDocument(TOLLAVAR_WEBSITE_URL, MessageKind::WebSiteNotOpened);
}

void MainWindow::aboutCommand()
{
    AboutBox box(this);
    box.exec();
}

// ---- File menu --------------------------------------------------------------------------------

void MainWindow::newCommand()
{
    tollavar::newCommand(settings, configFile);
    showSettings();
}

void MainWindow::openCommand()
{
    tollavar::openCommand(m_commands);
    showSettings();
}

void MainWindow::saveCommand()
{
    tollavar::saveCommand(m_commands);
}

void MainWindow::saveAsCommand()
{
    tollavar::saveAsCommand(m_commands);
}

void MainWindow::convertCommand()
{
    // The window keeps taking input during a run; a second start would run inside the first.
    if (m_converting)
        return;
    ConvertOutcome outcome;
    // The last run's image is no part of this one, even when this one converts nothing.
    setStatusPanel(2, "");
    {
        QScopedValueRollback<bool> running(m_converting, true);
        SignalStopGuard stopOnSignal;
        try {
            outcome = m_convertCommand ? m_convertCommand(m_commands) : tollavar::convertCommand(m_commands);
        } catch (const std::exception& error) {
            // Whatever escaped the command (its record, say) is shown as the command's own failures are.
            m_prompter.reportFailure(FailureReport{FailedWork::ConvertCommand,
                                                   Failure(ErrorCode::InvalidCall, kProgramTitle, error.what())});
        }
    }
    // A full datagroup advanced the number.
    showSettings();
    // The operator who asked to hear when a batch is done; unattended runs and the watch never ask.
    if (settings.promptWhenFinished && outcome.ranToEnd && !stopRequested())
        showFinishedSummary(outcome.record);
    // A stop asked by a signal ends the program once the run has taken its failure path.
    if (stopRequested())
        QCoreApplication::exit(1);
}

void MainWindow::showFinishedSummary(const RunRecord& record)
{
    Prompt summary{MessageKind::ConvertFinished};
    for (const IndexFileRecord& file : record.files) {
        if (file.converted)
            summary.paths.push_back(file.path);
    }
    summary.count = record.documentsAdded();
    summary.path = record.datagroupFolder;
    summary.full = record.datagroupFull;
    m_prompter.ask(summary);
}

void MainWindow::exitCommand()
{
    close();
}

} // namespace tollavar
