// Sound from one device of the PC, handed to the owner through a callback on
// a thread of the input. Three kinds of device: a capture source of the sound
// server (by its name), a capture device opened by display name (ALSA, when
// no server runs) and "Loopback", what the PC plays (the monitor of the
// default output, delivered as 32-bit float at the output's rate).
#pragma once

#include "platform/sound_capture.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace record {

enum AudioDeviceKind : int {
    kCaptureSource = 0,  // a capture source of the sound server
    kNamedDevice = 1,    // a capture device opened by its display name
    kLoopback = 2,       // the monitor of the default output
};

struct AudioDeviceEntry {
    std::string name;      // display name
    std::string deviceId;  // the server's source name (kinds 0 and 2)
    int kind = kCaptureSource;
};

// Form factors as the recorder tests them (4 = microphone).
enum FormFactor : int {
    kFormFactorNone = 0,
    kFormFactorLineLevel = 2,
    kFormFactorMicrophone = 4,
    kFormFactorSpdif = 8,
    kFormFactorUnknown = 10,
};

class AudioInput {
public:
    // (data, length): valid only during the call, on the input's thread.
    using Callback = std::function<void(const uint8_t* data, size_t length)>;

    explicit AudioInput(platform::SoundCapture& system) : system_(system) {}
    ~AudioInput();  // stop()
    AudioInput(const AudioInput&) = delete;
    AudioInput& operator=(const AudioInput&) = delete;

    // Capture sources (kind 0), named devices (kind 1) without the names
    // "PGM-Camera" and "V-Audio" and without those already listed as kind 0,
    // and "Loopback" (kind 2) when the default output has a monitor.
    static size_t listDevices(platform::SoundCapture& system, std::vector<AudioDeviceEntry>& out);
    // Form factor of a capture source from its "device.form_factor" property.
    static int formFactor(platform::SoundCapture& system, const std::string& deviceId);
    static int formFactorOf(const std::string& property, const std::string& deviceId);

    // Only while no delivery thread runs. Kind 0 opens with the format given;
    // kinds 1 and 2 return the device's own format in the arguments.
    bool open(const AudioDeviceEntry& entry, int& channels, int& sampleRate, int& bitsPerSample);
    void setCallback(Callback callback) { callback_ = std::move(callback); }
    bool start();
    void stop();

    const AudioDeviceEntry& entry() const { return entry_; }
    bool isFloat() const { return format_.isFloat; }
    // Bytes per block delivered by a kind 0 device.
    size_t blockSize() const { return blockSize_; }

private:
    void deliverBlocks();    // kind 0
    void deliverPolled();    // kind 2
    void deliverAsItComes(); // kind 1

    platform::SoundCapture& system_;
    AudioDeviceEntry entry_;
    std::unique_ptr<platform::SoundStream> stream_;
    platform::SoundFormat format_;
    std::thread thread_;
    std::atomic<bool> stopped_{true};
    Callback callback_;
    size_t blockSize_ = 0;
    uint64_t capturedBytes_ = 0;
    int bufferMs_ = 80;
};

}  // namespace record
