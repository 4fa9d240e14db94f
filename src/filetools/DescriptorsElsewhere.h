#pragma once

#include <sys/stat.h>

// Other processes' descriptors on a file, found by walking /proc: the answer where the kernel grants no
// lease to ask with (another user's file, a file system without leases).
namespace tollavar::files {

enum class Sought
{
    AnyDescriptor, // open for reading or writing
    Writer,        // open for writing only
};

enum class HeldElsewhere
{
    No,
    Yes,
    Unknown, // none found, but some process's descriptors could not be read
};

HeldElsewhere heldElsewhere(const struct stat& target, Sought sought);

} // namespace tollavar::files
