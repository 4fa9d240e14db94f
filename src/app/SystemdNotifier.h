#pragma once

#include "batch/WatchEvents.h"
#include "engine/ConversionObserver.h"

#include "filetools/UniqueFd.h"

#include <chrono>
#include <iosfwd>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>

namespace tollavar {

// Tells systemd, through the socket NOTIFY_SOCKET names, how the hot folder does: READY=1 once
// watching, STATUS= after each Convert command, STOPPING=1 and, when WATCHDOG_USEC asks for it,
// WATCHDOG=1 at half that interval, while waiting and during a long conversion alike. A message the
// socket cannot take at once is dropped, and the first drop is said on `warnings`.
class SystemdNotifier : public WatchEvents, public ConversionObserver
{
public:
    explicit SystemdNotifier(std::ostream& warnings);
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

    std::ostream& m_warnings;
    bool m_active = false;
    files::UniqueFd m_socket;
    sockaddr_un m_address{};
    socklen_t m_addressLength = 0;
    bool m_saidDropped = false;
    std::chrono::milliseconds m_heartbeatEvery{0};
    std::chrono::steady_clock::time_point m_lastAlive;
};

} // namespace tollavar
