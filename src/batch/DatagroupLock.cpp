#include "batch/DatagroupLock.h"

#include "batch/CommandContext.h"
#include "engine/ConversionHost.h"
#include "engine/Prompter.h"
#include "engine/StopRequest.h"
#include "filetools/Failure.h"
#include "filetools/FileSystem.h"

#include <atomic>
#include <functional>
#include <optional>

namespace tollavar {

namespace {
std::atomic<bool> g_saidUnsupported{false};
}

namespace {

// Where a wait given up for a busy datagroup comes from: the caption of the question the user gave up.
constexpr const char* kGaveUpSource = "Datagroup in Use";

void waitForLock(CommandContext& ctx, const std::string& folder, files::FolderLock::State state,
                 const std::function<files::FolderLock::State()>& tryAgain)
{
    if (state == files::FolderLock::State::Busy) {
        ctx.host.setStatusPanel(1, ctx.words.notice(Notice{NoticeKind::WaitingForDatagroup, folder}));
        // The panel names the wait only while it lasts, whichever way it ends.
        struct ClearPanel
        {
            ConversionHost& host;
            ~ClearPanel() { host.setStatusPanel(1, ""); }
        } clearPanel{ctx.host};
        while (state == files::FolderLock::State::Busy) {
            if (stopRequested())
                throwStopped();
            Prompt busy{MessageKind::DatagroupBusyWait};
            busy.path = folder;
            bool waiting = ctx.prompter.ask(busy) == MessageAnswer::Yes;
            if (waiting) {
                busy.kind = MessageKind::DatagroupBusyWaiting;
                waiting = ctx.prompter.waitUntil(busy, [&] {
                    if (stopRequested())
                        return true;
                    state = tryAgain();
                    return state != files::FolderLock::State::Busy;
                });
            }
            if (!waiting)
                throw Failure(ErrorCode::PermissionDenied, kGaveUpSource,
                              "Gave up waiting for another conversion into " + folder +
                                  " to finish; nothing was converted.");
        }
    }
    if (state == files::FolderLock::State::Unsupported && !g_saidUnsupported.exchange(true)) {
        Prompt unlockable{MessageKind::DatagroupUnlockable};
        unlockable.path = folder;
        ctx.prompter.ask(unlockable);
    }
}

} // namespace

void takeDatagroupLock(CommandContext& ctx, files::FolderLock& lock, const std::string& datagroupFolder)
{
    const std::string folder = files::nativePath(datagroupFolder);
    const std::string lockFile = datagroupLockFile(folder);
    waitForLock(ctx, folder, lock.tryAcquire(lockFile), [&] { return lock.tryAcquire(lockFile); });
}

bool takeExistingDatagroupLock(CommandContext& ctx, files::FolderLock& lock, const std::string& datagroupFolder)
{
    const std::string folder = files::nativePath(datagroupFolder);
    const std::string lockFile = datagroupLockFile(folder);
    std::optional<files::FolderLock::State> state = lock.tryAcquireExisting(lockFile);
    if (!state)
        return false;
    waitForLock(ctx, folder, *state, [&] {
        state = lock.tryAcquireExisting(lockFile);
        return state.value_or(files::FolderLock::State::Held);
    });
    return state.has_value();
}

std::string datagroupLockFile(const std::string& datagroupFolder)
{
    // Hidden, and removed by its holder: the datagroup keeps only what the import expects.
    return files::nativePath(datagroupFolder) + "/.DATAGRP.LOCK";
}

} // namespace tollavar
