#include "app/QtSettingsStore.h"

#include <QSettings>
#include <QStandardPaths>

namespace tollavar {

namespace {

QString keyFor(const std::string& section, const std::string& key)
{
    return QString::fromStdString(section) + QLatin1Char('/') + QString::fromStdString(key);
}

} // namespace

QtSettingsStore::QtSettingsStore() : m_folder(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
{
}

QtSettingsStore::QtSettingsStore(QString folder) : m_folder(std::move(folder))
{
}

QString QtSettingsStore::fileFor(const std::string& application) const
{
    return m_folder + QLatin1Char('/') + QString::fromStdString(application) + QStringLiteral(".ini");
}

std::string QtSettingsStore::read(const std::string& application, const std::string& section, const std::string& key,
                                  const std::string& defaultValue)
{
    QSettings settings(fileFor(application), QSettings::IniFormat);
    const QVariant value = settings.value(keyFor(section, key));
    return value.isValid() ? value.toString().toStdString() : defaultValue;
}

void QtSettingsStore::write(const std::string& application, const std::string& section, const std::string& key,
                            const std::string& value)
{
    QSettings settings(fileFor(application), QSettings::IniFormat);
    settings.setValue(keyFor(section, key), QString::fromStdString(value));
    // Written at once: the program may end right after closing its window.
    settings.sync();
}

} // namespace tollavar
