#include "app/QtDocumentOpener.h"
#include "app/QtFileDialog.h"
#include "app/QtPrompter.h"
#include "app/QtSettingsStore.h"
#include "support/TempDir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace tollavar {
namespace {

QApplication& application()
{
    static int argc = 1;
    static char name[] = "tests_app";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

TEST(QtDocumentOpener, ReportsWhatTheDesktopsOpenerSaysAboutTheDocument)
{
    application();
    testing::TempDir bin;
    const std::string seen = bin / "seen";
    struct Case
    {
        const char* label;
        const char* body; // the opener's script after it notes its argument
        bool opened;
    };
    const Case cases[] = {
        {"handed on", "exit 0", true},
        {"no program for the file type", "exit 3", false},
        {"the program failed", "exit 4", false},
        {"killed", "kill -9 $$", false},
        {"runs the viewer itself, still open", "exec sleep 2 >/dev/null 2>&1", true},
    };
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(bin.path()) + ":/usr/bin:/bin");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string script = bin / "xdg-open";
        testing::writeFile(script, std::string("#!/bin/sh\nprintf '%s' \"$1\" > '") + seen + "'\n" + c.body + "\n");
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        QtDocumentOpener opener(1000);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(opener.open("/usr/share/doc/tollavar/TL Manual #1.pdf"), c.opened);
        EXPECT_LT(clock.elapsed(), 4000); // a viewer left running does not hold the window
        std::ifstream in(seen);
        std::stringstream argument;
        argument << in.rdbuf();
        EXPECT_EQ(argument.str(), "/usr/share/doc/tollavar/TL Manual #1.pdf"); // a path, not a mangled URL
    }
    QtDocumentOpener opener(1000);
    EXPECT_TRUE(opener.open("https://example.org/tollavar"));

    // A web address with no program for it: xdg-open would still exit 0.
    const std::string mime = bin / "xdg-mime";
    testing::writeFile(bin / "xdg-open", "#!/bin/sh\nexit 0\n");
    std::filesystem::permissions(bin / "xdg-open", std::filesystem::perms::owner_all);
    qputenv("PATH", QByteArray::fromStdString(bin.path()));
    const QByteArray oldBrowser = qgetenv("BROWSER");
    qunsetenv("BROWSER");
    for (const auto& [handler, opened] : {std::pair{"", false}, std::pair{"firefox.desktop", true}}) {
        SCOPED_TRACE(handler);
        testing::writeFile(mime, std::string("#!/bin/sh\necho '") + handler + "'\n");
        std::filesystem::permissions(mime, std::filesystem::perms::owner_all);
        EXPECT_EQ(opener.open("https://example.org/tollavar"), opened);
    }
    if (!oldBrowser.isEmpty())
        qputenv("BROWSER", oldBrowser);
    qputenv("PATH", oldPath);
    // The "viewers" left running end, and their openers are let go of, before the test ends.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 2500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(QtNameFilters, FilterListsBecomeQtFiltersThatMatchOnLinux)
{
    struct Case
    {
        std::string filter;
        QStringList expected;
    };
    const Case cases[] = {
        {"Tollavar Files (*.tvr)|*.tvr|All Files (*.*)|*.*", {"Tollavar Files (*.tvr)", "All Files (*)"}},
        {"Quenbrook Index File (*.idx)|*.idx|Text Files (*.txt)|*.txt|CSV Files (*.csv)|*.csv| All Files (*.*)|*.*",
         {"Quenbrook Index File (*.idx)", "Text Files (*.txt)", "CSV Files (*.csv)", "All Files (*)"}},
        {"Pictures|*.tif;*.jpg", {"Pictures (*.tif *.jpg)"}},
        {"", {}},
        {"Lonely description", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(qtNameFilters(c.filter), c.expected) << c.filter;
}

TEST(QtSettingsStore, KeepsOneIniFilePerApplicationWithASectionPerGroup)
{
    testing::TempDir dir;
    {
        QtSettingsStore store(QString::fromStdString(dir.path()));
        EXPECT_EQ(store.read("Tollavar", "Window", "left", "105"), "105");
        store.write("Tollavar", "Window", "left", "1200");
        store.write("Quenbrook", "DefaultFolders", "Config", "/srv/scan configs/é");
    }
    const std::string ini = testing::readFile(dir / "Tollavar.ini");
    EXPECT_NE(ini.find("[Window]"), std::string::npos) << ini;
    EXPECT_NE(ini.find("left=1200"), std::string::npos) << ini;
    EXPECT_TRUE(testing::exists(dir / "Quenbrook.ini"));

    QtSettingsStore again(QString::fromStdString(dir.path()));
    EXPECT_EQ(again.read("Tollavar", "Window", "left", "105"), "1200");
    EXPECT_EQ(again.read("Quenbrook", "DefaultFolders", "Config", ""), "/srv/scan configs/é");
    EXPECT_EQ(again.read("Tollavar", "DefaultFolders", "Config", "none"), "none");
}

TEST(QtPrompter, ShowsPlainTextWithLineBreaksAndReturnsTheButtonClicked)
{
    application();
    struct Case
    {
        MessageButtons buttons;
        QMessageBox::StandardButton click;
        MessageAnswer expected;
    };
    const Case cases[] = {
        {MessageButtons::YesNo, QMessageBox::No, MessageAnswer::No},
        {MessageButtons::YesNoCancel, QMessageBox::Cancel, MessageAnswer::Cancel},
        {MessageButtons::Ok, QMessageBox::Ok, MessageAnswer::Ok},
    };
    for (const Case& c : cases) {
        QString seenText;
        QString seenTitle;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->button(c.click))
                return;
            seenText = box->text();
            seenTitle = box->windowTitle();
            box->button(c.click)->click();
        });
        poll.start(10);
        QtPrompter prompter;
        const MessageAnswer answer =
            prompter.show(Message{"<b>1</b>\rLine # 2\r\nend", "Caption", MessageIcon::Question, c.buttons});
        EXPECT_EQ(answer, c.expected);
        EXPECT_EQ(seenText, QStringLiteral("<b>1</b>\nLine # 2\nend"));
        EXPECT_EQ(seenTitle, QStringLiteral("Caption"));
    }
}

} // namespace
} // namespace tollavar
