#pragma once

#include "engine/MoveRecorder.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tollavar {

// Size and a 64-bit hash of a file's bytes: enough to tell DATAGRP.XML as it was from any other text.
struct Fingerprint
{
    uint64_t size = 0;
    uint64_t hash = 0;
    bool operator==(const Fingerprint&) const = default;
};
Fingerprint FingerprintOf(std::string_view bytes);

// Which file an index file was when its conversion began; a file of the same name written later is
// another batch.
struct FileIdentity
{
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = -1;
    int64_t modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> IdentityOf(const std::string& path);

// The recovery journal of one index file's conversion, a hidden file in the datagroup folder. Its
// head (written whole, before DATAGRP.XML is opened) names the index file and DATAGRP.XML as they
// were; then every move is recorded before it is made, and the save before it happens. The Convert
// command removes it once the file's bookkeeping is done; a journal found at the start of a command
// belongs to a run that was interrupted.
//
// Records go through a shared mapping of the file: they are in the kernel's page cache (and so survive
// the process being killed) before each move, without a system call per image; the file is synced
// once per batch of moves and before the save.
class RunJournal : public MoveRecorder
{
public:
    static std::string pathFor(const std::string& datagroupFolder);
    // Where the journal's first lines are written before they take its name: a run killed in between
    // leaves this file, and only this one, for the next run to remove.
    static std::string startingPathFor(const std::string& datagroupFolder);

    RunJournal(std::string datagroupFolder, std::string configFile, bool removeProcessed);
    ~RunJournal() override;
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // `originalText` empty: DATAGRP.XML is missing, or its empty file is being replaced by a new one.
    void begin(const std::string& indexFile, const std::string& xmlFile, std::string_view originalText);
    bool begun() const { return m_begun; }

    void beforeMove(std::string_view from, std::string_view to) override;
    void moveNotMade() override;
    // Before DATAGRP.XML is replaced; the last DOCID tells a later recovery whether the datagroup is full.
    void markSaving(long lastDocId);
    // The file's bookkeeping is done: the journal goes.
    void remove();

private:
    void append(char type, std::string_view first, std::string_view second);
    static char* putPath(char* out, std::string_view path, std::string& previous);
    void reserve(size_t bytes);
    void unmap() noexcept;

    std::string m_datagroupFolder;
    std::string m_configFile;
    bool m_removeProcessed;
    std::string m_path;
    bool m_begun = false;
    int m_fd = -1;
    char* m_map = nullptr;
    size_t m_mapSize = 0;
    size_t m_used = 0;
    long m_sinceSync = 0;
    std::string m_previousFrom; // as the caller gave them, separators unchanged
    std::string m_previousTo;
};

// What a journal says, read back by the next command.
struct JournalContents
{
    struct Move
    {
        std::string from;
        std::string to;
    };
    std::string datagroupFolder;
    std::string workingFolder;
    std::string indexFile;
    std::optional<FileIdentity> indexIdentity;
    std::string xmlFile;
    std::optional<Fingerprint> original; // none: DATAGRP.XML was missing or empty
    bool removeProcessed = false;
    std::string configFile;
    std::vector<Move> moves; // every move that may have been made, in order
    bool saving = false;
    long lastDocId = 0;
};

// Raises a Failure naming the journal when it is damaged or cut short anywhere but in its last record.
JournalContents ReadRunJournal(const std::string& path);

} // namespace tollavar
