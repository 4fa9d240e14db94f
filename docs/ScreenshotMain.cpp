// Renders the main window at its default size into a PNG, for the documentation. Run it under a
// display at 96 dpi (xvfb-run); as in the program, the layout is scaled to the desktop font's size.
#include "batch/Defaults.h"
#include "batch/FileDialog.h"
#include "filetools/DocumentOpener.h"
#include "filetools/FileTools.h"
#include "filetools/SettingsStore.h"
#include "ui/MainWindow.h"
#include "ui/ShowingPrompter.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>

#include <cstdio>

namespace {

class NoStore : public tollavar::SettingsStore
{
public:
    std::string read(const std::string&, const std::string&, const std::string&, const std::string& value) override
    {
        return value;
    }
    void write(const std::string&, const std::string&, const std::string&, const std::string&) override {}
};

class NoOpener : public tollavar::DocumentOpener
{
public:
    bool open(const std::string&) override { return false; }
};

class SilentPrompter : public tollavar::ShowingPrompter
{
public:
    tollavar::MessageAnswer show(const tollavar::Message&) override { return tollavar::MessageAnswer::Ok; }
};

class CancelDialog : public tollavar::FileDialog
{
public:
    std::optional<std::string> show(const tollavar::FileDialogRequest&) override { return std::nullopt; }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    NoStore store;
    NoOpener opener;
    SilentPrompter prompter;
    CancelDialog dialog;
    tollavar::FileTools fileTools(store, opener);
    tollavar::MainWindow window(fileTools, prompter, dialog, store);
    tollavar::loadDefaults(window.settings);
    window.showSettings();
    // The rectangle a first start restores: left and top 105, outer size 5835 by 7170 twips.
    window.setWindowLeft(105);
    window.setWindowTop(105);
    window.setWindowWidth(5835);
    window.setWindowHeight(7170);
    window.show();

    const QString output = QString::fromLocal8Bit(argv[1]);
    int status = 1;
    QTimer::singleShot(1000, &app, [&] {
        const QPixmap shot = window.screen()->grabWindow(window.winId());
        status = shot.save(output) ? 0 : 1;
        std::fprintf(stderr, "%dx%d px, saved to %s\n", shot.width(), shot.height(), argv[1]);
        app.quit();
    });
    app.exec();
    return status;
}
