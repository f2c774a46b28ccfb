#include "pictures/small_pictures.h"

#include "pictures/canvas.h"

#include <QPainterPath>
#include <QRadialGradient>

#include <cstdint>

namespace vellumine::pictures {
namespace {

const QColor kInk(52, 30, 18);

QPen ink(double width) {
    QPen pen(kInk, width);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

// A fixed pseudo-random sequence, so the grain is the same on every build.
std::uint32_t hashNoise(std::uint32_t v) {
    v ^= v >> 16;
    v *= 0x7feb352dU;
    v ^= v >> 15;
    v *= 0x846ca68bU;
    v ^= v >> 16;
    return v;
}

}  // namespace

QImage drawStrip() {
    Canvas canvas(kStripWidth, kStripHeight, QColor(54, 37, 26));
    QPainter& p = canvas.painter();
    QLinearGradient shade(0, 0, 0, kStripHeight);
    shade.setColorAt(0, QColor(66, 45, 32));
    shade.setColorAt(1, QColor(44, 29, 20));
    p.fillRect(QRectF(0, 0, kStripWidth, kStripHeight), shade);
    // Faint grain: long, slightly wavy streaks a shade lighter or darker than the board.
    for (int i = 0; i < 14; ++i) {
        const std::uint32_t h = hashNoise(static_cast<std::uint32_t>(i) * 7919U + 17U);
        const double y = 1.5 + (h % 1700) / 100.0;
        const double x0 = static_cast<double>((h >> 11) % 60) - 20;
        const double len = 40 + (h >> 17) % 60;
        const bool light = (h >> 5) & 1;
        QPainterPath streak;
        streak.moveTo(x0, y);
        streak.cubicTo(x0 + len * 0.3, y - 0.6, x0 + len * 0.7, y + 0.6, x0 + len, y);
        p.setPen(QPen(light ? QColor(255, 220, 180, 14) : QColor(0, 0, 0, 26), 0.8));
        p.setBrush(Qt::NoBrush);
        p.drawPath(streak);
    }
    // A bevel: light along the top, dark along the bottom.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(92, 66, 46));
    p.drawRect(QRectF(0, 0, kStripWidth, 1));
    p.setBrush(QColor(24, 15, 10));
    p.drawRect(QRectF(0, kStripHeight - 1, kStripWidth, 1));
    return canvas.finish().convertToFormat(QImage::Format_RGB32);
}

QImage drawLamp(LampColour colour, const QImage& strip) {
    const QImage corner = strip.copy(0, 0, kLampSize, kLampSize);
    Canvas canvas(kLampSize, kLampSize, Qt::transparent);
    QPainter& p = canvas.painter();
    p.drawImage(QRectF(0, 0, kLampSize, kLampSize), corner);
    const QPointF c(8, 8);
    const QColor base = colour == LampColour::Green ? QColor(54, 200, 84) : QColor(232, 52, 40);
    // A brass bezel with a dark rim.
    p.setPen(QPen(QColor(30, 20, 14), 0.9));
    QRadialGradient bezel(c + QPointF(-2, -2), 8);
    bezel.setColorAt(0, QColor(226, 188, 110));
    bezel.setColorAt(1, QColor(118, 84, 36));
    p.setBrush(bezel);
    p.drawEllipse(c, 6.8, 6.8);
    // The glass: lit from inside, darker at the rim.
    QRadialGradient glass(c + QPointF(-0.8, -1.0), 6.0);
    glass.setColorAt(0, base.lighter(135));
    glass.setColorAt(0.6, base);
    glass.setColorAt(1, base.darker(185));
    p.setPen(Qt::NoPen);
    p.setBrush(glass);
    p.drawEllipse(c, 5.4, 5.4);
    // A soft highlight up and to the left.
    QRadialGradient shine(c + QPointF(-1.9, -2.2), 2.8);
    shine.setColorAt(0, QColor(255, 255, 255, 230));
    shine.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(shine);
    p.drawEllipse(c + QPointF(-1.9, -2.2), 2.8, 2.2);
    return canvas.finish().convertToFormat(QImage::Format_RGB32);
}

QImage drawSmallClock() {
    Canvas canvas(22, 22, Qt::transparent);
    QPainter& p = canvas.painter();
    p.setPen(ink(1.2));
    p.setBrush(QColor(250, 240, 214));
    p.drawEllipse(QPointF(11, 11), 9.5, 9.5);
    for (int i = 0; i < 12; ++i) {
        p.save();
        p.translate(11, 11);
        p.rotate(i * 30);
        p.setPen(ink(i % 3 == 0 ? 1.1 : 0.7));
        p.drawLine(QPointF(0, -8.2), QPointF(0, -6.8));
        p.restore();
    }
    p.setPen(ink(1.4));
    p.drawLine(QPointF(11, 11), QPointF(11, 5));
    p.drawLine(QPointF(11, 11), QPointF(15, 13));
    return canvas.finish();
}

QImage drawSmallEnvelope() {
    Canvas canvas(22, 22, Qt::transparent);
    QPainter& p = canvas.painter();
    p.setPen(ink(1.1));
    p.setBrush(QColor(250, 244, 226));
    p.drawRect(QRectF(2, 5.5, 18, 12));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(2, 5.5), QPointF(11, 12.5), QPointF(20, 5.5)}));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(214, 58, 46));
    p.drawEllipse(QPointF(11, 12.5), 1.6, 1.6);
    return canvas.finish();
}

QImage drawSmallCatFace() {
    Canvas canvas(22, 22, Qt::transparent);
    QPainter& p = canvas.painter();
    const QColor fur(236, 150, 64);
    p.setPen(ink(1.0));
    p.setBrush(fur);
    p.drawPolygon(QPolygonF({QPointF(3, 9), QPointF(4, 2), QPointF(9, 6)}));
    p.drawPolygon(QPolygonF({QPointF(19, 9), QPointF(18, 2), QPointF(13, 6)}));
    p.drawEllipse(QPointF(11, 12.5), 8.5, 7.5);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawEllipse(QPointF(7.6, 11.5), 1.3, 1.6);
    p.drawEllipse(QPointF(14.4, 11.5), 1.3, 1.6);
    p.setBrush(QColor(240, 130, 140));
    p.drawPolygon(QPolygonF({QPointF(10, 14), QPointF(12, 14), QPointF(11, 15.3)}));
    return canvas.finish();
}

QImage drawSmallHouse() {
    Canvas canvas(22, 22, Qt::transparent);
    QPainter& p = canvas.painter();
    p.setPen(ink(1.0));
    p.setBrush(QColor(140, 86, 48));
    p.drawRect(QRectF(4.5, 10, 13, 10));
    p.setBrush(QColor(164, 60, 42));
    p.drawPolygon(QPolygonF({QPointF(1.5, 11), QPointF(11, 2), QPointF(20.5, 11)}));
    p.setBrush(QColor(250, 240, 214));
    p.drawEllipse(QPointF(11, 14.5), 3, 3);
    return canvas.finish();
}

}  // namespace vellumine::pictures
