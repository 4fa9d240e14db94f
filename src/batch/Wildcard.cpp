#include "batch/Wildcard.h"

#include "filetools/Windows1252.h"

#include <string>

namespace tollavar {

namespace {

// Where upper and lower case alternate code point by code point: the upper-case letter is at an even
// (or, with `upperOdd`, an odd) code point and its small letter right after it.
struct AlternatingRange
{
    char32_t first;
    char32_t last;
    bool upperOdd;
};

constexpr AlternatingRange kAlternating[] = {
    {0x0100, 0x012F, false}, {0x0132, 0x0137, false}, {0x0139, 0x0148, true},  {0x014A, 0x0177, false},
    {0x0179, 0x017E, true},  {0x01CD, 0x01DC, true},  {0x01DE, 0x01EF, false}, {0x01F8, 0x021F, false},
    {0x0222, 0x0233, false}, {0x0460, 0x0481, false}, {0x048A, 0x04BF, false}, {0x04C1, 0x04CE, true},
    {0x04D0, 0x052F, false}, {0x1E00, 0x1E95, false}, {0x1EA0, 0x1EFF, false}, {0x2C80, 0x2CE3, false},
    {0xA640, 0xA66D, false}, {0xA680, 0xA69B, false}, {0xA722, 0xA72F, false}, {0xA732, 0xA76F, false},
};

// Blocks whose capitals lie at a fixed distance below their small letters.
struct ShiftedRange
{
    char32_t first;
    char32_t last;
    char32_t shift;
};

constexpr ShiftedRange kShifted[] = {
    {U'A', U'Z', 0x20},     {0x00C0, 0x00D6, 0x20},   {0x00D8, 0x00DE, 0x20},   {0x0388, 0x038A, 0x25},
    {0x038E, 0x038F, 0x3F}, {0x0391, 0x03A1, 0x20},   {0x03A3, 0x03AB, 0x20},   {0x0400, 0x040F, 0x50},
    {0x0410, 0x042F, 0x20}, {0x0531, 0x0556, 0x30},   {0x10A0, 0x10C5, 0x1C60}, {0x1F08, 0x1F0F, -8u},
    {0x1F18, 0x1F1D, -8u},  {0x1F28, 0x1F2F, -8u},    {0x1F38, 0x1F3F, -8u},    {0x1F48, 0x1F4D, -8u},
    {0x1F68, 0x1F6F, -8u},  {0x2160, 0x216F, 0x10},   {0x24B6, 0x24CF, 0x1A},   {0x2C00, 0x2C2F, 0x30},
    {0xFF21, 0xFF3A, 0x20}, {0x10400, 0x10427, 0x28},
};

// The small letter for a capital, so that names compare without regard to case in every script a
// file name is likely to use; anything else stands for itself.
char32_t foldCase(char32_t c)
{
    if (c < 0x80)
        return c >= U'A' && c <= U'Z' ? c + 0x20 : c;
    for (const ShiftedRange& r : kShifted) {
        if (c >= r.first && c <= r.last)
            return c + r.shift;
    }
    for (const AlternatingRange& r : kAlternating) {
        if (c >= r.first && c <= r.last)
            return ((c & 1) == 1) == r.upperOdd ? c + 1 : c;
    }
    switch (c) {
    case 0x0130: // I with dot above: its small letter is the plain i
    case 0x212A: // Kelvin sign
        return c == 0x0130 ? U'i' : U'k';
    case 0x212B: // Angstrom sign
        return 0x00E5;
    case 0x0178:
        return 0x00FF;
    case 0x017F: // long s
        return U's';
    case 0x1E9E: // capital sharp s
        return 0x00DF;
    case 0x0386:
        return 0x03AC;
    case 0x038C:
        return 0x03CC;
    case 0x03C2: // final sigma
        return 0x03C3;
    case 0x04C0:
        return 0x04CF;
    case 0x01C4:
    case 0x01C5:
        return 0x01C6;
    case 0x01C7:
    case 0x01C8:
        return 0x01C9;
    case 0x01CA:
    case 0x01CB:
        return 0x01CC;
    case 0x01F1:
    case 0x01F2:
        return 0x01F3;
    default:
        return c;
    }
}

// The text as case-folded code points. A byte that is not part of valid UTF-8 stands for itself,
// beyond the last code point, so that such names still match themselves byte for byte.
std::u32string folded(std::string_view text)
{
    std::u32string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        const size_t start = pos;
        const char32_t c = utf8::next(text, pos);
        out.push_back(c == 0xFFFFFFFF ? 0x110000 + static_cast<unsigned char>(text[start]) : foldCase(c));
    }
    return out;
}

// Greedy match with one remembered star: linear in practice and never exponential.
bool matchPlain(std::u32string_view pattern, std::u32string_view name)
{
    size_t p = 0;
    size_t n = 0;
    size_t starP = std::u32string_view::npos;
    size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == U'*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (starP != std::u32string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*')
        ++p;
    return p == pattern.size();
}

} // namespace

bool matchesWildcard(std::string_view pattern, std::string_view name)
{
    const std::u32string foldedPattern = folded(pattern);
    const std::u32string foldedName = folded(name);
    if (matchPlain(foldedPattern, foldedName))
        return true;
    if (foldedPattern.size() >= 2 && foldedPattern.ends_with(U".*") && foldedName.find(U'.') == std::u32string::npos)
        return matchPlain(std::u32string_view(foldedPattern).substr(0, foldedPattern.size() - 2), foldedName);
    return false;
}

} // namespace tollavar
