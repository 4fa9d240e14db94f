#pragma once

#include "ui/Twips.h"

#include <QString>

#include <string_view>

namespace tollavar {

// The window as drawn: every control's place in twips from the top-left corner of the client area
// below the menu bar.
inline constexpr int kClientWidth = 5715;
inline constexpr int kClientHeight = 7005;
inline constexpr int kStatusBarHeight = 375;
// The default outer size is the client area plus this much: the room its frame, title bar and menu
// bar were given. Frames thicker than that are what a stored size did not allow for.
inline constexpr int kDesignFrameWidth = 5835 - kClientWidth;
inline constexpr int kDesignFrameHeight = 7170 - kClientHeight;

struct Placement
{
    const char* name;
    TwipRect rect;
};

// The controls' places, status bar excluded (it is docked).
const Placement* designPlacementsBegin();
const Placement* designPlacementsEnd();

// The drawn rectangle of a control; an empty one for a name the layout does not hold.
TwipRect designRect(std::string_view name);

// How far a label's text may run: up to the next control on its row, or the right margin.
int labelLimit(const TwipRect& label, std::string_view labelName);

QString fromUtf8(std::string_view text);

} // namespace tollavar
