#pragma once

#include <string>
#include <string_view>

namespace tollavar {

// Every occurrence of `find` replaced, left to right, letter case compared exactly.
std::string ReplaceAll(std::string_view text, std::string_view find, std::string_view replacement);

// The same, with ASCII letters compared without regard to case.
std::string ReplaceAllIgnoreCase(std::string_view text, std::string_view find, std::string_view replacement);

std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);

} // namespace tollavar
