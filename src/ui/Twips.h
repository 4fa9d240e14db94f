#pragma once

#include <algorithm>
#include <climits>
#include <cmath>

namespace tollavar {

// The window is laid out in twips, 15 to a device-independent pixel at the size its text was drawn
// for. Text at a larger desktop size scales the layout with it (1 until the window sets it).
inline constexpr int kTwipsPerPixel = 15;

void setLayoutScale(double scale);
double layoutScale();

inline int twipsToPixels(int twips)
{
    const double scale = layoutScale();
    if (scale == 1.0) {
        // Round half away from zero, so 4675 twips (311.67 px) lands on 312. Worked in 64 bits: a
        // stored value near the ends of int must not overflow on the way.
        const long long t = twips;
        return static_cast<int>(t >= 0 ? (t + kTwipsPerPixel / 2) / kTwipsPerPixel
                                       : -((-t + kTwipsPerPixel / 2) / kTwipsPerPixel));
    }
    return static_cast<int>(std::clamp<double>(std::round(twips * scale / kTwipsPerPixel), INT_MIN, INT_MAX));
}

// Saturates rather than overflows: a window placed far off any screen still stores a value that reads back.
inline int pixelsToTwips(int pixels)
{
    const double scale = layoutScale();
    if (scale == 1.0) {
        const long long t = static_cast<long long>(pixels) * kTwipsPerPixel;
        return static_cast<int>(std::clamp<long long>(t, INT_MIN, INT_MAX));
    }
    return static_cast<int>(std::clamp<double>(std::round(pixels * kTwipsPerPixel / scale), INT_MIN, INT_MAX));
}

struct TwipRect
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    int right() const { return left + width; }
    bool operator==(const TwipRect&) const = default;
};

// The horizontal rules that run on every resize, from the window's outer width W (twips, borders
// included). Tops, heights and every other control stay where the layout put them.
struct ResizeLayout
{
    int pathBoxWidth = 0; // imageFolder, xmlFilePath, indexFiles
    int listBoxWidth = 0; // fieldNames, fieldTypes
    int browseLeft = 0;   // the three Browse buttons
    int panelWidth = 0;   // each of the two status-bar panels
};

ResizeLayout computeResizeLayout(int outerWidth, int pathBoxLeft);

} // namespace tollavar
