#include "ui/StatusPanel.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace tollavar {

StatusPanel::StatusPanel(QWidget* parent) : QWidget(parent)
{
    m_pending.setSingleShot(true);
    m_pending.setInterval(kRepaintInterval);
    connect(&m_pending, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void StatusPanel::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    setToolTip(m_text);
    // Drawn by hand, the text reaches a screen reader only this way.
    setAccessibleDescription(m_text);
    if (!m_sinceRepaint.isValid() || m_sinceRepaint.elapsed() >= kRepaintInterval)
        update();
    else if (!m_pending.isActive())
        m_pending.start();
}

void StatusPanel::paintEvent(QPaintEvent*)
{
    m_sinceRepaint.start();
    m_pending.stop();
    QPainter painter(this);
    // A sunken panel, drawn line by line in whole device pixels: at a scale of 1.25 or 1.5 the
    // style's frame lands between pixels and loses edges.
    const qreal ratio = devicePixelRatioF();
    const QRectF box(QPointF(0.5 / ratio, 0.5 / ratio), QPointF((std::floor(width() * ratio) - 0.5) / ratio,
                                                                (std::floor(height() * ratio) - 0.5) / ratio));
    painter.setPen(QPen(palette().color(QPalette::Dark), 0));
    painter.drawLine(box.topLeft(), box.topRight());
    painter.drawLine(box.topLeft(), box.bottomLeft());
    painter.setPen(QPen(palette().color(QPalette::Light), 0));
    painter.drawLine(box.bottomLeft(), box.bottomRight());
    painter.drawLine(box.topRight(), box.bottomRight());
    const QRect textArea = rect().adjusted(4, 1, -4, -1);
    const QString shown = fittedText(m_text, fontMetrics(), textArea.width());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(textArea, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, shown);
}

// The middle goes: the start says where the folder lies, the last name which one it is, and that name
// stays whole as long as it fits at all.
static QString elidedPath(const QString& path, const QFontMetrics& metrics, int width)
{
    if (metrics.horizontalAdvance(path) <= width)
        return path;
    const qsizetype last = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    const QString name = path.mid(last);
    const int room = width - metrics.horizontalAdvance(name);
    if (last <= 0 || room <= metrics.horizontalAdvance(QStringLiteral("\u2026")))
        return metrics.elidedText(path, Qt::ElideLeft, width);
    return metrics.elidedText(path.left(last), Qt::ElideRight, room) + name;
}

QString StatusPanel::fittedText(const QString& text, const QFontMetrics& metrics, int width)
{
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    // A path is the first word that holds a separator, relative or full, and runs to the end.
    qsizetype pathStart = -1;
    qsizetype wordStart = 0;
    for (qsizetype i = 0; i < text.size() && pathStart < 0; ++i) {
        if (text[i] == QLatin1Char(' '))
            wordStart = i + 1;
        else if (text[i] == QLatin1Char('/') || text[i] == QLatin1Char('\\'))
            pathStart = wordStart;
    }
    if (pathStart < 0)
        return metrics.elidedText(text, Qt::ElideMiddle, width);
    const QString words = text.left(pathStart);
    const int room = width - metrics.horizontalAdvance(words);
    const QString path = elidedPath(text.mid(pathStart), metrics, std::max(0, room));
    // Too narrow for the words and an ellipsis: the end of the sentence goes.
    if (room <= 0 || path.isEmpty())
        return metrics.elidedText(text, Qt::ElideRight, width);
    return words + path;
}

} // namespace tollavar
