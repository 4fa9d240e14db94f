#include "app/Platform.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

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

void prepareHeadlessEnvironment()
{
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    if (isSet("XDG_RUNTIME_DIR"))
        return;
    const std::string folder = "/tmp/runtime-" + std::to_string(::getuid());
    ::mkdir(folder.c_str(), 0700);
    struct stat st
    {
    };
    if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
        (st.st_mode & 0777) == 0700)
        qputenv("XDG_RUNTIME_DIR", QByteArray(folder.c_str()));
}

std::string argumentText(int argc, const char* const* argv, int first)
{
    std::string text;
    for (int i = first; i < argc; ++i) {
        if (i > first)
            text += ' ';
        text += argv[i];
    }
    return text;
}

} // namespace tollavar
