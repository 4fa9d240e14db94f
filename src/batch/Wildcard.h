#pragma once

#include <string_view>

namespace tollavar {

// A file-name pattern test in the manner of the classic file search: "*" stands for any run of
// characters, "?" for exactly one character, and letters of any script match without regard to case. A pattern
// ending in ".*" also matches a name that has no dot at all ("*.*" matches every name).
bool matchesWildcard(std::string_view pattern, std::string_view name);

} // namespace tollavar
