#pragma once

#include "engine/RunStage.h"
#include "filetools/Failure.h"

namespace tollavar {

// What a failure ended. The layer that shows the failure chooses its words from this.
enum class FailedWork
{
    ConversionRun,  // one index file's run, at `stage`; also a failed undo after it
    ConvertCommand, // the Convert command around the runs
    OpeningConfig,
    SavingConfig,
    StartingUp,
};

// A failure handed up to be shown: the value, what it ended and, for a run, where.
struct FailureReport
{
    FailedWork work;
    Failure failure;
    RunStage stage = RunStage::Starting;
};

} // namespace tollavar
