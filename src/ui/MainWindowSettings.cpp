// The controls and the settings record kept alike, and the commands that write into both.
#include "ui/MainWindow.h"

#include "batch/FileDialog.h"
#include "engine/NumberText.h"
#include "engine/Prompter.h"
#include "filetools/FileTools.h"
#include "ui/DesignLayout.h"
#include "ui/StatusPanel.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QScopedValueRollback>

namespace tollavar {

void MainWindow::putOnClipboard(const std::string& text)
{
    QGuiApplication::clipboard()->setText(fromUtf8(text));
}

// ---- Settings shown in the controls -----------------------------------------------------------

void MainWindow::setBoxText(QLineEdit* edit, const std::string& text)
{
    const QString shown = fromUtf8(text);
    if (edit->text() != shown)
        edit->setText(shown);
}

void MainWindow::showSettings()
{
    // The record is already right; the controls only catch up, so nothing is written back.
    QScopedValueRollback<bool> guard(m_showing, true);
    for (const TextBinding& b : m_textBindings)
        setBoxText(b.edit, settings.*b.field);
    const QString delimiter = fromUtf8(settings.delimiter);
    if (m_delimiterBox->currentText() != delimiter)
        m_delimiterBox->setEditText(delimiter);
    for (const SwitchBinding& b : m_switchBindings)
        b.action->setChecked(settings.*b.field);
    m_autoCreateSubfoldersAction->setChecked(settings.autoCreateSubfolders);
}

void MainWindow::setStatusPanel(int panel, std::string_view text)
{
    if (panel == 1 || panel == 2)
        m_panels[panel - 1]->setText(fromUtf8(text));
}

void MainWindow::processPendingEvents()
{
    QCoreApplication::processEvents();
}
void MainWindow::checkDatagroupNumber()
{
    if (!isNumeric(m_datagroupNumberEdit->text().toStdString()))
        m_prompter.ask(Prompt{MessageKind::DatagroupNumberNotNumeric});
}

// ---- Browse commands --------------------------------------------------------------------------

void MainWindow::browseForIndexFiles()
{
    FileDialogRequest request;
    request.kind = FileDialogRequest::Kind::Open;
    request.filter =
        "Quenbrook Index File (*.idx)|*.idx|Text Files (*.txt)|*.txt|CSV Files (*.csv)|*.csv| All Files (*.*)|*.*";
    request.filterIndex = 1;
    request.initialFileName = settings.indexFiles;
    request.title = "Select Index File";
    // A cancelled dialog still holds the initial name, and that is what is written back.
    const std::string chosen = m_dialog.show(request).value_or(request.initialFileName);
    settings.indexFiles = chosen;
    showSettings();
}

void MainWindow::browseForXmlFilePath()
{
    FileDialogRequest request;
    request.kind = FileDialogRequest::Kind::Save;
    request.filter = "XML Files (*.xml)|*.xml|All Files (*.*)|*.*";
    request.filterIndex = 1;
    request.initialFileName = settings.xmlFilePath;
    request.title = "Select Datagroup Folder";
    const std::optional<std::string> chosen = m_dialog.show(request);
    const std::string folder = FileTools::folderPart(chosen.value_or(request.initialFileName));
    // Cancelling with a name that has no folder would turn it into a file at the root of the disk;
    // the user asked for no change, so there is none.
    if (!chosen && folder.empty())
        return;
    settings.xmlFilePath = folder + "/DATAGRP.XML";
    showSettings();
}

void MainWindow::browseForImageFolder()
{
    const std::string start =
        !settings.imageFolder.empty() ? settings.imageFolder : FileTools::folderPart(settings.indexFiles);
    FileDialogRequest request;
    request.kind = FileDialogRequest::Kind::Folder;
    request.title = "Select Input Folder";
    request.initialFileName = settingPath(settings, start);
    // A cancel writes the folder the chooser started from, as typed.
    settings.imageFolder = m_dialog.show(request).value_or(start);
    showSettings();
}

} // namespace tollavar
