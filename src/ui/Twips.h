#pragma once

namespace tollavar {

// The window is laid out in twips, 15 to a device-independent pixel.
inline constexpr int kTwipsPerPixel = 15;

inline int twipsToPixels(int twips)
{
    // Round half away from zero, so 4675 twips (311.67 px) lands on 312.
    return twips >= 0 ? (twips + kTwipsPerPixel / 2) / kTwipsPerPixel
                      : -((-twips + kTwipsPerPixel / 2) / kTwipsPerPixel);
}

inline int pixelsToTwips(int pixels)
{
    return pixels * kTwipsPerPixel;
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
    int pathBoxWidth = 0; // txtImageFolder, txtXML, txtIDX
    int listBoxWidth = 0; // txtFNAMES, txtFTYPES
    int browseLeft = 0;   // the three Browse buttons
    int panelWidth = 0;   // each of the two status-bar panels
};

ResizeLayout computeResizeLayout(int outerWidth, int pathBoxLeft);

} // namespace tollavar
