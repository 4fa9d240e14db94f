#pragma once

#include <csignal>

namespace tollavar {

// While it lives, SIGTERM, SIGINT and SIGHUP ask the running conversion to stop at its next line
// boundary (through its failure path) instead of killing it with images moved and unlisted; a second
// one ends the program at once. Installed only around a conversion, so that other work (an idle
// window, a watch loop reading signals its own way) keeps its own handling.
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

} // namespace tollavar
