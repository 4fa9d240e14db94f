#include "batch/SignalStop.h"

#include "engine/StopRequest.h"

#include <cstring>

namespace tollavar {

namespace {

constexpr int kSignals[3] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void onStopSignal(int signal)
{
    if (stopRequested()) {
        // Asked twice: the person (or the system) will not wait for the line to end.
        struct sigaction fallback
        {
        };
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        ::sigaction(signal, &fallback, nullptr);
        ::raise(signal);
        return;
    }
    requestStop(signal);
}

// One stop signal at a time: the handler reads and sets the request without a race with the others.
// Restarted calls: a file operation in flight finishes, and the run looks at the request between lines.
struct sigaction stopAction()
{
    struct sigaction action
    {
    };
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals)
        sigaddset(&action.sa_mask, signal);
    action.sa_flags = SA_RESTART;
    return action;
}

} // namespace

void handleStopSignalsFromStart()
{
    const struct sigaction action = stopAction();
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
    ::signal(SIGXFSZ, SIG_IGN);
    // A reader that closed its end of standard output (`| head`) has lost a message, not ended the
    // conversion: the write fails with EPIPE and the exit status stays the conversion's.
    ::signal(SIGPIPE, SIG_IGN);
    // A parent may start us with them blocked (the mask survives exec): a stop that is never seen
    // would leave systemd or the operator nothing but SIGKILL.
    ::sigprocmask(SIG_UNBLOCK, &action.sa_mask, nullptr);
}

void restoreDefaultStopSignals()
{
    for (int signal : kSignals)
        ::signal(signal, SIG_DFL);
}

Notice stoppedBeforeConverting()
{
    Notice stopped{NoticeKind::StoppedBeforeConverting};
    stopped.reason = stopRequestName();
    return stopped;
}

SignalStopGuard::SignalStopGuard()
{
    const struct sigaction action = stopAction();
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &action, &m_previous[i]);
}

SignalStopGuard::~SignalStopGuard()
{
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &m_previous[i], nullptr);
}

} // namespace tollavar
