#include "filetools/Windows1252.h"

#include <array>
#include <cstring>

namespace tollavar::cp1252 {

namespace {

constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// UTF-8 of every byte, built once, so decoding is a table copy per byte.
struct DecodeTable
{
    std::array<std::array<char, 4>, 256> bytes{};
    std::array<unsigned char, 256> length{};
    DecodeTable()
    {
        for (int b = 0; b < 256; ++b) {
            std::string s;
            utf8::append(toUnicode(static_cast<unsigned char>(b)), s);
            length[b] = static_cast<unsigned char>(s.size());
            std::memcpy(bytes[b].data(), s.data(), s.size());
        }
    }
};

const DecodeTable& decodeTable()
{
    static const DecodeTable table;
    return table;
}

} // namespace

char32_t toUnicode(unsigned char byte)
{
    if (byte >= 0x80 && byte < 0xA0)
        return kHighControls[byte - 0x80];
    return byte;
}

int fromUnicode(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<int>(cp);
    for (size_t i = 0; i < kHighControls.size(); ++i)
        if (kHighControls[i] == cp)
            return static_cast<int>(0x80 + i);
    return -1;
}

void decodeAppend(std::string_view bytes, std::string& out)
{
    const DecodeTable& table = decodeTable();
    size_t start = out.size();
    // Sized exactly first: a large text would otherwise have three times its size cleared for nothing.
    size_t length = 0;
    for (unsigned char b : bytes)
        length += b < 0x80 ? 1 : table.length[b];
    // Three bytes of slack: the last character is copied as a whole 4-byte table entry.
    out.resize(start + length + 3);
    char* dst = out.data() + start;
    for (unsigned char b : bytes) {
        if (b < 0x80) {
            *dst++ = static_cast<char>(b);
        } else {
            std::memcpy(dst, table.bytes[b].data(), 4);
            dst += table.length[b];
        }
    }
    out.resize(static_cast<size_t>(dst - out.data()));
}

std::string decode(std::string_view bytes)
{
    std::string out;
    decodeAppend(bytes, out);
    return out;
}

std::optional<std::string> encode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[pos]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++pos;
            continue;
        }
        char32_t cp = utf8::next(text, pos);
        int b = cp == 0xFFFFFFFF ? -1 : fromUnicode(cp);
        if (b < 0)
            return std::nullopt;
        out.push_back(static_cast<char>(b));
    }
    return out;
}

} // namespace tollavar::cp1252

namespace tollavar::utf8 {

void append(char32_t cp, std::string& out)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

char32_t next(std::string_view s, size_t& pos)
{
    constexpr char32_t kBrokenSequence = 0xFFFFFFFF;
    const unsigned char c = static_cast<unsigned char>(s[pos]);
    if (c < 0x80) {
        ++pos;
        return c;
    }
    int extra;
    char32_t cp;
    char32_t min;
    if ((c & 0xE0) == 0xC0) {
        extra = 1, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3, cp = c & 0x07, min = 0x10000;
    } else {
        ++pos;
        return kBrokenSequence;
    }
    if (pos + static_cast<size_t>(extra) >= s.size()) {
        ++pos;
        return kBrokenSequence;
    }
    for (int i = 1; i <= extra; ++i) {
        const unsigned char cc = static_cast<unsigned char>(s[pos + static_cast<size_t>(i)]);
        if ((cc & 0xC0) != 0x80) {
            ++pos;
            return kBrokenSequence;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return kBrokenSequence;
    }
    pos += static_cast<size_t>(extra) + 1;
    return cp;
}

bool isValid(std::string_view s)
{
    size_t pos = 0;
    while (pos < s.size()) {
        if (static_cast<unsigned char>(s[pos]) < 0x80) {
            ++pos;
            continue;
        }
        if (next(s, pos) == 0xFFFFFFFF)
            return false;
    }
    return true;
}

bool hasNonAscii(std::string_view s)
{
    for (unsigned char c : s)
        if (c >= 0x80)
            return true;
    return false;
}

} // namespace tollavar::utf8
