#include "tools/ink_stroke.h"

#include <QPainter>
#include <QPen>

#include <algorithm>

namespace tools {

QPainterPath cardinalSpline(const std::vector<QPoint>& points, double tension) {
    QPainterPath path;
    const size_t n = points.size();
    if (n < 2) return path;
    auto at = [&](long i) {
        i = std::clamp<long>(i, 0, static_cast<long>(n) - 1);
        return QPointF(points[static_cast<size_t>(i)]);
    };
    const double k = tension / 3.0;
    path.moveTo(at(0));
    for (long i = 0; i + 1 < static_cast<long>(n); ++i) {
        const QPointF p0 = at(i - 1), p1 = at(i), p2 = at(i + 1), p3 = at(i + 2);
        path.cubicTo(p1 + (p2 - p0) * k, p2 - (p3 - p1) * k, p2);
    }
    return path;
}

void drawStroke(QPainter& painter, const Stroke& stroke) {
    if (stroke.points.size() < 2) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPen pen(QColor::fromRgba(stroke.color), static_cast<qreal>(stroke.width), Qt::SolidLine,
             Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(cardinalSpline(stroke.points));
    painter.restore();
}

QRect strokeBounds(const Stroke& stroke) {
    if (stroke.points.empty()) return {};
    int left = stroke.points[0].x(), right = left, top = stroke.points[0].y(), bottom = top;
    for (const QPoint& p : stroke.points) {
        left = std::min(left, p.x());
        right = std::max(right, p.x());
        top = std::min(top, p.y());
        bottom = std::max(bottom, p.y());
    }
    // The spline may swing a little beyond its points.
    const int margin = stroke.width / 2 + 2 + (right - left + bottom - top) / 8;
    return QRect(QPoint(left, top), QPoint(right, bottom)).adjusted(-margin, -margin, margin, margin);
}

}  // namespace tools
