#pragma once

#include <atomic>
#include <string>

namespace tollavar {

// Set from a signal handler when the user (or a shutdown) asks a conversion to stop. A run looks at it
// at every line boundary and between index files, and leaves through its failure path.
namespace stop_detail {
extern std::atomic<int> g_signal;
}

inline bool stopRequested() noexcept
{
    return stop_detail::g_signal.load(std::memory_order_relaxed) != 0;
}

// Async-signal-safe.
void requestStop(int signal) noexcept;
void clearStopRequest() noexcept;

// "SIGTERM", "SIGINT", "SIGHUP", "signal <n>" or "a stop request".
std::string stopRequestName();

// Raises the Failure a stopped run reports: classic error 18, naming the signal.
[[noreturn]] void throwStopped();

} // namespace tollavar
