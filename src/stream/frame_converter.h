// BGRA picture to planar YUV 4:2:0 of another size (bilinear), with libyuv's
// SIMD code when it is available and libswscale otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct SwsContext;

namespace stream {

struct YuvPlanes {
    uint8_t* y;
    int strideY;
    uint8_t* u;
    int strideU;
    uint8_t* v;
    int strideV;
};

class FrameConverter {
public:
    // False (and convert() does nothing) when a size is not positive.
    FrameConverter(int srcWidth, int srcHeight, int dstWidth, int dstHeight);
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    bool valid() const { return valid_; }
    bool convert(const uint8_t* bgra, int stride, const YuvPlanes& out);
    // Converts only what source rows [srcTop, srcBottom) feed into `out`
    // (which holds the conversion of the earlier picture): the output rows
    // they reach through the scaler, widened to whole chroma rows. The result
    // is the same as convert() of the whole picture.
    bool convertRows(const uint8_t* bgra, int stride, const YuvPlanes& out, int srcTop,
                     int srcBottom);
    // "libyuv" or "swscale".
    static const char* backend();

private:
    int srcW_, srcH_, dstW_, dstH_;
    bool valid_ = false;
    std::vector<uint8_t> scaled_;  // the picture scaled to the output size, BGRA (libyuv)
    SwsContext* sws_ = nullptr;
};

}  // namespace stream
