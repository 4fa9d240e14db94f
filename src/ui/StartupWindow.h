#pragma once

#include <string>

namespace tollavar {

class SettingsStore;

// What start-up and closing need of the main window, beyond the commands every run works on: its
// rectangle, kept in the settings store from one start to the next, the clipboard, and the controls.
// A run without a window (--check, --watch) has none of this. Rectangles are in twips (15 twips to a
// device-independent pixel), outer frame included.
class StartupWindow
{
public:
    virtual ~StartupWindow() = default;

    // Where the rectangle is kept between starts.
    virtual SettingsStore& settingsStore() = 0;

    virtual void setWindowLeft(int twips) = 0;
    virtual void setWindowTop(int twips) = 0;
    virtual void setWindowWidth(int twips) = 0;
    virtual void setWindowHeight(int twips) = 0;
    virtual int windowLeft() const = 0;
    virtual int windowTop() const = 0;
    virtual int windowWidth() const = 0;
    virtual int windowHeight() const = 0;
    // Neither minimised nor maximised.
    virtual bool isNormalState() const = 0;

    virtual void putOnClipboard(const std::string& text) = 0;
    // The controls show the settings record again (after start-up changed it).
    virtual void showSettings() = 0;
};

} // namespace tollavar
