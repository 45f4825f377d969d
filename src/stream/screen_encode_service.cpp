#include "stream/screen_encode_service.h"

#include "protocol/fields.h"
#include "stream/frame_converter.h"
#include "support/clock.h"
#include "support/h264_repeat.h"
#include "support/logger.h"

#include <algorithm>
#include <chrono>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

namespace stream {

int clampFrameRate(int64_t frameRate, int displayHeight) {
    int rate = int(std::clamp<int64_t>(frameRate, 5, 30));
    if (displayHeight > 2048) rate = std::min(rate, 15);
    return rate;
}

int clampQuality(int64_t quality) { return int(std::clamp<int64_t>(quality, 0, 2)); }

OutputSize outputSize(int quality, int captureWidth, int captureHeight, bool lowQualityWide) {
    OutputSize size;
    if (captureWidth <= 0 || captureHeight <= 0) return size;
    int maxW = 1366, maxH = 768;
    if (quality >= 2) {
        maxW = 1920;
        maxH = 1080;
    } else if (quality <= 0 && !lowQualityWide) {
        return {1280, 720};
    }
    // 4:2:0 pictures need even sizes; an odd capture width is cut by one.
    size.width = std::min(captureWidth, maxW) / 2 * 2;
    const int64_t h = int64_t(captureHeight) * size.width / captureWidth / 2 * 2;
    size.height = int(std::min<int64_t>(h, maxH));
    return size;
}

int advertisedBitrate(int quality, int frameRate) {
    return int((quality + 1) * 256000.0 * std::sqrt(frameRate / 5.0));
}

const char* crfFor(int quality) {
    static const char* const table[] = {"42", "35", "27"};
    return table[clampQuality(quality)];
}

Json::Value StreamInfo::toJson() const {
    Json::Value v(Json::objectValue);
    v[protocol::field::width] = width;
    v[protocol::field::height] = height;
    v[protocol::field::frameRate] = frameRate;
    v[protocol::field::bitrate] = bitrate;
    return v;
}

ScreenEncodeService::ScreenEncodeService(core::Settings& settings,
                                         capture::ScreenCaptureService& capture,
                                         platform::ScreenInfo& screen, std::string productId)
    : settings_(settings), capture_(capture), screen_(screen),
      lowQualityWide_(productId == kLowQualityWideProductId) {}

ScreenEncodeService::~ScreenEncodeService() {
    std::lock_guard<std::mutex> control(controlLock_);
    stopThreadLocked();
    std::lock_guard<support::MyMutex> lock(subscriberLock_);
    subscribers_.clear();
    subscriberCount_ = 0;
}

uint64_t ScreenEncodeService::subscribe(EncoderCallback callback, void* userData) {
    std::lock_guard<std::mutex> control(controlLock_);
    auto context = std::make_shared<Context>(Context{callback, userData, nextId_++});
    bool first;
    {
        std::lock_guard<support::MyMutex> lock(subscriberLock_);
        subscribers_.push_back(context);
        first = subscriberCount_ == 0;
        subscriberCount_ += 1;
    }
    if (first)
        startThread();
    else
        forceKeyFrame_.store(true);
    return context->id;
}

void ScreenEncodeService::unsubscribe(uint64_t id) {
    std::lock_guard<std::mutex> control(controlLock_);
    {
        std::lock_guard<support::MyMutex> lock(subscriberLock_);
        auto it = std::find_if(subscribers_.begin(), subscribers_.end(),
                               [id](const auto& c) { return c->id == id; });
        if (it == subscribers_.end()) return;
        subscriberCount_ -= 1;
        if (subscriberCount_ > 0) {
            subscribers_.erase(it);
            return;
        }
    }
    // The last one stays listed until the thread has ended, so that it gets
    // event 3 like every other subscriber.
    stopThreadLocked();
    std::lock_guard<support::MyMutex> lock(subscriberLock_);
    subscribers_.clear();
}

bool ScreenEncodeService::isSubscribed(uint64_t id) {
    std::lock_guard<support::MyMutex> lock(subscriberLock_);
    return std::any_of(subscribers_.begin(), subscribers_.end(),
                       [id](const auto& c) { return c->id == id; });
}

int ScreenEncodeService::subscriberCount() {
    std::lock_guard<support::MyMutex> lock(subscriberLock_);
    return subscriberCount_;
}

void ScreenEncodeService::forceClose() {
    std::lock_guard<std::mutex> control(controlLock_);
    const int64_t t0 = support::gettime2();
    stopThreadLocked();
    {
        // Every subscription ends here (the subscribers got event 3), so the
        // next subscribe starts the encoder again.
        std::lock_guard<support::MyMutex> lock(subscriberLock_);
        subscribers_.clear();
        subscriberCount_ = 0;
    }
    LOGOUT("ScreenEncodeService closed: %lld", static_cast<long long>(support::gettime2() - t0));
}

bool ScreenEncodeService::waitUntilReady(uint64_t id) {
    for (;;) {
        if (!isSubscribed(id)) return false;
        if (ready_.load()) return true;
        std::unique_lock<std::mutex> lock(stateMutex_);
        stateChanged_.wait_for(lock, std::chrono::milliseconds(10), [this] { return ready_.load(); });
    }
}

StreamInfo ScreenEncodeService::streamInfo() {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return streamInfo_;
}

void ScreenEncodeService::startThread() {
    if (thread_.joinable()) thread_.join();
    stopFlag_.store(false);
    ready_.store(false);
    running_.store(true);
    thread_ = std::thread(&ScreenEncodeService::encoderThread, this);
    std::unique_lock<std::mutex> lock(stateMutex_);
    stateChanged_.wait(lock, [this] { return ready_.load() || !running_.load(); });
}

void ScreenEncodeService::stopThreadLocked() {
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        stopFlag_.store(true);
    }
    stateChanged_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void ScreenEncodeService::deliver(int event, const uint8_t* data, int size, int keyFrame) {
    std::lock_guard<support::MyMutex> lock(subscriberLock_);
    for (const auto& c : subscribers_) c->callback(event, data, size, keyFrame, c->userData);
}

namespace {

// Longest wait for a new capture before the stop flag is looked at again.
constexpr int kStopCheckMs = 20;

AVCodecContext* openEncoder(int rate, int q, const OutputSize& size) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec) {
        LOGOUT("ScreenEncodeService: no H.264 encoder");
        return nullptr;
    }
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx) return nullptr;
    ctx->time_base = AVRational{1, rate};
    ctx->framerate = AVRational{rate, 1};
    ctx->width = size.width;
    ctx->height = size.height;
    ctx->gop_size = rate * 10;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->max_b_frames = 0;
    ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
    // One x264 thread: slice threads cost noticeably more CPU per picture and
    // did not lower the screen-to-phone latency in measurements.
    ctx->thread_count = 1;
    // No global header: SPS and PPS travel inside every key frame.
    av_opt_set(ctx->priv_data, "preset", "veryfast", 0);
    av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
    av_opt_set(ctx->priv_data, "crf", crfFor(q), 0);
    const int rc = avcodec_open2(ctx, codec, nullptr);
    if (rc < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(rc, text, sizeof text);
        LOGOUT("ScreenEncodeService: cannot open the encoder %dx%d: %s", size.width, size.height,
               text);
        avcodec_free_context(&ctx);
        return nullptr;
    }
    return ctx;
}

}  // namespace

void ScreenEncodeService::encoderThread() {
    const int rate = clampFrameRate(settings_.getInt(core::setting::SET, "FRAME_RATE", 20),
                                    screen_.primaryScreenSize().height);
    const int q = clampQuality(settings_.getInt(core::setting::SET, "QUALITY", 1));
    const int bitrate = advertisedBitrate(q, rate);

    const int64_t token = capture_.start(float(rate));
    const int captureW = capture_.width(), captureH = capture_.height();
    const OutputSize size = outputSize(q, captureW, captureH, lowQualityWide_);

    AVCodecContext* ctx = size.width > 0 ? openEncoder(rate, q, size) : nullptr;
    FrameConverter converter(captureW, captureH, size.width, size.height);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    bool canEncode = ctx && converter.valid() && frame && packet;
    if (canEncode) {
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = size.width;
        frame->height = size.height;
        canEncode = av_frame_get_buffer(frame, 32) == 0;
    }
    if (!canEncode) LOGOUT("ScreenEncodeService: capture %dx%d, nothing is encoded", captureW, captureH);

    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        streamInfo_ = StreamInfo{size.width, size.height, rate, bitrate};
        ready_.store(true);
    }
    stateChanged_.notify_all();

    const int slot = 1000 / rate;
    const int gop = ctx ? ctx->gop_size : 0;
    int64_t pts = 0;
    // Pictures since the last key frame, repeats included, so that a still
    // screen still gets its key frame every GOP.
    int sinceKey = 0;
    // A picture that repeats the last one goes out as a picture of skipped
    // macroblocks instead of through libx264.
    support::H264Repeater repeater;
    // The picture in `frame` is the conversion of capture picture `converted`.
    uint64_t converted = 0;
    bool haveConverted = false;
    std::vector<capture::RowSpan> rows;
    int64_t slotStart = support::gettime2();
    while (!stopFlag_.load()) {
        // One picture per slot: a new capture is encoded as soon as it is
        // there; when none comes, the last picture goes again at the slot's
        // end, so the stream keeps its rate.
        for (;;) {
            if (stopFlag_.load()) break;
            const int64_t now = support::gettime2();
            if (now < slotStart) {
                // This slot's picture has gone: wait for the next slot.
                std::unique_lock<std::mutex> lock(stateMutex_);
                stateChanged_.wait_for(lock, std::chrono::milliseconds(slotStart - now),
                                       [this] { return stopFlag_.load(); });
                continue;
            }
            if (!haveConverted || capture_.frameSerial() != converted) break;
            const int64_t left = slotStart + slot - now;
            if (left <= 0) break;
            capture_.waitForFrame(converted, int(std::min<int64_t>(left, kStopCheckMs)));
        }
        if (stopFlag_.load()) break;
        if (canEncode && av_frame_make_writable(frame) == 0) {
            bool ready = false;
            bool unchanged = false;
            {
                capture::FrameAccess picture = capture_.lockFrame();
                if (picture && picture.width() == captureW && picture.height() == captureH) {
                    const YuvPlanes planes{frame->data[0], frame->linesize[0], frame->data[1],
                                           frame->linesize[1], frame->data[2], frame->linesize[2]};
                    const uint64_t serial = picture.serial();
                    if (haveConverted && serial == converted) {
                        ready = true;  // unchanged: the last conversion is the picture
                        unchanged = true;
                    } else if (haveConverted && picture.rowsSince(converted, rows)) {
                        ready = true;
                        for (const capture::RowSpan& r : rows)
                            ready = converter.convertRows(picture.data(), picture.stride(), planes,
                                                          r.begin, r.end) && ready;
                        conversions_.fetch_add(1);
                    } else {
                        ready = converter.convert(picture.data(), picture.stride(), planes);
                        conversions_.fetch_add(1);
                    }
                    haveConverted = ready;
                    converted = serial;
                }
            }
            const bool keyDue = sinceKey + 1 >= gop;
            if (ready && unchanged && !keyDue && !forceKeyFrame_.load() && repeater.canRepeat()) {
                const std::vector<uint8_t>& same = repeater.repeat();
                ++pts;
                ++sinceKey;
                pictures_.fetch_add(1);
                repeats_.fetch_add(1);
                deliver(kEncodedPicture, same.data(), int(same.size()), 0);
            } else if (ready) {
                // Increasing timestamps keep x264's rate control sane; the
                // pictures on the wire carry none.
                frame->pts = pts++;
                if (forceKeyFrame_.exchange(false) || keyDue) {
                    frame->pict_type = AV_PICTURE_TYPE_I;
                    frame->key_frame = 1;
                } else {
                    frame->pict_type = AV_PICTURE_TYPE_NONE;
                    frame->key_frame = 0;
                }
                if (avcodec_send_frame(ctx, frame) == 0) {
                    while (avcodec_receive_packet(ctx, packet) == 0) {
                        if (packet->size > 0) {
                            const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
                            sinceKey = key ? 0 : sinceKey + 1;
                            const support::H264Repeater::Bytes out = repeater.pass(packet->data, packet->size);
                            pictures_.fetch_add(1);
                            deliver(kEncodedPicture, out.data, out.size, key ? 1 : 0);
                        }
                        av_packet_unref(packet);
                    }
                }
            }
        }
        // The next slot; after a stall the slots start again from now
        // rather than catching up with a burst.
        slotStart += slot;
        const int64_t now = support::gettime2();
        if (slotStart + slot <= now) slotStart = now;
    }

    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    capture_.stop(token);
    deliver(kEncoderEnded, nullptr, 0, 0);
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        ready_.store(false);
        running_.store(false);
    }
    stateChanged_.notify_all();
}

}  // namespace stream
