#pragma once

#include "filetools/AccessCheck.h"
#include "filetools/FileEffects.h"

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tollavar {

class Failure;

// The file changes of a dry run, recorded instead of made. Every later read of the same command goes
// through this record first: a moved image is gone from its source and occupies its destination from
// then on, a removed index file no longer matches a pattern, a created folder is there.
// Each change is first asked of the kernel as this process would meet it (a folder it may not write, a
// read-only mount, another user's file in a sticky folder): a refusal is raised as the run raises it.
class DryRunFiles : public files::FileEffects
{
public:
    struct Counts
    {
        long foldersCreated = 0;
        long filesDeleted = 0;
        long filesWritten = 0;
    };
    // Told of a destination found taken: the run then numbers the image or asks.
    using TakenListener = std::function<void(const std::string& destination)>;
    using MoveListener = std::function<void(const std::string& from, const std::string& to)>;

    // Told of each refusal; true raises it as the run would, false records the change as made, so that
    // the check can go on past the point where the run stops.
    using RefusalListener = std::function<bool(const Failure& refusal)>;

    void onTaken(TakenListener listener) { m_onTaken = std::move(listener); }
    void onRefusal(RefusalListener listener) { m_onRefusal = std::move(listener); }
    // The lock file the run creates (or opens for writing) in the datagroup folder.
    void checkLockFile(const std::string& lockFile);
    void onFullTextMove(MoveListener listener) { m_onFullText = std::move(listener); }
    const Counts& counts() const { return m_counts; }
    // The files it would write, in order (DATAGRP.XML, the configuration, the marker, backups).
    const std::vector<std::string>& written() const { return m_written; }
    void markWritten(const std::string& path);

    bool recording() const override { return true; }
    files::EntryLook kindOfEntry(int folderFd, const std::string& name, const std::string& shown) override;
    bool fileExists(const std::string& path) override;
    bool folderExists(const std::string& path) override;
    std::vector<std::string> listFiles(const std::string& folder) override;
    files::MoveOutcome move(const files::FileAt& from, const files::FileAt& to,
                            files::CopySteps* steps = nullptr) override;
    void noteTaken(const std::string& shown) override
    {
        if (m_onTaken)
            m_onTaken(shown);
    }
    void deleteAt(const files::FileAt& file) override;
    void deleteFile(const std::string& path) override;
    void createFolder(const FileTools& fileTools, const std::string& folder) override;
    // The folders a dry run would make are known to its record only: none is removed from the disk.
    bool removeEmptyFolder(const std::string&) override { return false; }
    void writeWhole(const std::string& path, std::string_view bytes) override;
    void createEmptyFile(const std::string& path) override;
    void holdOpen(files::HeldFile& held, const std::string& path) override;
    std::string setJournalAside(const std::string& path, const std::string& folder, const std::string& name) override;

private:
    enum class State
    {
        Gone,
        Present,
    };
    // A path's identity: a 64-bit hash of its one spelling, and of its folder's.
    struct PathKey
    {
        uint64_t path;
        uint64_t folder;
    };
    static PathKey keyOf(std::string_view path);
    const State* stateOf(std::string_view path) const;
    void set(std::string_view path, State state);
    void set(const PathKey& key, std::string_view path, State state);
    // A file the run would create, replace or open for writing at `path`: the failures the disk would
    // give, raised alike. `target` is where the write lands (a link's target for a save).
    void checkWritable(const std::string& path, const std::string& target, const char* existingOperation,
                       const char* newOperation);
    void refuse(int error, const char* operation, const std::string& subject);
    // Folders answer once each: a batch moves many images out of and into few folders.
    const files::FolderAccess& accessOf(uint64_t folderKey, int folderFd, std::string_view shownPath);

    // A dry run of a large batch records a move per line: keys are hashes, so that a lookup costs no
    // allocation.
    std::unordered_map<uint64_t, State> m_changed;
    // Every changed name, and per folder where in this list its names are, so that a listing learns of
    // them without a pass over every change.
    std::vector<std::string> m_changedNames;
    std::unordered_map<uint64_t, std::vector<size_t>> m_changedIn;
    std::unordered_set<uint64_t> m_folders;
    std::vector<std::string> m_written;
    Counts m_counts;
    std::unordered_map<uint64_t, files::FolderAccess> m_access;
    TakenListener m_onTaken;
    RefusalListener m_onRefusal;
    MoveListener m_onFullText;
};

} // namespace tollavar
