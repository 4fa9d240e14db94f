#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Which mount holds a path, and how it was mounted, from the kernel's mount table
// (/proc/self/mountinfo). Reading it is a look, like a stat: no operation the fault plan counts.
namespace tollavar::files {

struct MountEntry
{
    std::string mountPoint; // with the table's octal escapes undone
    std::string type;       // "nfs", "nfs4", "cifs", "ext4" ...
    std::string source;
    // The per-mount options and the file system's own options together: where an option shows up
    // depends on the kernel's version and on the file system.
    std::vector<std::string> options;

    bool hasOption(std::string_view option) const;
};

// One line of the mount table; nothing for a line that is not one.
std::optional<MountEntry> parseMountTableLine(std::string_view line);

// The mount that holds the absolute, resolved path `path`: the entry whose mount point is the longest
// leading part of it, the one listed last when several are mounted on the same point (the one on top).
std::optional<MountEntry> mountHolding(std::string_view path, std::string_view mountTable);

// An NFS mount whose flock(2) locks the client decides alone (nolock, local_lock=all or
// local_lock=flock): they keep out this machine's processes and no other machine's.
bool locksStayOnThisMachine(const MountEntry& mount);

// The mount point holding `folder` when its locks keep out only this machine's processes; nothing when
// they reach every machine, or when the mount table cannot be read. A folder that does not exist yet
// is judged by the nearest folder above it that does.
std::optional<std::string> localOnlyLockMount(const std::string& folder);

} // namespace tollavar::files
