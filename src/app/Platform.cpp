#include "app/Platform.h"

#include <cstdlib>
#include <string_view>

namespace tollavar {

namespace {

bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

} // namespace

bool displayAvailable()
{
    if (const char* platform = std::getenv("QT_QPA_PLATFORM")) {
        const std::string_view name(platform);
        if (name.starts_with("offscreen") || name.starts_with("minimal"))
            return false;
    }
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
}

std::string argumentText(int argc, const char* const* argv)
{
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            text += ' ';
        text += argv[i];
    }
    return text;
}

} // namespace tollavar
