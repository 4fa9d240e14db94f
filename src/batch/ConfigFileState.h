#pragma once

#include <string>
#include <sys/types.h>

namespace tollavar {

struct CommandContext;

// The configuration file as the settings last saw it: the bytes they were read from or written as, and
// the file that held them. Another run, or an operator's editor, may change the file afterwards.
struct ConfigFileState
{
    std::string path;
    std::string bytes;
    dev_t device = 0;
    ino_t inode = 0;
    // The last save was passed over because the file did not read as a configuration.
    bool unreadableOnDisk = false;
};

// Notes that the settings and the file at `path` now agree on `bytes`.
void rememberConfigFile(CommandContext& ctx, const std::string& path, std::string bytes);

// Points the settings' relative paths at the configuration file's folder, or at the current folder when
// there is no file; wherever the program was started, a file names the same files.
void followConfigFolder(CommandContext& ctx);

// Reads the configuration file again when it is no longer what the settings last saw, and takes over
// every value that changed there and that nobody changed here (a command-line switch, an edit in the
// window): so a run that waited for another one continues from what the other one left, an operator's
// edit survives a hot folder's save, and a switch still wins. True when a setting changed. A file that
// cannot be read now changes nothing; the next save reports it.
bool refreshFromConfigFile(CommandContext& ctx);

} // namespace tollavar
