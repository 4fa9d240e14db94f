#pragma once

#include <string>

namespace tollavar {

// True when a window can be shown: a display to connect to, and no platform that draws nowhere.
bool displayAvailable();

// The program's argument text: the arguments after its own name, joined with single spaces.
std::string argumentText(int argc, const char* const* argv);

} // namespace tollavar
