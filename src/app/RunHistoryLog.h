#pragma once

#include "batch/RunRecord.h"

#include <iosfwd>
#include <string>

namespace tollavar {

// The run history on disk: each Convert command's record appended as one line. A history that cannot
// be written is worth one warning, never a failed conversion.
class RunHistoryLog : public RunRecordSink
{
public:
    RunHistoryLog(std::string path, std::ostream& warnings);
    void recordRun(const RunRecord& record) override;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    std::ostream& m_warnings;
    bool m_warned = false;
};

} // namespace tollavar
