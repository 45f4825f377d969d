#include "ui/photo/rotate_button_art.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace photo {

QImage rotateButtonPicture() {
    const int s = kRotateButtonSize;
    QImage image(s, s, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Disc with a thin light rim so it reads on dark and light photos alike.
    p.setPen(QPen(QColor(255, 255, 255, 150), 2));
    p.setBrush(QColor(30, 30, 30, 170));
    p.drawEllipse(QRectF(2, 2, s - 4, s - 4));

    // Arc of about 280 degrees, open at the top right, ending in an arrow
    // head that points clockwise.
    const QRectF ring(s * 0.27, s * 0.27, s * 0.46, s * 0.46);
    QPen arcPen(Qt::white, s * 0.075, Qt::SolidLine, Qt::RoundCap);
    p.setPen(arcPen);
    p.setBrush(Qt::NoBrush);
    const double startDeg = 60;   // Qt angles: counter-clockwise from 3 o'clock
    const double spanDeg = 280;
    p.drawArc(ring, static_cast<int>(startDeg * 16), static_cast<int>(spanDeg * 16));

    // Arrow head at the arc's start (the arc is drawn counter-clockwise, so
    // its start is where a clockwise movement arrives).
    const double cx = ring.center().x(), cy = ring.center().y(), r = ring.width() / 2;
    const double a = startDeg * M_PI / 180.0;
    const QPointF tip(cx + r * std::cos(a), cy - r * std::sin(a));
    // Tangent for clockwise travel at angle a (screen coordinates, y down).
    const QPointF dir(std::sin(a), std::cos(a));
    const QPointF normal(-dir.y(), dir.x());
    const double len = s * 0.17;
    QPainterPath head;
    head.moveTo(tip + dir * (len * 0.6));
    head.lineTo(tip - dir * (len * 0.5) + normal * (len * 0.65));
    head.lineTo(tip - dir * (len * 0.5) - normal * (len * 0.65));
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(head);
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

}  // namespace photo
