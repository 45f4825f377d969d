#include "media/picture_fit.h"

#include <algorithm>

namespace media {

Size fitToScreen(int w, int h, Size display, bool mirroring) {
    Size out;
    if (w <= 0 || h <= 0) return out;
    if (mirroring) {
        out = display;
    } else {
        const float scale = std::min(float(display.width) / float(w), float(display.height) / float(h));
        out.width = int(float(w) * scale) & ~1;
        out.height = int(float(h) * scale) & ~1;
        // Never enlarged.
        if (out.width > w) out = {w, h};
    }
    if (out.width > kMaxPictureWidth) {
        out.height = int(int64_t(out.height) * kMaxPictureWidth / out.width);
        out.width = kMaxPictureWidth;
    }
    return out;
}

Rect pictureTarget(Size frame, Size area, bool mirroring) {
    if (mirroring || frame.width <= 0 || frame.height <= 0) return {0, 0, area.width, area.height};
    // Fitted into the area; a smaller picture keeps its size.
    const double s =
        std::min({double(area.height) / frame.height, double(area.width) / frame.width, 1.0});
    Rect r;
    r.width = int(frame.width * s);
    r.height = int(frame.height * s);
    r.x = (area.width - r.width) / 2;
    r.y = (area.height - r.height) / 2;
    return r;
}

Size pointerPictureSize(Size video, Size client) {
    if (video.width <= 0 || video.height <= 0) return client;
    const double s = std::min(double(client.width) / video.width, double(client.height) / video.height);
    return {int(video.width * s), int(video.height * s)};
}

bool inCloseSquare(int x, int y, int clientWidth) {
    return x >= clientWidth - 32 && x < clientWidth && y >= 0 && y < 32;
}

namespace {

// Calls `nal` with the first byte(s) of every NAL unit of an Annex-B stream
// until it returns true.
template <typename F>
bool anyNal(const uint8_t* d, size_t n, F nal) {
    for (size_t i = 0; i + 3 < n; ++i) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            if (nal(d + i + 3, n - i - 3)) return true;
            i += 2;
        }
    }
    return false;
}

}  // namespace

bool isLiveKeyFrame(int codecIndex, const uint8_t* data, size_t length) {
    if (!data || length == 0) return false;
    switch (codecIndex) {
    case 1:  // VP8: bit 0 of the frame tag is 0 for key frames
        return (data[0] & 1) == 0;
    case 2:  // HEVC: VPS/SPS/PPS or an IRAP picture (types 16..21)
        return anyNal(data, length, [](const uint8_t* p, size_t) {
            const int type = (p[0] >> 1) & 0x3f;
            return (type >= 16 && type <= 21) || (type >= 32 && type <= 34);
        });
    default:  // H.264: SPS or IDR
        return anyNal(data, length, [](const uint8_t* p, size_t) {
            const int type = p[0] & 0x1f;
            return type == 5 || type == 7;
        });
    }
}

}  // namespace media
