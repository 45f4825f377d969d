// Shared pieces of the stream tests: an encoder over a fake or X11 capture
// source, a recording subscriber and a wait helper.
#pragma once

#include <gtest/gtest.h>

#include "capture/screen_capture_service.h"
#include "common/eventually.h"
#include "core/settings.h"
#include "platform/fakes/fake_network_adapters.h"
#include "platform/fakes/fake_screen_grabber.h"
#include "stream/screen_encode_service.h"

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace stream_test {

using namespace std::chrono_literals;

// The stream tests wait up to ten seconds unless told otherwise.
template <typename Pred>
bool eventually(Pred pred, std::chrono::milliseconds limit = 10000ms) {
    return testing_support::eventually(pred, limit);
}

struct EncoderRig {
    // A fake source of `w` x `h`, or the X11 source of $DISPLAY when `x11`.
    EncoderRig(int w, int h, bool x11 = false, std::string productId = "") : screen(w, h) {
        std::unique_ptr<platform::ScreenGrabber> grabber;
        if (x11) {
            grabber = platform::makeX11ScreenGrabber();
        } else {
            auto f = std::make_unique<platform::FakeScreenGrabber>(w, h);
            fake = f.get();
            grabber = std::move(f);
        }
        capture = std::make_unique<capture::ScreenCaptureService>(std::move(grabber), nullptr, nullptr);
        encoder = std::make_unique<stream::ScreenEncodeService>(settings, *capture, screen, productId);
    }
    ~EncoderRig() {
        encoder.reset();
        capture.reset();
    }
    void set(int frameRate, int quality) {
        settings.setInt("SET", "FRAME_RATE", frameRate);
        settings.setInt("SET", "QUALITY", quality);
    }

    core::MemorySettings settings;
    platform::FakeScreenInfo screen;
    platform::FakeScreenGrabber* fake = nullptr;
    std::unique_ptr<capture::ScreenCaptureService> capture;
    std::unique_ptr<stream::ScreenEncodeService> encoder;
};

// Records what a subscription receives.
struct Sink {
    struct Picture {
        std::vector<uint8_t> data;
        bool key;
    };

    static void callback(int event, const uint8_t* data, int size, int keyFrame, void* self) {
        auto* sink = static_cast<Sink*>(self);
        std::lock_guard<std::mutex> lock(sink->mutex);
        if (event == stream::kEncodedPicture)
            sink->pictures.push_back({std::vector<uint8_t>(data, data + size), keyFrame != 0});
        else if (event == stream::kEncoderEnded)
            ++sink->ended;
        else
            ++sink->other;
    }
    uint64_t subscribe(stream::ScreenEncodeService& encoder) {
        return encoder.subscribe(&Sink::callback, this);
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(mutex);
        return pictures.size();
    }
    int endedCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return ended;
    }
    bool keyAt(size_t i) {
        std::lock_guard<std::mutex> lock(mutex);
        return i < pictures.size() && pictures[i].key;
    }
    bool waitFor(size_t n) {
        return eventually([&] { return count() >= n; });
    }

    std::mutex mutex;
    std::vector<Picture> pictures;
    int ended = 0;
    int other = 0;
};

}  // namespace stream_test
