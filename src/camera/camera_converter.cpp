#include "camera/camera_converter.h"

#include "platform/camera_av_formats.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <libyuv/convert_argb.h>

#include <utility>

namespace camera {

namespace {

// The decoder's full-range ("J") formats as their plain formats with the
// range set on the context, as libswscale wants them.
AVPixelFormat plainFormat(AVPixelFormat format, bool& fullRange) {
    fullRange = true;
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: return AV_PIX_FMT_YUV411P;
    default: fullRange = false; return format;
    }
}

}  // namespace

CameraConverter::~CameraConverter() { release(); }

void CameraConverter::release() {
    sws_freeContext(sws_);
    sws_ = nullptr;
    avcodec_free_context(&decoder_);
    av_frame_free(&decoded_);
    av_packet_free(&packet_);
    frameBytes_ = 0;
    rangeSet_ = false;
}

bool CameraConverter::canConvert(uint32_t layout) {
    return layout == platform::pixel::MJPEG || platform::avPixelFormat(layout) != AV_PIX_FMT_NONE;
}

bool CameraConverter::setUp(uint32_t layout, int width, int height, int bytesPerLine) {
    release();
    if (width <= 0 || height <= 0 || !canConvert(layout)) return false;
    layout_ = layout;
    width_ = width;
    height_ = height;
    if (layout == platform::pixel::MJPEG) {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
        if (!codec) return false;
        decoder_ = avcodec_alloc_context3(codec);
        decoded_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (!decoder_ || !decoded_ || !packet_) return release(), false;
        if (avcodec_open2(decoder_, codec, nullptr) < 0) return release(), false;
        return true;
    }
    const AVPixelFormat format = platform::avPixelFormat(layout);
    uint8_t* planes[4];
    int lines[4];
    const int bytes = platform::cameraPlanes(planes, lines, nullptr, layout, width, height, bytesPerLine);
    if (bytes <= 0) return false;
    frameBytes_ = size_t(bytes);
    bytesPerLine_ = bytesPerLine;
    sws_ = sws_getContext(width, height, format, width, height, AV_PIX_FMT_BGR24, SWS_FAST_BILINEAR,
                          nullptr, nullptr, nullptr);
    return sws_ != nullptr;
}

ConvertResult CameraConverter::convert(const uint8_t* data, size_t length, uint8_t* dst, int dstStride) {
    uint8_t* out[4] = {dstStride < 0 ? dst + size_t(height_ - 1) * size_t(-dstStride) : dst};
    int outLines[4] = {dstStride};
    if (!decoder_) {
        if (!sws_) return ConvertResult::failed;
        if (length < frameBytes_) return ConvertResult::wrongSize;
        uint8_t* planes[4];
        int lines[4];
        platform::cameraPlanes(planes, lines, const_cast<uint8_t*>(data), layout_, width_, height_, bytesPerLine_);
        if (platform::avPixelFormat(layout_) == AV_PIX_FMT_YUV420P) {
            // The common planar 4:2:0 case with SIMD (libyuv's "RGB24" is blue, green, red in memory).
            libyuv::I420ToRGB24(planes[0], lines[0], planes[1], lines[1], planes[2], lines[2], out[0], dstStride,
                                width_, height_);
            return ConvertResult::ok;
        }
        sws_scale(sws_, planes, lines, 0, height_, out, outLines);
        return ConvertResult::ok;
    }
    // A compressed picture: decode it, then convert whatever the decoder gave.
    if (!length || length > size_t(INT32_MAX) - AV_INPUT_BUFFER_PADDING_SIZE) return ConvertResult::wrongSize;
    if (av_new_packet(packet_, int(length)) < 0) return ConvertResult::failed;
    std::copy(data, data + length, packet_->data);
    const int sent = avcodec_send_packet(decoder_, packet_);
    av_packet_unref(packet_);
    if (sent < 0 || avcodec_receive_frame(decoder_, decoded_) < 0) return ConvertResult::failed;
    ConvertResult result = ConvertResult::ok;
    if (decoded_->width != width_ || decoded_->height != height_) {
        result = ConvertResult::wrongSize;
    } else {
        bool fullRange = false;
        const AVPixelFormat source = plainFormat(AVPixelFormat(decoded_->format), fullRange);
        if (decoded_->color_range == AVCOL_RANGE_JPEG) fullRange = true;
        sws_ = sws_getCachedContext(sws_, width_, height_, source, width_, height_, AV_PIX_FMT_BGR24,
                                    SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
        if (sws_ && fullRange != rangeSet_) {
            int* table;
            int* dstTable;
            int srcRange, dstRange, brightness, contrast, saturation;
            sws_getColorspaceDetails(sws_, &table, &srcRange, &dstTable, &dstRange, &brightness, &contrast,
                                     &saturation);
            sws_setColorspaceDetails(sws_, table, fullRange ? 1 : 0, dstTable, dstRange, brightness, contrast,
                                     saturation);
            rangeSet_ = fullRange;
        }
        if (sws_)
            sws_scale(sws_, decoded_->data, decoded_->linesize, 0, height_, out, outLines);
        else
            result = ConvertResult::failed;
    }
    av_frame_unref(decoded_);
    return result;
}

}  // namespace camera
