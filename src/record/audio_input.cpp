#include "record/audio_input.h"

#include "support/logger.h"

#include <algorithm>
#include <pthread.h>
#include <regex>

namespace record {

namespace {

// Devices of other products that must never be recorded from.
bool isExcludedName(const std::string& name) {
    static const std::regex excluded("PGM-Camera|V-Audio");
    return std::regex_match(name, excluded);
}

// The loopback client's buffer; the delivery thread polls twice per buffer.
constexpr int kLoopbackBufferMs = 80;

}  // namespace

AudioInput::~AudioInput() { stop(); }

size_t AudioInput::listDevices(platform::SoundCapture& system, std::vector<AudioDeviceEntry>& out) {
    std::vector<AudioDeviceEntry> list;
    for (const auto& source : system.captureSources())
        list.push_back({source.description, source.name, kCaptureSource});
    for (const std::string& name : system.namedDevices()) {
        if (isExcludedName(name)) continue;
        const bool listed = std::any_of(list.begin(), list.end(), [&](const AudioDeviceEntry& e) {
            return e.kind == kCaptureSource && e.name == name;
        });
        if (!listed) list.push_back({name, {}, kNamedDevice});
    }
    const std::string monitor = system.loopbackSource();
    if (!monitor.empty()) list.push_back({"Loopback", monitor, kLoopback});
    out = std::move(list);
    return out.size();
}

int AudioInput::formFactorOf(const std::string& property, const std::string& deviceId) {
    // Digital inputs are recognised by their source name.
    if (deviceId.find("iec958") != std::string::npos) return kFormFactorSpdif;
    if (property.empty()) return kFormFactorNone;
    // Built-in and webcam microphones count as microphones.
    if (property == "microphone" || property == "webcam" || property == "internal")
        return kFormFactorMicrophone;
    // Headsets, handsets, speakers and headphones are not one of the tested values.
    if (property == "headset" || property == "handset" || property == "hands-free" ||
        property == "speaker" || property == "headphone")
        return kFormFactorNone;
    return kFormFactorUnknown;
}

int AudioInput::formFactor(platform::SoundCapture& system, const std::string& deviceId) {
    for (const auto& source : system.captureSources())
        if (source.name == deviceId) return formFactorOf(source.formFactor, deviceId);
    return kFormFactorNone;
}

bool AudioInput::open(const AudioDeviceEntry& entry, int& channels, int& sampleRate,
                      int& bitsPerSample) {
    if (thread_.joinable() || stream_) return false;
    platform::SoundFormat requested;
    requested.channels = channels;
    requested.sampleRate = sampleRate;
    requested.bitsPerSample = bitsPerSample;
    switch (entry.kind) {
    case kCaptureSource:
        if (channels <= 0 || sampleRate <= 0 || bitsPerSample != 16) return false;
        stream_ = system_.openSource(entry.deviceId, requested);
        break;
    case kNamedDevice:
        stream_ = system_.openNamed(entry.name, requested);
        break;
    case kLoopback:
        stream_ = system_.openLoopback(kLoopbackBufferMs);
        break;
    default:
        return false;
    }
    if (!stream_) return false;
    entry_ = entry;
    format_ = stream_->format();
    channels = format_.channels;
    sampleRate = format_.sampleRate;
    bitsPerSample = format_.bitsPerSample;
    // 4096 sample frames per block.
    blockSize_ = size_t(format_.channels) * size_t(format_.bitsPerSample) * 512;
    bufferMs_ = kLoopbackBufferMs;
    return true;
}

bool AudioInput::start() {
    if (!stream_ || thread_.joinable()) return false;
    capturedBytes_ = 0;
    if (!stream_->start()) return false;
    stopped_ = false;
    switch (entry_.kind) {
    case kCaptureSource: thread_ = std::thread(&AudioInput::deliverBlocks, this); break;
    case kNamedDevice: thread_ = std::thread(&AudioInput::deliverAsItComes, this); break;
    default: thread_ = std::thread(&AudioInput::deliverPolled, this); break;
    }
    return true;
}

void AudioInput::stop() {
    stopped_ = true;
    if (stream_) stream_->stop();
    if (thread_.joinable()) thread_.join();
    stream_.reset();
}

// Whole blocks of 4096 frames, as they fill up.
void AudioInput::deliverBlocks() {
    pthread_setname_np(pthread_self(), "audio-input");
    std::vector<uint8_t> block(blockSize_);
    const int bytesPerSecond = format_.channels * format_.bitsPerSample / 8 * format_.sampleRate;
    const int timeoutMs = int(int64_t(blockSize_) * 2000 / std::max(bytesPerSecond, 1));
    while (!stopped_) {
        if (!stream_->wait(blockSize_, timeoutMs)) break;
        while (!stopped_ && stream_->read(block.data(), block.size()) == block.size()) {
            if (callback_) callback_(block.data(), block.size());
            capturedBytes_ += block.size();
        }
    }
}

// Every half buffer, everything that arrived since the last poll in one call.
// The accumulation buffer holds twice the client's buffer; when more arrived
// it is delivered in several calls instead of overflowing.
void AudioInput::deliverPolled() {
    pthread_setname_np(pthread_self(), "audio-loopback");
    const size_t frameBytes = size_t(format_.channels * format_.bitsPerSample / 8);
    std::vector<uint8_t> accumulated(size_t(stream_->bufferFrames()) * frameBytes * 2);
    while (!stopped_) {
        // Sleeps half a buffer unless stopped.
        if (!stream_->wait(SIZE_MAX, bufferMs_ / 2)) break;
        size_t used;
        while (!stopped_ && (used = stream_->read(accumulated.data(), accumulated.size())) > 0) {
            if (callback_) callback_(accumulated.data(), used);
            if (used < accumulated.size()) break;
        }
    }
}

void AudioInput::deliverAsItComes() {
    std::vector<uint8_t> chunk(65536);
    while (!stopped_) {
        if (!stream_->wait(1, 100)) break;
        size_t n;
        while (!stopped_ && (n = stream_->read(chunk.data(), chunk.size())) > 0)
            if (callback_) callback_(chunk.data(), n);
    }
}

}  // namespace record
