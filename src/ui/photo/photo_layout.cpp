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
    if (zoom < 0 || static_cast<int>(zoom * w) < W || static_cast<int>(zoom * h) < H) {
        const double r = fitScale(w, h, W, H);
        out.source = {0, 0, w, h};
        out.destination = {static_cast<int>((W - w * r) / 2), static_cast<int>((H - h * r) / 2),
                           static_cast<int>(w * r), static_cast<int>(h * r)};
        out.fit = true;
        return out;
    }
    const int sw = std::min(w, static_cast<int>(W / zoom));
    const int sh = std::min(h, static_cast<int>(H / zoom));
    auto place = [](int size, double centre, int part) {
        int start = static_cast<int>(size * centre) - part / 2;
        if (start <= 0) start = 0;
        if (start > size - part) start = size - part;
        return start;
    };
    out.source = {place(w, centerX, sw), place(h, centerY, sh), sw, sh};
    out.destination = {0, 0, W, H};
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
