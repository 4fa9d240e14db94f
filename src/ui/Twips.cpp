#include "ui/Twips.h"

#include <algorithm>
#include <climits>

namespace tollavar {

namespace {
// One window, one text size: the scale is the program's, like its font.
double g_layoutScale = 1.0;
} // namespace

void setLayoutScale(double scale)
{
    g_layoutScale = scale > 0 ? scale : 1.0;
}

double layoutScale()
{
    return g_layoutScale;
}

ResizeLayout computeResizeLayout(int outerWidth, int pathBoxLeft)
{
    ResizeLayout layout;
    // A window narrower than the margins would give negative widths; the boxes shrink to nothing instead.
    layout.pathBoxWidth = static_cast<int>(std::max(0LL, outerWidth - 1380LL));
    layout.listBoxWidth = static_cast<int>(std::max(0LL, outerWidth - 420LL));
    layout.browseLeft = static_cast<int>(std::min<long long>(INT_MAX, 100LL + pathBoxLeft + layout.pathBoxWidth));
    const int w = std::max(0, outerWidth);
    int half = w / 2;
    // Halves go to the even neighbour: 5837 gives 2918, 5839 gives 2920.
    if (w % 2 == 1 && half % 2 == 1)
        ++half;
    layout.panelWidth = half;
    return layout;
}

} // namespace tollavar
