#include "filetools/NameOrder.h"

#include "filetools/TextReplace.h"

#include <algorithm>

namespace tollavar::files {

bool nameOrderLess(std::string_view a, std::string_view b) noexcept
{
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const auto left = static_cast<unsigned char>(asciiUpper(a[i]));
        const auto right = static_cast<unsigned char>(asciiUpper(b[i]));
        if (left != right)
            return left < right;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

} // namespace tollavar::files
