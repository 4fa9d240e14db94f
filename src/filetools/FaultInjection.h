#pragma once

#include <string_view>

namespace tollavar::faults {

// A test hook on the file layer: every file operation that can fail counts itself, and the armed
// plan makes the k-th one (counting from 1 after arming) fail with the given errno, once or from
// then on. Disarmed, it only counts.
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

// Called by the file layer before each operation; throws the operation's Failure when the plan says so.
void checkpoint(std::string_view operation, std::string_view path);

// For the few operations whose errno decides what the file layer does next (a file system without hard
// links takes another road): counted like a checkpoint, but the planned errno is returned rather than
// raised. 0: go ahead.
int injectedError(std::string_view operation);

} // namespace tollavar::faults
