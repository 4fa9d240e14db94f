#pragma once

#include <chrono>
#include <iosfwd>
#include <optional>

namespace tollavar {

struct CommandContext;
class WatchEvents;

struct WatchOptions
{
    std::chrono::milliseconds settle{2000};
    std::optional<std::chrono::seconds> poll; // poll every folder at this interval instead of inotify
    WatchEvents* events = nullptr;            // told when watching starts and stops and what was done
};

// The hot folder: watches the folders of the settings' items and runs one Convert command for each
// burst of complete index files, until `stopFd` becomes readable (a signalfd, say). A Convert command
// that has begun always runs to its end first. Converted index files are removed, whatever the
// configuration's switch says, so that none is converted twice; the switch itself is not changed, as
// the command saves the configuration. Reports on `log`, one line per index file converted or failed.
// Returns 0 when stopped, 2 when no item has a folder that can be watched.
int WatchAndConvert(CommandContext& ctx, const WatchOptions& options, int stopFd, std::ostream& log);

} // namespace tollavar
