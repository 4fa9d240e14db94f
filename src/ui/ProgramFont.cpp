#include "ui/ProgramFont.h"

#include "ui/DesignLayout.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QLabel>

namespace tollavar {

namespace {

bool fits(const QFont& candidate, const std::vector<QLabel*>& labels)
{
    const QFontMetricsF metrics(candidate);
    for (const QLabel* label : labels) {
        const std::string name = label->objectName().toStdString();
        const TwipRect rect = designRect(name);
        const double height = twipsToPixels(rect.height);
        if (label->wordWrap()) {
            const QRectF needed =
                metrics.boundingRect(QRectF(0, 0, twipsToPixels(rect.width), 1000), Qt::TextWordWrap, label->text());
            if (needed.height() > height)
                return false;
            continue;
        }
        const int limit = twipsToPixels(labelLimit(rect, name) - rect.left);
        if (metrics.horizontalAdvance(label->text()) > limit || metrics.height() > height + 1)
            return false;
    }
    const double browse = twipsToPixels(designRect("cmdBrowseIDX").width);
    return metrics.horizontalAdvance(QCoreApplication::translate("tollavar::MainWindow", "Browse")) + 8 <= browse;
}

} // namespace

QFont fittingProgramFont(QFont font, const std::vector<QLabel*>& labels)
{
    if (font.pointSizeF() <= 0)
        font.setPointSizeF(9);
    const double largest = font.pointSizeF();
    for (double size = largest; size >= 6.5; size -= 0.5) {
        font.setPointSizeF(size);
        if (fits(font, labels))
            break;
    }
    return font;
}

} // namespace tollavar
