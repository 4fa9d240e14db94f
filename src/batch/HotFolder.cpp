#include "batch/HotFolder.h"

#include "filetools/Failure.h"
#include "filetools/FileStatus.h"
#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"
#include "filetools/OpenForWriting.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <utility>

namespace tollavar {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr long kNfsMagic = 0x6969;
constexpr long kSmbMagic = 0x517B;
constexpr unsigned long kCifsMagic = 0xFF534D42;
constexpr unsigned long kSmb2Magic = 0xFE534D42;
// IN_CREATE for the names made by a link (ln, cp -l, rsync --link-dest, ln -s), which neither write nor
// close anything: a created file still being written shows as busy or changing before it is judged.
constexpr uint32_t kWatchMask =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

bool sameFile(const ReadyFile& a, const struct stat& b)
{
    return a.device == b.st_dev && a.inode == b.st_ino && a.size == b.st_size &&
           a.modified.tv_sec == b.st_mtim.tv_sec && a.modified.tv_nsec == b.st_mtim.tv_nsec;
}

ReadyFile readyFile(const std::string& path, const struct stat& st)
{
    return ReadyFile{path, st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

// How long ago the file was last written, by its own time stamp; zero for a time in the future.
milliseconds ageOf(const struct stat& st)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const long long ms = (now.tv_sec - st.st_mtim.tv_sec) * 1000LL + (now.tv_nsec - st.st_mtim.tv_nsec) / 1000000;
    return milliseconds(std::max(0LL, ms));
}

Notice limitNotice(int error, const std::string& folder)
{
    if (error == ENOSPC)
        return Notice{NoticeKind::InotifyWatchLimit, folder};
    if (error == EMFILE)
        return Notice{NoticeKind::InotifyInstanceLimit, folder};
    Notice unavailable{NoticeKind::InotifyUnavailable, folder};
    unavailable.reason = std::strerror(error);
    return unavailable;
}

} // namespace

std::string networkMountKind(const std::string& folder)
{
    const auto found = files::fileSystemTypeOf(folder);
    if (!found)
        return {};
    const unsigned long type = *found;
    if (type == kNfsMagic)
        return "NFS";
    if (type == kSmbMagic || type == kCifsMagic || type == kSmb2Magic)
        return "SMB/CIFS";
    return {};
}

HotFolder::HotFolder(const std::vector<std::string>& folders, milliseconds settle,
                     std::optional<std::chrono::seconds> poll, const FileTools& /*fileTools*/)
    : m_settle(settle), m_pollInterval(poll.value_or(std::chrono::seconds(2)))
{
    for (const std::string& path : folders) {
        WatchedFolder folder{path, true, polling(NoticeKind::PolledOnRequest, path)};
        const std::string network = networkMountKind(path);
        if (!poll && !network.empty()) {
            folder.how = polling(NoticeKind::PolledNetworkMount, path);
            folder.how.text = network;
        } else if (!poll) {
            folder.polled = false;
            folder.how = Notice{NoticeKind::WatchedByInotify, path};
        }
        m_folders.push_back(folder);
    }
    m_watches.assign(m_folders.size(), -1);
    setUpInotify();
    for (size_t i = 0; i < m_folders.size(); ++i)
        scanFolder(i, true);
    m_lastPoll = Clock::now();
}

HotFolder::~HotFolder() = default;

Notice HotFolder::polling(NoticeKind why, const std::string& folder) const
{
    Notice how{why, folder};
    how.count = static_cast<long>(m_pollInterval.count() / 1000);
    return how;
}

void HotFolder::setUpInotify()
{
    for (size_t i = 0; i < m_folders.size(); ++i) {
        WatchedFolder& folder = m_folders[i];
        if (folder.polled)
            continue;
        if (!m_inotify.isOpen()) {
            m_inotify.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
            if (!m_inotify.isOpen()) {
                const int error = errno;
                m_notices.push_back(limitNotice(error, folder.path));
                for (WatchedFolder& other : m_folders) {
                    if (!other.polled) {
                        other.polled = true;
                        other.how = polling(NoticeKind::PolledWithoutInotify, other.path);
                    }
                }
                return;
            }
        }
        const int watch = ::inotify_add_watch(m_inotify.get(), folder.path.c_str(), kWatchMask);
        if (watch < 0) {
            m_notices.push_back(limitNotice(errno, folder.path));
            folder.polled = true;
            folder.how = polling(NoticeKind::PolledWithoutWatch, folder.path);
            continue;
        }
        m_watches[i] = watch;
        m_folderOfWatch[watch] = i;
    }
}

std::vector<Notice> HotFolder::takeNotices()
{
    return std::exchange(m_notices, {});
}

void HotFolder::addCandidate(const std::string& path, bool closed, bool present)
{
    const std::optional<struct stat> found = files::statusOf(path);
    if (!found || !S_ISREG(found->st_mode))
        return;
    const struct stat& st = *found;
    if (auto left = m_leftAlone.find(path); left != m_leftAlone.end()) {
        if (sameFile(left->second.file, st))
            return;
        m_leftAlone.erase(left);
    }
    auto ready = std::find_if(m_ready.begin(), m_ready.end(), [&](const ReadyFile& f) { return f.path == path; });
    if (ready != m_ready.end()) {
        if (closed && sameFile(*ready, st))
            return;
        m_ready.erase(ready);
    }
    const auto now = Clock::now();
    auto [candidate, added] = m_candidates.try_emplace(path);
    if (added || !sameFile(candidate->second.seen, st)) {
        candidate->second.seen = st;
        // A file that was there before the watch began and has not been written for the settle time
        // is complete already: it need not wait again.
        candidate->second.changedAt = present ? now - std::min(ageOf(st), m_settle) : now;
    }
    candidate->second.closed = closed;
}

void HotFolder::scanFolder(size_t folder, bool atStart)
{
    const std::string& path = m_folders[folder].path;
    std::vector<std::string> names;
    try {
        names = files::listFiles(path);
    } catch (const Failure&) {
        return; // a folder gone for a moment; the next look sees it again
    }
    const std::string prefix = path == "/" ? "/" : path + "/";
    for (const std::string& name : names)
        addCandidate(prefix + name, true, atStart);
    if (atStart)
        return;
    // Polled files that vanished are no candidates any more.
    for (auto it = m_candidates.begin(); it != m_candidates.end();) {
        const std::string& candidate = it->first;
        const bool inFolder = candidate.starts_with(prefix) && candidate.find('/', prefix.size()) == std::string::npos;
        if (inFolder && !std::binary_search(names.begin(), names.end(), candidate.substr(prefix.size())))
            it = m_candidates.erase(it);
        else
            ++it;
    }
}

void HotFolder::readEvents()
{
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t length = ::read(m_inotify.get(), buffer, sizeof buffer);
        if (length <= 0)
            return;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                m_notices.push_back(Notice{NoticeKind::EventQueueOverflowed});
                for (size_t i = 0; i < m_folders.size(); ++i)
                    if (!m_folders[i].polled)
                        scanFolder(i, false);
                continue;
            }
            const auto folder = m_folderOfWatch.find(event->wd);
            if (folder == m_folderOfWatch.end())
                continue;
            WatchedFolder& watched = m_folders[folder->second];
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                if (!watched.polled) {
                    m_notices.push_back(Notice{NoticeKind::WatchedFolderGone, watched.path});
                    watched.polled = true;
                    watched.how = Notice{NoticeKind::PolledFolderGone, watched.path};
                    if (event->mask & IN_MOVE_SELF)
                        ::inotify_rm_watch(m_inotify.get(), event->wd);
                }
                continue;
            }
            if (event->len == 0 || (event->mask & IN_ISDIR))
                continue;
            const std::string path = (watched.path == "/" ? "" : watched.path) + "/" + event->name;
            if (event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE)) {
                addCandidate(path, true, false);
            } else if (event->mask & IN_MODIFY) {
                // Written again after it was closed: it waits for its next close.
                if (auto candidate = m_candidates.find(path); candidate != m_candidates.end()) {
                    candidate->second.closed = false;
                    candidate->second.changedAt = Clock::now();
                }
                std::erase_if(m_ready, [&](const ReadyFile& f) { return f.path == path; });
            }
        }
    }
}

void HotFolder::pollFolders()
{
    for (size_t i = 0; i < m_folders.size(); ++i)
        if (m_folders[i].polled)
            scanFolder(i, false);
    m_lastPoll = Clock::now();
}

bool HotFolder::collectReady(std::vector<ReadyFile>& ready)
{
    const auto now = Clock::now();
    bool settling = false;
    for (auto it = m_candidates.begin(); it != m_candidates.end();) {
        Candidate& candidate = it->second;
        if (!candidate.closed) {
            ++it;
            continue;
        }
        if (now - candidate.changedAt < m_settle) {
            settling = true;
            ++it;
            continue;
        }
        const std::optional<struct stat> found = files::statusOf(it->first);
        if (!found) {
            it = m_candidates.erase(it);
            continue;
        }
        const struct stat& st = *found;
        if (!sameFile(candidate.seen, st)) {
            candidate.seen = st;
            candidate.changedAt = now;
            settling = true;
            ++it;
            continue;
        }
        // Held open for writing by the station (or anyone else): not complete, whatever the kernel said.
        // Readers such as a virus scanner do not hold it back; where writers cannot be told, the settling
        // above is all there is.
        if (files::openForWritingElsewhere(it->first) == files::WriterCheck::Writing) {
            candidate.changedAt = now;
            ++it;
            continue;
        }
        if (m_ready.empty())
            m_firstReadyAt = now;
        m_ready.push_back(readyFile(it->first, st));
        it = m_candidates.erase(it);
    }
    const auto longestWait = std::max<milliseconds>(m_settle, milliseconds(500));
    if (m_ready.empty() || (settling && now - m_firstReadyAt < longestWait))
        return false;
    ready = std::exchange(m_ready, {});
    return true;
}

std::optional<milliseconds> HotFolder::takeDueRetries()
{
    const auto now = Clock::now();
    std::optional<milliseconds> next;
    std::vector<std::string> due;
    for (const auto& [path, left] : m_leftAlone) {
        if (!left.retryAt)
            continue;
        if (*left.retryAt <= now)
            due.push_back(path);
        else if (const auto wait = std::chrono::ceil<milliseconds>(*left.retryAt - now); !next || wait < *next)
            next = wait;
    }
    for (const std::string& path : due) {
        m_leftAlone.erase(path);
        addCandidate(path, true, true);
    }
    return next;
}

bool HotFolder::waitForBurst(int wakeFd, std::vector<ReadyFile>& ready)
{
    ready.clear();
    for (;;) {
        const std::optional<milliseconds> untilRetry = takeDueRetries();
        if (collectReady(ready))
            return true;
        int timeout = -1;
        if (!m_candidates.empty() || !m_ready.empty())
            timeout = static_cast<int>(std::clamp<long long>(m_settle.count() / 4, 50, 250));
        if (untilRetry) {
            const int retryTimeout = static_cast<int>(std::min<long long>(untilRetry->count(), 60000));
            timeout = timeout < 0 ? retryTimeout : std::min(timeout, retryTimeout);
        }
        if (std::any_of(m_folders.begin(), m_folders.end(), [](const auto& f) { return f.polled; })) {
            const auto untilPoll =
                std::chrono::duration_cast<milliseconds>(m_lastPoll + m_pollInterval - Clock::now()).count();
            const int pollTimeout = static_cast<int>(std::max<long long>(0, untilPoll));
            timeout = timeout < 0 ? pollTimeout : std::min(timeout, pollTimeout);
        }
        if (m_heartbeat) {
            if (Clock::now() - m_lastBeat >= m_heartbeatEvery) {
                m_heartbeat();
                m_lastBeat = Clock::now();
            }
            const auto untilBeat =
                std::chrono::duration_cast<milliseconds>(m_lastBeat + m_heartbeatEvery - Clock::now()).count();
            const int beatTimeout = static_cast<int>(std::max<long long>(0, untilBeat));
            timeout = timeout < 0 ? beatTimeout : std::min(timeout, beatTimeout);
        }
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {m_inotify.get(), POLLIN, 0}};
        const int count = ::poll(fds, m_inotify.isOpen() ? 2 : 1, timeout);
        if (count < 0 && errno != EINTR) {
            const int error = errno;
            Notice failed{NoticeKind::WaitingForFilesFailed};
            failed.reason = std::strerror(error);
            m_notices.push_back(failed);
            return false;
        }
        if (count > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            return false;
        if (count > 0 && m_inotify.isOpen() && (fds[1].revents & POLLIN))
            readEvents();
        if (Clock::now() - m_lastPoll >= m_pollInterval)
            pollFolders();
    }
}

void HotFolder::setHeartbeat(std::chrono::milliseconds every, std::function<void()> beat)
{
    m_heartbeatEvery = every;
    m_heartbeat = std::move(beat);
    m_lastBeat = Clock::time_point{};
}

void HotFolder::handled(const std::vector<ReadyFile>& files)
{
    for (const ReadyFile& file : files) {
        const std::optional<struct stat> st = files::statusOf(file.path);
        if (st && sameFile(file, *st))
            m_leftAlone[file.path] = LeftFile{file, std::nullopt};
    }
    // Names that are gone need no memory.
    for (auto it = m_leftAlone.begin(); it != m_leftAlone.end();) {
        it = files::statusOf(it->first) ? std::next(it) : m_leftAlone.erase(it);
    }
}

} // namespace tollavar

namespace tollavar {

HotFolder::Waiting HotFolder::waiting() const
{
    Waiting waiting;
    const auto count = [&](const timespec& modified) {
        struct stat st
        {
        };
        st.st_mtim = modified;
        ++waiting.files;
        waiting.oldest = std::max(waiting.oldest, std::chrono::duration_cast<std::chrono::seconds>(ageOf(st)));
    };
    for (const auto& [path, candidate] : m_candidates)
        count(candidate.seen.st_mtim);
    for (const ReadyFile& file : m_ready)
        count(file.modified);
    for (const auto& [path, left] : m_leftAlone)
        if (left.retryAt)
            count(left.file.modified);
    return waiting;
}

void HotFolder::retryAfter(const ReadyFile& file, milliseconds delay)
{
    // Changed already: its events bring it back.
    const std::optional<struct stat> st = files::statusOf(file.path);
    if (!st || !sameFile(file, *st))
        return;
    m_leftAlone[file.path] = LeftFile{file, Clock::now() + delay};
}

} // namespace tollavar
