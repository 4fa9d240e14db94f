#pragma once

#include "batch/ConvertCommand.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tollavar {

class StartupWindow;

// How start-up ended, and so what the program does next.
enum class StartRoad
{
    Interactive, // no configuration to run: the window is shown
    Manual,      // a configuration loaded with "m": the window is shown
    Unattended,  // the Convert command ran: the program ends without showing the window
    Failed,      // start-up stopped with its message: the window is shown as far as it got
};

struct StartupResult
{
    StartRoad road = StartRoad::Interactive;
    // The program's exit status after an unattended run (0 every index file converted and every
    // configuration save done, 1 otherwise, 2 when the configuration to run could not be read and
    // nothing was converted) or a failed start-up (2). Meaningless for the roads that show the window.
    int exitStatus = 0;
    // The Convert command's notices, for the unattended run to print.
    std::vector<std::string> notices = {};
    // The configuration to run could not be opened, so nothing was converted.
    bool configUnopened = false;
};

// What an unattended start does when a configuration it was told to run does not exist: the window's
// unattended run converts with the settings as they stand (the switches may name them all); a run
// that only works from its configuration has nothing to work from.
enum class MissingConfig
{
    ConvertAnyway,
    Refuse,
};

// The process's exit status: plain numbers, not an enum class, since main and the scripts take them as such.
struct ExitStatus
{
    enum : int
    {
        Success = 0,
        ConversionFailed = 1,
        StartupFailed = 2,
    };
};

using ConvertCommandFn = std::function<ConvertOutcome(CommandContext&)>;

// Runs once at start, before the main window is shown: resets the settings, reads the argument text,
// restores the window rectangle, then asks for a configuration, leaves a named one loaded ("m"), or
// converts it unattended. Hands its own failures to the prompter and stops there. Without a `window`
// (--check, --watch) nothing is placed, shown or put on the clipboard: the run needs only `commands`.
// `convert` stands in for the Convert command (convertCommand when empty).
StartupResult startUp(StartupWindow* window, CommandContext& commands, std::string_view argumentText,
                      const ConvertCommandFn& convert = {}, MissingConfig missingConfig = MissingConfig::ConvertAnyway);

// Runs whenever the main window closes: keeps its rectangle for the next start, unless the window is
// minimised or maximised.
void keepWindowRectangle(StartupWindow& window);

} // namespace tollavar
