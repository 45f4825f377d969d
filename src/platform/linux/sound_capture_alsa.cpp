// Capture devices by display name through ALSA, for systems where no sound
// server runs: the "named" kind of device. The display name is the first line
// of the device's description; the stream reads on a thread of its own.
#include "platform/sound_capture.h"

#include "platform/linux/captured_sound.h"
#include "support/logger.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace platform {

namespace {

struct AlsaDevice {
    std::string id;
    std::string displayName;
};

std::vector<AlsaDevice> listAlsa() {
    std::vector<AlsaDevice> out;
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0) return out;
    for (void** h = hints; *h; ++h) {
        char* name = snd_device_name_get_hint(*h, "NAME");
        char* desc = snd_device_name_get_hint(*h, "DESC");
        char* io = snd_device_name_get_hint(*h, "IOID");
        // Null IOID means both directions.
        if (name && (!io || std::string(io) == "Input") && std::string(name) != "null") {
            std::string display = desc ? desc : name;
            display = display.substr(0, display.find('\n'));
            if (std::none_of(out.begin(), out.end(),
                             [&](const AlsaDevice& d) { return d.displayName == display; }))
                out.push_back({name, display});
        }
        free(name);
        free(desc);
        free(io);
    }
    snd_device_name_free_hint(hints);
    return out;
}

class AlsaStream : public SoundStream {
public:
    AlsaStream(snd_pcm_t* pcm, const SoundFormat& format, int periodFrames)
        : pcm_(pcm), format_(format), periodFrames_(periodFrames) {
        frameBytes_ = size_t(format.channels * format.bitsPerSample / 8);
        sound_.setFormat(frameBytes_, size_t(format.sampleRate) * frameBytes_ * 2);
    }
    ~AlsaStream() override {
        stop();
        snd_pcm_close(pcm_);
    }

    SoundFormat format() const override { return format_; }
    int bufferFrames() const override { return periodFrames_; }

    bool start() override {
        if (thread_.joinable()) return true;
        if (!sound_.open()) return false;
        running_ = true;
        thread_ = std::thread([this] { readLoop(); });
        return true;
    }
    void stop() override {
        running_ = false;
        sound_.close();
        if (thread_.joinable()) thread_.join();
    }
    bool wait(size_t minBytes, int timeoutMs) override { return sound_.wait(minBytes, timeoutMs); }
    size_t read(void* dest, size_t max) override { return sound_.read(dest, max); }
    uint64_t dropped() const override { return sound_.dropped(); }

private:
    void readLoop() {
        std::vector<uint8_t> chunk(size_t(periodFrames_) * frameBytes_);
        while (running_) {
            snd_pcm_sframes_t got = snd_pcm_readi(pcm_, chunk.data(), snd_pcm_uframes_t(periodFrames_));
            if (got < 0) got = snd_pcm_recover(pcm_, int(got), 1);
            if (got < 0) {
                sound_.fail();
                break;
            }
            sound_.append(chunk.data(), size_t(got) * frameBytes_);
        }
    }

    snd_pcm_t* pcm_;
    SoundFormat format_;
    int periodFrames_;
    size_t frameBytes_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    CapturedSound sound_;
};

}  // namespace

std::vector<std::string> alsaCaptureDevices() {
    std::vector<std::string> names;
    for (const AlsaDevice& d : listAlsa()) names.push_back(d.displayName);
    return names;
}

// The device's own format wins where it differs from the one asked for
// (16-bit integer samples; rate and channels as near as the device allows).
std::unique_ptr<SoundStream> openAlsaCapture(const std::string& displayName, const SoundFormat& format) {
    std::string id;
    for (const AlsaDevice& d : listAlsa())
        if (d.displayName == displayName) id = d.id;
    if (id.empty()) return nullptr;
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, id.c_str(), SND_PCM_STREAM_CAPTURE, 0) < 0) return nullptr;
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    unsigned rate = unsigned(format.sampleRate);
    unsigned channels = unsigned(format.channels);
    snd_pcm_uframes_t period = 1024;
    if (snd_pcm_hw_params_any(pcm, hw) < 0 ||
        snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE) < 0 ||
        snd_pcm_hw_params_set_channels_near(pcm, hw, &channels) < 0 ||
        snd_pcm_hw_params_set_rate_near(pcm, hw, &rate, nullptr) < 0 ||
        snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, nullptr) < 0 ||
        snd_pcm_hw_params(pcm, hw) < 0) {
        LOGOUT("sound capture: %s refuses every usable format", displayName.c_str());
        snd_pcm_close(pcm);
        return nullptr;
    }
    SoundFormat actual;
    actual.channels = int(channels);
    actual.sampleRate = int(rate);
    actual.bitsPerSample = 16;
    return std::make_unique<AlsaStream>(pcm, actual, int(period));
}

}  // namespace platform
