// Where the controls stand: twips to pixels, the resize rules, the status panels and the window
// rectangle that start-up restores and closing stores.
#include "ui/MainWindow.h"

#include "ui/DesignLayout.h"
#include "ui/StatusPanel.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tollavar {

void MainWindow::fitLabels()
{
    // A label keeps its place; where the font runs wider than the layout's, it widens into the free
    // room on its row rather than cut its caption.
    const QFontMetricsF metrics(QApplication::font());
    for (QLabel* label : m_labels) {
        if (label->wordWrap())
            continue;
        const TwipRect rect = m_rects.at(label);
        const int designPixels = label->width();
        const int needed = static_cast<int>(std::ceil(metrics.horizontalAdvance(label->text()))) + 1;
        const int limit = twipsToPixels(labelLimit(rect, label->objectName().toStdString())) - label->x();
        label->resize(std::max(designPixels, std::min(needed, limit)), label->height());
    }
    // Each caption is drawn a pixel deep into the box beneath it; its empty bottom row stops there.
    for (QLabel* label : m_labels) {
        int bottom = label->geometry().bottom() + 1;
        for (const auto& [other, rect] : m_rects) {
            const QRect o = other->geometry();
            if (other != label && o.top() > label->y() && o.left() < label->geometry().right() &&
                o.right() > label->x())
                bottom = std::min(bottom, o.top());
        }
        label->resize(label->width(), bottom - label->y());
    }
}

void MainWindow::placeAtScale()
{
    for (QWidget* control : centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const auto it = m_rects.find(control);
        if (it != m_rects.end())
            place(control, it->second);
    }
    statusBar()->setFixedHeight(twipsToPixels(kStatusBarHeight));
    setPanelWidths(m_panelTwips[0]);
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
    // Together the panels are as wide as the outer window, wider than the bar; a panel that would
    // run past the bar's end stops there, so its frame is drawn whole instead of cut off.
    const int available = m_panelStrip->width();
    int left = 0;
    for (int i = 0; i < 2; ++i) {
        const int x = std::min(twipsToPixels(left), available);
        const int right = std::min(twipsToPixels(left + m_panelTwips[i]), available);
        m_panels[i]->setGeometry(x, 0, right - x, height);
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

void MainWindow::resizeControls()
{
    // The size the window really has, which may be larger than the one stored.
    applyResizeRules(pixelsToTwips(frameGeometry().width()));
}

void MainWindow::applyResizeRules(int outerWidth)
{
    const ResizeLayout layout = computeResizeLayout(outerWidth, m_rects.at(m_indexFilesEdit).left);
    setControlWidth(m_imageFolderEdit, layout.pathBoxWidth);
    setControlWidth(m_xmlFilePathEdit, layout.pathBoxWidth);
    setControlWidth(m_indexFilesEdit, layout.pathBoxWidth);
    setControlWidth(m_fieldNamesEdit, layout.listBoxWidth);
    setControlWidth(m_fieldTypesEdit, layout.listBoxWidth);
    setControlLeft(m_browseIndexFilesButton, layout.browseLeft);
    setControlLeft(m_browseXmlFilePathButton, layout.browseLeft);
    setControlLeft(m_browseImageFolderButton, layout.browseLeft);
    setPanelWidths(layout.panelWidth);
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    resizeControls();
}

// ---- Window rectangle -------------------------------------------------------------------------

void MainWindow::setWindowLeft(int twips)
{
    move(twipsToPixels(twips), pos().y());
    m_keptLeft = twips;
}

void MainWindow::setWindowTop(int twips)
{
    move(pos().x(), twipsToPixels(twips));
    m_keptTop = twips;
}

// At a scale of 1.25 or 1.5 the window manager places the frame on a device pixel, which can read
// back one pixel off the position asked for; the stored edge stays as it was unless the user moved it.
int MainWindow::keptEdge(const std::optional<int>& kept, int framePixels)
{
    if (kept && std::abs(framePixels - twipsToPixels(*kept)) <= 1)
        return *kept;
    return pixelsToTwips(framePixels);
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
    // The stored outer size assumes a frame, title bar and menu bar as thin as the default size was
    // drawn for; under thicker ones the status bar would cover the last row. The window grows by that
    // excess alone, so a smaller stored window stays smaller, and keeps reporting the stored size
    // until the user resizes it, so that closing does not write the grown size back.
    const QSize excess = chromeExcess();
    const QSize inner(std::max(1, twipsToPixels(m_requestedOuter->width()) - frame.width() + excess.width()),
                      std::max(1, twipsToPixels(m_requestedOuter->height()) - frame.height() + excess.height()));
    resize(inner);
    m_keptOuter = KeptOuter{*m_requestedOuter, inner + frame};
}

QSize MainWindow::chromeExcess() const
{
    const QSize frame = frameGeometry().size() - geometry().size();
    const int chromeHeight = frame.height() + menuBar()->sizeHint().height();
    return {std::max(0, frame.width() - twipsToPixels(kDesignFrameWidth)),
            std::max(0, chromeHeight - twipsToPixels(kDesignFrameHeight))};
}

QSize MainWindow::designClientSize() const
{
    return {twipsToPixels(kClientWidth), twipsToPixels(kClientHeight) + menuBar()->sizeHint().height()};
}

std::optional<QSize> MainWindow::keptOuterTwips() const
{
    // At a scale of 1.25 or 1.5 the window manager sizes the frame in device pixels, which can read
    // back one pixel off the size asked for; a resize by the user moves further than that.
    const QSize now = frameGeometry().size();
    if (m_keptOuter && std::abs(now.width() - m_keptOuter->pixels.width()) <= 1 &&
        std::abs(now.height() - m_keptOuter->pixels.height()) <= 1)
        return m_keptOuter->twips;
    return std::nullopt;
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
    return keptEdge(m_keptLeft, frameGeometry().x());
}

int MainWindow::windowTop() const
{
    return keptEdge(m_keptTop, frameGeometry().y());
}

// A size the user chose is stored as the next start restores it: without the chrome that start adds
// again, or the window would grow by it at every start.
int MainWindow::windowWidth() const
{
    const std::optional<QSize> kept = keptOuterTwips();
    return kept ? kept->width() : pixelsToTwips(frameGeometry().width() - chromeExcess().width());
}

int MainWindow::windowHeight() const
{
    const std::optional<QSize> kept = keptOuterTwips();
    return kept ? kept->height() : pixelsToTwips(frameGeometry().height() - chromeExcess().height());
}

bool MainWindow::isNormalState() const
{
    return !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

} // namespace tollavar
