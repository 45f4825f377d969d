#include "tools/spotlight_model.h"

#include <algorithm>

namespace tools {

namespace {

// Into [low, high]; when the range is empty the lower bound wins.
int clampLow(int v, int low, int high) { return std::max(low, std::min(v, high)); }

}  // namespace

void SpotlightModel::start(int width, int height) {
    screenW = width;
    screenH = height;
    spotX = width / 2;
    spotY = height / 2;
}

void SpotlightModel::resize(bool bigger) {
    if (bigger)
        radius = std::min(radius + kRadiusStep, screenH * 7 / 16);
    else
        radius = std::max(radius - kRadiusStep, kMinRadius);
}

bool SpotlightModel::movePacked(int64_t packed) {
    const auto bits = static_cast<uint32_t>(packed);
    return move(static_cast<int16_t>(bits >> 16), static_cast<int16_t>(bits & 0xFFFF));
}

bool SpotlightModel::move(int dx, int dy) {
    if (dx == 0 && dy == 0) return false;
    if (++moveCount % 2 == 1) return false;
    spotX = std::clamp(spotX + dx, 0, std::max(screenW, 0));
    spotY = std::clamp(spotY + dy, 0, std::max(screenH, 0));
    return true;
}

QPoint SpotlightModel::drawnCentre() const {
    return {clampLow(spotX, radius, screenW - radius), clampLow(spotY, radius, screenH - radius)};
}

QPainterPath SpotlightModel::litArea() const {
    const QPoint c = drawnCentre();
    QPainterPath path;
    const QRectF box(c.x() - radius, c.y() - radius, 2.0 * radius, 2.0 * radius);
    switch (shape) {
    case Circle: path.addEllipse(box); break;
    case Square: path.addRect(box); break;
    default: {
        const int left = magnify ? 0 : kBandMargin;
        const int right = magnify ? screenW - 2 * kBandMargin : screenW - kBandMargin;
        path.addRect(QRectF(left, c.y() - radius, right - left, 2.0 * radius));
        break;
    }
    }
    return path;
}

QRect SpotlightModel::magnifySource() const {
    const QPoint c = drawnCentre();
    if (shape != Band) return {c.x() - radius / 2, c.y() - radius / 2, radius, radius};
    const int cx = std::clamp(spotX, screenW / 4, std::max(screenW / 4, 3 * screenW / 4));
    return {cx - screenW / 4, c.y() - radius / 2, screenW / 2, radius};
}

QRect SpotlightModel::magnifyTarget() const {
    const QPoint c = drawnCentre();
    if (shape != Band) return {c.x() - radius, c.y() - radius, 2 * radius, 2 * radius};
    return {0, c.y() - radius, 2 * (screenW / 2), 2 * radius};
}

}  // namespace tools
