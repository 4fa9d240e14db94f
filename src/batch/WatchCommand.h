#pragma once

#include <chrono>
#include <iosfwd>
#include <optional>
#include <string>

namespace tollavar {

struct CommandContext;
class RunMetrics;
class WatchEvents;
class WatchSignals;

struct WatchOptions
{
    std::chrono::milliseconds settle{2000};
    std::optional<std::chrono::seconds> poll; // poll every folder at this interval instead of inotify
    WatchEvents* events = nullptr;            // told when watching starts and stops and what was done
    std::chrono::seconds retry{300};          // a file that failed is tried again after this, or when it changes
    RunMetrics* metrics = nullptr;            // written after each Convert command and every 30 s
    // How long an index file waits for the images it names while new ones keep arriving; none: `retry`,
    // zero: it does not wait for them.
    std::optional<std::chrono::seconds> groupWait;
    // Where what was converted of a file that grew meanwhile is kept; empty: nowhere, and such a file is
    // converted whole again.
    std::string stateFolder;
};

// The hot folder: watches the folders of the settings' items and runs one Convert command for each
// burst of complete index files, until SIGTERM or SIGINT. A Convert command that has begun always runs
// to its end first; a SIGHUP, after it, reads the configuration again. Converted index files are
// removed, whatever the configuration's switch says, so that none is converted twice (a file that
// changed while it was converted stays, to be converted again); the switch itself is not changed, as
// the command saves the configuration. A file that fails is left where it is and tried again when it
// changes or after `retry`; the others go on. Reports on `log`, one line per index file converted or
// failed. Returns 0 when stopped, 2 when no item has a folder that can be watched.
int watchAndConvert(CommandContext& ctx, const WatchOptions& options, WatchSignals& watchSignals, std::ostream& log);

} // namespace tollavar
