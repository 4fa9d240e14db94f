#include "engine/ConversionSettings.h"

namespace tollavar {

std::vector<std::string> splitBarList(std::string_view text)
{
    std::vector<std::string> items;
    if (text.empty())
        return items;
    size_t start = 0;
    for (;;) {
        size_t bar = text.find('|', start);
        if (bar == std::string_view::npos) {
            items.emplace_back(text.substr(start));
            return items;
        }
        items.emplace_back(text.substr(start, bar - start));
        start = bar + 1;
    }
}

} // namespace tollavar
