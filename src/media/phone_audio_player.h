// The phone's own sound (AAC frames) played on the PC at once: decoded on
// the output's thread as the device asks for sound, resampled to 44.1 kHz
// stereo 16-bit, with the backlog thrown away when it passes 24 frames.
#pragma once

#include "audio/pcm_output.h"
#include "core/features.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

struct AVCodecContext;
struct SwrContext;

namespace audio {
class PcmOutput;
}

namespace media {

class PhoneAudioPlayer : public core::PhoneAudio {
public:
    static constexpr int kFramesPerHalf = 2048;
    static constexpr size_t kMaxConfig = 32;
    static constexpr size_t kLatencyCap = 24;

    // Device: the sound device, else the clock-only output. ClockOnly: never
    // the device. Pulled: no output; the owner calls fill() (tests).
    enum class Output { Device, ClockOnly, Pulled };
    explicit PhoneAudioPlayer(Output output = Output::Device) : mode_(output) {}
    ~PhoneAudioPlayer() override;

    // Session threads.
    void start(int channels, int sampleRate, const uint8_t* config, size_t length) override;
    void data(const uint8_t* frame, size_t length) override;
    void stop() override;

    bool playing();
    size_t queued();
    // Samples decoded so far (per channel, after resampling).
    int64_t framesOut() const { return framesOut_; }
    // The output's fill (public for tests that pull without a device).
    void fill(uint8_t* buffer, int size);

private:
    Output mode_;
    std::mutex controlMutex_;  // start/stop from different sessions
    std::unique_ptr<audio::PcmOutput> output_;
    AVCodecContext* decoder_ = nullptr;
    SwrContext* resampler_ = nullptr;
    std::vector<uint8_t> pcmLeftover_;
    size_t leftoverPos_ = 0;
    std::mutex packetMutex_;
    std::deque<std::vector<uint8_t>> packets_;
    std::atomic<bool> accepting_{false};
    std::atomic<int64_t> framesOut_{0};
};

}  // namespace media
