#pragma once

#include <string>

namespace tollavar {

// Why no window can be shown ("neither DISPLAY nor WAYLAND_DISPLAY is set", "DISPLAY=:9 cannot be
// reached" ...), or "" when one can. A named display is tried with a short connection to its socket,
// so an unreachable one is found before Qt would abort on it.
std::string noDisplayReason();

// True when a window can be shown: a display to connect to, and no platform that draws nowhere.
bool displayAvailable();

// Where only one of DISPLAY and WAYLAND_DISPLAY answers and no platform is chosen, chooses the one
// that answers, so that Qt does not try the other and abort.
void preferReachableDisplay();

// Prepares a run without a display: Qt's offscreen platform, and a private runtime folder where the
// session has none (as under cron), so that Qt does not warn about it on every run.
void prepareHeadlessEnvironment();

// The program's argument text: the arguments from `first` on (after the program's name and its long
// options), joined with single spaces.
std::string argumentText(int argc, const char* const* argv, int first = 1);

} // namespace tollavar
