#include "batch/LocalLockWarnings.h"

#include "filetools/FileSystem.h"
#include "filetools/MountTable.h"

namespace tollavar {

std::optional<Notice> LocalLockWarnings::check(const std::string& folder)
{
    if (!m_folders.insert(folder).second)
        return std::nullopt;
    const std::optional<std::string> mount = files::localOnlyLockMount(files::nativePath(folder));
    if (!mount || !m_told.insert(*mount).second)
        return std::nullopt;
    return Notice{NoticeKind::LocksLocalOnly, *mount};
}

} // namespace tollavar
