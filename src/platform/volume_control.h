// The master volume of the default sound output.
#pragma once

#include <memory>

namespace platform {

class VolumeControl {
public:
    virtual ~VolumeControl() = default;
    // Sets the level to `percent` (0..100); a non-zero level unmutes first.
    // Returns at once: the work runs on the control's own thread, and only the
    // latest request is kept while a slow sound server is busy. Values outside
    // 0..100 are ignored.
    virtual void setMasterVolume(int percent) = 0;
    // Waits until every request so far has been carried out or given up;
    // false when `timeoutMs` passed first. For tests and shutdown.
    virtual bool waitIdle(int timeoutMs) = 0;
};

// PulseAudio (or PipeWire's pulse server) default sink. Never null: without a
// sound server requests are dropped with a log line.
std::unique_ptr<VolumeControl> makePulseVolumeControl();

}  // namespace platform
