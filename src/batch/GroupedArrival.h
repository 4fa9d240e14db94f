#pragma once

#include "engine/Notice.h"

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tollavar {

struct CommandContext;
class GrownFiles;

// What each of some index files still waits for: the images and full-text files its lines name that
// are not there, or are there but not settled (written within the settle time, or held open for
// writing). Found by one dry run of the Convert command over those files, so that the lookup is the
// run's own, letter case and all.
std::map<std::string, std::vector<std::string>>
namedFilesNotReady(CommandContext& ctx, const std::vector<std::string>& indexFiles, std::chrono::milliseconds settle);

// A station often delivers an index file before the images it names. A complete index file is held
// while some of them are missing, looked at again every lookAgainIn(), and converted once they are all
// there and settled; or, when nothing new has arrived for `groupWait`, converted anyway, so that the
// run's own questions and failure report what is missing.
class GroupedArrival
{
public:
    GroupedArrival(std::chrono::milliseconds settle, std::chrono::seconds groupWait);

    bool active() const { return m_groupWait.count() > 0; }
    std::chrono::milliseconds lookAgainIn() const;

    // Of `indexFiles`, those to hold now; what the log is told goes to `notices`.
    std::set<std::string> toHold(CommandContext& ctx, const std::vector<std::string>& indexFiles,
                                 std::vector<Notice>& notices, GrownFiles* grown = nullptr);

private:
    struct Waiting
    {
        std::vector<std::string> missing;
        std::chrono::steady_clock::time_point lastChange;
    };

    std::chrono::milliseconds m_settle;
    std::chrono::seconds m_groupWait;
    std::map<std::string, Waiting> m_waiting;
};

} // namespace tollavar
