// Turns one camera frame, in whatever layout the device delivers (packed or
// planar YUV, RGB variants, grey, MJPEG), into 24-bit pixels in blue, green,
// red byte order.
#pragma once

#include <cstddef>
#include <cstdint>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace camera {

enum class ConvertResult { ok, wrongSize, failed };

class CameraConverter {
public:
    CameraConverter() = default;
    ~CameraConverter();
    CameraConverter(const CameraConverter&) = delete;
    CameraConverter& operator=(const CameraConverter&) = delete;

    // True when frames of `layout` can be converted.
    static bool canConvert(uint32_t layout);

    // Prepares for frames of `layout` at width x height, rows of the first
    // plane `bytesPerLine` apart (0: not padded).
    bool setUp(uint32_t layout, int width, int height, int bytesPerLine = 0);

    // Converts one frame into `dst` (width x height pixels of 3 bytes; rows
    // `dstStride` bytes apart, negative to write bottom-up from the last row).
    // wrongSize: the bytes do not make one frame of the set layout and size
    // (bytes beyond one frame, as drivers that round their buffer size up
    // send, are ignored).
    ConvertResult convert(const uint8_t* data, size_t length, uint8_t* dst, int dstStride);

private:
    void release();

    uint32_t layout_ = 0;
    int width_ = 0;
    int height_ = 0;
    size_t frameBytes_ = 0;  // raw layouts: bytes of one frame
    int bytesPerLine_ = 0;
    SwsContext* sws_ = nullptr;
    bool rangeSet_ = false;  // the context reads full-range YUV
    AVCodecContext* decoder_ = nullptr;  // compressed layouts
    AVFrame* decoded_ = nullptr;
    AVPacket* packet_ = nullptr;
};

}  // namespace camera
