#include "engine/ConversionSettings.h"

#include "filetools/FileSystem.h"

namespace tollavar {

std::string settingPath(const ConversionSettings& settings, std::string_view path)
{
    if (path.empty() || settings.pathBase.empty() || files::nativePath(path).starts_with('/'))
        return std::string(path);
    return settings.pathBase + (settings.pathBase == "/" ? "" : "/") + std::string(path);
}

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
