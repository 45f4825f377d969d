#include "tools/close_button_art.h"

#include <QPainter>
#include <QPen>

namespace tools {

QImage closeButtonPicture() {
    constexpr int kSize = 48;
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    // A dark ring keeps the button visible over white pages and dark slides.
    p.setPen(QPen(QColor(40, 40, 40, 200), 2.0));
    p.setBrush(QColor(0xE0, 0x3A, 0x32));
    p.drawEllipse(QRectF(3, 3, kSize - 6, kSize - 6));
    p.setPen(QPen(Qt::white, 5.0, Qt::SolidLine, Qt::RoundCap));
    const qreal a = kSize * 0.34, b = kSize * 0.66;
    p.drawLine(QPointF(a, a), QPointF(b, b));
    p.drawLine(QPointF(b, a), QPointF(a, b));
    return image;
}

}  // namespace tools
