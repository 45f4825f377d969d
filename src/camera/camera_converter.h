// Keeps one camera frame, in whatever layout the device delivers (packed or
// planar YUV, RGB variants, grey, MJPEG), and turns it into the pictures its
// readers ask for: 24-bit pixels in blue, green, red byte order at the
// frame's size, or 32-bit BGRA at a size of the reader's choosing.
#pragma once

#include "platform/camera_device.h"

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

    // Keeps one frame from the device: a copy of its planes (raw layouts)
    // or its decoded picture (compressed ones). wrongSize: the bytes do not
    // make one frame of the set layout and size (bytes beyond one frame, as
    // drivers that round their buffer size up send, are ignored).
    ConvertResult take(const platform::CameraFrame& frame);

    // The kept frame as 24-bit pixels, blue, green, red (red, green, blue
    // with `swapRB`), into rows `dstStride` bytes apart; a negative stride
    // writes bottom-up from the last row. False when no frame is kept.
    bool toRgb24(uint8_t* dst, int dstStride, bool swapRB);

    // The kept frame as 32-bit pixels (blue, green, red, opaque alpha),
    // scaled to width x height (each at least 1, no larger than the frame),
    // rows `dstStride` bytes apart.
    bool toBgra(uint8_t* dst, int width, int height, int dstStride);

private:
    // One libswscale context and what it was made for.
    struct Scaler {
        SwsContext* context = nullptr;
        int source = -1, target = -1, width = 0, height = 0, targetWidth = 0, targetHeight = 0;
        bool fullRange = false;
        ~Scaler();
        SwsContext* get(int source, int width, int height, int target, int targetWidth, int targetHeight,
                        bool fullRange);
    };

    void release();
    // The kept picture's pixel format as libswscale wants it, and its range.
    int sourceFormat(bool& fullRange) const;

    uint32_t layout_ = 0;
    int width_ = 0;
    int height_ = 0;
    size_t frameBytes_ = 0;  // raw layouts: bytes of one frame
    int bytesPerLine_ = 0;
    AVFrame* kept_ = nullptr;    // the frame readers convert from
    bool hasFrame_ = false;
    Scaler rgb_;
    Scaler bgra_;
    AVFrame* small_ = nullptr;   // planar 4:2:0 scaled down before it becomes BGRA
    AVCodecContext* decoder_ = nullptr;  // compressed layouts
    AVPacket* packet_ = nullptr;
};

}  // namespace camera
