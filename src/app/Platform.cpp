#include "app/Platform.h"

#include "filetools/UniqueFd.h"

#include <QByteArray>
#include <QtGlobal>

#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tollavar {

namespace {

// Long enough for a display across a network, short enough not to hold up a run from cron.
constexpr int kProbeMilliseconds = 1500;

bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

bool connectsWithin(int fd, const sockaddr* address, socklen_t length)
{
    if (::connect(fd, address, length) == 0)
        return true;
    if (errno != EINPROGRESS && errno != EAGAIN)
        return false;
    pollfd waiting{fd, POLLOUT, 0};
    if (::poll(&waiting, 1, kProbeMilliseconds) != 1)
        return false;
    int error = 0;
    socklen_t size = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

bool socketAnswers(int family, const sockaddr* address, socklen_t length)
{
    const files::UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    return fd.isOpen() && connectsWithin(fd.get(), address, length);
}

// An abstract name ("@/tmp/.X11-unix/X0") has no file; the kernel tells it by a leading NUL.
bool unixSocketAnswers(const std::string& path, bool abstract)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t offset = abstract ? 1 : 0;
    if (path.empty() || path.size() + offset >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    // An abstract name is as long as it is said to be; a path ends at its NUL.
    const socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
    return socketAnswers(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length);
}

bool tcpAnswers(const std::string& host, int port)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return false;
    bool answers = false;
    for (addrinfo* a = found; a && !answers; a = a->ai_next)
        answers = socketAnswers(a->ai_family, a->ai_addr, a->ai_addrlen);
    ::freeaddrinfo(found);
    return answers;
}

// DISPLAY is "[protocol/][host]:number[.screen]": no host (or "unix") is the local socket, in the
// abstract namespace or as a file; a host is TCP port 6000 + number; a path is a socket of its own.
bool xDisplayAnswers(const std::string& display)
{
    if (display.starts_with("/") && unixSocketAnswers(display, false))
        return true;
    const size_t colon = display.rfind(':');
    if (colon == std::string::npos)
        return false;
    std::string host = display.substr(0, colon);
    std::string protocol;
    if (const size_t slash = host.find('/'); slash != std::string::npos && !host.starts_with("/")) {
        protocol = host.substr(0, slash);
        host = host.substr(slash + 1);
    }
    const std::string numberText = display.substr(colon + 1, display.find('.', colon) - colon - 1);
    if (numberText.empty() || numberText.size() > 5 || numberText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int number = std::stoi(numberText);
    if (host.starts_with("/"))
        return unixSocketAnswers(host, false);
    if (host.empty() || host == "unix" || protocol == "unix") {
        const std::string path = "/tmp/.X11-unix/X" + numberText;
        return unixSocketAnswers(path, true) || unixSocketAnswers(path, false);
    }
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return number <= 65535 - 6000 && tcpAnswers(host, 6000 + number);
}

bool waylandDisplayAnswers(const std::string& name)
{
    if (name.starts_with("/"))
        return unixSocketAnswers(name, false);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime && *runtime && unixSocketAnswers(std::string(runtime) + "/" + name, false);
}

// A folder only this user can enter, as a runtime folder must be.
bool isPrivateFolder(const char* path)
{
    struct stat st
    {
    };
    return ::lstat(path, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 0777) == 0700;
}

bool platformDrawsNowhere(std::string_view name)
{
    return name.starts_with("offscreen") || name.starts_with("minimal");
}

} // namespace

std::string noDisplayReason()
{
    if (const char* platform = std::getenv("QT_QPA_PLATFORM"); platform && platformDrawsNowhere(platform))
        return std::string("QT_QPA_PLATFORM=") + platform + " shows no window";
    const bool x = isSet("DISPLAY");
    const bool wayland = isSet("WAYLAND_DISPLAY");
    if (!x && !wayland)
        return "neither DISPLAY nor WAYLAND_DISPLAY is set";
    if ((x && xDisplayAnswers(std::getenv("DISPLAY"))) ||
        (wayland && waylandDisplayAnswers(std::getenv("WAYLAND_DISPLAY"))))
        return "";
    std::string named;
    if (x)
        named = std::string("DISPLAY=") + std::getenv("DISPLAY");
    if (wayland)
        named += (x ? " and WAYLAND_DISPLAY=" : "WAYLAND_DISPLAY=") + std::string(std::getenv("WAYLAND_DISPLAY"));
    return named + " cannot be reached";
}

bool displayAvailable()
{
    return noDisplayReason().empty();
}

void preferReachableDisplay()
{
    if (isSet("QT_QPA_PLATFORM") || !isSet("DISPLAY") || !isSet("WAYLAND_DISPLAY"))
        return;
    const bool x = xDisplayAnswers(std::getenv("DISPLAY"));
    const bool wayland = waylandDisplayAnswers(std::getenv("WAYLAND_DISPLAY"));
    if (x != wayland)
        qputenv("QT_QPA_PLATFORM", QByteArray(x ? "xcb" : "wayland"));
}

void prepareHeadlessEnvironment()
{
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    if (isSet("XDG_RUNTIME_DIR") && isPrivateFolder(std::getenv("XDG_RUNTIME_DIR")))
        return;
    // Qt would warn about a missing or unfit folder and make its own under a name of its choosing. The
    // usual one is taken when it is ours and private; else a fresh one, which nobody else can have prepared.
    std::string folder = "/tmp/runtime-" + std::to_string(::getuid());
    ::mkdir(folder.c_str(), 0700);
    if (!isPrivateFolder(folder.c_str())) {
        static std::string freshFolder = "/tmp/tollavar-runtime-XXXXXX";
        folder = ::mkdtemp(freshFolder.data()) ? freshFolder : "";
        // Gone with the run unless something was left in it: a run from cron must not fill /tmp.
        if (!folder.empty())
            std::atexit([] { ::rmdir(freshFolder.c_str()); });
    }
    if (!folder.empty())
        qputenv("XDG_RUNTIME_DIR", QByteArray(folder.c_str()));
}

std::string argumentText(int argc, const char* const* argv, int first)
{
    std::string text;
    for (int i = first; i < argc; ++i) {
        if (i > first)
            text += ' ';
        text += argv[i];
    }
    return text;
}

} // namespace tollavar
