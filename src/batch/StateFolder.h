#pragma once

#include <string>

namespace tollavar {

// The program's own folder for what it keeps between runs: $XDG_STATE_HOME/tollavar, where XDG_STATE_HOME
// defaults to ~/.local/state. Empty when neither it nor HOME is set.
std::string programStateFolder();

// `name` inside it; empty when there is no state folder.
std::string inStateFolder(const std::string& name);

} // namespace tollavar
