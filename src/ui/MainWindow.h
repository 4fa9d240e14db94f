#pragma once

#include "batch/CommandContext.h"
#include "batch/ConvertCommand.h"
#include "engine/ConversionHost.h"
#include "engine/ConversionSettings.h"
#include "ui/StartupWindow.h"
#include "ui/Twips.h"

#include <QMainWindow>
#include <QString>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace tollavar {

class FileDialog;
class FileTools;
class Prompter;
class SettingsStore;
class StatusPanel;

// The main window frmTollavar. Its controls show the settings record field for field: every edit is
// written to the record at once, and showSettings() puts the record back into the controls after a
// command has changed it. Positions and sizes are kept in twips; the widgets get them in pixels.
class MainWindow : public QMainWindow, public StartupWindow, public ConversionHost
{
    Q_OBJECT
public:
    using ConvertCommand = std::function<ConvertOutcome(CommandContext&)>;

    MainWindow(FileTools& fileTools, Prompter& prompter, FileDialog& dialog, SettingsStore& store,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    ConversionSettings settings;
    std::string configFile;
    RunFlags flags;

    // What the window's commands work on.
    CommandContext& commands() { return m_commands; }

    // StartupWindow
    SettingsStore& settingsStore() override { return m_store; }
    void setWindowLeft(int twips) override;
    void setWindowTop(int twips) override;
    void setWindowWidth(int twips) override;
    void setWindowHeight(int twips) override;
    int windowLeft() const override;
    int windowTop() const override;
    int windowWidth() const override;
    int windowHeight() const override;
    bool isNormalState() const override;
    void putOnClipboard(const std::string& text) override;
    void showSettings() override;

    // ConversionHost
    void setStatusPanel(int panel, std::string_view text) override;
    void processPendingEvents() override;

    // The twips rectangle of a control, by its name (an empty rectangle for an unknown name).
    TwipRect controlRect(const QString& name) const;
    // Panels are numbered 1 and 2.
    int panelWidth(int panel) const;
    QString panelText(int panel) const;

    // The resize rules, for the current outer width and for a given one.
    void resizeControls();
    void applyResizeRules(int outerWidth);

    void browseForIndexFiles();
    void browseForXmlFilePath();
    void browseForImageFolder();
    void toggleRemoveProcessedFiles();
    void toggleAllowDuplicates();
    void toggleSkipHeaderLine();
    void togglePromptWhenFinished();
    void checkDatagroupNumber();
    void viewManualCommand();
    void openWebSiteCommand();
    void aboutCommand();
    void newCommand();
    void openCommand();
    void saveCommand();
    void saveAsCommand();
    void convertCommand();
    void exitCommand();

    bool isConverting() const { return m_converting; }
    // Stands in for the Convert command (the batch command when unset).
    void setConvertCommand(ConvertCommand command) { m_convertCommand = std::move(command); }
    // Runs as the window closes (the program keeps the window's rectangle for the next start there).
    void setClosing(std::function<void()> closing) { m_closing = std::move(closing); }
    // Where View Manual looks for TLManual.pdf: the program's folder, then the installed documentation.
    void setManualFolders(std::string programFolder, std::string documentationFolder);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct TextBinding
    {
        QLineEdit* edit;
        std::string ConversionSettings::*field;
    };
    struct SwitchBinding
    {
        QAction* action;
        bool ConversionSettings::*field;
    };

    void buildControls();
    void buildMenus();
    QLineEdit* addTextBox(const char* name, std::string ConversionSettings::*field);
    QPushButton* addBrowseButton(const char* name);
    QLabel* addLabel(const char* name, const QString& text);
    QAction* addSwitch(QMenu* menu, const char* name, const QString& caption, bool ConversionSettings::*field);
    void place(QWidget* widget, TwipRect rect);
    void setControlWidth(QWidget* widget, int twips);
    void setControlLeft(QWidget* widget, int twips);
    void fitLabels();
    // Every control, the status bar and its panels placed again after the layout's scale changed.
    void placeAtScale();
    void setPanelWidths(int twips);
    void setBoxText(QLineEdit* edit, const std::string& text);
    void onFocusChanged(QWidget* old, QWidget* now);
    void clickAfterWarning(QWidget* target);
    // Opens a document in its own program; `notOpened` says which when it cannot be opened.
    void startDocument(const std::string& target, MessageKind notOpened);
    void applyOuterSize();
    // What a Convert command did, for the operator who switched on Prompt When Finished.
    void showFinishedSummary(const RunRecord& record);
    // The client size the layout needs: the drawn client area below the menu bar.
    QSize designClientSize() const;
    // How much thicker the frame, title bar and menu bar are than those the layout was drawn for.
    QSize chromeExcess() const;
    // The outer size last restored, while the window still has the size it took for it.
    std::optional<QSize> keptOuterTwips() const;
    static int keptEdge(const std::optional<int>& kept, int framePixels);

    FileTools& m_fileTools;
    Prompter& m_prompter;
    FileDialog& m_dialog;
    SettingsStore& m_store;
    CommandContext m_commands;

    QLineEdit* m_indexFilesEdit = nullptr;
    QLineEdit* m_xmlFilePathEdit = nullptr;
    QLineEdit* m_imageFolderEdit = nullptr;
    QLineEdit* m_datagroupNumberEdit = nullptr;
    QLineEdit* m_maxDocumentsEdit = nullptr;
    QLineEdit* m_companyNameEdit = nullptr;
    QLineEdit* m_companyIdEdit = nullptr;
    QLineEdit* m_projectNameEdit = nullptr;
    QLineEdit* m_projectIdEdit = nullptr;
    QLineEdit* m_fieldNamesEdit = nullptr;
    QLineEdit* m_fieldTypesEdit = nullptr;
    QComboBox* m_delimiterBox = nullptr;
    QPushButton* m_browseIndexFilesButton = nullptr;
    QPushButton* m_browseXmlFilePathButton = nullptr;
    QPushButton* m_browseImageFolderButton = nullptr;
    QPushButton* m_runButton = nullptr;
    QWidget* m_panelStrip = nullptr;
    StatusPanel* m_panels[2] = {nullptr, nullptr};
    int m_panelTwips[2] = {0, 0};

    QAction* m_convertAction = nullptr;
    QAction* m_removeProcessedAction = nullptr;
    QAction* m_allowDuplicatesAction = nullptr;
    QAction* m_skipHeaderAction = nullptr;
    QAction* m_promptWhenFinishedAction = nullptr;
    QAction* m_autoCreateSubfoldersAction = nullptr;

    std::vector<TextBinding> m_textBindings;
    std::vector<SwitchBinding> m_switchBindings;
    std::map<const QWidget*, TwipRect> m_rects;
    std::vector<QLabel*> m_labels;
    bool m_showing = false;
    Qt::FocusReason m_numberLeftBy = Qt::OtherFocusReason;
    QWidget* m_pressTakenByWarning = nullptr;
    bool m_converting = false;
    ConvertCommand m_convertCommand;
    std::function<void()> m_closing;
    std::string m_programFolder;
    std::string m_documentationFolder;
    // The outer size asked for in twips, kept until the frame's size is known so it can be honoured.
    std::optional<QSize> m_requestedOuter;
    QMargins m_appliedFrame;
    struct KeptOuter
    {
        QSize twips;  // as stored
        QSize pixels; // the outer size the window took for it, grown to fit
    };
    std::optional<KeptOuter> m_keptOuter;
    std::optional<int> m_keptLeft;
    std::optional<int> m_keptTop;
};

} // namespace tollavar
