#pragma once

#include "batch/CommandContext.h"
#include "batch/WatchCommand.h"
#include "batch/WatchSignals.h"
#include "engine/StopRequest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

namespace tollavar::testing {

// How many times `part` stands in `text` (a log line said once, or once per retry).
inline long occurrences(const std::string& text, const std::string& part)
{
    long n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// Waits for `done`, up to `limit`; false when it never came.
inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Watches in this process until `station` has done its part: the station (another thread) writes its
// files and waits for what it expects, then SIGTERM ends the watch as it would the program's. Returns
// the watch's log. The three signals stay blocked for this process afterwards; nothing else in the
// test program needs them.
inline std::string watchWhile(CommandContext& ctx, const WatchOptions& options, const std::function<void()>& station)
{
    WatchSignals signals;
    EXPECT_TRUE(signals.ok());
    // Made after the signals were blocked, so that it blocks them too and the watch reads them.
    std::thread stationThread([&station] {
        station();
        ::kill(::getpid(), SIGTERM);
    });
    std::ostringstream log;
    const int status = watchAndConvert(ctx, options, signals, log);
    stationThread.join();
    clearStopRequest();
    EXPECT_EQ(status, 0) << log.str();
    return log.str();
}

} // namespace tollavar::testing
