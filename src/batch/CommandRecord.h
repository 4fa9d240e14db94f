#pragma once

#include "engine/JournalFormat.h"

#include <optional>
#include <string>
#include <vector>

namespace tollavar {

// The Convert command's own record, ".DATAGRP.COMMAND-<hash of the configuration's path>" in the datagroup
// folder, one for each configuration (stations with configurations of their own may write one datagroup
// series, and a run touches only its own record): the index files it
// selected (each with its identity and a fingerprint of its contents) and those it has finished. It is
// replaced whole at each change and removed when the command ends, unless it was killed or stopped by a
// signal: the next command with the same configuration then converts only the files that one had not
// finished, and ends as the uninterrupted command would have.
class CommandRecord
{
public:
    struct IndexFile
    {
        std::string path;
        std::optional<FileIdentity> identity;
        Fingerprint contents;
        bool operator==(const IndexFile&) const = default;
    };

    CommandRecord(const std::string& datagroupFolder, const std::string& configFile);

    // What an unfinished earlier command with the configuration `configFile` has finished; empty when
    // there was none (or another configuration's).
    std::vector<IndexFile> finishedEarlier(const std::string& configFile) const;
    static IndexFile describe(const std::string& path);

    void start(const std::string& configFile, std::vector<IndexFile> finished);
    // Recorded with the next change: a selection alone changes nothing a later command acts on.
    void select(const IndexFile& file) { m_selected.push_back(file); }
    void finish(const IndexFile& file);
    bool holdsFinished() const { return !m_finished.empty(); }
    void remove();

private:
    void write() const;

    std::optional<std::vector<IndexFile>> readFinished(const std::string& path, const std::string& configFile) const;

    std::string m_path;
    // The one record every configuration shared before: read, and removed, when it is this configuration's.
    std::string m_sharedPath;
    std::string m_configFile;
    std::vector<IndexFile> m_selected;
    std::vector<IndexFile> m_finished;
    bool m_started = false;
};

} // namespace tollavar
