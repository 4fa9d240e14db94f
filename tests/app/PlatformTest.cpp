#include "app/Platform.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tollavar {
namespace {

// A listening socket that stands in for a display server; nothing is ever accepted, the backlog
// answers the connection.
class Listener
{
public:
    // A unix socket; `abstract` puts the name in the abstract namespace, as X servers do.
    Listener(const std::string& name, bool abstract)
    {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + (abstract ? 1 : 0), name.data(), name.size());
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + 1);
        m_ok = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(m_fd, 4) == 0;
    }
    // TCP on the loopback, on a port the system picks.
    Listener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        m_ok = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(m_fd, 4) == 0 &&
               ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
        m_port = ntohs(address.sin_port);
    }
    ~Listener() { ::close(m_fd); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    bool ok() const { return m_ok; }
    int port() const { return m_port; }

private:
    int m_fd = -1;
    bool m_ok = false;
    int m_port = 0;
};

// Sets the display variables for one case and puts them back afterwards.
class Environment
{
public:
    Environment()
    {
        for (const char* name : kNames) {
            const char* value = std::getenv(name);
            m_saved[name] = value ? std::optional<std::string>(value) : std::nullopt;
        }
    }
    ~Environment() { apply(m_saved); }

    void apply(const std::map<std::string, std::optional<std::string>>& values)
    {
        for (const char* name : kNames) {
            auto it = values.find(name);
            if (it != values.end() && it->second)
                ::setenv(name, it->second->c_str(), 1);
            else
                ::unsetenv(name);
        }
    }

private:
    static constexpr const char* kNames[] = {"DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "QT_QPA_PLATFORM"};
    std::map<std::string, std::optional<std::string>> m_saved;
};

TEST(PlatformTest, ADisplayCountsOnlyWhenItsServerAnswers)
{
    testing::TempDir runtime;
    const int number = 3000 + static_cast<int>(::getpid() % 1000);
    const std::string x = ":" + std::to_string(number);
    const std::string silentX = ":" + std::to_string(number + 1000);
    Listener abstractX("/tmp/.X11-unix/X" + std::to_string(number), true);
    Listener tcpX;
    Listener wayland(runtime / "wayland-test", false);
    ASSERT_TRUE(abstractX.ok() && tcpX.ok() && wayland.ok());
    const std::string tcpDisplay = "127.0.0.1:" + std::to_string(tcpX.port() - 6000) + ".0";
    std::string closedTcpDisplay;
    {
        Listener gone;
        closedTcpDisplay = "127.0.0.1:" + std::to_string(gone.port() - 6000);
    }

    struct Case
    {
        std::optional<std::string> display, waylandDisplay, platform;
        std::string reason;
    };
    const Case cases[] = {
        {x, {}, {}, ""},
        {"unix" + x + ".0", {}, {}, ""},
        {tcpDisplay, {}, {}, ""},
        {{}, "wayland-test", {}, ""},
        {silentX, "wayland-test", {}, ""},
        {{}, runtime / "wayland-test", {}, ""},
        {{}, {}, {}, "neither DISPLAY nor WAYLAND_DISPLAY is set"},
        {silentX, {}, {}, "DISPLAY=" + silentX + " cannot be reached"},
        {closedTcpDisplay, {}, {}, "DISPLAY=" + closedTcpDisplay + " cannot be reached"},
        {silentX, "wayland-gone", {}, "DISPLAY=" + silentX + " and WAYLAND_DISPLAY=wayland-gone cannot be reached"},
        {x, {}, "offscreen", "QT_QPA_PLATFORM=offscreen shows no window"},
    };
    Environment environment;
    for (const Case& c : cases) {
        environment.apply({{"DISPLAY", c.display},
                           {"WAYLAND_DISPLAY", c.waylandDisplay},
                           {"XDG_RUNTIME_DIR", runtime.path()},
                           {"QT_QPA_PLATFORM", c.platform}});
        EXPECT_EQ(noDisplayReason(), c.reason) << c.display.value_or("-") << " " << c.waylandDisplay.value_or("-");
        EXPECT_EQ(displayAvailable(), c.reason.empty());
    }
}

} // namespace
} // namespace tollavar
