#pragma once

#include <string_view>

namespace tollavar {

// What a conversion run needs of the window it runs under.
class ConversionHost
{
public:
    virtual ~ConversionHost() = default;
    // Panel 1: the index file's name; panel 2: the current image path.
    virtual void setStatusPanel(int panel, std::string_view text) = 0;
    // Called once per index line, so the window repaints and takes input during a run.
    virtual void processPendingEvents() = 0;
};

} // namespace tollavar
