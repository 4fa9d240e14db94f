#pragma once

#include <string>
#include <string_view>

namespace tollavar {

struct CommandContext;
struct ConversionSettings;

// The type list both configuration dialogs offer; its first entry is selected.
inline constexpr const char* kConfigFileFilter = "Tollavar Files (*.tvr)|*.tvr|All Files (*.*)|*.*";

// Writes the settings to `configPath`, asking for a name with the Save dialog when it is "" (the answer
// becomes configFile). The file is replaced atomically: a failed save leaves the previous file whole.
// Hands its own failures to the prompter; false after such a report, so that an
// unattended run can end with the status that says so.
bool saveConfig(CommandContext& ctx, const std::string& configPath);

// Whether the file at `path` is there and reads as a configuration.
bool readsAsConfiguration(const std::string& path);

// saveConfig, but a file that we may write and that already holds exactly these bytes is left alone: a
// command that saves after every index file does not rewrite and sync an unchanged file each time.
bool saveConfigIfChanged(CommandContext& ctx, const std::string& configPath);

enum class OpenConfigResult
{
    Opened,
    Cancelled,  // the Open dialog was cancelled
    Missing,    // "Config file does not exist!" was shown
    Unreadable, // the failure was handed to the prompter; the settings may be half read
};

// Reads `configPath` into the settings, asking with the Open dialog when it is "" (the answer becomes
// configFile; a cancel does nothing). Hands its own failures to the prompter; settings read before a failure keep
// their new values.
OpenConfigResult openConfig(CommandContext& ctx, const std::string& configPath);

void openCommand(CommandContext& ctx);   // File, Open
void saveCommand(CommandContext& ctx);   // File, Save
void saveAsCommand(CommandContext& ctx); // File, Save As

// The bytes of a configuration file: 18 positional lines ended by CR LF, in windows-1252 when every
// value fits, else UTF-8 behind a byte-order mark.
std::string serializeConfig(const ConversionSettings& settings);

// Applies the bytes of a configuration file to the settings, as opening the file does, without
// touching the disk. Lines 1 to 11 are stored one by one and a fault there throws Failure (what was
// stored stays stored); faults in the later, versioned lines are passed over.
void applyConfigText(std::string_view bytes, ConversionSettings& settings);

} // namespace tollavar
