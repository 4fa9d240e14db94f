#pragma once

#include "engine/ConversionObserver.h"

#include <string>
#include <vector>

namespace tollavar {

// A message the user (or the answer that changes least) answered during a conversion.
struct AnsweredQuestion
{
    std::string caption;
    std::string text;
    std::string answer; // "OK", "Yes", "No", "Cancel"
};

struct IndexFileRecord
{
    std::string path;
    bool converted = false;
    IndexFileFacts facts;
    std::vector<AnsweredQuestion> questions;
};

// One Convert command as the run history keeps it.
struct RunRecord
{
    std::string started; // ISO 8601 with the offset from UTC
    std::string ended;
    std::string user;
    std::string host;
    std::string mode; // "window", "unattended", "watch"
    std::string configFile;
    std::string datagroupFolder; // empty when the command failed before it could compose it
    bool datagroupFull = false;
    bool recoveryRan = false;
    std::vector<IndexFileRecord> files;
    // "converted", "nothing to convert", "failed", "stopped", "refused"
    std::string outcome;
    int exitStatus = 0;
    double seconds = 0;
    std::vector<std::string> notices;
    std::string failure; // the command's own failure message, when it had one

    long documentsAdded() const
    {
        long total = 0;
        for (const IndexFileRecord& file : files)
            total += file.facts.documentsAdded;
        return total;
    }
};

// Takes each Convert command's record: the history file, or a test.
class RunRecordSink
{
public:
    virtual ~RunRecordSink() = default;
    virtual void recordRun(const RunRecord& record) = 0;
};

} // namespace tollavar
