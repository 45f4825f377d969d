// How long sound this program has already handed to the sound server waits
// there before it is heard: what the server still holds of one of the
// program's playback streams plus the output device's own latency. A sound
// library that writes to the server for us (SDL) does not report this.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class OutputLatency {
public:
    struct Sample {
        // Time until the last sample written so far is heard.
        int64_t queuedUs = 0;
        // When that held, in microseconds of std::chrono::steady_clock.
        int64_t atUs = 0;
    };

    virtual ~OutputLatency() = default;
    // Asks the server about this process's playback stream named
    // `streamName`, waiting at most `timeoutMs`. False when there is no
    // server, no such stream (yet), or no answer in time.
    virtual bool measure(const std::string& streamName, Sample& sample, int timeoutMs) = 0;
};

// PulseAudio (or PipeWire's pulse server). Never null; it connects at the
// first measure and again after the server went away.
std::unique_ptr<OutputLatency> makePulseOutputLatency();

}  // namespace platform
