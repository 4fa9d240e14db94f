#pragma once

#include "support/FakeDialog.h"
#include "support/FakePrompter.h"
#include "support/FakeServices.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <memory>

namespace tollavar::testing {

// One application for the whole test program; CTest runs it on the offscreen platform.
inline void ensureApplication()
{
    if (QApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "tests_ui";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

inline void pressKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(target, &release);
}

// A main window over scripted services.
struct WindowFixture
{
    WindowFixture()
    {
        ensureApplication();
        window = std::make_unique<MainWindow>(services.fileTools, prompter, dialog, services.store);
    }

    template <typename T = QWidget> T* control(const char* name) const
    {
        T* found = window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    // Shown and active, so focus moves as a user would see it.
    void showActive()
    {
        window->show();
        window->activateWindow();
        QApplication::setActiveWindow(window.get());
        QApplication::processEvents();
    }

    FakeServices services;
    FakePrompter prompter;
    FakeDialog dialog;
    std::unique_ptr<MainWindow> window;
};

} // namespace tollavar::testing
