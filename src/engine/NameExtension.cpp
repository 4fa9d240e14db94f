#include "engine/NameExtension.h"

namespace tollavar {

std::optional<std::string> replaceNameExtension(std::string_view path, std::string_view dottedReplacement)
{
    const size_t nameStart = path.find_last_of("/\\") == std::string_view::npos ? 0 : path.find_last_of("/\\") + 1;
    const size_t dot = path.rfind('.');
    // A name ending in its dot has no extension either (its extension would be empty text).
    if (dot == std::string_view::npos || dot < nameStart || dot + 1 == path.size())
        return std::nullopt;
    std::string out(path.substr(0, dot));
    out.append(dottedReplacement);
    return out;
}

} // namespace tollavar
