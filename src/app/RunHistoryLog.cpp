#include "app/RunHistoryLog.h"

#include "batch/RunHistory.h"
#include "filetools/Failure.h"
#include "filetools/LineLog.h"
#include "ui/MessageTable.h"

#include <ostream>

namespace tollavar {

RunHistoryLog::RunHistoryLog(std::string path, std::ostream& warnings) : m_path(std::move(path)), m_warnings(warnings)
{
}

void RunHistoryLog::recordRun(const RunRecord& record)
{
    Notice unwritable{NoticeKind::RunHistoryUnwritable, m_path};
    if (!m_path.empty()) {
        try {
            files::appendWholeLine(m_path, runRecordJson(record));
            return;
        } catch (const Failure& failure) {
            unwritable.reason = failure.description();
        } catch (const std::exception& error) {
            unwritable.reason = error.what();
        }
    }
    // A hot folder records every burst: one warning says it all.
    if (!m_warned)
        m_warnings << "tollavar: " << noticeText(unwritable) << std::endl;
    m_warned = true;
}

} // namespace tollavar
