#include "platform/fakes/fake_camera.h"

#include "platform/camera_av_formats.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

bool inside(const CameraSizeRange& r, const CameraFormat& f) {
    auto fits = [](int v, int lo, int hi, int step) {
        return v >= lo && v <= hi && step > 0 && (v - lo) % step == 0;
    };
    return r.pixelFormat == f.pixelFormat && fits(f.width, r.minWidth, r.maxWidth, r.stepWidth) &&
           fits(f.height, r.minHeight, r.maxHeight, r.stepHeight);
}

// The frames of a video file, looped, decoded one at a time.
class FileFrames {
public:
    ~FileFrames() {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&codec_);
        avformat_close_input(&format_);
    }

    bool open(const std::string& path) {
        if (avformat_open_input(&format_, path.c_str(), nullptr, nullptr) < 0) return false;
        if (avformat_find_stream_info(format_, nullptr) < 0) return false;
        const AVCodec* decoder = nullptr;
        stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
        if (stream_ < 0 || !decoder) return false;
        codec_ = avcodec_alloc_context3(decoder);
        if (!codec_ ||
            avcodec_parameters_to_context(codec_, format_->streams[stream_]->codecpar) < 0)
            return false;
        codec_->thread_count = 0;
        if (avcodec_open2(codec_, decoder, nullptr) < 0) return false;
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        return frame_ && packet_;
    }

    // The next picture; null when the file gives none (even from the start).
    const AVFrame* next() {
        for (int restarts = 0; restarts < 2;) {
            const int r = avcodec_receive_frame(codec_, frame_);
            if (r == 0) return frame_;
            if (r == AVERROR_EOF) {
                // Loop: back to the start with a fresh decoder state.
                ++restarts;
                av_seek_frame(format_, stream_, 0, AVSEEK_FLAG_BACKWARD);
                avcodec_flush_buffers(codec_);
                draining_ = false;
                continue;
            }
            if (r != AVERROR(EAGAIN)) return nullptr;
            if (draining_) continue;
            const int read = av_read_frame(format_, packet_);
            if (read < 0) {
                avcodec_send_packet(codec_, nullptr);
                draining_ = true;
                continue;
            }
            if (packet_->stream_index == stream_) avcodec_send_packet(codec_, packet_);
            av_packet_unref(packet_);
        }
        return nullptr;
    }

private:
    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int stream_ = -1;
    bool draining_ = false;
};

class FakeCameraDevice : public CameraDevice {
public:
    FakeCameraDevice(FakeCameraConfig config, std::shared_ptr<FakeCameraState> state)
        : config_(std::move(config)), state_(std::move(state)) {
        format_ = config_.initial;
        if (!format_.width && !config_.sizes.empty()) {
            const CameraSizeRange& r = config_.sizes.front();
            format_ = {r.pixelFormat, r.minWidth, r.minHeight};
        }
        publishFormat();
        state_->opens.fetch_add(1);
        state_->open.fetch_add(1);
    }
    ~FakeCameraDevice() override {
        stop();
        sws_freeContext(sws_);
        avcodec_free_context(&jpeg_);
        state_->open.fetch_sub(1);
    }

    std::vector<CameraSizeRange> capabilities() override { return config_.sizes; }
    CameraFormat format() override {
        CameraFormat f = format_;
        uint8_t* planes[4];
        int lines[4];
        if (config_.padding > 0 && cameraPlanes(planes, lines, nullptr, f.pixelFormat, f.width, f.height, 0) > 0)
            f.bytesPerLine = lines[0] + config_.padding;
        return f;
    }

    bool setFormat(const CameraFormat& f) override {
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            state_->tried.push_back(f);
        }
        if (started_) return false;
        for (const CameraSizeRange& r : config_.sizes) {
            if (!inside(r, f)) continue;
            format_ = f;
            publishFormat();
            return true;
        }
        return false;
    }

    bool start() override {
        if (!config_.videoFile.empty()) {
            file_ = std::make_unique<FileFrames>();
            if (!file_->open(config_.videoFile)) {
                file_.reset();
                return false;
            }
        }
        if (format_.pixelFormat != pixel::MJPEG && avPixelFormat(format_.pixelFormat) == AV_PIX_FMT_NONE)
            return false;
        started_ = true;
        due_ = Clock::now();
        return true;
    }

    bool nextFrame(int timeoutMs, const std::function<void(const CameraFrame&)>& sink) override {
        state_->requests.fetch_add(1);
        if (!started_ || config_.broken) return false;
        const auto limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
        if (config_.silent) {
            std::this_thread::sleep_until(limit);
            return false;
        }
        const auto period = std::chrono::microseconds(1000000 / std::max(1, config_.framesPerSecond));
        due_ += period;
        const auto now = Clock::now();
        if (due_ < now - period) due_ = now;  // fell behind: no burst of late frames
        if (due_ > limit) {
            due_ -= period;
            std::this_thread::sleep_until(limit);
            return false;
        }
        std::this_thread::sleep_until(due_);
        CameraFrame frame;
        if (!produce(frame)) return false;
        sink(frame);
        state_->frames.fetch_add(1);
        return true;
    }

    void stop() override {
        started_ = false;
        file_.reset();
    }

private:
    void publishFormat() {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->format = format_;
    }

    // One frame in the set format: the decoder's own planes when the file's
    // pictures already are what the device delivers (as a real device hands
    // over the buffer it filled), otherwise out_ filled with the frame.
    bool produce(CameraFrame& frame) {
        const int w = format_.width, h = format_.height;
        const bool jpeg = format_.pixelFormat == pixel::MJPEG;
        const AVPixelFormat target = jpeg ? AV_PIX_FMT_YUVJ420P : avPixelFormat(format_.pixelFormat);
        if (target == AV_PIX_FMT_NONE || w <= 0 || h <= 0) return false;

        // The source picture: a file frame, or the pattern drawn once.
        const uint8_t* const* srcData;
        const int* srcLines;
        int sw, sh;
        AVPixelFormat sfmt;
        if (file_) {
            const AVFrame* f = file_->next();
            if (!f) return false;
            srcData = f->data;
            srcLines = f->linesize;
            sw = f->width;
            sh = f->height;
            sfmt = AVPixelFormat(f->format);
        } else {
            if (outSize_ && !jpeg) return handOut(frame);  // the pattern does not change
            drawPattern(w, h);
            srcData = patternData_;
            srcLines = patternLines_;
            sw = w;
            sh = h;
            sfmt = AV_PIX_FMT_BGR24;
        }

        if (sfmt == target && sw == w && sh == h && !jpeg && config_.padding == 0) {
            for (int i = 0; i < 4; ++i) {
                frame.planes[i] = srcData[i];
                frame.lines[i] = srcLines[i];
            }
            return true;
        }
        uint8_t* dst[4];
        int dstLines[4];
        const int bytesPerLine = format().bytesPerLine;
        const int size = jpeg ? av_image_get_buffer_size(target, w, h, 1)
                              : cameraPlanes(dst, dstLines, nullptr, format_.pixelFormat, w, h, bytesPerLine);
        if (size <= 0) return false;
        std::vector<uint8_t>& picture = jpeg ? yuv_ : out_;
        picture.resize(size_t(size));
        if (jpeg)
            av_image_fill_arrays(dst, dstLines, picture.data(), target, w, h, 1);
        else
            cameraPlanes(dst, dstLines, picture.data(), format_.pixelFormat, w, h, bytesPerLine);
        if (sfmt == target && sw == w && sh == h && !jpeg) {
            av_image_copy(dst, dstLines, const_cast<const uint8_t**>(srcData), srcLines, target, w, h);
        } else {
            // JPEG pictures are full-range 4:2:0 (written as plain 4:2:0 for libswscale).
            sws_ = sws_getCachedContext(sws_, sw, sh, sfmt, w, h, jpeg ? AV_PIX_FMT_YUV420P : target,
                                        SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
            if (!sws_) return false;
            if (jpeg) {
                int *table, *dstTable, srcRange, dstRange, brightness, contrast, saturation;
                sws_getColorspaceDetails(sws_, &table, &srcRange, &dstTable, &dstRange, &brightness, &contrast,
                                         &saturation);
                sws_setColorspaceDetails(sws_, table, srcRange, dstTable, 1, brightness, contrast, saturation);
            }
            sws_scale(sws_, srcData, srcLines, 0, sh, dst, dstLines);
        }
        if (!jpeg) {
            outSize_ = size_t(size);
            return handOut(frame);
        }
        return encodeJpeg(dst, dstLines, w, h) && handOut(frame);
    }

    bool handOut(CameraFrame& frame) {
        frame.data = out_.data();
        frame.length = outSize_;
        return true;
    }

    bool encodeJpeg(uint8_t* const dst[4], const int dstLines[4], int w, int h) {
        if (!jpeg_ || jpeg_->width != w || jpeg_->height != h) {
            avcodec_free_context(&jpeg_);
            const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
            if (!encoder) return false;
            jpeg_ = avcodec_alloc_context3(encoder);
            jpeg_->width = w;
            jpeg_->height = h;
            jpeg_->pix_fmt = AV_PIX_FMT_YUVJ420P;
            jpeg_->time_base = {1, 30};
            if (avcodec_open2(jpeg_, encoder, nullptr) < 0) {
                avcodec_free_context(&jpeg_);
                return false;
            }
        }
        AVFrame* frame = av_frame_alloc();
        AVPacket* packet = av_packet_alloc();
        frame->format = AV_PIX_FMT_YUVJ420P;
        frame->width = w;
        frame->height = h;
        for (int i = 0; i < 4; ++i) {
            frame->data[i] = dst[i];
            frame->linesize[i] = dstLines[i];
        }
        bool ok = avcodec_send_frame(jpeg_, frame) == 0 && avcodec_receive_packet(jpeg_, packet) == 0;
        if (ok) {
            out_.assign(packet->data, packet->data + packet->size);
            outSize_ = out_.size();
        }
        av_packet_free(&packet);
        av_frame_free(&frame);
        return ok;
    }

    void drawPattern(int w, int h) {
        pattern_.assign(size_t(w) * h * 3, 0);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const uint32_t rgb = y < h / 2 ? (x < w / 2 ? kPatternTopLeft : kPatternTopRight)
                                               : (x < w / 2 ? kPatternBottomLeft : kPatternBottomRight);
                uint8_t* p = &pattern_[(size_t(y) * w + x) * 3];
                p[0] = uint8_t(rgb);        // blue
                p[1] = uint8_t(rgb >> 8);   // green
                p[2] = uint8_t(rgb >> 16);  // red
            }
        }
        patternData_[0] = pattern_.data();
        patternLines_[0] = w * 3;
    }

    FakeCameraConfig config_;
    std::shared_ptr<FakeCameraState> state_;
    CameraFormat format_;
    bool started_ = false;
    Clock::time_point due_;
    std::unique_ptr<FileFrames> file_;
    SwsContext* sws_ = nullptr;
    AVCodecContext* jpeg_ = nullptr;
    std::vector<uint8_t> pattern_;
    uint8_t* patternData_[4] = {};
    int patternLines_[4] = {};
    std::vector<uint8_t> yuv_;
    std::vector<uint8_t> out_;
    size_t outSize_ = 0;
};

class JoinedCameraSystem : public CameraSystem {
public:
    explicit JoinedCameraSystem(std::vector<std::unique_ptr<CameraSystem>> systems)
        : systems_(std::move(systems)) {}

    // Ids become "<system number>:<id>".
    std::vector<CameraNode> nodes() override {
        std::vector<CameraNode> out;
        for (size_t i = 0; i < systems_.size(); ++i) {
            for (CameraNode node : systems_[i]->nodes()) {
                node.id = std::to_string(i) + ":" + node.id;
                out.push_back(std::move(node));
            }
        }
        return out;
    }

    std::unique_ptr<CameraDevice> open(const std::string& id) override {
        const size_t colon = id.find(':');
        if (colon == std::string::npos) return nullptr;
        const size_t index = std::strtoul(id.substr(0, colon).c_str(), nullptr, 10);
        if (index >= systems_.size()) return nullptr;
        return systems_[index]->open(id.substr(colon + 1));
    }

private:
    std::vector<std::unique_ptr<CameraSystem>> systems_;
};

}  // namespace

FakeCameraState& FakeCameraSystem::add(FakeCameraConfig config) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back({std::move(config), std::make_shared<FakeCameraState>()});
    return *entries_.back().state;
}

std::vector<CameraNode> FakeCameraSystem::nodes() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<CameraNode> out;
    for (size_t i = 0; i < entries_.size(); ++i)
        out.push_back({std::to_string(i), entries_[i].config.name, entries_[i].config.canCapture});
    return out;
}

std::unique_ptr<CameraDevice> FakeCameraSystem::open(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t index = std::strtoul(id.c_str(), nullptr, 10);
    if (id.empty() || index >= entries_.size()) return nullptr;
    const Entry& e = entries_[index];
    if (e.config.openFails || !e.config.canCapture) return nullptr;
    return std::make_unique<FakeCameraDevice>(e.config, e.state);
}

namespace {

// Size and frame rate (0 when unknown) of a file's first video stream.
bool videoStreamInfo(const std::string& path, int& width, int& height, double& rate) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return false;
    bool ok = false;
    if (avformat_find_stream_info(format, nullptr) >= 0) {
        const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (stream >= 0) {
            width = format->streams[stream]->codecpar->width;
            height = format->streams[stream]->codecpar->height;
            const AVRational r = format->streams[stream]->avg_frame_rate;
            rate = r.num > 0 && r.den > 0 ? av_q2d(r) : 0;
            ok = width > 0 && height > 0;
        }
    }
    avformat_close_input(&format);
    return ok;
}

}  // namespace

bool videoFileSize(const std::string& path, int& width, int& height) {
    double rate = 0;
    return videoStreamInfo(path, width, height, rate);
}

std::unique_ptr<CameraSystem> makeDemoCameraSystem(const std::string& path) {
    int w = 0, h = 0;
    double rate = 0;
    if (!videoStreamInfo(path, w, h, rate)) return nullptr;
    auto system = std::make_unique<FakeCameraSystem>();
    FakeCameraConfig config;
    config.name = kDemoCameraName;
    config.videoFile = path;
    config.sizes = {fixedSize(pixel::YUV420, w, h)};
    // The file's own pace, within what a camera delivers.
    if (rate > 0) config.framesPerSecond = std::clamp(int(rate + 0.5), 1, 120);
    system->add(std::move(config));
    return system;
}

std::unique_ptr<CameraSystem> joinCameraSystems(std::vector<std::unique_ptr<CameraSystem>> systems) {
    return std::make_unique<JoinedCameraSystem>(std::move(systems));
}

}  // namespace platform
