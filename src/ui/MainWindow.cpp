#include "ui/MainWindow.h"

#include "engine/NumberText.h"
#include "ui/DesignLayout.h"
#include "ui/GraphicalButton.h"
#include "ui/Icons.h"
#include "ui/MessageTable.h"
#include "ui/ProgramFont.h"
#include "ui/StatusPanel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <limits>

namespace tollavar {

namespace {

bool isEnterKey(const QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<const QKeyEvent*>(event);
    const Qt::KeyboardModifiers others = key->modifiers() & ~Qt::KeypadModifier;
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && others == Qt::NoModifier;
}

} // namespace

MainWindow::MainWindow(FileTools& fileTools, Prompter& prompter, FileDialog& dialog, SettingsStore& store,
                       QWidget* parent)
    : QMainWindow(parent), m_fileTools(fileTools), m_prompter(prompter), m_dialog(dialog),
      m_store(store), m_commands{settings, configFile, flags, fileTools, prompter, *this, dialog, messageTable()},
      m_programFolder(QCoreApplication::applicationDirPath().toStdString()), m_documentationFolder(TOLLAVAR_DOC_DIR)
{
    setObjectName("frmTollavar");
    setWindowTitle(kProgramTitle);
    setWindowIcon(programIcon());

    buildControls();
    buildMenus();
    // Text stays at the desktop's size, as in menus and file dialogs; the layout grows with it, as
    // it did under large fonts on the platform it was drawn on.
    setLayoutScale(layoutScaleForFont(QApplication::font(), m_labels));
    placeAtScale();
    fitLabels();
    showSettings();

    resize(designClientSize());
    m_indexFilesEdit->setFocus();

    connect(qApp, &QApplication::focusChanged, this, &MainWindow::onFocusChanged);
}

MainWindow::~MainWindow()
{
    // The children die after this body, and their focus changes must not reach a half-destroyed window.
    disconnect(qApp, &QApplication::focusChanged, this, &MainWindow::onFocusChanged);
}

QLineEdit* MainWindow::addTextBox(const char* name, std::string ConversionSettings::*field)
{
    auto* edit = new QLineEdit(centralWidget());
    edit->setObjectName(name);
    // No length limit: a long list of index files must come back exactly as it went in.
    edit->setMaxLength(std::numeric_limits<int>::max());
    place(edit, designRect(name));
    m_textBindings.push_back({edit, field});
    connect(edit, &QLineEdit::textChanged, this, [this, field](const QString& text) {
        if (!m_showing)
            settings.*field = text.toStdString();
    });
    edit->installEventFilter(this);
    return edit;
}

QPushButton* MainWindow::addBrowseButton(const char* name)
{
    auto* button = new QPushButton(tr("Browse"), centralWidget());
    button->setObjectName(name);
    button->setAutoDefault(false);
    place(button, designRect(name));
    return button;
}

QLabel* MainWindow::addLabel(const char* name, const QString& text)
{
    auto* label = new QLabel(text, centralWidget());
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(label, designRect(name));
    m_labels.push_back(label);
    return label;
}

void MainWindow::buildControls()
{
    auto* client = new QWidget(this);
    client->setObjectName("client");
    setCentralWidget(client);

    addLabel("Label1", tr("Index File"));
    m_indexFilesEdit = addTextBox("txtIDX", &ConversionSettings::indexFiles);
    m_browseIndexFilesButton = addBrowseButton("cmdBrowseIDX");
    addLabel("Label2", tr("XML Datagroup File"));
    m_xmlFilePathEdit = addTextBox("txtXML", &ConversionSettings::xmlFilePath);
    m_browseXmlFilePathButton = addBrowseButton("cmdBrowseXML");
    addLabel("Label11", tr("Image Folder"));
    m_imageFolderEdit = addTextBox("txtImageFolder", &ConversionSettings::imageFolder);
    m_browseImageFolderButton = addBrowseButton("cmdBrowseFolder");
    addLabel("Label3", tr("Datagroup Number"));
    m_datagroupNumberEdit = addTextBox("txtDGNUMBER", &ConversionSettings::datagroupNumber);
    addLabel("Label10", tr("Max Files per Datagroup"));
    m_maxDocumentsEdit = addTextBox("txtMaxFiles", &ConversionSettings::maxDocuments);

    m_runButton = new GraphicalButton(client);
    m_runButton->setObjectName("cmdRun");
    m_runButton->setText(tr("&Run"));
    m_runButton->setIcon(trafficLightIcon());
    m_runButton->setDefault(true);
    place(m_runButton, designRect("cmdRun"));

    addLabel("Label4", tr("Datagroup Company Name"));
    m_companyNameEdit = addTextBox("txtDGCOMPNAME", &ConversionSettings::companyName);
    addLabel("Label5", tr("Datagroup Company ID"));
    m_companyIdEdit = addTextBox("txtDGCOMPID", &ConversionSettings::companyId);
    addLabel("Label7", tr("Project Name"));
    m_projectNameEdit = addTextBox("txtNAME", &ConversionSettings::projectName);
    addLabel("Label6", tr("Project ID"));
    m_projectIdEdit = addTextBox("txtPROJID", &ConversionSettings::projectId);

    addLabel("Label12", tr("Delimiter"));
    m_delimiterBox = new QComboBox(client);
    m_delimiterBox->setObjectName("cboDelimiter");
    m_delimiterBox->setEditable(true);
    m_delimiterBox->addItems({",", "Tab", "|", ";"});
    // Typed text stays exactly as typed: no completion ("t" must not become "Tab") and no new items.
    m_delimiterBox->setCompleter(nullptr);
    m_delimiterBox->setInsertPolicy(QComboBox::NoInsert);
    m_delimiterBox->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
    m_delimiterBox->lineEdit()->installEventFilter(this);
    m_delimiterBox->installEventFilter(this);
    connect(m_delimiterBox->lineEdit(), &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!m_showing)
            settings.delimiter = text.toStdString();
    });
    place(m_delimiterBox, designRect("cboDelimiter"));
    QLabel* quotes = addLabel("Label13", tr("Quotes detected automatically"));
    quotes->setWordWrap(true);

    addLabel("Label8", tr("Field Names ( list in order, separate values with | )"));
    m_fieldNamesEdit = addTextBox("txtFNAMES", &ConversionSettings::fieldNames);
    addLabel("Label9", tr("Field Types ( list in order, separate values with | )"));
    m_fieldTypesEdit = addTextBox("txtFTYPES", &ConversionSettings::fieldTypes);

    auto* sb = new QStatusBar(this);
    sb->setObjectName("sb");
    sb->setFixedHeight(twipsToPixels(kStatusBarHeight));
    setStatusBar(sb);
    // The panels are each half the outer width, so together they overrun the bar and panel 2 is cut
    // at its right end; a strip without a layout lets them keep those widths.
    auto* strip = new QWidget(sb);
    strip->setObjectName("sbPanels");
    strip->setMinimumWidth(0);
    for (int i = 0; i < 2; ++i) {
        m_panels[i] = new StatusPanel(strip);
        m_panels[i]->setObjectName(QStringLiteral("sbPanel%1").arg(i + 1));
    }
    m_panelStrip = strip;
    strip->installEventFilter(this);
    sb->addWidget(strip, 1);
    setPanelWidths(computeResizeLayout(kClientWidth + 120, 120).panelWidth);

    // What a screen reader says for each control: its caption, the Browse buttons told apart by the box
    // they fill, and the status panels by what they show.
    const std::pair<QWidget*, QString> spoken[] = {
        {m_indexFilesEdit, tr("Index File")},
        {m_browseIndexFilesButton, tr("Browse for Index File")},
        {m_xmlFilePathEdit, tr("XML Datagroup File")},
        {m_browseXmlFilePathButton, tr("Browse for XML Datagroup File")},
        {m_imageFolderEdit, tr("Image Folder")},
        {m_browseImageFolderButton, tr("Browse for Image Folder")},
        {m_datagroupNumberEdit, tr("Datagroup Number")},
        {m_maxDocumentsEdit, tr("Max Files per Datagroup")},
        {m_runButton, tr("Run")},
        {m_companyNameEdit, tr("Datagroup Company Name")},
        {m_companyIdEdit, tr("Datagroup Company ID")},
        {m_projectNameEdit, tr("Project Name")},
        {m_projectIdEdit, tr("Project ID")},
        {m_delimiterBox, tr("Delimiter")},
        {m_fieldNamesEdit, tr("Field Names")},
        {m_fieldTypesEdit, tr("Field Types")},
        {m_panels[0], tr("Status")},
        {m_panels[1], tr("Current Image")},
    };
    for (const auto& [control, name] : spoken)
        control->setAccessibleName(name);

    connect(m_browseIndexFilesButton, &QPushButton::clicked, this, &MainWindow::browseForIndexFiles);
    connect(m_browseXmlFilePathButton, &QPushButton::clicked, this, &MainWindow::browseForXmlFilePath);
    connect(m_browseImageFolderButton, &QPushButton::clicked, this, &MainWindow::browseForImageFolder);
    connect(m_runButton, &QPushButton::clicked, this, &MainWindow::convertCommand);

    const std::vector<QWidget*> focusOrder = {
        m_indexFilesEdit,          m_xmlFilePathEdit, m_datagroupNumberEdit, m_companyNameEdit,
        m_companyIdEdit,           m_projectIdEdit,   m_projectNameEdit,     m_browseIndexFilesButton,
        m_browseXmlFilePathButton, m_fieldNamesEdit,  m_fieldTypesEdit,      m_maxDocumentsEdit,
        m_browseImageFolderButton, m_imageFolderEdit, m_delimiterBox,        m_runButton,
    };
    for (std::size_t i = 0; i + 1 < focusOrder.size(); ++i)
        setTabOrder(focusOrder[i], focusOrder[i + 1]);
}
// ---- Keyboard and focus -----------------------------------------------------------------------

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_pressTakenByWarning) {
        const QEvent::Type type = event->type();
        return type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
               type == QEvent::MouseButtonDblClick;
    }
    if (watched == m_datagroupNumberEdit && event->type() == QEvent::FocusOut)
        m_numberLeftBy = static_cast<QFocusEvent*>(event)->reason();
    if (watched == m_panelStrip) {
        if (event->type() == QEvent::Resize)
            setPanelWidths(m_panelTwips[0]);
        return false;
    }
    // Run is the default button: Enter in any text box or the delimiter box presses it. Taking the
    // key here also keeps the combo box from matching the text against its items. The delimiter
    // box hands keys to its editor directly, past any filter there, so the box itself is watched.
    if (isEnterKey(event)) {
        m_runButton->click();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::onFocusChanged(QWidget* old, QWidget* now)
{
    // Only a move to another control of this window counts: opening a menu, the menu bar taking the
    // keyboard or another window becoming active leaves the number unchecked.
    if (old != m_datagroupNumberEdit || !now || now == m_datagroupNumberEdit || now->window() != this)
        return;
    if (now == menuBar() || menuBar()->isAncestorOf(now))
        return;
    const bool warns = !isNumeric(m_datagroupNumberEdit->text().toStdString());
    checkDatagroupNumber();
    if (warns && m_numberLeftBy == Qt::MouseFocusReason && qobject_cast<QAbstractButton*>(now))
        clickAfterWarning(now);
}

void MainWindow::clickAfterWarning(QWidget* target)
{
    // The focus moves as the mouse press arrives, before the button sees it. The warning's modal loop
    // then takes the release, and the press still on its way would leave the button held down with
    // no click. That press is dropped and the click the user made is given once the warning is gone.
    m_pressTakenByWarning = target;
    target->installEventFilter(this);
    QTimer::singleShot(0, this, [this, button = QPointer<QAbstractButton>(qobject_cast<QAbstractButton*>(target))] {
        if (button)
            button->removeEventFilter(this);
        m_pressTakenByWarning = nullptr;
        if (button && button->isEnabled() && button->isVisible())
            button->click();
    });
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_converting) {
        event->ignore();
        m_prompter.ask(Prompt{MessageKind::ConversionStillRunning});
        return;
    }
    if (m_closing)
        m_closing();
    m_requestedOuter.reset();
    event->accept();
}

} // namespace tollavar
