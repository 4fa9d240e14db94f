#include "app/Startup.h"

#include "app/CommandLine.h"
#include "batch/ConfigFile.h"
#include "batch/ConfigFileState.h"
#include "batch/Defaults.h"
#include "engine/ConversionSettings.h"
#include "engine/NumberText.h"
#include "engine/Prompter.h"
#include "filetools/Failure.h"
#include "filetools/FileSystem.h"
#include "filetools/SettingsStore.h"
#include "ui/StartupWindow.h"

#include <exception>
#include <iterator>
#include <string>
#include <vector>

namespace tollavar {

namespace {

constexpr const char* kApplication = "Tollavar";
constexpr const char* kWindowSection = "Window";

struct StartupState
{
    std::string configToRun;
    bool manualStart = false;
    OpenConfigResult configOpened = OpenConfigResult::Opened; // of the last configuration to run
    bool anyConfigUnopened = false;                           // missing or unreadable, any of them
};

// A value with a line break would shift every later line of the configuration it is saved into.
void refuseLineBreaks(const CommandArgument& argument)
{
    if (argument.value.find_first_of("\r\n") != std::string::npos)
        throw Failure(ErrorCode::InvalidCall, kApplication,
                      "Invalid procedure call or argument: the value of switch /" + argument.letter +
                          " holds a line break");
}

void openConfigToRun(CommandContext& ctx, const std::string& path, StartupState& state)
{
    state.configOpened = openConfig(ctx, path);
    state.anyConfigUnopened |= state.configOpened != OpenConfigResult::Opened;
    state.configToRun = path;
}

void applySwitch(StartupWindow* window, CommandContext& ctx, std::string_view argumentText,
                 const CommandArgument& argument, StartupState& state)
{
    ConversionSettings& s = ctx.settings;
    // Letters are compared exactly: an upper-case letter is no switch.
    if (argument.letter.size() != 1)
        return;
    if (std::string_view("fxpuneias").find(argument.letter[0]) != std::string_view::npos)
        refuseLineBreaks(argument);
    switch (argument.letter[0]) {
    case 'c':
        openConfigToRun(ctx, argument.value, state);
        break;
    case 'f':
        s.indexFiles = argument.value;
        break;
    case 'x':
        s.xmlFilePath = argument.value;
        break;
    case 'p':
        s.projectId = argument.value;
        break;
    case 'u':
        s.datagroupNumber = argument.value;
        break;
    case 'n':
        s.projectName = argument.value;
        break;
    case 'e':
        s.companyName = argument.value;
        break;
    case 'i':
        s.companyId = argument.value;
        break;
    case 'm':
        state.manualStart = true;
        break;
    case 'a':
        s.imageFolder = argument.value;
        break;
    case 'd':
        s.allowDuplicates = true;
        break;
    case 'r':
        s.removeProcessedFiles = true;
        break;
    case 's':
        s.maxDocuments = argument.value;
        break;
    case 'w':
        s.promptWhenFinished = true;
        break;
    case 'k':
        s.skipHeaderLine = true;
        break;
    case 'l':
        if (window)
            window->putOnClipboard(std::string(argumentText));
        break;
    default:
        break;
    }
}

int readWindowValue(SettingsStore& store, const char* key, const char* defaultValue)
{
    const std::string text = store.read(kApplication, kWindowSection, key, defaultValue);
    const auto value = parseInt32(text);
    if (!value && isNumeric(text))
        throw Failure(ErrorCode::Overflow, kApplication, "Overflow", text);
    if (!value)
        throw Failure(ErrorCode::TypeMismatch, kApplication, "Type mismatch", text);
    return static_cast<int>(*value);
}

// Applied as stored, even off the screen: the user's last placement wins. A value that is no number
// stops a start that shows the window; a run that shows none has no use for the rectangle, so a
// damaged store must not stop it: the value is named in `notices` and the default taken instead.
void restoreWindowRectangle(StartupWindow& window, bool unattended, std::vector<std::string>& notices)
{
    SettingsStore& store = window.settingsStore();
    const auto value = [&](const char* key, const char* defaultValue) {
        try {
            return readWindowValue(store, key, defaultValue);
        } catch (const Failure& failure) {
            if (!unattended)
                throw;
            notices.push_back("the stored window value " + std::string(key) + "=\"" +
                              store.read(kApplication, kWindowSection, key, defaultValue) + "\" is unusable (" +
                              std::to_string(failure.number()) + " - " + failure.description() + "); " + defaultValue +
                              " is used instead");
            return static_cast<int>(parseInt32(defaultValue).value_or(0));
        }
    };
    window.setWindowLeft(value("left", "105"));
    window.setWindowTop(value("top", "105"));
    window.setWindowWidth(value("width", "5835"));
    window.setWindowHeight(value("height", "7170"));
}

StartupResult loadAndRoute(StartupWindow* window, CommandContext& ctx, std::string_view argumentText,
                           const ConvertCommandFn& convert, MissingConfig missingConfig)
{
    loadDefaults(ctx.settings);
    StartupState state;

    const std::vector<std::string> arguments = splitCommandLine(argumentText);
    if (arguments.size() > 1) {
        size_t firstSwitch = 1;
        const std::string first = removeQuotes(arguments[1]);
        if (files::fileExists(first)) {
            openConfigToRun(ctx, first, state);
            firstSwitch = 2;
        }
        for (size_t i = firstSwitch; i < arguments.size(); ++i)
            applySwitch(window, ctx, argumentText, readArgument(arguments[i]), state);
    }
    std::vector<std::string> notices;
    if (window) {
        window->showSettings();
        restoreWindowRectangle(*window, !state.configToRun.empty() && !state.manualStart, notices);
    }

    if (state.configToRun.empty()) {
        openConfig(ctx, "");
        return {StartRoad::Interactive, ExitStatus::Success};
    }
    ctx.configFile = state.configToRun;
    followConfigFolder(ctx);
    if (state.manualStart)
        return {StartRoad::Manual, ExitStatus::Success};

    // Run on half-read settings, it would convert with defaults where the user's values were meant and
    // then save them over the file the user can still mend.
    if (state.configOpened == OpenConfigResult::Unreadable ||
        (missingConfig == MissingConfig::Refuse && state.anyConfigUnopened))
        return {StartRoad::Unattended, ExitStatus::StartupFailed, std::move(notices), true};

    ConvertOutcome outcome = convert ? convert(ctx) : convertCommand(ctx);
    const bool succeeded = outcome.ranToEnd && outcome.allConverted && !outcome.refused && !outcome.configSaveFailed;
    notices.insert(notices.end(), std::make_move_iterator(outcome.notices.begin()),
                   std::make_move_iterator(outcome.notices.end()));
    return {StartRoad::Unattended, succeeded ? ExitStatus::Success : ExitStatus::ConversionFailed, std::move(notices)};
}

void reportStartupFailure(CommandContext& ctx, const Failure& failure)
{
    ctx.prompter.reportFailure(FailureReport{FailedWork::StartingUp, failure});
}

} // namespace

StartupResult startUp(StartupWindow* window, CommandContext& commands, std::string_view argumentText,
                      const ConvertCommandFn& convert, MissingConfig missingConfig)
{
    StartupResult result{StartRoad::Failed, ExitStatus::StartupFailed};
    try {
        result = loadAndRoute(window, commands, argumentText, convert, missingConfig);
    } catch (const Failure& failure) {
        reportStartupFailure(commands, failure);
    } catch (const std::exception& error) {
        // Nothing below start-up should let a non-Failure escape, but one must not end the program
        // with the window never shown.
        reportStartupFailure(commands, Failure(ErrorCode::InvalidCall, kApplication, error.what()));
    }
    // The controls show whatever start-up reached, also after a failure.
    if (window)
        window->showSettings();
    return result;
}

void keepWindowRectangle(StartupWindow& window)
{
    if (!window.isNormalState())
        return;
    SettingsStore& store = window.settingsStore();
    store.write(kApplication, kWindowSection, "left", std::to_string(window.windowLeft()));
    store.write(kApplication, kWindowSection, "top", std::to_string(window.windowTop()));
    store.write(kApplication, kWindowSection, "width", std::to_string(window.windowWidth()));
    store.write(kApplication, kWindowSection, "height", std::to_string(window.windowHeight()));
}

} // namespace tollavar
