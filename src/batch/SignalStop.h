#pragma once

#include "engine/Notice.h"

#include <csignal>
#include <string>

namespace tollavar {

// While it lives, SIGTERM, SIGINT and SIGHUP ask the running conversion to stop at its next line
// boundary (through its failure path) instead of killing it with images moved and unlisted; a second
// one ends the program at once. Afterwards the handling in place before comes back.
class SignalStopGuard
{
public:
    SignalStopGuard();
    ~SignalStopGuard();
    SignalStopGuard(const SignalStopGuard&) = delete;
    SignalStopGuard& operator=(const SignalStopGuard&) = delete;

private:
    struct sigaction m_previous[3];
};

// From the first instruction of main: SIGTERM, SIGINT and SIGHUP only ask for a stop, which the
// program answers at its next safe point (before converting, or at a line boundary), and SIGXFSZ is
// ignored, so that a write past the file-size limit fails with EFBIG and is reported like a full disk
// instead of ending the program without a word; so is SIGPIPE, so that a closed standard output loses
// only what was written to it.
void handleStopSignalsFromStart();

// Gives SIGTERM, SIGINT and SIGHUP back their default action, for work that is safe to end anywhere
// (a window that converts nothing, a check).
void restoreDefaultStopSignals();

// That a stop came before anything was converted, naming the signal that asked ("SIGTERM").
Notice stoppedBeforeConverting();

} // namespace tollavar
