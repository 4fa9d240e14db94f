#pragma once

#include <string>
#include <string_view>

namespace tollavar {

// Every occurrence of `find` replaced, left to right, letter case compared exactly.
std::string ReplaceAll(std::string_view text, std::string_view find, std::string_view replacement);

// The same, with ASCII letters compared without regard to case.
std::string ReplaceAllIgnoreCase(std::string_view text, std::string_view find, std::string_view replacement);

// Only the ASCII letters change case: bytes of the 8-bit code page and of UTF-8 stay as they are.
std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);

inline char AsciiUpper(char c) noexcept
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

} // namespace tollavar
