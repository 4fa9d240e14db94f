#include "app/SystemdNotifier.h"

#include "ui/MessageTable.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <sys/socket.h>
#include <sys/un.h>
#include <systemd/sd-daemon.h>

namespace tollavar {

SystemdNotifier::SystemdNotifier(std::ostream& warnings) : m_warnings(warnings)
{
    const char* socketName = std::getenv("NOTIFY_SOCKET");
    m_active = socketName != nullptr;
    if (!m_active)
        return;
    std::uint64_t usec = 0;
    if (::sd_watchdog_enabled(0, &usec) > 0 && usec > 0)
        m_heartbeatEvery = std::chrono::milliseconds(std::max<std::uint64_t>(1, usec / 2000));
    // A path, or a name in the abstract namespace when it begins with "@".
    const std::string name = socketName;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.empty() || name.size() >= sizeof address.sun_path || (name[0] != '/' && name[0] != '@'))
        return;
    name.copy(address.sun_path, name.size());
    if (name[0] == '@')
        address.sun_path[0] = '\0';
    m_addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    m_address = address;
    m_socket.reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
}

void SystemdNotifier::notify(const std::string& state)
{
    if (!m_active)
        return;
    // Never waits: a socket nobody reads must not stop the watcher converting, nor keep it from
    // hearing SIGTERM. What does not fit is dropped.
    const bool sent =
        m_socket.isOpen() && ::sendto(m_socket.get(), state.data(), state.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                                      reinterpret_cast<const sockaddr*>(&m_address), m_addressLength) >= 0;
    if (sent || m_saidDropped)
        return;
    Notice dropped{NoticeKind::NotifySocketDropped, std::getenv("NOTIFY_SOCKET")};
    dropped.reason = std::strerror(m_socket.isOpen() ? errno : EINVAL);
    m_warnings << "tollavar: " << noticeText(dropped) << std::endl;
    m_saidDropped = true;
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
