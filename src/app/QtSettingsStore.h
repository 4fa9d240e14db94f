#pragma once

#include "filetools/SettingsStore.h"

#include <QString>

namespace tollavar {

// The per-user settings store as INI files: one file per application ("<folder>/<application>.ini"),
// one group per section. The folder is the user's configuration folder unless one is given.
class QtSettingsStore : public SettingsStore
{
public:
    QtSettingsStore();
    explicit QtSettingsStore(QString folder);

    std::string read(const std::string& application, const std::string& section, const std::string& key,
                     const std::string& defaultValue) override;
    void write(const std::string& application, const std::string& section, const std::string& key,
               const std::string& value) override;

    QString fileFor(const std::string& application) const;

private:
    QString m_folder;
};

} // namespace tollavar
