// One page of the drawing board: ink strokes, at most one picture and text
// boxes, all in page coordinates (the screen's pixels at zoom 1, no turn),
// and how the page is viewed (zoom and turn about the page centre).
#pragma once

#include <QColor>
#include <QImage>
#include <QMarginsF>
#include <QPolygonF>
#include <QRectF>
#include <QString>
#include <QTransform>

#include <vector>

namespace sketchpad {

struct Stroke {
    QPolygonF points;
    QColor color;
    double width = 4.0;
};

struct TextBox {
    QPointF at;  // top-left corner, page coordinates
    QString text;
};

struct BoardPage {
    QSizeF size;
    std::vector<Stroke> strokes;
    QImage picture;
    QRectF pictureRect;  // fitted into the page with a margin
    std::vector<TextBox> texts;
    double zoom = 1.0;
    double angle = 0.0;  // degrees, clockwise

    bool blank() const { return strokes.empty() && picture.isNull() && texts.empty(); }
    // Page coordinates to window coordinates.
    QTransform view() const;
    // Places `picture` fitted into the page, centred in what `margins` leave.
    void fitPicture(const QMarginsF& margins);

    static constexpr double kMinZoom = 0.2;
    static constexpr double kMaxZoom = 5.0;
    // One zoom key multiplies or divides the zoom by this.
    static constexpr double kZoomStep = 1.25;
    void zoomBy(bool in);
    void turnBy(double degrees);
};

}  // namespace sketchpad
