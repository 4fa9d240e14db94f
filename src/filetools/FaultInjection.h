#pragma once

#include <string_view>

// A test hook on the file layer: every file operation that can fail counts itself, and the armed plan
// makes the k-th one (counting from 1 after arming) fail with the given errno, once or from then on.
// Disarmed, it only counts. The failure comes out of the system call itself (see SystemCall.h), so the
// file layer's own handling of that errno and its cleanup run as they would on a real disk.
//
// Only the tests' build of the core has the hook (TOLLAVAR_FAULT_HOOKS); the program is built without
// it, and a test that arms a plan does not link against that build.
namespace tollavar::faults {

struct Plan
{
    long failAt = 0; // 0: never
    int error = 0;   // errno to fail with, e.g. ENOSPC, EACCES, EIO
    bool persistent = false;
    std::string_view operation = {}; // when set, only operations of this name count
};

void arm(const Plan& plan);
void disarm();
long operationsSinceArmed();

// Switches to the paths a test machine would not otherwise take: resolving a path by walking it part by
// part where the kernel resolves beneath a folder itself, and a writer check that cannot ask the system,
// as for a user without the rights to.
void forceComponentWalk(bool on);
void forceWriterCheckUnknown(bool on);
// Reads the mount table from `path` instead of the kernel's (empty: the kernel's again), so that a
// test can put a folder on a network mount.
void replaceMountTable(std::string_view path);

#ifdef TOLLAVAR_FAULT_HOOKS
// Counts the operation; the planned errno when the plan fails it, else 0.
int injectedError(std::string_view operation);
bool componentWalkForced();
bool writerCheckForcedUnknown();
std::string_view mountTableReplacement();
#else
constexpr int injectedError(std::string_view)
{
    return 0;
}
constexpr bool componentWalkForced()
{
    return false;
}
constexpr bool writerCheckForcedUnknown()
{
    return false;
}
constexpr std::string_view mountTableReplacement()
{
    return {};
}
#endif

} // namespace tollavar::faults
