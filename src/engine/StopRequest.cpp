#include "engine/StopRequest.h"

#include "filetools/Failure.h"

#include <csignal>
#include <cstring>
#include <string>

namespace tollavar {

namespace stop_detail {
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the flag is set from a signal handler");
} // namespace stop_detail

void requestStop(int signal) noexcept
{
    stop_detail::g_signal.store(signal == 0 ? -1 : signal, std::memory_order_relaxed);
}

void clearStopRequest() noexcept
{
    stop_detail::g_signal.store(0, std::memory_order_relaxed);
}

std::string stopRequestName()
{
    const int signal = stop_detail::g_signal.load(std::memory_order_relaxed);
    std::string name = "a stop request";
    if (signal == SIGTERM)
        name = "SIGTERM";
    else if (signal == SIGINT)
        name = "SIGINT";
    else if (signal == SIGHUP)
        name = "SIGHUP";
    else if (signal > 0)
        name = "signal " + std::to_string(signal);
    return name;
}

void throwStopped()
{
    throw Failure(ErrorCode::UserInterrupt, "Tollavar", "User interrupt occurred: stopped by " + stopRequestName());
}

} // namespace tollavar
