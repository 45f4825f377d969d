#include "camera/camera_converter.h"

#include "platform/camera_av_formats.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <libyuv/convert_argb.h>
#include <libyuv/convert_from.h>
#include <libyuv/scale.h>

#include <algorithm>
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

CameraConverter::Scaler::~Scaler() { sws_freeContext(context); }

SwsContext* CameraConverter::Scaler::get(int src, int w, int h, int dst, int tw, int th, bool full) {
    if (context && src == source && w == width && h == height && dst == target && tw == targetWidth &&
        th == targetHeight && full == fullRange)
        return context;
    sws_freeContext(context);
    context = sws_getContext(w, h, AVPixelFormat(src), tw, th, AVPixelFormat(dst), SWS_FAST_BILINEAR, nullptr,
                             nullptr, nullptr);
    source = src;
    target = dst;
    width = w;
    height = h;
    targetWidth = tw;
    targetHeight = th;
    fullRange = full;
    if (context && full) {
        int* table;
        int* dstTable;
        int srcRange, dstRange, brightness, contrast, saturation;
        sws_getColorspaceDetails(context, &table, &srcRange, &dstTable, &dstRange, &brightness, &contrast,
                                 &saturation);
        sws_setColorspaceDetails(context, table, 1, dstTable, dstRange, brightness, contrast, saturation);
    }
    return context;
}

CameraConverter::~CameraConverter() { release(); }

void CameraConverter::release() {
    avcodec_free_context(&decoder_);
    av_packet_free(&packet_);
    av_frame_free(&kept_);
    av_frame_free(&small_);
    frameBytes_ = 0;
    hasFrame_ = false;
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
    kept_ = av_frame_alloc();
    if (!kept_) return false;
    if (layout == platform::pixel::MJPEG) {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
        if (!codec) return false;
        decoder_ = avcodec_alloc_context3(codec);
        packet_ = av_packet_alloc();
        if (!decoder_ || !packet_) return release(), false;
        if (avcodec_open2(decoder_, codec, nullptr) < 0) return release(), false;
        return true;
    }
    uint8_t* planes[4];
    int lines[4];
    const int bytes = platform::cameraPlanes(planes, lines, nullptr, layout, width, height, bytesPerLine);
    if (bytes <= 0) return false;
    frameBytes_ = size_t(bytes);
    bytesPerLine_ = bytesPerLine;
    // Raw frames are copied into one picture, allocated once.
    kept_->format = platform::avPixelFormat(layout);
    kept_->width = width;
    kept_->height = height;
    if (av_frame_get_buffer(kept_, 0) < 0) return release(), false;
    return true;
}

ConvertResult CameraConverter::take(const platform::CameraFrame& frame) {
    if (!kept_) return ConvertResult::failed;
    if (!decoder_) {
        if (frameBytes_ == 0) return ConvertResult::failed;
        const uint8_t* planes[4];
        int lines[4];
        if (frame.planes[0]) {
            std::copy(frame.planes, frame.planes + 4, planes);
            std::copy(frame.lines, frame.lines + 4, lines);
        } else {
            if (!frame.data || frame.length < frameBytes_) return ConvertResult::wrongSize;
            uint8_t* p[4];
            platform::cameraPlanes(p, lines, const_cast<uint8_t*>(frame.data), layout_, width_, height_,
                                   bytesPerLine_);
            std::copy(p, p + 4, planes);
        }
        av_image_copy(kept_->data, kept_->linesize, planes, lines, AVPixelFormat(kept_->format), width_, height_);
        hasFrame_ = true;
        return ConvertResult::ok;
    }
    // A compressed picture: decode it and keep what the decoder gave.
    if (!frame.data || !frame.length || frame.length > size_t(INT32_MAX) - AV_INPUT_BUFFER_PADDING_SIZE)
        return ConvertResult::wrongSize;
    if (av_new_packet(packet_, int(frame.length)) < 0) return ConvertResult::failed;
    std::copy(frame.data, frame.data + frame.length, packet_->data);
    const int sent = avcodec_send_packet(decoder_, packet_);
    av_packet_unref(packet_);
    AVFrame* decoded = av_frame_alloc();
    if (!decoded) return ConvertResult::failed;
    ConvertResult result = ConvertResult::failed;
    if (sent >= 0 && avcodec_receive_frame(decoder_, decoded) >= 0) {
        if (decoded->width != width_ || decoded->height != height_) {
            result = ConvertResult::wrongSize;
        } else {
            av_frame_unref(kept_);
            av_frame_move_ref(kept_, decoded);
            hasFrame_ = true;
            result = ConvertResult::ok;
        }
    }
    av_frame_free(&decoded);
    return result;
}

int CameraConverter::sourceFormat(bool& fullRange) const {
    const AVPixelFormat format = plainFormat(AVPixelFormat(kept_->format), fullRange);
    if (kept_->color_range == AVCOL_RANGE_JPEG) fullRange = true;
    return format;
}

bool CameraConverter::toRgb24(uint8_t* dst, int dstStride, bool swapRB) {
    if (!hasFrame_ || !dst) return false;
    uint8_t* out[4] = {dstStride < 0 ? dst + size_t(height_ - 1) * size_t(-int64_t(dstStride)) : dst};
    int outLines[4] = {dstStride};
    bool fullRange = false;
    const int source = sourceFormat(fullRange);
    if (source == AV_PIX_FMT_YUV420P && !fullRange) {
        // The common planar 4:2:0 case with SIMD (libyuv's "RGB24" is blue,
        // green, red in memory, its "RAW" red, green, blue).
        auto convert = swapRB ? libyuv::I420ToRAW : libyuv::I420ToRGB24;
        return convert(kept_->data[0], kept_->linesize[0], kept_->data[1], kept_->linesize[1], kept_->data[2],
                       kept_->linesize[2], out[0], dstStride, width_, height_) == 0;
    }
    SwsContext* sws = rgb_.get(source, width_, height_, swapRB ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_BGR24, width_,
                               height_, fullRange);
    if (!sws) return false;
    sws_scale(sws, kept_->data, kept_->linesize, 0, height_, out, outLines);
    return true;
}

bool CameraConverter::toBgra(uint8_t* dst, int width, int height, int dstStride) {
    if (!hasFrame_ || !dst || width < 1 || height < 1 || width > width_ || height > height_ ||
        dstStride < width * 4)
        return false;
    bool fullRange = false;
    const int source = sourceFormat(fullRange);
    if (source == AV_PIX_FMT_YUV420P && !fullRange) {
        // Scaled down in 4:2:0 (a quarter of the bytes of 32-bit pixels),
        // then converted at the small size: no pass over the whole frame in
        // 24 or 32 bits. libyuv's "ARGB" is blue, green, red, alpha in memory.
        const uint8_t* const* planes = kept_->data;
        const int* lines = kept_->linesize;
        if (width != width_ || height != height_) {
            if (!small_ || small_->width != width || small_->height != height) {
                av_frame_free(&small_);
                small_ = av_frame_alloc();
                if (!small_) return false;
                small_->format = AV_PIX_FMT_YUV420P;
                small_->width = width;
                small_->height = height;
                if (av_frame_get_buffer(small_, 0) < 0) return av_frame_free(&small_), false;
            }
            if (libyuv::I420Scale(kept_->data[0], kept_->linesize[0], kept_->data[1], kept_->linesize[1],
                                  kept_->data[2], kept_->linesize[2], width_, height_, small_->data[0],
                                  small_->linesize[0], small_->data[1], small_->linesize[1], small_->data[2],
                                  small_->linesize[2], width, height, libyuv::kFilterBilinear) != 0)
                return false;
            planes = small_->data;
            lines = small_->linesize;
        }
        return libyuv::I420ToARGB(planes[0], lines[0], planes[1], lines[1], planes[2], lines[2], dst, dstStride,
                                  width, height) == 0;
    }
    SwsContext* sws = bgra_.get(source, width_, height_, AV_PIX_FMT_BGRA, width, height, fullRange);
    if (!sws) return false;
    uint8_t* out[4] = {dst};
    int outLines[4] = {dstStride};
    sws_scale(sws, kept_->data, kept_->linesize, 0, height_, out, outLines);
    // Sources without alpha (or with an unused fourth byte) show opaque.
    for (int y = 0; y < height; ++y) {
        uint8_t* row = dst + size_t(y) * size_t(dstStride);
        for (int x = 0; x < width; ++x) row[x * 4 + 3] = 0xFF;
    }
    return true;
}

}  // namespace camera
