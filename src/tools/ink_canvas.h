// The annotation overlay's pictures: the committed bitmap (background plus
// every finished stroke, drawn once) and the drawing of the stroke in
// progress over it. Erase paths and strokes are kept in order, so that an
// undo can draw the picture again from the start.
#pragma once

#include "tools/ink_stroke.h"

#include <QImage>

#include <vector>

namespace tools {

class InkCanvas {
public:
    // The value of a pixel without ink in the layered picture: white, alpha
    // 20, so that the window still takes the mouse everywhere.
    static constexpr QRgb kBackground = 0x14FFFFFF;

    // Starts afresh at `size`; `frozen`, when not null, is the screen picture
    // the ink goes over (the window is then opaque).
    void reset(QSize size, const QImage& frozen);
    // Close button drawn into the picture at its place, or none.
    void setCloseButton(const QImage& button, QPoint at);
    void setCloseButtonShown(bool shown) { closeShown_ = shown; }

    // Adds a finished stroke and bakes it into the committed bitmap.
    void commit(const Stroke& stroke);
    // Restores the background along a path `width` pixels wide.
    void erase(const std::vector<QPoint>& path, int width);
    // Removes all ink.
    void clear();
    // Undo and redo of whole strokes (and erase paths); false when there was
    // nothing to take back or bring back.
    bool undo();
    bool redo();

    // Draws the part `area` of the committed bitmap and the current stroke.
    void compose(QPainter& painter, const QRect& area, const Stroke* current) const;

    const QImage& committed() const { return committed_; }
    size_t strokeCount() const;
    bool layered() const { return frozen_.isNull(); }

private:
    struct Op {
        bool erase = false;
        Stroke stroke;
    };
    void render();
    void apply(const Op& op);
    void drawCloseButton();

    QImage committed_;
    QImage frozen_;
    QImage closeButton_;
    QPoint closeAt_;
    bool closeShown_ = true;
    std::vector<Op> ops_;
    std::vector<Op> undone_;
};

}  // namespace tools
