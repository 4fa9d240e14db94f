#pragma once

#include <string>

namespace tollavar {

struct ConversionSettings;

// Resets every setting but the two field lists to its default.
void loadDefaults(ConversionSettings& settings);

// File, New: forgets the configuration file, then loadDefaults. Unsaved edits are lost, as designed.
void newCommand(ConversionSettings& settings, std::string& configFile);

} // namespace tollavar
