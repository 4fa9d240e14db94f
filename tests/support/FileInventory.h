#pragma once

#include "support/TempDir.h"

#include <filesystem>
#include <map>
#include <string>

namespace tollavar::testing {

// Every regular file under `root`, by its path relative to `root`, with its bytes: a snapshot that
// tests compare before and after a run to see where each file went.
inline std::map<std::string, std::string> filesUnder(const std::string& root)
{
    std::map<std::string, std::string> found;
    if (!std::filesystem::exists(root))
        return found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file())
            found[std::filesystem::relative(entry.path(), root).string()] = readFile(entry.path().string());
    }
    return found;
}

// The first file under `root` left behind by an atomic write ("", when there is none).
inline std::string leftoverTemporary(const std::string& root)
{
    for (const auto& [path, bytes] : filesUnder(root)) {
        if (path.find(".tmp-") != std::string::npos)
            return path;
    }
    return "";
}

} // namespace tollavar::testing
