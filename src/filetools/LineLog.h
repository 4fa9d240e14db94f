#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tollavar::files {

// Where a log of whole lines rolls over: at `maxBytes` the file becomes "<path>.1", the older ones move
// up one number and the one past `keep` is dropped.
struct LineLogRotation
{
    std::uint64_t maxBytes = 10ull * 1024 * 1024;
    int keep = 3;
};

// Appends `line` (a newline is added) to the log at `path` as one write on a descriptor opened with
// O_APPEND, under an exclusive lock, so that several processes (on several machines, on a share) never
// interleave within a line and never rotate the same file twice. Creates missing folders above the log.
// The log and its folder are reached as openOwnFolder allows and never through a link at the log's own
// name; a pipe, device or folder there is refused without waiting, and so is a lock another process
// holds for more than a few seconds. Throws Failure when the line cannot be written whole.
void appendWholeLine(const std::string& path, std::string_view line, const LineLogRotation& rotation = {});

// The rotated file `number` (1 the newest) of the log at `path`.
std::string rotatedLogPath(const std::string& path, int number);

// A fingerprint of a file's bytes: 64-bit XXH3 in hex, as "xxhsum -H3" prints it.
std::string contentFingerprint(std::string_view bytes);

} // namespace tollavar::files
