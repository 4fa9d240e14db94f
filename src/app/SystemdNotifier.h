#pragma once

#include "batch/WatchEvents.h"
#include "engine/ConversionObserver.h"

#include <chrono>
#include <string>

namespace tollavar {

// Tells systemd, through the socket NOTIFY_SOCKET names, how the hot folder does: READY=1 once
// watching, STATUS= after each Convert command, STOPPING=1 and, when WATCHDOG_USEC asks for it,
// WATCHDOG=1 at half that interval, while waiting and during a long conversion alike.
class SystemdNotifier : public WatchEvents, public ConversionObserver
{
public:
    SystemdNotifier();
    // Whether systemd listens (NOTIFY_SOCKET is set).
    bool active() const { return m_active; }

    void watching() override;
    void status(const std::string& line) override;
    void stopping() override;
    std::chrono::milliseconds heartbeatEvery() const override { return m_heartbeatEvery; }
    void alive() override;

    void linesDone(long lines, long documents) override;

private:
    void notify(const std::string& state);

    bool m_active = false;
    std::chrono::milliseconds m_heartbeatEvery{0};
    std::chrono::steady_clock::time_point m_lastAlive;
};

} // namespace tollavar
