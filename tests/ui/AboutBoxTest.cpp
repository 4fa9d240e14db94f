#include "UiTestSupport.h"

#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace tollavar::testing {
namespace {

// Shows the About box from the Help menu and closes it with `key` once it is up.
struct Showing
{
    QString caption;
    QString title;
    QString version;
    bool okIsDefault = false;
    bool okHasFocus = false;
    bool fixedSize = false;
    QPointer<QDialog> box;
};

Showing showAbout(MainWindow& window, int key)
{
    Showing seen;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen.box = box;
        seen.caption = box->windowTitle();
        seen.title = box->findChild<QLabel*>("lblTitle")->text();
        seen.version = box->findChild<QLabel*>("lblVersion")->text();
        auto* ok = box->findChild<QPushButton*>("cmdOK");
        seen.okIsDefault = ok->isDefault();
        seen.okHasFocus = box->focusWidget() == ok;
        seen.fixedSize = box->minimumSize() == box->maximumSize();
        pressKey(box->focusWidget() ? box->focusWidget() : box, key);
    });
    window.aboutCommand();
    return seen;
}

TEST(AboutBox, ShowsTitleAndVersionAndClosesWithEscOrEnter)
{
    WindowFixture f;
    f.showActive();
    for (int key : {Qt::Key_Escape, Qt::Key_Return}) {
        SCOPED_TRACE(key);
        const Showing seen = showAbout(*f.window, key);
        EXPECT_EQ(seen.caption, "About Tollavar");
        EXPECT_EQ(seen.title, "Tollavar");
        EXPECT_EQ(seen.version, "Version 1.3.24");
        EXPECT_TRUE(seen.okIsDefault);
        EXPECT_TRUE(seen.okHasFocus);
        EXPECT_TRUE(seen.fixedSize);
        // Each showing builds the box anew and the closed one is gone.
        EXPECT_TRUE(seen.box.isNull());
    }
}

} // namespace
} // namespace tollavar::testing
