#include "app/SystemdNotifier.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <systemd/sd-daemon.h>

namespace tollavar {

SystemdNotifier::SystemdNotifier()
{
    m_active = std::getenv("NOTIFY_SOCKET") != nullptr;
    std::uint64_t usec = 0;
    if (m_active && ::sd_watchdog_enabled(0, &usec) > 0 && usec > 0)
        m_heartbeatEvery = std::chrono::milliseconds(std::max<std::uint64_t>(1, usec / 2000));
}

void SystemdNotifier::notify(const std::string& state)
{
    if (m_active)
        ::sd_notify(0, state.c_str());
}

void SystemdNotifier::watching()
{
    notify("READY=1\nSTATUS=watching for index files");
    m_lastAlive = std::chrono::steady_clock::now();
}

void SystemdNotifier::status(const std::string& line)
{
    notify("STATUS=" + line);
}

void SystemdNotifier::stopping()
{
    notify("STOPPING=1");
}

void SystemdNotifier::alive()
{
    notify("WATCHDOG=1");
    m_lastAlive = std::chrono::steady_clock::now();
}

void SystemdNotifier::linesDone(long, long)
{
    if (m_heartbeatEvery.count() > 0 && std::chrono::steady_clock::now() - m_lastAlive >= m_heartbeatEvery)
        alive();
}

} // namespace tollavar
