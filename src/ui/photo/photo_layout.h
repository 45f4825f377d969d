// Where a photo lands in the wall's window: the whole picture fitted, or a
// zoomed part of it around a chosen centre. Pure arithmetic, no drawing.
#pragma once

namespace photo {

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const Rect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};

struct PhotoLayout {
    Rect source;       // part of the image that is drawn
    Rect destination;  // where it goes in the window
    bool fit = true;   // the whole image, fitted
};

// The scale that fits an image of w x h into a window of W x H.
double fitScale(int w, int h, int W, int H);

// Image w x h in a window W x H at `zoom` (negative: fit) with the image
// point (centerX, centerY), each 0..1, at the window centre. A zoom at or
// below the fit scale is drawn fitted; above it, a direction in which the
// zoomed image is smaller than the window shows it whole and centred.
PhotoLayout layoutPhoto(int w, int h, int W, int H, double zoom, double centerX, double centerY);

// The new centre after a pan drag from `start` to `now` (window pixels),
// starting from the centre the drag began with; each forced into 0..1.
void panCentre(int w, int h, double zoom, int startX, int startY, int nowX, int nowY,
               double savedX, double savedY, double* centerX, double* centerY);

}  // namespace photo
