#pragma once

#include "engine/Notice.h"

#include <optional>
#include <set>
#include <string>

namespace tollavar {

// Tells, once per mount, that a folder lies where the datagroup's lock keeps out only this machine's
// runs. A single station is the common case there, so it is said, not refused. One Convert command
// keeps its own; a hot folder keeps one for its whole watch, so that it says so once, not per burst.
class LocalLockWarnings
{
public:
    // The notice for the mount holding `folder`, the first time that mount is met. A folder looked at
    // before is not looked at again: a hot folder asks before every burst.
    std::optional<Notice> check(const std::string& folder);

private:
    std::set<std::string> m_folders;
    std::set<std::string> m_told;
};

} // namespace tollavar
