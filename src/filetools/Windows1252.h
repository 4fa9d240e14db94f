#pragma once

#include <optional>
#include <string>
#include <string_view>

// windows-1252 by our own table. The five bytes the code page leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) stand for the control characters of the same number, as Windows does, so every byte
// decodes and every decoded text encodes back to the same bytes.
namespace tollavar::cp1252 {

// Unicode code point of a byte.
char32_t toUnicode(unsigned char byte);

// The byte for a code point, or -1 when windows-1252 has none.
int fromUnicode(char32_t codePoint);

// Appends the UTF-8 form of a windows-1252 text.
void decodeAppend(std::string_view bytes, std::string& utf8);
std::string decode(std::string_view bytes);

// Encodes UTF-8 text; nothing when a character has no byte or the UTF-8 is broken.
std::optional<std::string> encode(std::string_view utf8);

} // namespace tollavar::cp1252

namespace tollavar::utf8 {

bool isValid(std::string_view text);
bool hasNonAscii(std::string_view text);
// Appends a code point in UTF-8.
void append(char32_t codePoint, std::string& out);
// Decodes the code point at `pos` and advances it; returns 0xFFFFFFFF for a broken sequence.
char32_t next(std::string_view text, size_t& pos);

} // namespace tollavar::utf8
