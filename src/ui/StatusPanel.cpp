#include "ui/StatusPanel.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

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
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.frameShape = QFrame::Panel;
    frame.state |= QStyle::State_Sunken;
    frame.lineWidth = 1;
    frame.midLineWidth = 0;
    style()->drawPrimitive(QStyle::PE_Frame, &frame, &painter, this);
    const QRect textArea = rect().adjusted(4, 1, -4, -1);
    const QString shown = fontMetrics().elidedText(m_text, Qt::ElideMiddle, textArea.width());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(textArea, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, shown);
}

} // namespace tollavar
