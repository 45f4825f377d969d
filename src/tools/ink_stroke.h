// Ink strokes and how they are drawn: anti-aliased cardinal splines with
// round caps and joins.
#pragma once

#include <QPainterPath>
#include <QPoint>
#include <QRgb>

#include <vector>

class QPainter;

namespace tools {

struct Stroke {
    int id = 0;
    std::vector<QPoint> points;
    QRgb color = 0xFFFF0000;  // ARGB
    int width = 5;
};

// The cardinal spline through `points` (tension 0.5, end points doubled) as
// cubic Bezier segments. Fewer than two points give an empty path.
QPainterPath cardinalSpline(const std::vector<QPoint>& points, double tension = 0.5);

// Draws the stroke with its colour and width; fewer than two points draw nothing.
void drawStroke(QPainter& painter, const Stroke& stroke);

// The area a stroke covers, with room for its pen and anti-aliasing.
QRect strokeBounds(const Stroke& stroke);

}  // namespace tools
