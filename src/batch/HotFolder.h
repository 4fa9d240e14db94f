#pragma once

#include "engine/Notice.h"
#include "filetools/UniqueFd.h"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace tollavar {

class FileTools;

// A file judged complete, with what it was when judged: a conversion that finds it changed leaves it.
struct ReadyFile
{
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
};

// Watches folders for index files that are complete: written and closed (or moved in), held open by
// no other process, and unchanged for the settle time. The kernel reports the closes (inotify); on a
// network mount it sees no writes made by other machines, so such a folder, or every folder when
// asked, is polled instead, and there "complete" means the same size and time over the settle time.
// Files present at the start are candidates at once, as are files given a new name by a hard or
// symbolic link (a link is followed only to a regular file).
class HotFolder
{
public:
    struct WatchedFolder
    {
        std::string path;
        bool polled = false;
        Notice how{NoticeKind::WatchedByInotify}; // inotify, or polling and why
    };

    // `folders` are existing folders, each as the Convert command lists it (absolute, no trailing "/").
    HotFolder(const std::vector<std::string>& folders, std::chrono::milliseconds settle,
              std::optional<std::chrono::seconds> poll, const FileTools& fileTools);
    ~HotFolder();
    HotFolder(const HotFolder&) = delete;
    HotFolder& operator=(const HotFolder&) = delete;

    const std::vector<WatchedFolder>& folders() const { return m_folders; }

    // Things worth telling the operator since the last call: limits reached, events lost, a folder
    // gone. Each is one line.
    std::vector<Notice> takeNotices();

    // Waits for a burst: files that are complete once no other arrival is still settling (or the
    // oldest complete file has waited a second settle time). False when `wakeFd` became readable
    // first; `ready` is then empty.
    bool waitForBurst(int wakeFd, std::vector<ReadyFile>& ready);

    // Calls `beat` at least every `every` while waiting, so that a supervisor can tell a watch that
    // waits from one that hangs.
    void setHeartbeat(std::chrono::milliseconds every, std::function<void()> beat);

    // Files seen and not yet converted (settling, complete, or failed and waiting for their next try), and
    // how long ago the one written longest ago was last written.
    struct Waiting
    {
        long files = 0;
        std::chrono::seconds oldest{0};
    };
    Waiting waiting() const;

    // Files after their turn: those still there unchanged (selected by no item, or converted and not
    // removable) are left alone until they change.
    void handled(const std::vector<ReadyFile>& files);
    // A file whose turn failed: left alone until it changes or `delay` has passed, whichever is first.
    void retryAfter(const ReadyFile& file, std::chrono::milliseconds delay);

private:
    struct Candidate
    {
        struct stat seen
        {
        };
        std::chrono::steady_clock::time_point changedAt;
        bool closed = true; // written and closed, or moved in; false while being written again
    };

    // How a folder polled for `why` is watched: polled at the interval.
    Notice polling(NoticeKind why, const std::string& folder) const;
    void setUpInotify();
    void addCandidate(const std::string& path, bool closed, bool present);
    void scanFolder(size_t folder, bool atStart);
    void readEvents();
    void pollFolders();
    // Moves candidates that are complete into `ready`; true when none is still settling.
    bool collectReady(std::vector<ReadyFile>& ready);

    std::vector<WatchedFolder> m_folders;
    std::vector<int> m_watches; // inotify watch per folder, -1 when polled
    std::map<int, size_t> m_folderOfWatch;
    files::UniqueFd m_inotify;
    std::chrono::milliseconds m_settle;
    std::chrono::milliseconds m_pollInterval;
    std::chrono::steady_clock::time_point m_lastPoll;
    std::map<std::string, Candidate> m_candidates;
    // Left alone while unchanged; tried again at `retryAt` when one is set.
    struct LeftFile
    {
        ReadyFile file;
        std::optional<std::chrono::steady_clock::time_point> retryAt;
    };
    // Makes the files whose retry time has come candidates again; the time until the next one is due.
    std::optional<std::chrono::milliseconds> takeDueRetries();

    std::map<std::string, LeftFile> m_leftAlone;
    std::vector<ReadyFile> m_ready; // complete, waiting for the burst to end
    std::chrono::steady_clock::time_point m_firstReadyAt;
    std::vector<Notice> m_notices;
    std::function<void()> m_heartbeat;
    std::chrono::milliseconds m_heartbeatEvery{0};
    std::chrono::steady_clock::time_point m_lastBeat;
};

// Why a folder must be polled: the network file system it is on, "NFS" or "SMB/CIFS"; empty when the
// kernel sees its writes.
std::string networkMountKind(const std::string& folder);

} // namespace tollavar
