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

void BoardPage::fitPicture(double margin) {
    if (picture.isNull() || size.isEmpty()) return;
    const QSizeF room(std::max(1.0, size.width() - 2 * margin), std::max(1.0, size.height() - 2 * margin));
    const QSizeF fitted = QSizeF(picture.size()).scaled(room, Qt::KeepAspectRatio);
    pictureRect = QRectF(QPointF((size.width() - fitted.width()) / 2, (size.height() - fitted.height()) / 2),
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
