#pragma once

#include <string>

namespace tollavar {

// True when a window can be shown: a display to connect to, and no platform that draws nowhere.
bool displayAvailable();

// Prepares a run without a display: Qt's offscreen platform, and a private runtime folder where the
// session has none (as under cron), so that Qt does not warn about it on every run.
void prepareHeadlessEnvironment();

// The program's argument text: the arguments from `first` on (after the program's name and its long
// options), joined with single spaces.
std::string argumentText(int argc, const char* const* argv, int first = 1);

} // namespace tollavar
