#pragma once

#include "batch/CheckReport.h"
#include "engine/Prompter.h"

namespace tollavar {

struct CommandContext;

// Runs the Convert command on the settings as they stand, dry: every question is answered as an
// unattended run would answer it, and every change to files recorded instead of made. Writes nothing
// (no lock file, journal, configuration, DATAGRP.XML, image or marker); the context is left as it was.
// Each message is recorded in the context's words, as the run would show it. Where the run would stop,
// the check notes the stop and goes on to the end of every selected index file. `waitSeconds` is how
// long the unattended run waits for a busy datagroup or DATAGRP.XML before it asks.
CheckReport checkBatch(CommandContext& ctx, long waitSeconds = 600);

} // namespace tollavar
