#pragma once

#include <string>

namespace tollavar {

// The per-user settings store: application -> section -> key -> text. The program keeps it with
// QSettings; tests hand in a map.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;
    virtual std::string read(const std::string& application, const std::string& section, const std::string& key,
                             const std::string& defaultValue) = 0;
    virtual void write(const std::string& application, const std::string& section, const std::string& key,
                       const std::string& value) = 0;
};

} // namespace tollavar
