#pragma once

#include "batch/CommandContext.h"
#include "engine/ConversionSettings.h"
#include "support/FakeDialog.h"
#include "support/FakeHost.h"
#include "support/FakePrompter.h"
#include "support/FakeServices.h"
#include "ui/StartupWindow.h"

#include <string>
#include <utility>
#include <vector>

namespace tollavar::testing {

// The main window as start-up sees it: the commands' context built from fakes, a rectangle that
// records the order in which it is set, and a clipboard.
class FakeStartupWindow : public StartupWindow
{
public:
    SettingsStore& settingsStore() override { return services.store; }

    void setWindowLeft(int twips) override { set("left", twips, left); }
    void setWindowTop(int twips) override { set("top", twips, top); }
    void setWindowWidth(int twips) override { set("width", twips, width); }
    void setWindowHeight(int twips) override { set("height", twips, height); }
    int windowLeft() const override { return left; }
    int windowTop() const override { return top; }
    int windowWidth() const override { return width; }
    int windowHeight() const override { return height; }
    bool isNormalState() const override { return normal; }

    void putOnClipboard(const std::string& text) override { clipboard.push_back(text); }
    void showSettings() override { ++settingsShown; }

    ConversionSettings settings;
    std::string configFile;
    RunFlags flags;
    FakeServices services;
    FakePrompter prompter;
    FakeHost conversionHost;
    FakeDialog dialog;
    CommandContext ctx{settings, configFile,     flags,  services.fileTools,
                       prompter, conversionHost, dialog, messageTable()};

    int left = 0, top = 0, width = 0, height = 0;
    bool normal = true;
    std::vector<std::pair<std::string, int>> rectangleSets;
    std::vector<std::string> clipboard;
    int settingsShown = 0;

private:
    void set(const char* key, int twips, int& field)
    {
        field = twips;
        rectangleSets.emplace_back(key, twips);
    }
};

} // namespace tollavar::testing
