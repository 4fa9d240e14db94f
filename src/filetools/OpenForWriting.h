#pragma once

#include <string>

namespace tollavar::files {

enum class WriterCheck
{
    None,    // no other process has the file open for writing (readers do not count)
    Writing, // another process has it open for writing
    Unknown, // the system would not say: no lease on the file, and other processes' descriptors hidden
};

// Whether another process has the file open for writing. A file that cannot be opened has no writer we
// could wait for.
WriterCheck openForWritingElsewhere(const std::string& path);

// Whether the file's size and time have stayed as they are for a second: what a file still being
// written does not do. Used where openForWritingElsewhere cannot say. May wait up to a second.
bool sizeAndTimeStayStill(const std::string& path);

} // namespace tollavar::files
