#include "tools/ink_canvas.h"

#include <QPainter>
#include <QPainterPathStroker>

namespace tools {

void InkCanvas::reset(QSize size, const QImage& frozen) {
    frozen_ = frozen.isNull() ? QImage() : frozen.scaled(size).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    committed_ = QImage(size, QImage::Format_ARGB32_Premultiplied);
    ops_.clear();
    undone_.clear();
    render();
}

void InkCanvas::setCloseButton(const QImage& button, QPoint at) {
    closeButton_ = button;
    closeAt_ = at;
}

void InkCanvas::render() {
    if (committed_.isNull()) return;
    committed_.fill(QColor::fromRgba(kBackground));
    if (!frozen_.isNull()) {
        QPainter p(&committed_);
        p.drawImage(0, 0, frozen_);
    }
    for (const Op& op : ops_) apply(op);
    drawCloseButton();
}

void InkCanvas::drawCloseButton() {
    if (!closeShown_ || closeButton_.isNull() || committed_.isNull()) return;
    QPainter p(&committed_);
    p.drawImage(closeAt_, closeButton_);
}

void InkCanvas::apply(const Op& op) {
    QPainter p(&committed_);
    if (!op.erase) {
        drawStroke(p, op.stroke);
        return;
    }
    // The background comes back along the path: the see-through value in
    // the layered picture, the frozen screen otherwise.
    QPainterPathStroker stroker;
    stroker.setWidth(std::max(1, op.stroke.width));
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    QPainterPath area;
    if (op.stroke.points.size() == 1) {
        const qreal r = std::max(1, op.stroke.width) / 2.0;
        area.addEllipse(QPointF(op.stroke.points[0]), r, r);
    } else {
        area = stroker.createStroke(cardinalSpline(op.stroke.points));
    }
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setClipPath(area);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(committed_.rect(), QColor::fromRgba(kBackground));
    if (!frozen_.isNull()) p.drawImage(0, 0, frozen_);
}

void InkCanvas::commit(const Stroke& stroke) {
    if (stroke.points.size() < 2) return;
    ops_.push_back({false, stroke});
    undone_.clear();
    apply(ops_.back());
}

void InkCanvas::erase(const std::vector<QPoint>& path, int width) {
    if (path.empty() || committed_.isNull()) return;
    Op op{true, Stroke{0, path, kBackground, width}};
    ops_.push_back(op);
    undone_.clear();
    apply(op);
    drawCloseButton();
}

void InkCanvas::clear() {
    ops_.clear();
    undone_.clear();
    render();
}

bool InkCanvas::undo() {
    if (ops_.empty()) return false;
    undone_.push_back(std::move(ops_.back()));
    ops_.pop_back();
    render();
    return true;
}

bool InkCanvas::redo() {
    if (undone_.empty()) return false;
    ops_.push_back(std::move(undone_.back()));
    undone_.pop_back();
    apply(ops_.back());
    drawCloseButton();
    return true;
}

size_t InkCanvas::strokeCount() const {
    size_t n = 0;
    for (const Op& op : ops_) n += op.erase ? 0 : 1;
    return n;
}

void InkCanvas::compose(QPainter& painter, const QRect& area, const Stroke* current) const {
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(area, committed_, area);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (current) {
        painter.setClipRect(area);
        drawStroke(painter, *current);
    }
    painter.restore();
}

}  // namespace tools
