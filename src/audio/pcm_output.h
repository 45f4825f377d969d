// A pull-model PCM output: the owner's fill function is called on the
// output's own thread for whole blocks of 44,100 Hz stereo signed 16-bit
// sound. In device mode the default sound device (SDL2 audio) sets the pace;
// in clock-only mode a timer thread calls fill at the rate a device would and
// the samples are thrown away, so owners that only need the pacing keep it.
// In device mode a watcher thread asks the sound server how long what the
// device took still waits there, so that the clock counts it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace audio {

class PcmOutput {
public:
    static constexpr int kSampleRate = 44100;
    static constexpr int kChannels = 2;
    static constexpr int kBytesPerFrame = 4;
    static constexpr int kBytesPerSecond = kSampleRate * kBytesPerFrame;  // 176,400

    // Must fill exactly `size` bytes (silence where it has nothing).
    using Fill = std::function<void(uint8_t* buffer, int size)>;

    PcmOutput() = default;
    ~PcmOutput();  // close()
    PcmOutput(const PcmOutput&) = delete;
    PcmOutput& operator=(const PcmOutput&) = delete;

    // Device mode on the default output; blocks of 4 x framesPerHalf bytes.
    // False when no device opens: the output is then unusable until
    // openClockOnly (or another open).
    bool open(Fill fill, int framesPerHalf);
    // Clock-only mode: fill is called with a scratch block at the pace a
    // device would consume blocks of 4 x framesPerHalf bytes.
    void openClockOnly(Fill fill, int framesPerHalf);
    // open(), falling back to openClockOnly(); true when a device opened.
    bool openOrClock(Fill fill, int framesPerHalf);

    // Starts playing (device) or the timer thread (clock-only). Once; a
    // second call does nothing.
    void start();
    // Device mode only: stop or resume playback where it was.
    void pause(bool pause);
    // Sound handed to fill that is not heard yet, in seconds: the part of
    // the current block not yet taken by the device, plus what the device
    // took at its last request and what waited in the sound server before
    // it, less what has played since (counted from the bytes each device
    // request consumed). 0 in clock-only mode or when not playing.
    double bufferedSeconds();
    // How long a block the device takes waits in the sound server before it
    // is heard (its queue plus the output's latency), as last measured; 0
    // until measured, in clock-only mode, and without a PulseAudio server.
    int64_t serverLatencyUs() const { return serverUs_; }
    // The stream name the sound server knows this output by (device mode).
    const std::string& streamName() const { return streamName_; }
    // Stops and releases everything. Safe twice and right after open().
    // Must not be called from inside fill.
    void close();

    bool deviceMode() const { return device_ != 0; }
    // Device mode: the device has taken its first block, so bufferedSeconds
    // tells where the sound is.
    bool deviceTaking() const { return lastTakenUs_ != 0; }
    bool isOpen() const { return device_ != 0 || clockOnly_; }
    int blockSize() const { return blockSize_; }

    // Not-yet-heard bytes of the current half of a looping double buffer of
    // two blocks, with the play cursor at `cursor`, in seconds.
    static double bufferedFromCursor(int64_t cursor, int64_t blockSize);
    // Sound not yet heard: `blockLeft` bytes not yet taken by the device, and
    // `taken` bytes taken `sinceUs` ago that play at 176,400 bytes a second
    // once `serverUs` of sound queued before them has been heard.
    static double bufferedFromConsumed(int64_t blockLeft, int64_t taken, int64_t sinceUs,
                                       int64_t serverUs = 0);
    // The server's share from one measure taken `sinceUs` after the device
    // took a block: `queuedUs` is the server's time until the last sample
    // written to it is heard. SDL writes a block to the server in the
    // pieces the server asks for and asks for the next block once the last
    // piece is written, so right after a request the server holds what
    // plays before the new block, less what played since the request.
    static int64_t serverShareUs(int64_t queuedUs, int64_t sinceUs) { return queuedUs + sinceUs; }
    // The middle one of `values` (the lower middle for an even count), 0
    // when empty: single measures that caught the device mid-request do not
    // move it.
    static int64_t median(std::vector<int64_t> values);
    // When the clock-only thread calls fill for block `k` (1 for the first),
    // in microseconds after it began: an absolute schedule, so neither the
    // time fill takes nor rounding makes the pace drift.
    static int64_t clockDeadlineUs(int64_t k, int blockSize) {
        return k * blockSize * int64_t(1000000) / kBytesPerSecond;
    }

private:
    static void deviceCallback(void* self, uint8_t* stream, int len);
    void serveDevice(uint8_t* stream, int len);
    void clockThread();
    void latencyThread();

    Fill fill_;
    int blockSize_ = 0;
    uint32_t device_ = 0;  // SDL audio device id, 0 when none
    bool clockOnly_ = false;
    bool started_ = false;
    std::atomic<bool> paused_{false};

    // Device mode: the block being handed to the device and where it is.
    std::vector<uint8_t> block_;
    size_t blockPos_ = 0;
    // What the device consumed at its last request (bytes), when that was
    // (monotonic microseconds, 0 before the first), and while paused how
    // long after it playback stopped. Written under the device lock.
    std::atomic<int64_t> lastTakenBytes_{0};
    std::atomic<int64_t> lastTakenUs_{0};
    std::atomic<int64_t> pausedAtUs_{0};
    std::atomic<int64_t> blockLeftBytes_{0};

    // Device mode: the server's share of the delay (microseconds), measured
    // by latencyThread_ under the name the stream was opened with.
    std::atomic<int64_t> serverUs_{0};
    std::string streamName_;
    std::thread latencyThread_;

    // Clock-only mode (and the stop signal of latencyThread_).
    std::thread thread_;
    std::mutex stopMutex_;
    std::condition_variable stopEvent_;
    bool stop_ = false;
};

}  // namespace audio
