// The main window as a window manager frames it, at the default stored size and at a smaller one.
// Run by run-under-openbox.sh on its own Xvfb display with openbox, once per scale and desktop font size.
#include "app/QtFileDialog.h"
#include "support/FakeDialog.h"
#include "support/FakePrompter.h"
#include "support/FakeServices.h"
#include "support/TempDir.h"
#include "ui/MainWindow.h"
#include "ui/ProgramFont.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace tollavar::testing {
namespace {

void settle(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

// A control's rectangle in the window's client coordinates.
QRect inWindow(const QWidget* widget, const QWidget* window)
{
    return QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
}

struct Placed
{
    std::string name;
    QRect rect;
};

TEST(WindowUnderAWindowManager, TextAtTheDesktopSizeAndEveryControlWholeAndClearOfTheOthers)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run this under a display (run-under-openbox.sh)";
    const char* expectedScale = std::getenv("TOLLAVAR_EXPECTED_SCALE");
    ASSERT_NE(expectedScale, nullptr);
    const char* desktopPoints = std::getenv("TOLLAVAR_DESKTOP_FONT_POINTS");
    ASSERT_NE(desktopPoints, nullptr);
    // The desktop's font, as a desktop's platform theme hands it to the program.
    QFont desktop = QApplication::font();
    desktop.setPointSizeF(std::atof(desktopPoints));
    QApplication::setFont(desktop);

    FakeServices services;
    FakePrompter prompter;
    FakeDialog dialog;
    MainWindow window(services.fileTools, prompter, dialog, services.store);
    // What start-up restores on a first run.
    window.setWindowLeft(105);
    window.setWindowTop(105);
    window.setWindowWidth(5835);
    window.setWindowHeight(7170);
    window.show();

    // The frame arrives from the window manager some time after the window is mapped.
    QElapsedTimer clock;
    clock.start();
    while (window.frameGeometry().size() == window.geometry().size() && clock.elapsed() < 10000)
        settle(50);
    ASSERT_NE(window.frameGeometry().size(), window.geometry().size()) << "no window manager framed the window";
    settle(500);

    const double scale = window.devicePixelRatioF();
    EXPECT_NEAR(scale, std::atof(expectedScale), 0.01) << "the display did not apply the scale asked for";
    SCOPED_TRACE("scale " + std::to_string(scale) + ", desktop font " + desktopPoints + " pt");

    // Text at the desktop's size, and the layout grown by that size over the largest at which the
    // captions fit the layout as drawn.
    EXPECT_EQ(window.font().pointSizeF(), desktop.pointSizeF());
    const QList<QLabel*> found = window.centralWidget()->findChildren<QLabel*>();
    const std::vector<QLabel*> labels(found.begin(), found.end());
    const double fitting = largestFittingPointSize(desktop, labels);
    if (QFontInfo(desktop).family() == "DejaVu Sans") {
        EXPECT_EQ(fitting, 7.5);
    }
    const double layout = desktop.pointSizeF() / fitting;
    EXPECT_NEAR(layoutScale(), layout, 1e-9);
    const auto* idx = window.findChild<QWidget*>("txtIDX");
    const auto* run = window.findChild<QWidget*>("cmdRun");
    EXPECT_NEAR(idx->y(), 360 * layout / 15, 1);
    EXPECT_NEAR(run->x(), 4560 * layout / 15, 1);
    EXPECT_NEAR(run->height(), 735 * layout / 15, 1);

    // The stored size is what the user chose, even when the window had to grow to hold its controls.
    EXPECT_EQ(window.windowLeft(), 105);
    EXPECT_EQ(window.windowTop(), 105);
    EXPECT_EQ(window.windowWidth(), 5835);
    EXPECT_EQ(window.windowHeight(), 7170);

    const QRect client(QPoint(0, 0), window.size());
    const QStatusBar* bar = window.statusBar();
    const QRect barRect = inWindow(bar, &window);
    EXPECT_TRUE(client.contains(barRect)) << "status bar outside the window";
    EXPECT_GE(barRect.top(), inWindow(window.menuBar(), &window).bottom());

    std::vector<Placed> controls;
    for (const QWidget* control : window.centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!control->isVisible())
            continue;
        controls.push_back({control->objectName().toStdString(), inWindow(control, &window)});
    }
    ASSERT_EQ(controls.size(), 29u);

    for (const Placed& c : controls) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(window.centralWidget()->geometry().contains(c.rect)) << "not inside the client area";
        EXPECT_FALSE(c.rect.intersects(barRect)) << "under the status bar";
        for (const Placed& other : controls) {
            if (&other == &c)
                continue;
            EXPECT_FALSE(c.rect.intersects(other.rect)) << "overlaps " << other.name;
        }
    }

    // Both panels stand whole inside the bar, frame included.
    for (const char* name : {"sbPanel1", "sbPanel2"}) {
        const auto* panel = bar->findChild<QWidget*>(name);
        ASSERT_NE(panel, nullptr) << name;
        EXPECT_GT(panel->width(), 0) << name;
        EXPECT_TRUE(barRect.contains(inWindow(panel, &window))) << name << " cut by the bar";
    }

    // A label shows its whole caption.
    for (const QLabel* label : window.centralWidget()->findChildren<QLabel*>()) {
        SCOPED_TRACE(label->objectName().toStdString());
        if (label->wordWrap())
            EXPECT_LE(label->heightForWidth(label->width()), label->height());
        else
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    }

    // Whatever the scale, the window, its menus and its dialogs use one text size.
    EXPECT_EQ(window.font(), QApplication::font());
    EXPECT_EQ(window.menuBar()->font(), QApplication::font());

    // A window stored smaller than the layout stays smaller: it grows only by the frame, title bar and
    // menu bar beyond what the stored size allowed for.
    MainWindow small(services.fileTools, prompter, dialog, services.store);
    small.setWindowLeft(600);
    small.setWindowTop(600);
    small.setWindowWidth(3000);
    small.setWindowHeight(4000);
    small.show();
    clock.restart();
    while (small.frameGeometry().size() == small.geometry().size() && clock.elapsed() < 10000)
        settle(50);
    settle(500);
    const QSize frame = small.frameGeometry().size() - small.geometry().size();
    const int chrome = frame.height() + small.menuBar()->height();
    // To a pixel: at a scale of 1.25 or 1.5 the window manager rounds to device pixels.
    EXPECT_NEAR(small.frameGeometry().width(),
                twipsToPixels(3000) + std::max(0, frame.width() - twipsToPixels(5835 - 5715)), 1);
    EXPECT_NEAR(small.frameGeometry().height(), twipsToPixels(4000) + std::max(0, chrome - twipsToPixels(7170 - 7005)),
                1);
    EXPECT_LT(small.frameGeometry().height(), window.frameGeometry().height());
    EXPECT_EQ(small.windowWidth(), 3000);
    EXPECT_EQ(small.windowHeight(), 4000);
}

// Shown, framed by the window manager, and settled.
void showFramed(MainWindow& window)
{
    window.show();
    QElapsedTimer clock;
    clock.start();
    while (window.frameGeometry().size() == window.geometry().size() && clock.elapsed() < 10000)
        settle(50);
    settle(500);
}

// Each start restores what the last one stored on closing: a size the user chose stays that size.
TEST(WindowUnderAWindowManager, AResizedWindowKeepsItsSizeOverRestarts)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run this under a display (run-under-openbox.sh)";
    FakeServices services;
    FakePrompter prompter;
    FakeDialog dialog;
    int stored[4] = {105, 105, 5835, 7170};
    QSize chosen;
    for (int start = 0; start < 4; ++start) {
        SCOPED_TRACE("start " + std::to_string(start));
        MainWindow window(services.fileTools, prompter, dialog, services.store);
        window.setWindowLeft(stored[0]);
        window.setWindowTop(stored[1]);
        window.setWindowWidth(stored[2]);
        window.setWindowHeight(stored[3]);
        showFramed(window);
        if (start == 0) {
            window.resize(window.size() + QSize(40, 60)); // the user drags the corner
            settle(500);
            chosen = window.frameGeometry().size();
        } else {
            EXPECT_NEAR(window.frameGeometry().width(), chosen.width(), 1);
            EXPECT_NEAR(window.frameGeometry().height(), chosen.height(), 1);
        }
        stored[0] = window.windowLeft();
        stored[1] = window.windowTop();
        stored[2] = window.windowWidth();
        stored[3] = window.windowHeight();
    }
}

// The image folder's Browse as the user meets it: the chooser opens where the box points, and a
// folder that holds only folders can be chosen.
TEST(WindowUnderAWindowManager, TheFolderChooserReturnsAFolder)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run this under a display (run-under-openbox.sh)";
    TempDir dir;
    std::filesystem::create_directories(dir / "scans/B1");
    std::filesystem::create_directories(dir / "start");
    FakeServices services;
    FakePrompter prompter;
    QtFileDialog chooser;
    MainWindow window(services.fileTools, prompter, chooser, services.store);
    chooser.setParentWidget(&window);
    showFramed(window);
    window.settings.imageFolder = dir / "start";
    window.showSettings();
    QString title;
    QString started;
    QTimer::singleShot(500, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr) << "no folder chooser came up";
        title = dialog->windowTitle();
        started = dialog->directory().absolutePath();
        dialog->setDirectory(QString::fromStdString(dir / "scans"));
        QMetaObject::invokeMethod(dialog, "accept"); // a slot, as the Choose button calls it
    });
    window.browseForImageFolder();
    EXPECT_EQ(title, "Select Input Folder");
    EXPECT_EQ(started.toStdString(), dir / "start");
    EXPECT_EQ(window.settings.imageFolder, dir / "scans");
    EXPECT_EQ(window.findChild<QLineEdit*>("txtImageFolder")->text().toStdString(), dir / "scans");
}

} // namespace
} // namespace tollavar::testing

#if defined(__SANITIZE_ADDRESS__)
// On a real display Qt also talks to the session bus; libdbus keeps a buffer for the whole process, as
// fontconfig keeps its cache. Neither is ours to free; any other leak still fails.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}
#endif

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
