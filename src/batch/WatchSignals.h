#pragma once

#include "filetools/UniqueFd.h"

#include <chrono>

namespace tollavar {

// SIGTERM, SIGINT and SIGHUP for a hot folder. They are blocked and read from a descriptor, so that none
// ever cuts a conversion short; the watcher looks at them between conversions, and while it waits (for
// files, or for a datagroup another run holds) the descriptor wakes it at once.
class WatchSignals
{
public:
    // Blocks the three signals for the whole process. ok() is false when that failed (errno says why).
    WatchSignals();
    WatchSignals(const WatchSignals&) = delete;
    WatchSignals& operator=(const WatchSignals&) = delete;

    bool ok() const { return m_fd.isOpen(); }
    // Readable while a signal waits to be taken.
    int fd() const { return m_fd.get(); }

    // Reads the signals that arrived; true when there was one. SIGTERM and SIGINT become the
    // process's stop request; a SIGHUP asks for the configuration to be read again.
    bool take();
    // Waits up to `limit` for a signal and takes what came.
    void pause(std::chrono::milliseconds limit);

    // The stop signal taken, 0 while none.
    int stopSignal() const { return m_stopSignal; }
    // True once after each SIGHUP.
    bool takeReloadRequest();

private:
    files::UniqueFd m_fd;
    int m_stopSignal = 0;
    bool m_reload = false;
};

} // namespace tollavar
