#include "batch/CommandPorts.h"

#include "batch/CommandContext.h"
#include "batch/DatagroupLock.h"
#include "filetools/FileEffects.h"

namespace tollavar {

files::FileEffects& CommandPorts::files()
{
    return files::diskEffects();
}

void CommandPorts::takeLock(CommandContext& ctx, files::FolderLock& lock, const std::string& datagroupFolder)
{
    takeDatagroupLock(ctx, lock, datagroupFolder);
}

CommandPorts& portsOf(const CommandContext& ctx)
{
    static CommandPorts usual;
    return ctx.ports ? *ctx.ports : usual;
}

} // namespace tollavar
