#pragma once

#include "engine/FailureReport.h"
#include "engine/Prompter.h"

namespace tollavar {

// The words of every failure the program shows: the one place a Failure becomes a message. Kept free
// of Qt so that the terminal, the window and the tests all show the same text.
Message failureMessage(const FailureReport& report);

// Shows the failure's message through `prompter` and returns it.
Message showFailure(Prompter& prompter, const FailureReport& report);

} // namespace tollavar
