#include "app/RunHistoryLog.h"

#include "batch/RunHistory.h"
#include "filetools/Failure.h"
#include "filetools/LineLog.h"

#include <ostream>

namespace tollavar {

RunHistoryLog::RunHistoryLog(std::string path, std::ostream& warnings) : m_path(std::move(path)), m_warnings(warnings)
{
}

void RunHistoryLog::recordRun(const RunRecord& record)
{
    std::string why;
    if (m_path.empty()) {
        why = "neither XDG_STATE_HOME nor HOME is set (name a file with --log=FILE)";
    } else {
        try {
            files::appendWholeLine(m_path, runRecordJson(record));
            return;
        } catch (const Failure& failure) {
            why = failure.description();
        } catch (const std::exception& error) {
            why = error.what();
        }
    }
    // A hot folder records every burst: one warning says it all.
    if (!m_warned)
        m_warnings << "tollavar: warning: the run history cannot be written: " << why << std::endl;
    m_warned = true;
}

} // namespace tollavar
