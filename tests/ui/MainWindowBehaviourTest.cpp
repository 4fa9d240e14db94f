#include "UiTestSupport.h"

#include "batch/ConfigFile.h"
#include "engine/NumberText.h"
#include "support/ExampleBatchSettings.h"
#include "support/TempDir.h"
#include "ui/StatusPanel.h"
#include "ui/WaitDialog.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>

namespace tollavar::testing {
namespace {

TEST(MainWindowBehaviour, ControlsAndSettingsRecordShowTheSameValues)
{
    WindowFixture f;
    // Edits reach the record at once, typed delimiters included.
    f.control<QLineEdit>("txtDGCOMPID")->setText("ACME");
    f.control<QComboBox>("cboDelimiter")->setEditText(":");
    EXPECT_EQ(f.window->settings.companyId, "ACME");
    EXPECT_EQ(f.window->settings.delimiter, ":");
    f.control<QComboBox>("cboDelimiter")->setCurrentIndex(1);
    EXPECT_EQ(f.window->settings.delimiter, "Tab");

    // A command that changes the record is shown; a list longer than a line edit's usual limit and
    // text outside ASCII come back exactly.
    std::string many;
    while (many.size() < 40000)
        many += "/scan/b\xc3\xa4tch/index.csv|";
    f.window->settings.indexFiles = many;
    f.window->settings.skipHeaderLine = true;
    f.window->showSettings();
    EXPECT_EQ(f.control<QLineEdit>("txtIDX")->text().toStdString(), many);
    EXPECT_EQ(f.window->settings.indexFiles, many);
    EXPECT_TRUE(f.control<QAction>("mSkipHeader")->isChecked());

    f.window->newCommand();
    EXPECT_EQ(f.control<QLineEdit>("txtDGCOMPID")->text(), "DEFC");
    EXPECT_EQ(f.control<QLineEdit>("txtIDX")->text(), "");
    EXPECT_EQ(f.control<QComboBox>("cboDelimiter")->currentText(), ",");
    EXPECT_FALSE(f.control<QAction>("mSkipHeader")->isChecked());
}

struct BrowseCase
{
    const char* label;
    std::function<void(MainWindow&)> press;
    std::string indexFiles;
    std::string xmlFilePath;
    std::string imageFolder;
    std::optional<std::string> answer; // nothing: cancel
    FileDialogRequest expected;
    std::string field; // which setting is written
    std::string result;
};

TEST(MainWindowBehaviour, BrowseCommandsAskAndWriteBack)
{
    const std::string idxFilter =
        "Quenbrook Index File (*.idx)|*.idx|Text Files (*.txt)|*.txt|CSV Files (*.csv)|*.csv| All Files (*.*)|*.*";
    const std::string xmlFilter = "XML Files (*.xml)|*.xml|All Files (*.*)|*.*";
    using K = FileDialogRequest::Kind;
    auto idx = [](MainWindow& w) { w.browseForIndexFiles(); };
    auto xml = [](MainWindow& w) { w.browseForXmlFilePath(); };
    auto folder = [](MainWindow& w) { w.browseForImageFolder(); };

    const std::vector<BrowseCase> cases = {
        {"index chosen replaces every item",
         idx,
         "/a/1.csv|/a/2.csv",
         "",
         "",
         "/scan/b.idx",
         {K::Open, "Select Index File", idxFilter, 1, "/a/1.csv|/a/2.csv"},
         "txtIDX",
         "/scan/b.idx"},
        {"index cancelled keeps the list",
         idx,
         "/a/1.csv|/a/2.csv",
         "",
         "",
         std::nullopt,
         {K::Open, "Select Index File", idxFilter, 1, "/a/1.csv|/a/2.csv"},
         "txtIDX",
         "/a/1.csv|/a/2.csv"},
        {"datagroup chosen keeps only the folder",
         xml,
         "",
         "/old/DATAGRP.XML",
         "",
         "/dg/out.xml",
         {K::Save, "Select Datagroup Folder", xmlFilter, 1, "/old/DATAGRP.XML"},
         "txtXML",
         "/dg/DATAGRP.XML"},
        {"datagroup cancelled normalises the name",
         xml,
         "",
         "/old/other.xml",
         "",
         std::nullopt,
         {K::Save, "Select Datagroup Folder", xmlFilter, 1, "/old/other.xml"},
         "txtXML",
         "/old/DATAGRP.XML"},
        {"datagroup cancelled without a folder changes nothing",
         xml,
         "",
         "",
         "",
         std::nullopt,
         {K::Save, "Select Datagroup Folder", xmlFilter, 1, ""},
         "txtXML",
         ""},
        {"image folder starts from its own text",
         folder,
         "/scan/batch1.csv",
         "",
         "/img",
         "/pics",
         {K::Folder, "Select Input Folder", "", 1, "/img"},
         "txtImageFolder",
         "/pics"},
        {"image folder cancelled keeps its folder",
         folder,
         "/scan/batch1.csv",
         "",
         "/img",
         std::nullopt,
         {K::Folder, "Select Input Folder", "", 1, "/img"},
         "txtImageFolder",
         "/img"},
        {"empty image folder cancelled takes the index folder",
         folder,
         "/scan/batch1.csv",
         "",
         "",
         std::nullopt,
         {K::Folder, "Select Input Folder", "", 1, "/scan"},
         "txtImageFolder",
         "/scan"},
    };

    for (const BrowseCase& c : cases) {
        SCOPED_TRACE(c.label);
        WindowFixture f;
        f.window->settings.indexFiles = c.indexFiles;
        f.window->settings.xmlFilePath = c.xmlFilePath;
        f.window->settings.imageFolder = c.imageFolder;
        f.window->showSettings();
        if (c.answer)
            f.dialog.choose(*c.answer);
        else
            f.dialog.cancel();
        c.press(*f.window);
        ASSERT_EQ(f.dialog.requests.size(), 1u);
        EXPECT_EQ(f.dialog.requests[0], c.expected);
        const std::string& written = c.field == "txtIDX"   ? f.window->settings.indexFiles
                                     : c.field == "txtXML" ? f.window->settings.xmlFilePath
                                                           : f.window->settings.imageFolder;
        EXPECT_EQ(written, c.result);
        EXPECT_EQ(f.control<QLineEdit>(c.field.c_str())->text().toStdString(), c.result);
        EXPECT_TRUE(f.prompter.seen().empty());
    }
}

TEST(MainWindowBehaviour, DatagroupNumberIsCheckedOncePerLeaving)
{
    WindowFixture f;
    f.showActive();
    auto* number = f.control<QLineEdit>("txtDGNUMBER");
    auto* name = f.control<QLineEdit>("txtDGCOMPNAME");

    struct Case
    {
        const char* text;
        bool warned;
    };
    for (const Case& c : {Case{"12", false}, Case{" -1.5e3 ", false}, Case{"12a", true}, Case{"", true}}) {
        SCOPED_TRACE(c.text);
        f.prompter.clear();
        number->setFocus();
        QApplication::processEvents();
        number->setText(c.text);
        if (c.warned)
            f.prompter.expect("Tollavar", MessageAnswer::Ok);
        pressKey(number, Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), name); // the focus moves on all the same
        ASSERT_EQ(f.prompter.seen().size(), c.warned ? 1u : 0u);
        if (c.warned) {
            EXPECT_EQ(f.prompter.seen()[0], (Message{"Datagroup Number must be a number!", "Tollavar",
                                                     MessageIcon::None, MessageButtons::Ok}));
        }
        EXPECT_EQ(number->text(), c.text);
    }

    // The menu bar taking the keyboard, or a menu command, is no leaving.
    f.prompter.clear();
    number->setFocus();
    QApplication::processEvents();
    number->setText("x");
    f.window->menuBar()->setFocus(Qt::MenuBarFocusReason);
    f.control<QAction>("mPrompt")->trigger();
    number->setFocus();
    QApplication::processEvents();
    EXPECT_TRUE(f.prompter.seen().empty());
}

TEST(MainWindowBehaviour, DatagroupNumberWarningKeepsTheClickThatMovedTheFocus)
{
    struct Case
    {
        const char* button;
        const char* number;
        int dialogs; // Browse: file dialogs asked for
        int runs;    // Run: conversions started
    };
    const Case cases[] = {
        {"cmdRun", "12a", 0, 1},        {"cmdBrowseIDX", "12a", 1, 0}, {"cmdBrowseXML", "", 1, 0},
        {"cmdBrowseFolder", "x", 1, 0}, {"cmdRun", "12", 0, 1},        {"cmdBrowseIDX", "7", 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " with \"" + c.number + "\"");
        WindowFixture f;
        int runs = 0;
        std::vector<std::string> order;
        f.window->setConvertCommand([&](CommandContext&) {
            ++runs;
            order.push_back("run");
            return ConvertOutcome{};
        });
        f.showActive();
        auto* number = f.control<QLineEdit>("txtDGNUMBER");
        auto* button = f.control<QPushButton>(c.button);
        number->setFocus();
        QApplication::processEvents();
        number->setText(c.number);
        for (int i = 0; i < c.dialogs; ++i)
            f.dialog.cancel();
        const bool warned = !isNumeric(c.number);
        if (warned)
            f.prompter.expect("Tollavar", MessageAnswer::Ok);
        // The user lets go of the mouse while the warning is up; the release never reaches the button.
        f.prompter.whileShown = [&](const Message&) {
            order.push_back("warning");
            QTest::mouseRelease(button, Qt::LeftButton);
        };
        QTest::mousePress(button, Qt::LeftButton);
        if (!warned)
            QTest::mouseRelease(button, Qt::LeftButton);
        QApplication::processEvents();

        EXPECT_EQ(QApplication::focusWidget(), button);
        EXPECT_FALSE(button->isDown());
        EXPECT_EQ(runs, c.runs);
        EXPECT_EQ(static_cast<int>(f.dialog.requests.size()), c.dialogs);
        EXPECT_EQ(f.prompter.seen().size(), warned ? 1u : 0u);
        if (warned && c.runs) {
            EXPECT_EQ(order, (std::vector<std::string>{"warning", "run"}));
        }
        f.prompter.whileShown = nullptr;
        if (c.runs) { // later clicks are plain clicks again
            QTest::mouseClick(button, Qt::LeftButton);
            EXPECT_EQ(runs, 2);
        }
    }
}

TEST(MainWindowBehaviour, WaitingForTheDatagroupShowsAProgressDialogUntilFreeOrCancelled)
{
    WindowFixture f;
    f.showActive();
    const QString text = QString::fromUtf8("Waiting for the conversion in /data/dg/ACME0001\u2026");
    struct Case
    {
        const char* label;
        int freeAtPoll; // 0: never
        int giveUpKey;  // at the second poll the user presses Cancel (Qt::Key_Cancel) or Escape
        bool waited;
    };
    for (const Case& c : {Case{"free at once", 1, 0, true}, Case{"free later", 4, 0, true},
                          Case{"Cancel", 0, Qt::Key_Cancel, false}, Case{"Escape", 0, Qt::Key_Escape, false}}) {
        SCOPED_TRACE(c.label);
        int polls = 0;
        QString shown;
        bool modal = false;
        const bool waited = waitWithProgress(
            f.window.get(), text,
            [&] {
                ++polls;
                auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
                if (dialog) {
                    shown = dialog->labelText();
                    modal = dialog->isModal();
                    if (c.giveUpKey == Qt::Key_Cancel && polls == 2)
                        dialog->findChild<QPushButton*>()->click();
                    if (c.giveUpKey == Qt::Key_Escape && polls == 2)
                        pressKey(dialog, Qt::Key_Escape);
                }
                return polls == c.freeAtPoll;
            },
            5);
        EXPECT_EQ(waited, c.waited);
        EXPECT_EQ(shown, text);
        EXPECT_TRUE(modal);
        EXPECT_EQ(polls, c.freeAtPoll ? c.freeAtPoll : 2);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr); // gone either way
    }
    // A failure while trying again ends the wait and reaches the caller.
    EXPECT_THROW(waitWithProgress(
                     f.window.get(), text, []() -> bool { throw std::runtime_error("lock file"); }, 5),
                 std::runtime_error);

    // The panel keeps the sentence whole and gives up the middle of the path, relative or full.
    const QFontMetrics metrics(QApplication::font());
    const QString sentence = "Waiting for another conversion into ";
    const int narrow = metrics.horizontalAdvance(sentence + "/srv/\u2026/names/ACME0001");
    for (const QString path :
         {"/srv/scans/very/long/folder/names/ACME0001", "srv/scans/very/long/folder/names/ACME0001"}) {
        SCOPED_TRACE(path.toStdString());
        const QString fitted = StatusPanel::fittedText(sentence + path, metrics, narrow + 2);
        EXPECT_TRUE(fitted.startsWith(sentence + path.left(3)) && fitted.endsWith("\u2026/ACME0001"))
            << fitted.toStdString();
    }
    const QString waiting = sentence + "/srv/scans/very/long/folder/names/ACME0001";
    EXPECT_EQ(StatusPanel::fittedText(waiting, metrics, 10000), waiting);
    const QString tiny = StatusPanel::fittedText(waiting, metrics, metrics.horizontalAdvance("Waiting f"));
    EXPECT_TRUE(tiny.startsWith("Wait")) << tiny.toStdString();
    const QString alone = StatusPanel::fittedText("/a/b/c/d/e/f/0001.TIF", metrics,
                                                  metrics.horizontalAdvance("/a/\u2026/f/0001.TIF") + 2);
    EXPECT_TRUE(alone.startsWith("/a") && alone.endsWith("0001.TIF")) << alone.toStdString();
    f.window->setStatusPanel(1, waiting.toStdString());
    EXPECT_EQ(f.window->panelText(1), waiting);
}

TEST(MainWindowBehaviour, OptionSwitchesToggleAndToggleBack)
{
    WindowFixture f;
    struct Switch
    {
        const char* name;
        void (MainWindow::*click)();
        bool ConversionSettings::*field;
    };
    const Switch switches[] = {
        {"mRemove", &MainWindow::toggleRemoveProcessedFiles, &ConversionSettings::removeProcessedFiles},
        {"mAllowDupes", &MainWindow::toggleAllowDuplicates, &ConversionSettings::allowDuplicates},
        {"mSkipHeader", &MainWindow::toggleSkipHeaderLine, &ConversionSettings::skipHeaderLine},
        {"mPrompt", &MainWindow::togglePromptWhenFinished, &ConversionSettings::promptWhenFinished},
    };
    for (const Switch& s : switches) {
        SCOPED_TRACE(s.name);
        const ConversionSettings before = f.window->settings;
        auto* action = f.control<QAction>(s.name);
        (f.window.get()->*s.click)();
        EXPECT_TRUE(f.window->settings.*s.field);
        EXPECT_TRUE(action->isChecked());
        ConversionSettings onlyThis = before;
        onlyThis.*s.field = true;
        EXPECT_EQ(f.window->settings, onlyThis);
        action->trigger(); // chosen from the menu
        EXPECT_FALSE(f.window->settings.*s.field);
        EXPECT_FALSE(action->isChecked());
        EXPECT_EQ(f.window->settings, before);
    }
    // Auto-Create Subfolders shows the setting but the user cannot change it.
    auto* autoSub = f.control<QAction>("mAutoSub");
    autoSub->trigger();
    EXPECT_TRUE(autoSub->isChecked());
    EXPECT_TRUE(f.window->settings.autoCreateSubfolders);
    f.window->settings.autoCreateSubfolders = false;
    f.window->showSettings();
    EXPECT_FALSE(autoSub->isChecked());
}

TEST(MainWindowBehaviour, EnterInATextBoxRunsTheConvertCommandWithTheShownSettings)
{
    WindowFixture f;
    int runs = 0;
    std::string companySeen;
    f.window->setConvertCommand([&](CommandContext& ctx) {
        ++runs;
        companySeen = ctx.settings.companyId;
        ctx.settings.datagroupNumber = "8"; // a full datagroup advances the number
        return ConvertOutcome{};
    });
    f.showActive();
    auto* company = f.control<QLineEdit>("txtDGCOMPID");
    company->setFocus();
    company->setText("ACME");
    pressKey(company, Qt::Key_Return);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(companySeen, "ACME");
    EXPECT_EQ(f.control<QLineEdit>("txtDGNUMBER")->text(), "8");

    // Enter in the delimiter box runs too, and leaves a typed "tab" as typed.
    auto* delimiter = f.control<QComboBox>("cboDelimiter");
    delimiter->setFocus();
    delimiter->setEditText("tab");
    // The key goes where a keyboard sends it: to the focus widget, the box itself.
    pressKey(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(f.window->settings.delimiter, "tab");

    f.window->convertCommand();
    EXPECT_EQ(runs, 3);
}

TEST(MainWindowBehaviour, ClosingIsRefusedWhileAConversionRuns)
{
    WindowFixture f;
    f.showActive();
    f.window->setWindowLeft(1200);
    f.window->setWindowTop(300);
    bool closedDuringRun = true;
    int runs = 0;
    int closings = 0;
    f.window->setClosing([&] { ++closings; });
    f.window->setConvertCommand([&](CommandContext&) {
        ++runs;
        if (runs == 1) {
            EXPECT_TRUE(f.window->isConverting());
            f.prompter.expect("Tollavar", MessageAnswer::Ok);
            closedDuringRun = f.window->close();
            // A second start while the first runs does nothing.
            f.window->convertCommand();
        }
        return ConvertOutcome{};
    });
    f.window->convertCommand();
    EXPECT_FALSE(closedDuringRun);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(f.window->isVisible());
    EXPECT_EQ(closings, 0);
    EXPECT_EQ(f.prompter.seen().size(), 1u);

    // After the run, Exit closes, and what the program does on closing (keeping the rectangle) runs.
    EXPECT_FALSE(f.window->isConverting());
    f.window->exitCommand();
    EXPECT_FALSE(f.window->isVisible());
    EXPECT_EQ(closings, 1);
}

TEST(MainWindowBehaviour, HelpCommandsOpenTheManualAndSiteAndReportFailures)
{
    TempDir programDir;
    TempDir docDir;
    const std::string installed = docDir / "TLManual.pdf";
    writeFile(installed, "%PDF-1.4");

    WindowFixture f;
    f.window->setManualFolders(programDir.path(), docDir.path());
    f.window->viewManualCommand(); // only the installed copy exists
    const std::string beside = programDir / "TLManual.pdf";
    writeFile(beside, "%PDF-1.4");
    f.window->viewManualCommand(); // the copy beside the program comes first
    f.window->openWebSiteCommand();
    EXPECT_EQ(f.services.opener.opened, (std::vector<std::string>{installed, beside, TOLLAVAR_WEBSITE_URL}));
    EXPECT_TRUE(f.prompter.seen().empty());

    // Nothing to open with, or no manual at all: a message, and the program goes on.
    f.services.opener.succeed = false;
    f.prompter.expect("Tollavar", MessageAnswer::Ok);
    f.prompter.expect("Tollavar", MessageAnswer::Ok);
    f.window->viewManualCommand();
    f.window->openWebSiteCommand();
    f.services.opener.succeed = true;
    f.window->setManualFolders(docDir / "missing", docDir / "missing");
    f.prompter.expect("Tollavar", MessageAnswer::Ok);
    f.window->viewManualCommand();
    ASSERT_EQ(f.prompter.seen().size(), 3u);
    EXPECT_NE(f.prompter.seen()[0].text.find(beside), std::string::npos);
    EXPECT_NE(f.prompter.seen()[1].text.find(TOLLAVAR_WEBSITE_URL), std::string::npos);
    EXPECT_NE(f.prompter.seen()[2].text.find("TLManual.pdf"), std::string::npos);
    EXPECT_EQ(f.services.opener.opened.size(), 5u);
}

} // namespace
} // namespace tollavar::testing

namespace tollavar::testing {
namespace {

// What a first-time operator meets: a configuration opened from wherever the program started, an
// empty Index File, the summary of Prompt When Finished, and a screen reader's names for the controls.
TEST(MainWindowBehaviour, ANewOperatorsFirstRuns)
{
    TempDir dir;
    writeFile(dir / "batch/images/B1/0001.TIF", "img");
    writeFile(dir / "batch/in/scan.csv", "Smith,\\B1\\0001.TIF,3,1001\r\n");
    ConversionSettings relative = exampleBatchSettings(dir, "");
    relative.indexFiles = "in/*.csv";
    relative.xmlFilePath = "out/DATAGRP.XML";
    relative.imageFolder = "images";
    relative.promptWhenFinished = true;
    writeFile(dir / "batch/batch.tvr", serializeConfig(relative));
    std::filesystem::create_directories(dir / "home");
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir / "home");
    struct Restore
    {
        std::filesystem::path folder;
        ~Restore() { std::filesystem::current_path(folder); }
    } restore{before};

    WindowFixture f;
    f.dialog.choose(dir / "batch/batch.tvr");
    f.window->openCommand();
    f.prompter.expect("Conversion Finished", MessageAnswer::Ok);
    f.window->convertCommand();
    EXPECT_TRUE(exists(dir / "batch/out/EXMP0001/B1/0001.TIF"));
    EXPECT_FALSE(std::filesystem::exists(dir / "home/out"));
    ASSERT_FALSE(f.prompter.seen().empty());
    const Message summary = f.prompter.seen().back();
    EXPECT_EQ(summary.icon, MessageIcon::Information);
    EXPECT_EQ(summary.text, "Index files converted: 1\r    " + dir / "batch/in/scan.csv" +
                                "\rDocuments added: 1\rDatagroup: " + dir / "batch/out/EXMP0001" +
                                "\rThe datagroup is not full.");
    EXPECT_EQ(readFile(dir / "batch/batch.tvr").substr(0, 9), "in/*.csv\r") << "saved as written";

    // An empty Index File is named, and nothing is made for it.
    f.prompter.clear();
    f.window->settings.indexFiles = "";
    f.window->settings.datagroupNumber = "2";
    f.prompter.expect("Error in Convert - Reading Configuration", MessageAnswer::Ok);
    f.window->convertCommand();
    EXPECT_EQ(f.prompter.seen().size(), 1u) << "no summary after a failed command";
    EXPECT_EQ(f.prompter.seen().back().text, "Missing index file setting");
    EXPECT_FALSE(std::filesystem::exists(dir / "batch/out/EXMP0002"));
    EXPECT_FALSE(f.window->panelText(1).startsWith("No index file matched"));

    // Every control a screen reader reaches has a name of its own.
    std::set<QString> names;
    int controls = 0;
    for (QWidget* control : f.window->findChildren<QWidget*>()) {
        if (qobject_cast<QLineEdit*>(control) && control->parent() == f.control("cboDelimiter"))
            continue; // the delimiter box's own editor is spoken as the box
        if (!qobject_cast<QLineEdit*>(control) && !qobject_cast<QPushButton*>(control) &&
            !qobject_cast<QComboBox*>(control) && !qobject_cast<StatusPanel*>(control))
            continue;
        ++controls;
        EXPECT_FALSE(control->accessibleName().isEmpty()) << control->objectName().toStdString();
        names.insert(control->accessibleName());
    }
    EXPECT_EQ(controls, 18);
    EXPECT_EQ(names.size(), static_cast<size_t>(controls));
    f.window->setStatusPanel(1, "Converting scan.csv");
    EXPECT_EQ(f.control("sbPanel1")->accessibleDescription(), "Converting scan.csv");
}

} // namespace
} // namespace tollavar::testing
