#pragma once

#include <string>

namespace tollavar {

struct LongOptions;

// --check and --watch: start-up reads the configuration and the switches as for an unattended run,
// without a window or a display; then the batch is checked, or the hot folder watched. Returns the
// program's exit status.
int runOperatorMode(const LongOptions& options, const std::string& argumentText);

} // namespace tollavar
