#include "stream/frame_converter.h"

#ifdef LUMACRO3_HAVE_LIBYUV
#include <libyuv/convert.h>
#include <libyuv/scale_argb.h>
#endif
extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>

namespace stream {

FrameConverter::FrameConverter(int srcWidth, int srcHeight, int dstWidth, int dstHeight)
    : srcW_(srcWidth), srcH_(srcHeight), dstW_(dstWidth), dstH_(dstHeight) {
    if (srcW_ <= 0 || srcH_ <= 0 || dstW_ <= 0 || dstH_ <= 0) return;
#ifdef LUMACRO3_HAVE_LIBYUV
    if (srcW_ != dstW_ || srcH_ != dstH_) scaled_.resize(size_t(dstW_) * dstH_ * 4);
    valid_ = true;
#else
    sws_ = sws_getContext(srcW_, srcH_, AV_PIX_FMT_BGRA, dstW_, dstH_, AV_PIX_FMT_YUV420P,
                          SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    valid_ = sws_ != nullptr;
#endif
}

FrameConverter::~FrameConverter() {
    if (sws_) sws_freeContext(sws_);
}

const char* FrameConverter::backend() {
#ifdef LUMACRO3_HAVE_LIBYUV
    return "libyuv";
#else
    return "swscale";
#endif
}

bool FrameConverter::convert(const uint8_t* bgra, int stride, const YuvPlanes& out) {
    if (!valid_ || !bgra) return false;
#ifdef LUMACRO3_HAVE_LIBYUV
    // libyuv's "ARGB" is B, G, R, A in memory: our BGRA.
    if (scaled_.empty())
        return libyuv::ARGBToI420(bgra, stride, out.y, out.strideY, out.u, out.strideU, out.v,
                                  out.strideV, dstW_, dstH_) == 0;
    // Scaling the 32-bit pixels first and converting the smaller picture
    // measured faster here than converting first and scaling three planes.
    if (libyuv::ARGBScale(bgra, stride, srcW_, srcH_, scaled_.data(), dstW_ * 4, dstW_, dstH_,
                          libyuv::kFilterBilinear) != 0)
        return false;
    return libyuv::ARGBToI420(scaled_.data(), dstW_ * 4, out.y, out.strideY, out.u, out.strideU,
                              out.v, out.strideV, dstW_, dstH_) == 0;
#else
    const uint8_t* src[4] = {bgra, nullptr, nullptr, nullptr};
    const int srcStride[4] = {stride, 0, 0, 0};
    uint8_t* dst[4] = {out.y, out.u, out.v, nullptr};
    const int dstStride[4] = {out.strideY, out.strideU, out.strideV, 0};
    return sws_scale(sws_, src, srcStride, 0, srcH_, dst, dstStride) == dstH_;
#endif
}

bool FrameConverter::convertRows(const uint8_t* bgra, int stride, const YuvPlanes& out,
                                 int srcTop, int srcBottom) {
    if (!valid_ || !bgra) return false;
    srcTop = std::max(0, srcTop);
    srcBottom = std::min(srcH_, srcBottom);
    if (srcTop >= srcBottom) return true;
#ifdef LUMACRO3_HAVE_LIBYUV
    // Output rows whose bilinear taps reach the changed source rows, with
    // two rows to spare on each side, from an even row to an even row so
    // that every chroma row is made from both of its luma rows.
    int top = int(int64_t(srcTop) * dstH_ / srcH_) - 2;
    int bottom = int((int64_t(srcBottom) * dstH_ + srcH_ - 1) / srcH_) + 2;
    top = std::max(0, top) & ~1;
    bottom = std::min(dstH_, (bottom + 1) & ~1);
    if (top >= bottom) return true;
    auto planes = [&](int row) {
        return YuvPlanes{out.y + size_t(row) * out.strideY, out.strideY,
                         out.u + size_t(row / 2) * out.strideU, out.strideU,
                         out.v + size_t(row / 2) * out.strideV, out.strideV};
    };
    const YuvPlanes band = planes(top);
    if (scaled_.empty())
        return libyuv::ARGBToI420(bgra + size_t(top) * stride, stride, band.y, band.strideY, band.u,
                                  band.strideU, band.v, band.strideV, dstW_, bottom - top) == 0;
    if (libyuv::ARGBScaleClip(bgra, stride, srcW_, srcH_, scaled_.data(), dstW_ * 4, dstW_, dstH_, 0,
                              top, dstW_, bottom - top, libyuv::kFilterBilinear) != 0)
        return false;
    return libyuv::ARGBToI420(scaled_.data() + size_t(top) * dstW_ * 4, dstW_ * 4, band.y,
                              band.strideY, band.u, band.strideU, band.v, band.strideV, dstW_,
                              bottom - top) == 0;
#else
    (void)srcTop;
    (void)srcBottom;
    return convert(bgra, stride, out);
#endif
}

}  // namespace stream
