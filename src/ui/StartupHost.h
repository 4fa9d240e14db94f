#pragma once

#include <string>

namespace tollavar {

struct CommandContext;
class SettingsStore;

// What start-up and closing need of the main window. The window implements it; tests use a fake.
// Rectangles are in twips (15 twips to a device-independent pixel), outer frame included.
class StartupHost
{
public:
    virtual ~StartupHost() = default;

    virtual CommandContext& commands() = 0;
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
