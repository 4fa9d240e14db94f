#pragma once

#include <string>

namespace tollavar {

struct ConversionSettings;

// Resets every setting but the two field lists to its default.
void loadDefaults(ConversionSettings& settings);

// File, New: forgets the configuration file, then loadDefaults. Unsaved edits are lost, as designed.
void mNew_Click(ConversionSettings& settings, std::string& ConfigFile);

} // namespace tollavar
