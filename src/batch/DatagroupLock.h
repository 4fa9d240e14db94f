#pragma once

#include "filetools/FolderLock.h"

#include <string>

namespace tollavar {

struct CommandContext;

// Takes the datagroup's writer lock for a Convert command, waiting (by asking) while another run
// holds it. Giving up and a stop request are raised as Failures. On a file system without locks the
// command goes on unlocked, and says so once.
void takeDatagroupLock(CommandContext& ctx, files::FolderLock& lock, const std::string& datagroupFolder);

// The same for a run that must write nothing: only a lock file that is already there is locked (read
// only, and left in place). False when there is none: the caller goes on without the lock.
bool takeExistingDatagroupLock(CommandContext& ctx, files::FolderLock& lock, const std::string& datagroupFolder);

// The lock file of a datagroup folder.
std::string datagroupLockFile(const std::string& datagroupFolder);

} // namespace tollavar
