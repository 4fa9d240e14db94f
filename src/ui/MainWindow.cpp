#include "ui/MainWindow.h"

#include "app/SignalStop.h"
#include "app/Startup.h"
#include "batch/ConfigFile.h"
#include "batch/Defaults.h"
#include "batch/FileDialog.h"
#include "engine/NumberText.h"
#include "engine/Prompter.h"
#include "engine/StopRequest.h"
#include "filetools/Failure.h"
#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"
#include "ui/AboutBox.h"
#include "ui/GraphicalButton.h"
#include "ui/Icons.h"
#include "ui/StatusPanel.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tollavar {

namespace {

constexpr const char* kProgramTitle = "Tollavar";
constexpr int kClientWidth = 5715;
constexpr int kClientHeight = 7005;
constexpr int kStatusBarHeight = 375;
// Room kept between a label's text and the next control on its row.
constexpr int kLabelGap = 60;

struct Placement
{
    const char* name;
    TwipRect rect;
};

// Where every control sits, in twips from the top-left corner of the client area below the menu bar.
constexpr Placement kPlacements[] = {
    {"Label1", {120, 120, 2655, 255}},           {"txtIDX", {120, 360, 4455, 375}},
    {"cmdBrowseIDX", {4680, 300, 900, 500}},     {"Label2", {120, 840, 2655, 255}},
    {"txtXML", {120, 1080, 4455, 375}},          {"cmdBrowseXML", {4680, 1020, 900, 500}},
    {"Label11", {120, 1560, 2655, 255}},         {"txtImageFolder", {120, 1800, 4455, 375}},
    {"cmdBrowseFolder", {4680, 1740, 900, 500}}, {"Label3", {120, 2280, 1995, 255}},
    {"txtDGNUMBER", {120, 2520, 1995, 375}},     {"Label10", {2280, 2280, 1995, 255}},
    {"txtMaxFiles", {2280, 2520, 1995, 375}},    {"cmdRun", {4560, 2760, 900, 735}},
    {"Label4", {120, 3000, 1995, 255}},          {"txtDGCOMPNAME", {120, 3240, 2000, 375}},
    {"Label5", {2280, 3000, 1995, 255}},         {"txtDGCOMPID", {2280, 3240, 2000, 375}},
    {"Label7", {120, 3720, 1995, 255}},          {"txtNAME", {120, 3960, 2000, 375}},
    {"Label6", {2280, 3720, 1995, 255}},         {"txtPROJID", {2280, 3960, 2000, 375}},
    {"Label12", {120, 4440, 1995, 255}},         {"cboDelimiter", {120, 4680, 2055, 315}},
    {"Label13", {2280, 4500, 2055, 450}},        {"Label8", {120, 5160, 3615, 255}},
    {"txtFNAMES", {120, 5400, 5415, 375}},       {"Label9", {120, 5880, 4455, 255}},
    {"txtFTYPES", {120, 6120, 5415, 375}},
};

TwipRect designRect(const char* name)
{
    for (const Placement& p : kPlacements)
        if (std::string_view(p.name) == name)
            return p.rect;
    return {};
}

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A menu caption shows "&" as an access-key marker; a name from the build settings means it literally.
QString literalCaption(const char* text)
{
    return QString::fromUtf8(text).replace("&", "&&");
}

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
      m_store(store), m_commands{settings, ConfigFile, flags, fileTools, prompter, *this, dialog},
      m_programFolder(QCoreApplication::applicationDirPath().toStdString()), m_documentationFolder(TOLLAVAR_DOC_DIR)
{
    setObjectName("frmTollavar");
    setWindowTitle(kProgramTitle);
    setWindowIcon(programIcon());

    buildControls();
    buildMenus();
    chooseFont();
    fitLabels();
    showSettings();

    resize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight) + menuBar()->sizeHint().height());
    txtIDX->setFocus();

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
    txtIDX = addTextBox("txtIDX", &ConversionSettings::txtIDX);
    cmdBrowseIDX = addBrowseButton("cmdBrowseIDX");
    addLabel("Label2", tr("XML Datagroup File"));
    txtXML = addTextBox("txtXML", &ConversionSettings::txtXML);
    cmdBrowseXML = addBrowseButton("cmdBrowseXML");
    addLabel("Label11", tr("Image Folder"));
    txtImageFolder = addTextBox("txtImageFolder", &ConversionSettings::txtImageFolder);
    cmdBrowseFolder = addBrowseButton("cmdBrowseFolder");
    addLabel("Label3", tr("Datagroup Number"));
    txtDGNUMBER = addTextBox("txtDGNUMBER", &ConversionSettings::txtDGNUMBER);
    addLabel("Label10", tr("Max Files per Datagroup"));
    txtMaxFiles = addTextBox("txtMaxFiles", &ConversionSettings::txtMaxFiles);

    cmdRun = new GraphicalButton(client);
    cmdRun->setObjectName("cmdRun");
    cmdRun->setText(tr("&Run"));
    cmdRun->setIcon(trafficLightIcon());
    cmdRun->setDefault(true);
    place(cmdRun, designRect("cmdRun"));

    addLabel("Label4", tr("Datagroup Company Name"));
    txtDGCOMPNAME = addTextBox("txtDGCOMPNAME", &ConversionSettings::txtDGCOMPNAME);
    addLabel("Label5", tr("Datagroup Company ID"));
    txtDGCOMPID = addTextBox("txtDGCOMPID", &ConversionSettings::txtDGCOMPID);
    addLabel("Label7", tr("Project Name"));
    txtNAME = addTextBox("txtNAME", &ConversionSettings::txtNAME);
    addLabel("Label6", tr("Project ID"));
    txtPROJID = addTextBox("txtPROJID", &ConversionSettings::txtPROJID);

    addLabel("Label12", tr("Delimiter"));
    cboDelimiter = new QComboBox(client);
    cboDelimiter->setObjectName("cboDelimiter");
    cboDelimiter->setEditable(true);
    cboDelimiter->addItems({",", "Tab", "|", ";"});
    // Typed text stays exactly as typed: no completion ("t" must not become "Tab") and no new items.
    cboDelimiter->setCompleter(nullptr);
    cboDelimiter->setInsertPolicy(QComboBox::NoInsert);
    cboDelimiter->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
    cboDelimiter->lineEdit()->installEventFilter(this);
    connect(cboDelimiter->lineEdit(), &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!m_showing)
            settings.cboDelimiter = text.toStdString();
    });
    place(cboDelimiter, designRect("cboDelimiter"));
    QLabel* quotes = addLabel("Label13", tr("Quotes detected automatically"));
    quotes->setWordWrap(true);

    addLabel("Label8", tr("Field Names ( list in order, separate values with | )"));
    txtFNAMES = addTextBox("txtFNAMES", &ConversionSettings::txtFNAMES);
    addLabel("Label9", tr("Field Types ( list in order, separate values with | )"));
    txtFTYPES = addTextBox("txtFTYPES", &ConversionSettings::txtFTYPES);

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

    connect(cmdBrowseIDX, &QPushButton::clicked, this, &MainWindow::cmdBrowseIDX_Click);
    connect(cmdBrowseXML, &QPushButton::clicked, this, &MainWindow::cmdBrowseXML_Click);
    connect(cmdBrowseFolder, &QPushButton::clicked, this, &MainWindow::cmdBrowseFolder_Click);
    connect(cmdRun, &QPushButton::clicked, this, &MainWindow::mConvert_Click);

    const std::vector<QWidget*> focusOrder = {
        txtIDX,          txtXML,         txtDGNUMBER,  txtDGCOMPNAME, txtDGCOMPID, txtPROJID,
        txtNAME,         cmdBrowseIDX,   cmdBrowseXML, txtFNAMES,     txtFTYPES,   txtMaxFiles,
        cmdBrowseFolder, txtImageFolder, cboDelimiter, cmdRun,
    };
    for (std::size_t i = 0; i + 1 < focusOrder.size(); ++i)
        setTabOrder(focusOrder[i], focusOrder[i + 1]);
}

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
    addCommand(mFile, "mNew", tr("&New"), &MainWindow::mNew_Click);
    addCommand(mFile, "mOpen", tr("&Open"), &MainWindow::mOpen_Click);
    addCommand(mFile, "mSaveConfig", tr("&Save"), &MainWindow::mSaveConfig_Click);
    addCommand(mFile, "mSave", tr("Save &As..."), &MainWindow::mSave_Click);
    mFile->addSeparator()->setObjectName("mSep1");
    mConvert = addCommand(mFile, "mConvert", tr("&Convert File"), &MainWindow::mConvert_Click);
    mFile->addSeparator()->setObjectName("mSep2");
    addCommand(mFile, "mExit", tr("E&xit"), &MainWindow::mExit_Click);

    QMenu* mOptions = menuBar()->addMenu(tr("&Options"));
    mOptions->setObjectName("mOptions");
    mRemove = addSwitch(mOptions, "mRemove", tr("&Remove Processed Files"), &ConversionSettings::mRemove);
    mAllowDupes = addSwitch(mOptions, "mAllowDupes", tr("&Allow Duplicates"), &ConversionSettings::mAllowDupes);
    mSkipHeader = addSwitch(mOptions, "mSkipHeader", tr("&Skip Header Row"), &ConversionSettings::mSkipHeader);
    mPrompt = addSwitch(mOptions, "mPrompt", tr("&Prompt When Finished"), &ConversionSettings::mPrompt);
    // Shown but never changed by the user: only defaults and configuration files set it.
    mAutoSub = mOptions->addAction(tr("&Auto-Create Subfolders"));
    mAutoSub->setObjectName("mAutoSub");
    mAutoSub->setCheckable(true);
    mAutoSub->setEnabled(false);

    QMenu* mHelp = menuBar()->addMenu(tr("&Help"));
    mHelp->setObjectName("mHelp");
    addCommand(mHelp, "mViewManual", tr("View &Manual"), &MainWindow::mViewManual_Click);
    addCommand(mHelp, "mQuenbrook", tr("&Visit ") + literalCaption(TOLLAVAR_WEBSITE_NAME),
               &MainWindow::mQuenbrook_Click);
    addCommand(mHelp, "mAbout", tr("&About Tollavar"), &MainWindow::mAbout_Click);
}

namespace {

// How far a label's text may run: up to the next control on its row, or the right margin.
int labelLimit(const TwipRect& label, const char* labelName)
{
    int limit = kClientWidth - 120;
    for (const Placement& p : kPlacements) {
        if (std::string_view(p.name) == labelName)
            continue;
        const TwipRect& r = p.rect;
        const bool sameRow = r.top < label.top + label.height && r.top + r.height > label.top;
        if (sameRow && r.left > label.left)
            limit = std::min(limit, r.left - kLabelGap);
    }
    return limit;
}

} // namespace

void MainWindow::chooseFont()
{
    // The layout was drawn for a small dialog font. Keep the desktop's family and size, and step the
    // size down only as far as every caption needs to fit where it stands.
    QFont font = QApplication::font();
    if (font.pointSizeF() <= 0)
        font.setPointSizeF(9);
    auto fits = [this](const QFont& candidate) {
        const QFontMetricsF metrics(candidate);
        for (QLabel* label : m_labels) {
            const TwipRect rect = m_rects.at(label);
            const double height = twipsToPixels(rect.height);
            if (label->wordWrap()) {
                const QRectF needed = metrics.boundingRect(QRectF(0, 0, twipsToPixels(rect.width), 1000),
                                                           Qt::TextWordWrap, label->text());
                if (needed.height() > height)
                    return false;
                continue;
            }
            const int limit = twipsToPixels(labelLimit(rect, label->objectName().toUtf8().constData()) - rect.left);
            if (metrics.horizontalAdvance(label->text()) > limit || metrics.height() > height + 1)
                return false;
        }
        const double browse = twipsToPixels(designRect("cmdBrowseIDX").width);
        return metrics.horizontalAdvance(tr("Browse")) + 8 <= browse;
    };
    const double largest = font.pointSizeF();
    for (double size = largest; size >= 6.5; size -= 0.5) {
        font.setPointSizeF(size);
        if (fits(font))
            break;
    }
    setFont(font);
}

void MainWindow::fitLabels()
{
    // A label keeps its place; where the font runs wider than the layout's, it widens into the free
    // room on its row rather than cut its caption.
    const QFontMetricsF metrics(font());
    for (QLabel* label : m_labels) {
        if (label->wordWrap())
            continue;
        const TwipRect rect = m_rects.at(label);
        const int designPixels = label->width();
        const int needed = static_cast<int>(std::ceil(metrics.horizontalAdvance(label->text()))) + 1;
        const int limit = twipsToPixels(labelLimit(rect, label->objectName().toUtf8().constData())) - label->x();
        label->resize(std::max(designPixels, std::min(needed, limit)), label->height());
    }
}

void MainWindow::place(QWidget* widget, TwipRect rect)
{
    m_rects[widget] = rect;
    // Both edges are rounded, so neighbours that meet in twips meet in pixels too.
    const int x = twipsToPixels(rect.left);
    const int y = twipsToPixels(rect.top);
    widget->setGeometry(x, y, std::max(0, twipsToPixels(rect.right()) - x),
                        std::max(0, twipsToPixels(rect.top + rect.height) - y));
}

void MainWindow::setControlWidth(QWidget* widget, int twips)
{
    TwipRect rect = m_rects.at(widget);
    rect.width = twips;
    place(widget, rect);
}

void MainWindow::setControlLeft(QWidget* widget, int twips)
{
    TwipRect rect = m_rects.at(widget);
    rect.left = twips;
    place(widget, rect);
}

void MainWindow::setPanelWidths(int twips)
{
    m_panelTwips[0] = twips;
    m_panelTwips[1] = twips;
    const int height = m_panelStrip->height();
    int left = 0;
    for (int i = 0; i < 2; ++i) {
        const int x = twipsToPixels(left);
        m_panels[i]->setGeometry(x, 0, twipsToPixels(left + m_panelTwips[i]) - x, height);
        left += m_panelTwips[i];
    }
}

TwipRect MainWindow::controlRect(const QString& name) const
{
    if (name == "sb") {
        const QStatusBar* bar = statusBar();
        const int clientTop = centralWidget()->y();
        return {0, pixelsToTwips(bar->y() - clientTop), pixelsToTwips(bar->width()), pixelsToTwips(bar->height())};
    }
    const auto* widget = findChild<QWidget*>(name);
    const auto it = widget ? m_rects.find(widget) : m_rects.end();
    return it == m_rects.end() ? TwipRect{} : it->second;
}

int MainWindow::panelWidth(int panel) const
{
    return panel == 1 || panel == 2 ? m_panelTwips[panel - 1] : 0;
}

QString MainWindow::panelText(int panel) const
{
    return panel == 1 || panel == 2 ? m_panels[panel - 1]->text() : QString();
}

void MainWindow::Form_Resize()
{
    applyResizeRules(windowWidth());
}

void MainWindow::applyResizeRules(int outerWidth)
{
    const ResizeLayout layout = computeResizeLayout(outerWidth, m_rects.at(txtIDX).left);
    setControlWidth(txtImageFolder, layout.pathBoxWidth);
    setControlWidth(txtXML, layout.pathBoxWidth);
    setControlWidth(txtIDX, layout.pathBoxWidth);
    setControlWidth(txtFNAMES, layout.listBoxWidth);
    setControlWidth(txtFTYPES, layout.listBoxWidth);
    setControlLeft(cmdBrowseIDX, layout.browseLeft);
    setControlLeft(cmdBrowseXML, layout.browseLeft);
    setControlLeft(cmdBrowseFolder, layout.browseLeft);
    setPanelWidths(layout.panelWidth);
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

// ---- Window rectangle -------------------------------------------------------------------------

void MainWindow::setWindowLeft(int twips)
{
    move(twipsToPixels(twips), pos().y());
}

void MainWindow::setWindowTop(int twips)
{
    move(pos().x(), twipsToPixels(twips));
}

void MainWindow::setWindowWidth(int twips)
{
    m_requestedOuter = QSize(twips, m_requestedOuter ? m_requestedOuter->height() : windowHeight());
    applyOuterSize();
}

void MainWindow::setWindowHeight(int twips)
{
    m_requestedOuter = QSize(m_requestedOuter ? m_requestedOuter->width() : windowWidth(), twips);
    applyOuterSize();
}

void MainWindow::applyOuterSize()
{
    if (!m_requestedOuter)
        return;
    // The stored size is the outer one. The frame is known only once the window is on the screen, so
    // the size is applied again then; otherwise every run would grow the window by its frame.
    const QSize frame = frameGeometry().size() - geometry().size();
    m_appliedFrame = QMargins(0, 0, frame.width(), frame.height());
    resize(std::max(1, twipsToPixels(m_requestedOuter->width()) - frame.width()),
           std::max(1, twipsToPixels(m_requestedOuter->height()) - frame.height()));
}

bool MainWindow::event(QEvent* event)
{
    const bool handled = QMainWindow::event(event);
    if (m_requestedOuter && isVisible() &&
        (event->type() == QEvent::Move || event->type() == QEvent::Resize || event->type() == QEvent::Show)) {
        const QSize frame = frameGeometry().size() - geometry().size();
        if (frame.width() != m_appliedFrame.right() || frame.height() != m_appliedFrame.bottom()) {
            applyOuterSize();
            m_requestedOuter.reset();
        }
    }
    if (event->type() == QEvent::Show && m_requestedOuter)
        QTimer::singleShot(2000, this, [this] { m_requestedOuter.reset(); });
    return handled;
}

int MainWindow::windowLeft() const
{
    return pixelsToTwips(frameGeometry().x());
}

int MainWindow::windowTop() const
{
    return pixelsToTwips(frameGeometry().y());
}

int MainWindow::windowWidth() const
{
    return pixelsToTwips(frameGeometry().width());
}

int MainWindow::windowHeight() const
{
    return pixelsToTwips(frameGeometry().height());
}

bool MainWindow::isNormalState() const
{
    return !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

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
    const QString delimiter = fromUtf8(settings.cboDelimiter);
    if (cboDelimiter->currentText() != delimiter)
        cboDelimiter->setEditText(delimiter);
    for (const SwitchBinding& b : m_switchBindings)
        b.action->setChecked(settings.*b.field);
    mAutoSub->setChecked(settings.mAutoSub);
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

// ---- Keyboard and focus -----------------------------------------------------------------------

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_panelStrip) {
        if (event->type() == QEvent::Resize)
            setPanelWidths(m_panelTwips[0]);
        return false;
    }
    // Run is the default button: Enter in any text box or the delimiter box presses it. Taking the
    // key here also keeps the combo box from matching the text against its items.
    if (isEnterKey(event)) {
        cmdRun->click();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::onFocusChanged(QWidget* old, QWidget* now)
{
    // Only a move to another control of this window counts: opening a menu, the menu bar taking the
    // keyboard or another window becoming active leaves the number unchecked.
    if (old != txtDGNUMBER || !now || now == txtDGNUMBER || now->window() != this)
        return;
    if (now == menuBar() || menuBar()->isAncestorOf(now))
        return;
    txtDGNUMBER_Validate();
}

void MainWindow::txtDGNUMBER_Validate()
{
    if (!IsNumeric(txtDGNUMBER->text().toStdString()))
        m_prompter.ask(
            Message{"Datagroup Number must be a number!", kProgramTitle, MessageIcon::None, MessageButtons::Ok});
}

// ---- Browse commands --------------------------------------------------------------------------

void MainWindow::cmdBrowseIDX_Click()
{
    FileDialogRequest request;
    request.kind = FileDialogRequest::Kind::Open;
    request.filter =
        "Quenbrook Index File (*.idx)|*.idx|Text Files (*.txt)|*.txt|CSV Files (*.csv)|*.csv| All Files (*.*)|*.*";
    request.filterIndex = 1;
    request.initialFileName = settings.txtIDX;
    request.title = "Select Index File";
    // A cancelled dialog still holds the initial name, and that is what is written back.
    const std::string chosen = m_dialog.show(request).value_or(request.initialFileName);
    settings.txtIDX = chosen;
    showSettings();
}

void MainWindow::cmdBrowseXML_Click()
{
    FileDialogRequest request;
    request.kind = FileDialogRequest::Kind::Save;
    request.filter = "XML Files (*.xml)|*.xml|All Files (*.*)|*.*";
    request.filterIndex = 1;
    request.initialFileName = settings.txtXML;
    request.title = "Select Datagroup Folder";
    const std::optional<std::string> chosen = m_dialog.show(request);
    const std::string folder = FileTools::GetFPath(chosen.value_or(request.initialFileName));
    // Cancelling with a name that has no folder would turn it into a file at the root of the disk;
    // the user asked for no change, so there is none.
    if (!chosen && folder.empty())
        return;
    settings.txtXML = folder + "/DATAGRP.XML";
    showSettings();
}

void MainWindow::cmdBrowseFolder_Click()
{
    FileDialogRequest request;
    request.kind = FileDialogRequest::Kind::Open;
    request.filter = "All Files (*.*)|*.*";
    request.filterIndex = 1;
    request.initialFileName = !settings.txtImageFolder.empty()
                                  ? settings.txtImageFolder + "/Select Folder"
                                  : FileTools::GetFPath(settings.txtIDX) + "/Select Folder";
    request.title = "Select Input Folder";
    // Only the folder of the answer counts: the dialog serves as a folder picker.
    settings.txtImageFolder = FileTools::GetFPath(m_dialog.show(request).value_or(request.initialFileName));
    showSettings();
}

// ---- Options ----------------------------------------------------------------------------------

void MainWindow::mRemove_Click()
{
    mRemove->trigger();
}

void MainWindow::mAllowDupes_Click()
{
    mAllowDupes->trigger();
}

void MainWindow::mSkipHeader_Click()
{
    mSkipHeader->trigger();
}

void MainWindow::mPrompt_Click()
{
    mPrompt->trigger();
}

// ---- Help -------------------------------------------------------------------------------------

void MainWindow::setManualFolders(std::string programFolder, std::string documentationFolder)
{
    m_programFolder = std::move(programFolder);
    m_documentationFolder = std::move(documentationFolder);
}

void MainWindow::report(const std::string& text)
{
    m_prompter.ask(Message{text, kProgramTitle, MessageIcon::Warning, MessageButtons::Ok});
}

void MainWindow::startDocument(const std::string& target, const std::string& what)
{
    try {
        m_fileTools.StartDoc(target);
    } catch (const std::exception& failure) {
        report("Tollavar could not open " + what + ":\r" + target + "\r\r" + failure.what() +
               "\r\rCheck that a program for it is installed, or open it yourself.");
    }
}

void MainWindow::mViewManual_Click()
{
    const std::string inProgramFolder = m_programFolder + "/TLManual.pdf";
    const std::string installed = m_documentationFolder + "/TLManual.pdf";
    if (files::fileExists(inProgramFolder)) {
        startDocument(inProgramFolder, "the user manual");
    } else if (!m_documentationFolder.empty() && files::fileExists(installed)) {
        startDocument(installed, "the user manual");
    } else {
        report("The user manual TLManual.pdf was not found. Tollavar looked for it in:\r" + m_programFolder + "\r" +
               m_documentationFolder);
    }
}

void MainWindow::mQuenbrook_Click()
{
    startDocument(TOLLAVAR_WEBSITE_URL, "the web site");
}

void MainWindow::mAbout_Click()
{
    AboutBox box(this);
    box.exec();
}

// ---- File menu --------------------------------------------------------------------------------

void MainWindow::mNew_Click()
{
    tollavar::mNew_Click(settings, ConfigFile);
    showSettings();
}

void MainWindow::mOpen_Click()
{
    tollavar::mOpen_Click(m_commands);
    showSettings();
}

void MainWindow::mSaveConfig_Click()
{
    tollavar::mSaveConfig_Click(m_commands);
}

void MainWindow::mSave_Click()
{
    tollavar::mSave_Click(m_commands);
}

void MainWindow::mConvert_Click()
{
    // The window keeps taking input during a run; a second start would run inside the first.
    if (m_converting)
        return;
    {
        QScopedValueRollback<bool> running(m_converting, true);
        SignalStopGuard stopOnSignal;
        try {
            if (m_convertCommand)
                m_convertCommand(m_commands);
            else
                tollavar::mConvert_Click(m_commands);
        } catch (const std::exception& failure) {
            m_prompter.ask(Message{failure.what(), std::string("Error in Convert - ") + kProgramTitle,
                                   MessageIcon::Error, MessageButtons::Ok});
        }
    }
    // A full datagroup advanced the number.
    showSettings();
    // A stop asked by a signal ends the program once the run has taken its failure path.
    if (StopRequested())
        QCoreApplication::exit(1);
}

void MainWindow::mExit_Click()
{
    close();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_converting) {
        event->ignore();
        report("A conversion is running. Close Tollavar when it has finished.");
        return;
    }
    Form_Unload(*this);
    m_requestedOuter.reset();
    event->accept();
}

} // namespace tollavar
