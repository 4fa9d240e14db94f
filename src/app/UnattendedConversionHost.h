#pragma once

#include "engine/ConversionHost.h"

namespace tollavar {

// The host of a conversion that no window shows: the panels go nowhere, and pending events are still
// processed so that the application stays responsive to the system.
class UnattendedConversionHost : public ConversionHost
{
public:
    void setStatusPanel(int panel, std::string_view text) override;
    void processPendingEvents() override;
};

} // namespace tollavar
