// Camera pixel layouts as FFmpeg's pixel formats, for the code that converts
// camera frames with libswscale. MJPEG and other compressed layouts have no
// pixel format (AV_PIX_FMT_NONE): they are decoded first.
#pragma once

#include "platform/camera_device.h"

extern "C" {
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

}  // namespace platform
