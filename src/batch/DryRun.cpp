#include "batch/DryRun.h"

#include "batch/DatagroupLock.h"
#include "filetools/FileSystem.h"

namespace tollavar {

void DryRunMoves::beforeMove(std::string_view from, std::string_view to)
{
    m_steps.push_back(JournalContents::Step{false, files::nativePath(from), files::nativePath(to)});
}

void DryRunMoves::moveNotMade()
{
    if (!m_steps.empty())
        m_steps.pop_back();
}

void DryRunMoves::beforeSetAside(std::string_view path, std::string_view aside)
{
    m_steps.push_back(JournalContents::Step{true, files::nativePath(path), files::nativePath(aside)});
}

bool DryRunDocuments::save(ConversionContext&, const DatagroupDocument&, const std::string& nativeXml, long,
                           const std::string&)
{
    m_files.writeWhole(nativeXml, {});
    return false;
}

Message DryRunPrompter::reportFailure(const FailureReport& report)
{
    Message message = m_words.failure(report);
    if (m_listener)
        m_listener(message, nullptr);
    return message;
}

MessageAnswer DryRunPrompter::ask(const Prompt& prompt)
{
    const Message message = m_words.prompt(prompt);
    return m_listener ? m_listener(message, &prompt) : unattendedAnswer(message);
}

void DryRunPorts::takeLock(CommandContext& ctx, files::FolderLock& lock, const std::string& datagroupFolder)
{
    // The run creates the lock file, or opens the one there for writing, before it waits on the lock.
    m_files.checkLockFile(datagroupLockFile(datagroupFolder));
    m_readUnlocked = !takeExistingDatagroupLock(ctx, lock, datagroupFolder);
}

} // namespace tollavar
