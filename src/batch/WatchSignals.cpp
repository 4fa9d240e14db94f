#include "batch/WatchSignals.h"

#include "engine/StopRequest.h"

#include <csignal>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <utility>

namespace tollavar {

namespace {

sigset_t watchedSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

WatchSignals::WatchSignals()
{
    const sigset_t set = watchedSignals();
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) == 0)
        m_fd.reset(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    // One that came before the block was handled as a stop request already. A hang-up then asks for
    // nothing: the configuration is read after this anyway.
    const int early = stop_detail::g_signal.load(std::memory_order_relaxed);
    if (early == SIGHUP)
        clearStopRequest();
    else if (early != 0)
        m_stopSignal = early;
}

bool WatchSignals::take()
{
    if (!m_fd.isOpen())
        return false;
    bool any = false;
    signalfd_siginfo info{};
    while (::read(m_fd.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        any = true;
        const int signal = static_cast<int>(info.ssi_signo);
        if (signal == SIGHUP) {
            m_reload = true;
        } else if (m_stopSignal == 0) {
            m_stopSignal = signal;
            requestStop(signal);
        }
    }
    return any;
}

void WatchSignals::pause(std::chrono::milliseconds limit)
{
    pollfd wait{m_fd.get(), POLLIN, 0};
    ::poll(&wait, m_fd.isOpen() ? 1 : 0, static_cast<int>(limit.count()));
    take();
}

bool WatchSignals::takeReloadRequest()
{
    return std::exchange(m_reload, false);
}

} // namespace tollavar
