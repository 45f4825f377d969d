#include "sketchpad/board_page.h"

#include <algorithm>
#include <cmath>

namespace sketchpad {

QTransform BoardPage::view() const {
    const QPointF c(size.width() / 2, size.height() / 2);
    QTransform t;
    t.translate(c.x(), c.y());
    t.rotate(angle);
    t.scale(zoom, zoom);
    t.translate(-c.x(), -c.y());
    return t;
}

void BoardPage::fitPicture(const QMarginsF& margins) {
    if (picture.isNull() || size.isEmpty()) return;
    const QRectF room = QRectF(QPointF(0, 0), size).marginsRemoved(margins);
    if (room.width() < 1 || room.height() < 1) return;
    const QSizeF fitted = QSizeF(picture.size()).scaled(room.size(), Qt::KeepAspectRatio);
    pictureRect = QRectF(QPointF(room.x() + (room.width() - fitted.width()) / 2,
                                 room.y() + (room.height() - fitted.height()) / 2),
                         fitted);
}

void BoardPage::zoomBy(bool in) {
    zoom = std::clamp(in ? zoom * kZoomStep : zoom / kZoomStep, kMinZoom, kMaxZoom);
}

void BoardPage::turnBy(double degrees) {
    if (!std::isfinite(degrees)) return;
    angle = std::fmod(angle + degrees, 360.0);
    if (angle < 0) angle += 360.0;
}

}  // namespace sketchpad
