#include "ui/Twips.h"

#include <algorithm>

namespace tollavar {

ResizeLayout computeResizeLayout(int outerWidth, int pathBoxLeft)
{
    ResizeLayout layout;
    // A window narrower than the margins would give negative widths; the boxes shrink to nothing instead.
    layout.pathBoxWidth = std::max(0, outerWidth - 1380);
    layout.listBoxWidth = std::max(0, outerWidth - 420);
    layout.browseLeft = pathBoxLeft + layout.pathBoxWidth + 100;
    const int w = std::max(0, outerWidth);
    int half = w / 2;
    // Halves go to the even neighbour: 5837 gives 2918, 5839 gives 2920.
    if (w % 2 == 1 && half % 2 == 1)
        ++half;
    layout.panelWidth = half;
    return layout;
}

} // namespace tollavar
