#pragma once

#include "filetools/Beneath.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// The recovery journal's file: how it is made, held, grown, synced, read back and set aside. Only this
// file touches it, so that every access keeps to the same rules (no links followed, never a FIFO or
// device opened, the writer's lock held from the moment the file has its name).
namespace tollavar::files {

class JournalFile
{
public:
    JournalFile() = default;
    ~JournalFile();
    JournalFile(const JournalFile&) = delete;
    JournalFile& operator=(const JournalFile&) = delete;

    // Writes `head` under `staging`, syncs it, locks it and only then gives it the name `path`, so that a
    // journal is never seen half written nor unlocked while its writer lives. False from locked() where
    // the file system has no locks.
    void create(const std::string& staging, const std::string& path, std::string_view head);
    bool isOpen() const noexcept { return m_fd.isOpen(); }
    bool locked() const noexcept { return m_locked; }
    const std::string& path() const noexcept { return m_path; }

    // The file's bytes mapped for writing, at least `size` long. The blocks are allocated first, so that
    // writing through the mapping can never meet a full disk (which would end the process with SIGBUS).
    char* mapAtLeast(size_t size);
    // The mapping, at least `end` long, for writing the next record: the record's write as the fault
    // plan counts it.
    char* recordSpace(size_t end);
    size_t mappedSize() const noexcept { return m_mapSize; }
    // Makes the bytes [0, end) durable.
    void sync(size_t end);
    void close() noexcept;
    void remove();

private:
    UniqueFd m_fd;
    bool m_locked = false;
    char* m_map = nullptr;
    size_t m_mapSize = 0;
    std::string m_path;
};

enum class JournalLock
{
    Held,        // nobody else has it: its writer is gone
    Busy,        // a live process holds it
    Unsupported, // the file system has no locks: the journal's head must say whose it is
};

struct OpenedJournal
{
    UniqueFd fd; // keeps the lock while recovery works
    JournalLock lock = JournalLock::Unsupported;
    std::string bytes;
};

// Opens a journal found in a datagroup for recovery: a link, FIFO, device or folder of that name is
// refused as a Failure; nothing there gives nullopt.
std::optional<OpenedJournal> openJournalForRecovery(const std::string& path);

// Renames the journal to the first free "<path>-<n>" and returns that name.
std::string moveJournalAside(const std::string& path);
// Moves the journal out of its datagroup into `folder` (made when missing, for its owner only) as
// `name`, numbered "-<n>" before its extension when taken, and returns where it went. Without a folder to
// take it, it is renamed beside itself as moveJournalAside does.
std::string moveJournalInto(const std::string& path, const std::string& folder, const std::string& name);
// The first name of `folder` free for `name` as moveJournalInto numbers it.
std::string freeNameIn(const std::string& folder, const std::string& name);
// Whether moveJournalInto can take a journal into `folder`: it is there, or its nearest folder that is
// there may be written by this process.
bool folderCanTakeJournals(const std::string& folder);

// Writes `bytes` to `staging`, syncs it and gives it the name `path`, replacing a file of that name, so
// that `path` holds either its old contents or all of the new.
void writeWholeFile(const std::string& staging, const std::string& path, std::string_view bytes);

// Who writes a journal, for a recovery on a file system without locks to tell a live writer from a dead one.
struct ProcessStamp
{
    std::string host;
    std::string bootId;
    long long pid = 0;
    unsigned long long startTicks = 0; // since boot, as the kernel counts them; 0 when unknown
};
ProcessStamp currentProcessStamp();
// True when the process the stamp names may still be running (the same host and boot, a process of that id
// started at that moment).
bool mayStillRun(const ProcessStamp& stamp);

} // namespace tollavar::files

namespace tollavar::files {

// Which file a path was at a moment: a file of the same name written later is another file.
struct FileIdentity
{
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = -1;
    int64_t modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> identityOf(const std::string& path);

} // namespace tollavar::files
