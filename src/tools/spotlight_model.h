// Where the spotlight is and what it looks like: the lit shape, its size
// limits, the phone's relative moves and the enlarged picture in it.
#pragma once

#include <QPainterPath>
#include <QPoint>
#include <QRect>

#include <cstdint>

namespace tools {

struct SpotlightModel {
    enum Shape { Circle = 0, Square = 1, Band = 2 };

    static constexpr int kInitialRadius = 240;
    static constexpr int kRadiusStep = 20;
    static constexpr int kMinRadius = 100;
    static constexpr int kBandMargin = 16;

    int shape = Circle;
    int radius = kInitialRadius;
    bool magnify = false;
    int spotX = 0, spotY = 0;
    int screenW = 0, screenH = 0;
    uint64_t moveCount = 0;

    // A new showing on a screen of that size: the spot in the middle.
    void start(int width, int height);
    void nextShape() { shape = (shape + 1) % 3; }
    // Zoom keys: 20 pixels bigger or smaller, within 100 and 7/16 of the height.
    void resize(bool bigger);
    // A relative move from the phone, packed as the hub carries it (dx in
    // the high, dy in the low 16 bits, each signed). Only every second move
    // counts: the phone sends each one twice. False when nothing moved.
    bool movePacked(int64_t packed);
    bool move(int dx, int dy);
    void moveTo(QPoint at) { spotX = at.x(), spotY = at.y(); }

    // The centre the shape is drawn at: kept so that the shape stays on the
    // screen (the stored centre is left as it is).
    QPoint drawnCentre() const;
    // The lit area.
    QPainterPath litArea() const;
    // For the enlarged picture: which part of the screen goes where.
    QRect magnifySource() const;
    QRect magnifyTarget() const;
};

}  // namespace tools
