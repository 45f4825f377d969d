// The recording's watermark: an image file read as blue, green, red, alpha
// pixels and blended into the top-right corner of each recorded frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace record {

struct Watermark {
    int width = 0;   // 0: no watermark
    int height = 0;
    std::vector<uint8_t> pixels;  // width x height x 4: blue, green, red, alpha

    bool empty() const { return width == 0 || height == 0; }
    void clear() {
        width = height = 0;
        pixels.clear();
    }
};

// Reads `path` (PNG, JPEG, BMP, ... whatever FFmpeg decodes). Accepted only
// when narrower and lower than the screen; an image without alpha gets alpha
// 127 everywhere. False (and `out` empty) otherwise.
bool loadWatermark(const std::string& path, int screenWidth, int screenHeight, Watermark& out);

// Blends the watermark into a BGRA picture at its top-right corner; the
// fourth byte of each frame pixel is kept. Only picture rows [firstRow,
// endRow) are touched.
void blendWatermark(const Watermark& mark, uint8_t* frame, int stride, int width, int height,
                    int firstRow = 0, int endRow = 1 << 30);

}  // namespace record
