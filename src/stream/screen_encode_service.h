// One H.264 stream of the captured screen, shared by every subscriber (the
// session live path and the live stream service). The encoder thread runs
// while there are subscribers; its settings (FRAME_RATE, QUALITY) are read
// when the thread starts and stay fixed for that run.
#pragma once

#include "capture/screen_capture_service.h"
#include "core/settings.h"
#include "platform/screen_info.h"
#include "support/my_mutex.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <json/value.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace stream {

// Subscriber events.
enum EncoderEvent : int {
    kEncodedPicture = 2,  // data/size: one Annex-B picture; keyFrame as the encoder marked it
    kEncoderEnded = 3,    // the encoder thread has ended (last unsubscription or forced close)
};

// Called on the encoder thread with the subscriber lock held: it must not call
// subscribe() or unsubscribe().
using EncoderCallback = void (*)(int event, const uint8_t* data, int size, int keyFrame,
                                 void* userData);

// The product identifier whose quality 0 uses the quality-1 picture size.
inline constexpr const char kLowQualityWideProductId[] = "pexlo";

struct OutputSize {
    int width = 0;
    int height = 0;
};

// Setting values brought into range.
int clampFrameRate(int64_t frameRate, int displayHeight);
int clampQuality(int64_t quality);
// Encoded picture size for a W x H capture (always even; 0 x 0 without a capture).
OutputSize outputSize(int quality, int captureWidth, int captureHeight, bool lowQualityWide);
// The advertised bit rate: (q + 1) x 256000 x sqrt(rate / 5).
int advertisedBitrate(int quality, int frameRate);
// x264 constant-quality factor for the level.
const char* crfFor(int quality);

struct StreamInfo {
    int width = 0;
    int height = 0;
    int frameRate = 0;
    int bitrate = 0;
    // {"bitrate","frameRate","height","width"}
    Json::Value toJson() const;
};

class ScreenEncodeService {
public:
    // Settings are read from section SET of `settings` at each thread start;
    // `screen` gives the display height for the frame-rate cap; `productId`
    // is the descriptor's id. All must outlive the service.
    ScreenEncodeService(core::Settings& settings, capture::ScreenCaptureService& capture,
                        platform::ScreenInfo& screen, std::string productId = std::string());
    // Stops the thread (subscribers get event 3) and drops every subscription.
    ~ScreenEncodeService();
    ScreenEncodeService(const ScreenEncodeService&) = delete;
    ScreenEncodeService& operator=(const ScreenEncodeService&) = delete;

    // Adds a subscriber; the first one starts the thread and returns once it
    // is ready, later ones make the next picture a key frame.
    uint64_t subscribe(EncoderCallback callback, void* userData);
    // Removes a subscription; the last one stops the thread after every
    // subscriber still listed got event 3. Ids that are no longer subscribed
    // (for example after forceClose) are ignored.
    void unsubscribe(uint64_t id);
    // True while `id` is a live subscription.
    bool isSubscribed(uint64_t id);
    // The next picture is a key frame.
    void requestKeyFrame() { forceKeyFrame_.store(true); }
    // Stops the encoder whatever its subscribers: they get event 3 and their
    // subscriptions end.
    void forceClose();

    // True while the thread runs and has published its stream parameters.
    bool isReady() { return ready_.load(); }
    // Waits until the encoder is ready for subscription `id`; false as soon
    // as `id` is not (or no longer) subscribed, e.g. after forceClose.
    bool waitUntilReady(uint64_t id);
    StreamInfo streamInfo();

    // Counters for tests and measurements.
    uint64_t picturesEncoded() const { return pictures_.load(); }
    // Pictures converted from the capture (whole or only their changed
    // rows); an unchanged capture goes to the encoder again unconverted.
    uint64_t conversions() const { return conversions_.load(); }
    // Pictures that repeated the last one without going through libx264.
    uint64_t repeats() const { return repeats_.load(); }
    int subscriberCount();

private:
    struct Context {
        EncoderCallback callback;
        void* userData;
        uint64_t id;
    };

    void startThread();      // control lock held
    void stopThreadLocked();  // control lock held
    void encoderThread();
    void deliver(int event, const uint8_t* data, int size, int keyFrame);

    core::Settings& settings_;
    capture::ScreenCaptureService& capture_;
    platform::ScreenInfo& screen_;
    const bool lowQualityWide_;

    // Serialises subscribe, unsubscribe, forceClose and shutdown (the thread's
    // start and join); never taken by the encoder thread.
    std::mutex controlLock_;
    support::MyMutex subscriberLock_;  // subscribers_, subscriberCount_; held during callbacks
    std::vector<std::shared_ptr<Context>> subscribers_;
    int subscriberCount_ = 0;
    uint64_t nextId_ = 1;

    std::mutex stateMutex_;  // streamInfo_, wakes waiters and the thread's pacing sleep
    std::condition_variable stateChanged_;
    StreamInfo streamInfo_;
    std::atomic<bool> ready_{false};
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::atomic<bool> stopFlag_{true};
    std::atomic<bool> forceKeyFrame_{false};
    std::atomic<uint64_t> pictures_{0};
    std::atomic<uint64_t> conversions_{0};
    std::atomic<uint64_t> repeats_{0};
};

}  // namespace stream
