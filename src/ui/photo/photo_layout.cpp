#include "ui/photo/photo_layout.h"

#include <algorithm>

namespace photo {

double fitScale(int w, int h, int W, int H) {
    if (w <= 0 || h <= 0) return 1.0;
    return std::min(static_cast<double>(W) / w, static_cast<double>(H) / h);
}

PhotoLayout layoutPhoto(int w, int h, int W, int H, double zoom, double centerX, double centerY) {
    PhotoLayout out;
    if (w <= 0 || h <= 0 || W <= 0 || H <= 0) return out;
    const double r = fitScale(w, h, W, H);
    if (zoom < 0 || zoom <= r) {
        out.source = {0, 0, w, h};
        out.destination = {static_cast<int>((W - w * r) / 2), static_cast<int>((H - h * r) / 2),
                           static_cast<int>(w * r), static_cast<int>(h * r)};
        out.fit = true;
        return out;
    }
    // Per direction: a picture at least as large as the window shows the part
    // around the centre over the whole window; a smaller one is shown whole,
    // centred (a photo of another shape than the screen grows from the first
    // zoom key on, not only once it covers the window both ways).
    auto axis = [zoom](int size, int window, double centre, int* srcStart, int* srcLen, int* dstStart,
                       int* dstLen) {
        const int scaled = static_cast<int>(zoom * size);
        if (scaled < window) {
            *srcStart = 0;
            *srcLen = size;
            *dstStart = (window - scaled) / 2;
            *dstLen = scaled;
            return;
        }
        const int part = std::min(size, static_cast<int>(window / zoom));
        int start = static_cast<int>(size * centre) - part / 2;
        if (start <= 0) start = 0;
        if (start > size - part) start = size - part;
        *srcStart = start;
        *srcLen = part;
        *dstStart = 0;
        *dstLen = window;
    };
    axis(w, W, centerX, &out.source.x, &out.source.w, &out.destination.x, &out.destination.w);
    axis(h, H, centerY, &out.source.y, &out.source.h, &out.destination.y, &out.destination.h);
    out.fit = false;
    return out;
}

void panCentre(int w, int h, double zoom, int startX, int startY, int nowX, int nowY,
               double savedX, double savedY, double* centerX, double* centerY) {
    if (w <= 0 || h <= 0 || zoom <= 0) {
        *centerX = savedX;
        *centerY = savedY;
        return;
    }
    *centerX = std::clamp((startX - nowX) / (w * zoom) + savedX, 0.0, 1.0);
    *centerY = std::clamp((startY - nowY) / (h * zoom) + savedY, 0.0, 1.0);
}

}  // namespace photo
