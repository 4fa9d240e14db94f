#include "ui/GraphicalButton.h"

#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace tollavar {

GraphicalButton::GraphicalButton(QWidget* parent) : QPushButton(parent)
{
    setIconSize(QSize(32, 32));
}

void GraphicalButton::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButtonBevel, option);

    const int shift = isDown() ? 1 : 0;
    const QSize picture = iconSize();
    const int textHeight = fontMetrics().height();
    const int contentHeight = picture.height() + textHeight;
    const int top = std::max(1, (height() - contentHeight) / 2) + shift;
    const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
    const QPixmap pixmap = icon().pixmap(picture, devicePixelRatioF(), mode);
    painter.drawPixmap((width() - picture.width()) / 2 + shift, top, pixmap);

    const QRect textRect(shift, top + picture.height(), width(), textHeight);
    style()->drawItemText(&painter, textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextShowMnemonic, palette(),
                          isEnabled(), text(), QPalette::ButtonText);

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(3, 3, -3, -3);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

} // namespace tollavar
