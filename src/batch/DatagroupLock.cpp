#include "batch/DatagroupLock.h"

#include "batch/CommandContext.h"
#include "engine/ConversionHost.h"
#include "engine/Prompter.h"
#include "engine/StopRequest.h"
#include "filetools/Failure.h"
#include "filetools/FileSystem.h"

#include <atomic>

namespace tollavar {

namespace {
std::atomic<bool> g_saidUnsupported{false};
}

void TakeDatagroupLock(CommandContext& ctx, files::FolderLock& lock, const std::string& datagroupFolder)
{
    const std::string folder = files::nativePath(datagroupFolder);
    // Hidden, and removed by its holder: the datagroup keeps only what the import expects.
    const std::string lockFile = folder + "/.DATAGRP.LOCK";
    files::FolderLock::State state = lock.tryAcquire(lockFile);
    if (state == files::FolderLock::State::Busy) {
        ctx.host.setStatusPanel(1, "Waiting for another conversion into " + folder);
        // The panel names the wait only while it lasts, whichever way it ends.
        struct ClearPanel
        {
            ConversionHost& host;
            ~ClearPanel() { host.setStatusPanel(1, ""); }
        } clearPanel{ctx.host};
        while (state == files::FolderLock::State::Busy) {
            if (StopRequested())
                ThrowStopped();
            const Message busy{"Another conversion is writing to the datagroup " + folder +
                                   ".  Wait for it to finish?\r(Yes tries again; No gives up and converts nothing.)",
                               std::string(kDatagroupBusyCaption), MessageIcon::Question, MessageButtons::YesNo,
                               MessageKind::DatagroupBusyWait};
            bool waiting = ctx.prompter.ask(busy) == MessageAnswer::Yes;
            if (waiting)
                waiting = ctx.prompter.waitUntil("Waiting for the conversion in " + folder + "\u2026", [&] {
                    if (StopRequested())
                        return true;
                    state = lock.tryAcquire(lockFile);
                    return state != files::FolderLock::State::Busy;
                });
            if (!waiting)
                throw Failure(ErrorCode::PermissionDenied, std::string(kDatagroupBusyCaption),
                              "Gave up waiting for another conversion into " + folder +
                                  " to finish; nothing was converted.");
        }
    }
    if (state == files::FolderLock::State::Unsupported && !g_saidUnsupported.exchange(true))
        ctx.prompter.ask(Message{"The datagroup folder " + folder +
                                     " cannot be locked (its file system does not support locks).  Converting "
                                     "without a lock: do not run two conversions into it at the same time.",
                                 "Tollavar", MessageIcon::Warning, MessageButtons::Ok});
}

} // namespace tollavar
