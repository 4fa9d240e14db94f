#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tollavar {

// The options that come before the configuration file. They are read off argv before the argument
// text is formed, so nothing the classic switches take ("/c:", "/f:" ...) can be mistaken for one, and
// a switch never changes meaning because an option stands in front of it.
struct LongOptions
{
    bool help = false;
    bool version = false;
    bool check = false;                     // report what a conversion would do, change nothing
    bool watch = false;                     // convert index files as they arrive, until a signal
    bool json = false;                      // --check's report, a run's record or the history as JSON
    bool quiet = false;                     // no progress line on a terminal
    bool history = false;                   // print the last commands of the run history
    std::optional<std::string> logFile;     // the run history's file instead of the default
    std::optional<int> waitSeconds;         // how long an unattended run waits for a datagroup held by another
    std::optional<int> settleSeconds;       // --watch: how long a file must stay unchanged
    std::optional<int> pollSeconds;         // --watch: poll at this interval instead of inotify
    std::optional<int> retrySeconds;        // --watch: when a file that failed is tried again
    std::optional<int> groupWaitSeconds;    // --watch: how long an index file waits for its images; 0: not
    std::optional<std::string> metricsFile; // figures for monitoring, rewritten after each Convert command
};

struct LongOptionsResult
{
    LongOptions options;
    // Index into argv of the first argument that is not a long option; the argument text starts there.
    int firstArgument = 1;
    // Non-empty when an option is unknown or its value unusable: the program says so and exits 2.
    std::string error;
};

// Reads the leading "--name" and "--name=value" arguments; a lone "--" ends them and is dropped.
LongOptionsResult readLongOptions(int argc, const char* const* argv);

// The short usage printed by --help: switches, long options and exit statuses.
std::string usageText();

// "Tollavar 1.3.24"
std::string versionText();

} // namespace tollavar
