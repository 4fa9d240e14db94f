#include "UiTestSupport.h"

#include "ui/ProgramFont.h"
#include "ui/Twips.h"

#include <QAction>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tollavar::testing {
namespace {

enum class Kind
{
    Label,
    TextBox,
    Button,
    Combo,
};

struct DesignedControl
{
    const char* name;
    Kind kind;
    const char* text;
    TwipRect rect;
};

const std::vector<DesignedControl> kDesign = {
    {"Label1", Kind::Label, "Index File", {120, 120, 2655, 255}},
    {"txtIDX", Kind::TextBox, "test.csv", {120, 360, 4455, 375}},
    {"cmdBrowseIDX", Kind::Button, "Browse", {4680, 300, 900, 500}},
    {"Label2", Kind::Label, "XML Datagroup File", {120, 840, 2655, 255}},
    {"txtXML", Kind::TextBox, "DATAGRP.XML", {120, 1080, 4455, 375}},
    {"cmdBrowseXML", Kind::Button, "Browse", {4680, 1020, 900, 500}},
    {"Label11", Kind::Label, "Image Folder", {120, 1560, 2655, 255}},
    {"txtImageFolder", Kind::TextBox, "", {120, 1800, 4455, 375}},
    {"cmdBrowseFolder", Kind::Button, "Browse", {4680, 1740, 900, 500}},
    {"Label3", Kind::Label, "Datagroup Number", {120, 2280, 1995, 255}},
    {"txtDGNUMBER", Kind::TextBox, "1", {120, 2520, 1995, 375}},
    {"Label10", Kind::Label, "Max Files per Datagroup", {2280, 2280, 1995, 255}},
    {"txtMaxFiles", Kind::TextBox, "2500", {2280, 2520, 1995, 375}},
    {"cmdRun", Kind::Button, "&Run", {4560, 2760, 900, 735}},
    {"Label4", Kind::Label, "Datagroup Company Name", {120, 3000, 1995, 255}},
    {"txtDGCOMPNAME", Kind::TextBox, "Test Company", {120, 3240, 2000, 375}},
    {"Label5", Kind::Label, "Datagroup Company ID", {2280, 3000, 1995, 255}},
    {"txtDGCOMPID", Kind::TextBox, "TEST", {2280, 3240, 2000, 375}},
    {"Label7", Kind::Label, "Project Name", {120, 3720, 1995, 255}},
    {"txtNAME", Kind::TextBox, "Test Project", {120, 3960, 2000, 375}},
    {"Label6", Kind::Label, "Project ID", {2280, 3720, 1995, 255}},
    {"txtPROJID", Kind::TextBox, "1", {2280, 3960, 2000, 375}},
    {"Label12", Kind::Label, "Delimiter", {120, 4440, 1995, 255}},
    {"cboDelimiter", Kind::Combo, ",", {120, 4680, 2055, 315}},
    {"Label13", Kind::Label, "Quotes detected automatically", {2280, 4500, 2055, 450}},
    {"Label8", Kind::Label, "Field Names ( list in order, separate values with | )", {120, 5160, 3615, 255}},
    {"txtFNAMES", Kind::TextBox, "Name|Scan Date|ID Number", {120, 5400, 5415, 375}},
    {"Label9", Kind::Label, "Field Types ( list in order, separate values with | )", {120, 5880, 4455, 255}},
    {"txtFTYPES", Kind::TextBox, "text|date|number", {120, 6120, 5415, 375}},
};

TEST(MainWindowLayout, EveryControlHasItsNameKindTextAndPlace)
{
    WindowFixture f;
    // At creation every box shows its design value.
    EXPECT_EQ(f.window->objectName(), "frmTollavar");
    EXPECT_EQ(f.window->windowTitle(), "Tollavar");
    EXPECT_FALSE(f.window->windowIcon().isNull());

    for (const DesignedControl& c : kDesign) {
        SCOPED_TRACE(c.name);
        QWidget* widget = f.control(c.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(f.window->controlRect(c.name), c.rect);

        // The widget stands where its twips put it, both edges rounded to the pixel.
        const int x = twipsToPixels(c.rect.left);
        const int y = twipsToPixels(c.rect.top);
        EXPECT_EQ(widget->x(), x);
        EXPECT_EQ(widget->y(), y);
        // A label stops where the box beneath it begins.
        if (c.kind == Kind::Label)
            EXPECT_LE(widget->height(), twipsToPixels(c.rect.top + c.rect.height) - y);
        else
            EXPECT_EQ(widget->height(), twipsToPixels(c.rect.top + c.rect.height) - y);
        const int width = twipsToPixels(c.rect.right()) - x;
        switch (c.kind) {
        case Kind::Label: {
            auto* label = qobject_cast<QLabel*>(widget);
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->text(), c.text);
            EXPECT_FALSE(label->focusPolicy() & Qt::TabFocus);
            EXPECT_GE(label->height(), label->fontMetrics().height());
            // A label may run wider than drawn, into free room, but never narrower.
            EXPECT_GE(label->width(), width);
            if (label->wordWrap())
                EXPECT_LE(label->heightForWidth(label->width()), label->height());
            else
                EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()));
            break;
        }
        case Kind::TextBox: {
            auto* edit = qobject_cast<QLineEdit*>(widget);
            ASSERT_NE(edit, nullptr);
            EXPECT_EQ(edit->text(), c.text);
            EXPECT_FALSE(edit->isReadOnly());
            EXPECT_EQ(widget->width(), width);
            break;
        }
        case Kind::Button: {
            auto* button = qobject_cast<QPushButton*>(widget);
            ASSERT_NE(button, nullptr);
            EXPECT_EQ(button->text(), c.text);
            EXPECT_EQ(widget->width(), width);
            break;
        }
        case Kind::Combo: {
            auto* combo = qobject_cast<QComboBox*>(widget);
            ASSERT_NE(combo, nullptr);
            EXPECT_EQ(combo->currentText(), c.text);
            EXPECT_EQ(widget->width(), width);
            break;
        }
        }
    }

    auto* combo = f.control<QComboBox>("cboDelimiter");
    ASSERT_NE(combo, nullptr);
    EXPECT_TRUE(combo->isEditable());
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    EXPECT_EQ(items, QStringList({",", "Tab", "|", ";"}));

    auto* run = f.control<QPushButton>("cmdRun");
    ASSERT_NE(run, nullptr);
    EXPECT_TRUE(run->isDefault());
    EXPECT_FALSE(run->icon().isNull());
    EXPECT_EQ(run->shortcut(), QKeySequence(Qt::ALT | Qt::Key_R));
}

TEST(MainWindowLayout, StatusBarIsDockedAtTheBottomWithTwoEmptyPanels)
{
    WindowFixture f;
    f.window->show();
    QApplication::processEvents();
    auto* bar = f.control<QStatusBar>("sb");
    ASSERT_NE(bar, nullptr);
    // The client area at creation: 5715 by 7005 twips, the bar its bottom 375 (read back from pixels,
    // so to within a pixel when the layout is scaled for the desktop's font).
    const TwipRect sb = f.window->controlRect("sb");
    const TwipRect designed{0, 6630, 5715, 375};
    EXPECT_EQ(sb.left, designed.left);
    EXPECT_NEAR(sb.top, designed.top, kTwipsPerPixel);
    EXPECT_NEAR(sb.width, designed.width, kTwipsPerPixel);
    EXPECT_NEAR(sb.height, designed.height, kTwipsPerPixel);
    EXPECT_EQ(bar->geometry().bottom(), f.window->height() - 1);
    EXPECT_EQ(f.window->panelText(1), "");
    EXPECT_EQ(f.window->panelText(2), "");

    f.window->setStatusPanel(1, "batch1.csv");
    f.window->setStatusPanel(2, "images\\0001.tif");
    EXPECT_EQ(f.window->panelText(1), "batch1.csv");
    EXPECT_EQ(f.window->panelText(2), "images\\0001.tif");
}

TEST(MainWindowLayout, TabVisitsTheControlsInDesignOrder)
{
    WindowFixture f;
    f.showActive();
    ASSERT_EQ(QApplication::focusWidget(), f.control("txtIDX"));

    const std::vector<std::string> expected = {
        "txtXML",         "txtDGNUMBER",  "txtDGCOMPNAME", "txtDGCOMPID", "txtPROJID",   "txtNAME",
        "cmdBrowseIDX",   "cmdBrowseXML", "txtFNAMES",     "txtFTYPES",   "txtMaxFiles", "cmdBrowseFolder",
        "txtImageFolder", "cboDelimiter", "cmdRun",        "txtIDX",
    };
    f.window->settings.datagroupNumber = "1";
    std::vector<std::string> visited;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        pressKey(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* now = QApplication::focusWidget();
        ASSERT_NE(now, nullptr);
        // The delimiter box takes the focus in its editor.
        if (qobject_cast<QComboBox*>(now->parentWidget()))
            now = now->parentWidget();
        visited.push_back(now->objectName().toStdString());
    }
    EXPECT_EQ(visited, expected);
}

struct MenuItem
{
    const char* name;
    const char* caption; // "-" for a separator
    bool checkable;
    bool checked;
    bool enabled;
};

TEST(MainWindowLayout, MenuTreeHasEveryItemInOrder)
{
    WindowFixture f;
    const std::vector<std::pair<const char*, std::vector<MenuItem>>> tree = {
        {"&File",
         {{"mNew", "&New", false, false, true},
          {"mOpen", "&Open", false, false, true},
          {"mSaveConfig", "&Save", false, false, true},
          {"mSave", "Save &As...", false, false, true},
          {"mSep1", "-", false, false, true},
          {"mConvert", "&Convert File", false, false, true},
          {"mSep2", "-", false, false, true},
          {"mExit", "E&xit", false, false, true}}},
        {"&Options",
         {{"mRemove", "&Remove Processed Files", true, false, true},
          {"mAllowDupes", "&Allow Duplicates", true, false, true},
          {"mSkipHeader", "&Skip Header Row", true, false, true},
          {"mPrompt", "&Prompt When Finished", true, false, true},
          // Checked and out of the user's reach.
          {"mAutoSub", "Auto-&Create Subfolders", true, true, false}}},
        {"&Help",
         {{"mViewManual", "View &Manual", false, false, true},
          {"mQuenbrook", "&Visit " TOLLAVAR_WEBSITE_NAME, false, false, true},
          {"mAbout", "&About Tollavar", false, false, true}}},
    };

    const QList<QAction*> top = f.window->menuBar()->actions();
    ASSERT_EQ(top.size(), static_cast<qsizetype>(tree.size()));
    for (std::size_t m = 0; m < tree.size(); ++m) {
        EXPECT_EQ(top[m]->text(), tree[m].first);
        QMenu* menu = top[m]->menu();
        ASSERT_NE(menu, nullptr);
        const QList<QAction*> items = menu->actions();
        ASSERT_EQ(items.size(), static_cast<qsizetype>(tree[m].second.size())) << tree[m].first;
        for (qsizetype i = 0; i < items.size(); ++i) {
            const MenuItem& want = tree[m].second[static_cast<std::size_t>(i)];
            SCOPED_TRACE(want.name);
            EXPECT_EQ(items[i]->objectName(), want.name);
            if (std::string_view(want.caption) == "-") {
                EXPECT_TRUE(items[i]->isSeparator());
                continue;
            }
            EXPECT_EQ(items[i]->text(), want.caption);
            EXPECT_EQ(items[i]->isCheckable(), want.checkable);
            EXPECT_EQ(items[i]->isChecked(), want.checked);
            EXPECT_EQ(items[i]->isEnabled(), want.enabled);
            EXPECT_TRUE(items[i]->shortcut().isEmpty());
        }
    }
}

TEST(MainWindowLayout, ResizeRulesFollowTheOuterWidth)
{
    struct Case
    {
        int outer;
        int pathBox;
        int listBox;
        int browseLeft;
        int panel;
    };
    const Case cases[] = {
        {5835, 4455, 5415, 4675, 2918},                                 // the default rectangle
        {8000, 6620, 7580, 6840, 4000}, {5837, 4457, 5417, 4677, 2918}, // halves go to the even neighbour
        {5839, 4459, 5419, 4679, 2920}, {1000, 0, 580, 220, 500},       // narrower than the margins: no negative width
        {300, 0, 0, 220, 150},
    };
    WindowFixture f;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outer);
        f.window->applyResizeRules(c.outer);
        for (const char* box : {"txtImageFolder", "txtXML", "txtIDX"})
            EXPECT_EQ(f.window->controlRect(box).width, c.pathBox) << box;
        for (const char* box : {"txtFNAMES", "txtFTYPES"})
            EXPECT_EQ(f.window->controlRect(box).width, c.listBox) << box;
        for (const char* button : {"cmdBrowseIDX", "cmdBrowseXML", "cmdBrowseFolder"}) {
            EXPECT_EQ(f.window->controlRect(button).left, c.browseLeft) << button;
            EXPECT_EQ(f.window->controlRect(button).width, 900) << button;
        }
        EXPECT_EQ(f.window->panelWidth(1), c.panel);
        EXPECT_EQ(f.window->panelWidth(2), c.panel);
        // Nothing else moves.
        EXPECT_EQ(f.window->controlRect("txtMaxFiles"), (TwipRect{2280, 2520, 1995, 375}));
        EXPECT_EQ(f.window->controlRect("cmdRun"), (TwipRect{4560, 2760, 900, 735}));
    }

    // A real resize runs the same rules; the outer width counts the frame.
    f.window->show();
    f.window->setWindowWidth(9000);
    QApplication::processEvents();
    EXPECT_EQ(f.window->windowWidth(), 9000);
    EXPECT_EQ(f.window->controlRect("txtIDX").width, 9000 - 1380);
    EXPECT_EQ(f.control("txtIDX")->width(), twipsToPixels(120 + 7620) - twipsToPixels(120));
}

TEST(MainWindowLayout, TextAtTheDesktopSizeGrowsTheLayoutByItsRatioToTheLargestFittingSize)
{
    ensureApplication();
    const QFont before = QApplication::font();
    for (double points : {6.0, 7.5, 9.0, 9.3, 11.0, 14.0}) {
        SCOPED_TRACE(points);
        QFont desktop = before;
        desktop.setPointSizeF(points);
        QApplication::setFont(desktop);
        WindowFixture f;
        EXPECT_EQ(f.window->font().pointSizeF(), points); // the desktop's size, not one of ours
        const QList<QLabel*> found = f.window->centralWidget()->findChildren<QLabel*>();
        const double fitting = largestFittingPointSize(desktop, std::vector<QLabel*>(found.begin(), found.end()));
        if (QFontInfo(desktop).family() == "DejaVu Sans" && points > 7.5) {
            EXPECT_EQ(fitting, 7.5);
        }
        const double scale = std::max(1.0, points / fitting);
        EXPECT_DOUBLE_EQ(layoutScale(), scale);
        // Every place grows alike; stored values stay twips.
        EXPECT_NEAR(f.control("cmdRun")->x(), 4560 * scale / 15, 0.5);
        EXPECT_NEAR(f.control("txtFTYPES")->y(), 6120 * scale / 15, 0.5);
        EXPECT_EQ(f.window->controlRect("cmdRun"), (TwipRect{4560, 2760, 900, 735}));
        for (QLabel* label : found) {
            if (!label->wordWrap()) {
                EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
                    << label->objectName().toStdString();
            }
        }
    }
    QApplication::setFont(before);
}

TEST(MainWindowLayout, WindowRectangleIsKeptInTwipsAndASmallerOneStaysSmaller)
{
    struct Case
    {
        int width;
        int height;
    };
    // The default, a smaller window than the layout, and a larger one.
    for (const Case& c : {Case{5835, 7170}, Case{3000, 4000}, Case{9000, 9000}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        WindowFixture f;
        f.window->setWindowLeft(1200);
        f.window->setWindowTop(105);
        f.window->setWindowWidth(c.width);
        f.window->setWindowHeight(c.height);
        f.window->show();
        QApplication::processEvents();
        EXPECT_EQ(f.window->windowLeft(), 1200);
        EXPECT_EQ(f.window->windowTop(), 105);
        EXPECT_EQ(f.window->windowWidth(), c.width);
        EXPECT_EQ(f.window->windowHeight(), c.height);
        EXPECT_TRUE(f.window->isNormalState());
        // Only what the frame and the menu bar take beyond the room the stored size allowed for is added.
        const QSize frame = f.window->frameGeometry().size() - f.window->size();
        const int chrome = frame.height() + f.window->menuBar()->sizeHint().height();
        EXPECT_EQ(f.window->frameGeometry().size(),
                  QSize(twipsToPixels(c.width) + std::max(0, frame.width() - twipsToPixels(5835 - 5715)),
                        twipsToPixels(c.height) + std::max(0, chrome - twipsToPixels(7170 - 7005))));
    }
}

} // namespace
} // namespace tollavar::testing
