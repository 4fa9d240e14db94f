#include "ui/ProgramFont.h"

#include "ui/DesignLayout.h"

#include <QCoreApplication>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLabel>

#include <algorithm>
#include <cmath>

namespace tollavar {

namespace {

// Pixels of the layout as drawn, whatever scale the window has taken since.
int drawnPixels(int twips)
{
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

bool fits(const QFont& candidate, const std::vector<QLabel*>& labels)
{
    const QFontMetricsF metrics(candidate);
    for (const QLabel* label : labels) {
        const std::string name = label->objectName().toStdString();
        const TwipRect rect = designRect(name);
        const double height = drawnPixels(rect.height);
        if (label->wordWrap()) {
            const QRectF needed =
                metrics.boundingRect(QRectF(0, 0, drawnPixels(rect.width), 1000), Qt::TextWordWrap, label->text());
            if (needed.height() > height)
                return false;
            continue;
        }
        const int limit = drawnPixels(labelLimit(rect, name) - rect.left);
        if (metrics.horizontalAdvance(label->text()) > limit || metrics.height() > height + 1)
            return false;
    }
    const double browse = drawnPixels(designRect("cmdBrowseIDX").width);
    return metrics.horizontalAdvance(QCoreApplication::translate("tollavar::MainWindow", "Browse")) + 8 <= browse;
}

double desktopPointSize(const QFont& font)
{
    // A font given in pixels has no point size of its own; what it resolves to has.
    return font.pointSizeF() > 0 ? font.pointSizeF() : QFontInfo(font).pointSizeF();
}

} // namespace

double largestFittingPointSize(QFont desktop, const std::vector<QLabel*>& labels)
{
    const double largest = desktopPointSize(desktop);
    if (fits(desktop, labels))
        return largest;
    // Below the desktop's own size, the half points: the answer is the same whatever size the desktop has.
    double size = std::ceil(largest * 2 - 1) / 2;
    for (; size > 6.5; size -= 0.5) {
        desktop.setPointSizeF(size);
        if (fits(desktop, labels))
            break;
    }
    return std::max(size, 6.5);
}

double layoutScaleForFont(const QFont& desktop, const std::vector<QLabel*>& labels)
{
    const double size = desktopPointSize(desktop);
    if (size <= 0)
        return 1.0;
    return std::max(1.0, size / largestFittingPointSize(desktop, labels));
}

} // namespace tollavar
