#include "ui/Icons.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>

namespace tollavar {

namespace {

// Every picture is drawn on a 32-unit square and scaled, so the small sizes keep the same shapes.
QPixmap drawScaled(int size, void (*draw)(QPainter&))
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    draw(painter);
    return pixmap;
}

void drawLamp(QPainter& p, QPointF centre, QColor colour, bool lit)
{
    const qreal radius = 4.2;
    if (lit) {
        QRadialGradient glow(centre, radius * 1.9);
        QColor halo = colour;
        halo.setAlpha(150);
        glow.setColorAt(0.0, halo);
        glow.setColorAt(1.0, Qt::transparent);
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(centre, radius * 1.9, radius * 1.9);
    }
    QRadialGradient body(centre - QPointF(1.3, 1.3), radius * 1.6);
    body.setColorAt(0.0, lit ? colour.lighter(170) : colour.darker(200));
    body.setColorAt(1.0, lit ? colour : colour.darker(420));
    p.setPen(QPen(QColor(20, 20, 20), 0.8));
    p.setBrush(body);
    p.drawEllipse(centre, radius, radius);
}

void drawTrafficLight(QPainter& p)
{
    // The pole under the housing.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(90, 90, 90));
    p.drawRect(QRectF(14.5, 27, 3, 5));

    QLinearGradient housing(0, 0, 32, 0);
    housing.setColorAt(0.0, QColor(70, 70, 70));
    housing.setColorAt(0.5, QColor(45, 45, 45));
    housing.setColorAt(1.0, QColor(25, 25, 25));
    p.setPen(QPen(QColor(10, 10, 10), 1.0));
    p.setBrush(housing);
    p.drawRoundedRect(QRectF(9.5, 0.5, 13, 28), 3, 3);

    drawLamp(p, {16, 5.5}, QColor(220, 30, 30), false);
    drawLamp(p, {16, 14.5}, QColor(240, 190, 20), false);
    drawLamp(p, {16, 23.5}, QColor(40, 230, 70), true);
}

void drawProgramIcon(QPainter& p)
{
    // An index sheet going into a datagroup folder.
    QPainterPath back;
    back.moveTo(2, 11);
    back.lineTo(11, 11);
    back.lineTo(13.5, 14);
    back.lineTo(30, 14);
    back.lineTo(30, 30);
    back.lineTo(2, 30);
    back.closeSubpath();
    p.setPen(QPen(QColor(150, 105, 10), 1.0));
    p.setBrush(QColor(232, 178, 48));
    p.drawPath(back);

    QPainterPath sheet;
    sheet.moveTo(8, 1.5);
    sheet.lineTo(21, 1.5);
    sheet.lineTo(26, 6.5);
    sheet.lineTo(26, 24);
    sheet.lineTo(8, 24);
    sheet.closeSubpath();
    p.setPen(QPen(QColor(90, 90, 110), 1.0));
    p.setBrush(Qt::white);
    p.drawPath(sheet);
    p.setBrush(QColor(215, 215, 225));
    p.drawPolygon(QPolygonF({QPointF(21, 1.5), QPointF(21, 6.5), QPointF(26, 6.5)}));

    p.setPen(QPen(QColor(40, 90, 190), 1.6, Qt::SolidLine, Qt::FlatCap));
    for (qreal y : {9.0, 12.5, 16.0, 19.5})
        p.drawLine(QPointF(11, y), QPointF(23, y));

    QLinearGradient front(0, 17, 0, 31);
    front.setColorAt(0.0, QColor(255, 214, 92));
    front.setColorAt(1.0, QColor(226, 160, 30));
    p.setPen(QPen(QColor(150, 105, 10), 1.0));
    p.setBrush(front);
    QPainterPath flap;
    flap.moveTo(2, 30);
    flap.lineTo(5, 18);
    flap.lineTo(31, 18);
    flap.lineTo(30, 30);
    flap.closeSubpath();
    p.drawPath(flap);
}

QIcon buildIcon(void (*draw)(QPainter&))
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64})
        icon.addPixmap(drawScaled(size, draw));
    return icon;
}

} // namespace

QIcon programIcon()
{
    return buildIcon(drawProgramIcon);
}

QPixmap programIconPixmap(int size)
{
    return drawScaled(size, drawProgramIcon);
}

QIcon trafficLightIcon()
{
    return buildIcon(drawTrafficLight);
}

} // namespace tollavar
