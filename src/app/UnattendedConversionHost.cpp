#include "app/UnattendedConversionHost.h"

#include <QCoreApplication>

namespace tollavar {

void UnattendedConversionHost::setStatusPanel(int, std::string_view)
{
}

void UnattendedConversionHost::processPendingEvents()
{
    QCoreApplication::processEvents();
}

} // namespace tollavar
