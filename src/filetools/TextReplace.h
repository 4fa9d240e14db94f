#pragma once

#include <string>
#include <string_view>

namespace tollavar {

// Every occurrence of `find` replaced, left to right, letter case compared exactly.
std::string replaceAll(std::string_view text, std::string_view find, std::string_view replacement);

// The same, with ASCII letters compared without regard to case.
std::string replaceAllIgnoreCase(std::string_view text, std::string_view find, std::string_view replacement);

// Only the ASCII letters change case: bytes of the 8-bit code page and of UTF-8 stay as they are.
std::string asciiUpper(std::string_view text);
std::string asciiLower(std::string_view text);

inline char asciiUpper(char c) noexcept
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

} // namespace tollavar
