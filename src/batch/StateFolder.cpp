#include "batch/StateFolder.h"

#include <cstdlib>

namespace tollavar {

std::string programStateFolder()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return std::string(state) + "/tollavar";
    const char* home = std::getenv("HOME");
    if (home && home[0] != '\0')
        return std::string(home) + "/.local/state/tollavar";
    return "";
}

std::string inStateFolder(const std::string& name)
{
    const std::string folder = programStateFolder();
    return folder.empty() ? folder : folder + "/" + name;
}

} // namespace tollavar
