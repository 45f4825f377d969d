// Camera pixel layouts as FFmpeg's pixel formats, for the code that converts
// camera frames with libswscale. MJPEG and other compressed layouts have no
// pixel format (AV_PIX_FMT_NONE): they are decoded first.
#pragma once

#include "platform/camera_device.h"

#include <cstdint>
#include <utility>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixfmt.h>
}

namespace platform {

inline AVPixelFormat avPixelFormat(uint32_t layout) {
    switch (layout) {
    case pixel::BGR24: return AV_PIX_FMT_BGR24;
    case pixel::RGB24: return AV_PIX_FMT_RGB24;
    case pixel::BGR32: return AV_PIX_FMT_BGR0;
    case pixel::RGB555: return AV_PIX_FMT_RGB555LE;
    case pixel::RGB565: return AV_PIX_FMT_RGB565LE;
    case pixel::YUYV: return AV_PIX_FMT_YUYV422;
    case pixel::YVYU: return AV_PIX_FMT_YVYU422;
    case pixel::UYVY: return AV_PIX_FMT_UYVY422;
    case pixel::YUV420: return AV_PIX_FMT_YUV420P;
    case pixel::YVU420: return AV_PIX_FMT_YUV420P;  // planes swapped by the reader
    case pixel::YVU410: return AV_PIX_FMT_YUV410P;  // planes swapped by the reader
    case pixel::Y411: return AV_PIX_FMT_YUV411P;
    case pixel::GREY: return AV_PIX_FMT_GRAY8;
    default: return AV_PIX_FMT_NONE;
    }
}

// Layouts whose chroma planes come V before U.
inline bool chromaSwapped(uint32_t layout) { return layout == pixel::YVU420 || layout == pixel::YVU410; }

// The planes of one raw frame in `layout` stored from `buffer`, with rows
// `bytesPerLine` apart in the first plane (0 or less than the row: no
// padding) and in proportion in the others, U before V. Returns the frame's
// bytes, or -1 for a layout without a pixel format. `buffer` may be null to
// learn the size only.
inline int cameraPlanes(uint8_t* data[4], int lines[4], uint8_t* buffer, uint32_t layout, int w, int h,
                        int bytesPerLine) {
    const AVPixelFormat format = avPixelFormat(layout);
    if (format == AV_PIX_FMT_NONE || av_image_fill_linesizes(lines, format, w) < 0 || lines[0] <= 0) return -1;
    if (bytesPerLine > lines[0]) {
        const int tight = lines[0];
        for (int i = 0; i < 4; ++i) lines[i] = int(int64_t(lines[i]) * bytesPerLine / tight);
    }
    uint8_t* base = buffer ? buffer : reinterpret_cast<uint8_t*>(uintptr_t(64));
    const int size = av_image_fill_pointers(data, format, h, base, lines);
    if (size < 0) return -1;
    if (chromaSwapped(layout)) {
        std::swap(data[1], data[2]);
        std::swap(lines[1], lines[2]);
    }
    return size;
}

}  // namespace platform
