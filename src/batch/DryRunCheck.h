#pragma once

#include "batch/CheckReport.h"
#include "engine/Prompter.h"

namespace tollavar {

struct CommandContext;

// Runs the Convert command on the settings as they stand, dry: every question is answered as an
// unattended run would answer it, and every change to files recorded instead of made. Writes nothing
// (no lock file, journal, configuration, DATAGRP.XML, image or marker); the context is left as it was.
// Each message is recorded in the context's words, as the run would show it.
CheckReport checkBatch(CommandContext& ctx);

} // namespace tollavar
