// Sound capture from the system: capture sources by name, the monitor of the
// default output ("what the PC plays"), and, where no sound server runs,
// capture devices opened by their display name. Streams buffer what arrives
// on the system's side; the owner takes it from its own thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct SoundFormat {
    int channels = 2;
    int sampleRate = 44100;
    int bitsPerSample = 16;
    bool isFloat = false;  // 32-bit float samples instead of signed integers
};

struct CaptureSourceInfo {
    std::string name;         // the system's id of the source
    std::string description;  // shown to people
    std::string formFactor;   // the source's "device.form_factor" property, "" when absent
};

class SoundStream {
public:
    virtual ~SoundStream() = default;
    // Format of the bytes read().
    virtual SoundFormat format() const = 0;
    // Starts capturing (bytes arrive in the stream's own buffer).
    virtual bool start() = 0;
    virtual void stop() = 0;
    // Waits until at least `minBytes` are buffered, at most `timeoutMs`.
    // False when the stream failed or was stopped.
    virtual bool wait(size_t minBytes, int timeoutMs) = 0;
    // Takes up to `max` buffered bytes (whole frames); never blocks.
    virtual size_t read(void* dest, size_t max) = 0;
    // Bytes dropped because the owner did not take them in time.
    virtual uint64_t dropped() const = 0;
    // Frames per period the stream was set up for (its "buffer"), for pacing.
    virtual int bufferFrames() const = 0;
};

class SoundCapture {
public:
    virtual ~SoundCapture() = default;
    // True when a sound server answers.
    virtual bool serverRunning() = 0;
    // Capture sources of the server (monitors of outputs left out).
    virtual std::vector<CaptureSourceInfo> captureSources() = 0;
    // Name of the monitor source of the default output, "" when none.
    virtual std::string loopbackSource() = 0;
    // Capture devices known by display name only (used when no server runs).
    virtual std::vector<std::string> namedDevices() = 0;

    // Opens a source of the server with exactly `format`; null on failure.
    virtual std::unique_ptr<SoundStream> openSource(const std::string& name,
                                                    const SoundFormat& format) = 0;
    // Opens the monitor of the default output in its own format (32-bit float,
    // the output's rate and channel count); null on failure.
    virtual std::unique_ptr<SoundStream> openLoopback(int bufferMs) = 0;
    // Opens a device from namedDevices() in the format it offers nearest to
    // `format`; null on failure.
    virtual std::unique_ptr<SoundStream> openNamed(const std::string& displayName,
                                                   const SoundFormat& format) = 0;
};

// PulseAudio (also PipeWire's pulse server) for sources and loopback; ALSA
// capture devices for the named kind when no server answers.
std::unique_ptr<SoundCapture> makeSystemSoundCapture();

}  // namespace platform
