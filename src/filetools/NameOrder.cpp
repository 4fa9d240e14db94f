#include "filetools/NameOrder.h"

#include <algorithm>

namespace tollavar::files {

namespace {

unsigned char upperAscii(char c) noexcept
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'a' && byte <= 'z' ? static_cast<unsigned char>(byte - ('a' - 'A')) : byte;
}

} // namespace

bool NameOrderLess(std::string_view a, std::string_view b) noexcept
{
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const unsigned char left = upperAscii(a[i]);
        const unsigned char right = upperAscii(b[i]);
        if (left != right)
            return left < right;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

} // namespace tollavar::files
