#include "record/watermark.h"

#include "support/logger.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cstring>

namespace record {

namespace {

// The first picture of an image file as BGRA, and whether it carried alpha.
bool decodeImage(const std::string& path, int& w, int& h, std::vector<uint8_t>& bgra, bool& hasAlpha) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return false;
    bool ok = false;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    do {
        if (avformat_find_stream_info(format, nullptr) < 0) break;
        const AVCodec* decoder = nullptr;
        const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
        if (index < 0 || !decoder) break;
        codec = avcodec_alloc_context3(decoder);
        if (!codec || avcodec_parameters_to_context(codec, format->streams[index]->codecpar) < 0 ||
            avcodec_open2(codec, decoder, nullptr) < 0)
            break;
        bool got = false;
        while (!got && av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == index && avcodec_send_packet(codec, packet) >= 0)
                got = avcodec_receive_frame(codec, frame) >= 0;
            av_packet_unref(packet);
        }
        if (!got) {
            avcodec_send_packet(codec, nullptr);
            got = avcodec_receive_frame(codec, frame) >= 0;
        }
        if (!got || frame->width <= 0 || frame->height <= 0) break;
        const auto fmt = AVPixelFormat(frame->format);
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(fmt);
        hasAlpha = desc && (desc->flags & AV_PIX_FMT_FLAG_ALPHA);
        w = frame->width;
        h = frame->height;
        SwsContext* sws = sws_getContext(w, h, fmt, w, h, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr);
        if (!sws) break;
        bgra.assign(size_t(w) * size_t(h) * 4, 0);
        uint8_t* dst[4] = {bgra.data(), nullptr, nullptr, nullptr};
        int dstStride[4] = {w * 4, 0, 0, 0};
        ok = sws_scale(sws, frame->data, frame->linesize, 0, h, dst, dstStride) == h;
        sws_freeContext(sws);
    } while (false);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    return ok;
}

}  // namespace

bool loadWatermark(const std::string& path, int screenWidth, int screenHeight, Watermark& out) {
    out.clear();
    if (path.empty()) return false;
    int w = 0, h = 0;
    bool hasAlpha = false;
    std::vector<uint8_t> bgra;
    if (!decodeImage(path, w, h, bgra, hasAlpha)) {
        LOGOUT("watermark not readable: %s", path.c_str());
        return false;
    }
    if (w >= screenWidth || h >= screenHeight) {
        LOGOUT("watermark %dx%d too large for the screen %dx%d", w, h, screenWidth, screenHeight);
        return false;
    }
    if (!hasAlpha)
        for (size_t i = 3; i < bgra.size(); i += 4) bgra[i] = 127;
    out.width = w;
    out.height = h;
    out.pixels = std::move(bgra);
    return true;
}

void blendWatermark(const Watermark& mark, uint8_t* frame, int stride, int width, int height,
                    int firstRow, int endRow) {
    if (mark.empty() || mark.width > width) return;
    const int rows = std::min(std::min(mark.height, height), endRow);
    const int left = width - mark.width;
    for (int y = std::max(0, firstRow); y < rows; ++y) {
        const uint8_t* m = mark.pixels.data() + size_t(y) * size_t(mark.width) * 4;
        uint8_t* f = frame + size_t(y) * size_t(stride) + size_t(left) * 4;
        for (int x = 0; x < mark.width; ++x, m += 4, f += 4) {
            const int a = m[3];
            if (a == 0) continue;
            // truncate(frame x (1 - a/255) + mark x a/255), in integers.
            for (int c = 0; c < 3; ++c) f[c] = uint8_t((f[c] * (255 - a) + m[c] * a) / 255);
        }
    }
}

}  // namespace record
