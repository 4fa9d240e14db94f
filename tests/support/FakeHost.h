#pragma once

#include "engine/ConversionHost.h"

#include <functional>
#include <string>

namespace tollavar::testing {

// Keeps the two status panels and runs an optional callback where the window would process events.
class FakeHost : public ConversionHost
{
public:
    void setStatusPanel(int panel, std::string_view text) override
    {
        (panel == 1 ? panel1 : panel2) = std::string(text);
        ++panelWrites;
    }
    void processPendingEvents() override
    {
        ++eventRounds;
        if (onEvents)
            onEvents(eventRounds);
    }

    std::string panel1;
    std::string panel2;
    int panelWrites = 0;
    int eventRounds = 0;
    std::function<void(int round)> onEvents;
};

} // namespace tollavar::testing
