#pragma once

#include <chrono>
#include <string>

namespace tollavar {

// What a supervisor of the hot folder (systemd) is told: ready once watching, a status line after each
// conversion, stopping, and a sign of life at least every heartbeatEvery() while the watch is well.
class WatchEvents
{
public:
    virtual ~WatchEvents() = default;
    virtual void watching() {}
    virtual void status(const std::string& /*line*/) {}
    virtual void stopping() {}
    // Zero: no sign of life is wanted.
    virtual std::chrono::milliseconds heartbeatEvery() const { return std::chrono::milliseconds(0); }
    virtual void alive() {}
};

} // namespace tollavar
