#include "audio/pcm_output.h"

#include "platform/output_latency.h"
#include "support/logger.h"

#include <SDL.h>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <unistd.h>

namespace audio {

namespace {

int64_t nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// One SDL audio initialisation for the whole process, kept until exit. A
// failed attempt (no sound server yet) is tried again at the next open.
bool sdlAudioReady() {
    static std::mutex mutex;
    static bool ready = false;
    std::lock_guard<std::mutex> lock(mutex);
    if (!ready) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
            ready = true;
            LOGOUT("sound output driver: %s", SDL_GetCurrentAudioDriver() ? SDL_GetCurrentAudioDriver() : "?");
        } else {
            LOGOUT("sound output unavailable: %s", SDL_GetError());
        }
    }
    return ready;
}

}  // namespace

PcmOutput::~PcmOutput() { close(); }

double PcmOutput::bufferedFromCursor(int64_t cursor, int64_t blockSize) {
    if (blockSize <= 0 || cursor < 0) return 0;
    const int64_t left = cursor <= blockSize ? blockSize - cursor : 2 * blockSize - cursor;
    return std::max<int64_t>(left, 0) / double(kBytesPerSecond);
}

double PcmOutput::bufferedFromConsumed(int64_t blockLeft, int64_t taken, int64_t sinceUs, int64_t serverUs) {
    const int64_t played = std::max<int64_t>(sinceUs, 0) * kBytesPerSecond / 1000000;
    const int64_t ahead = std::max<int64_t>(taken, 0) + std::max<int64_t>(serverUs, 0) * kBytesPerSecond / 1000000;
    const int64_t inDevice = std::clamp<int64_t>(ahead - played, 0, ahead);
    return double(std::max<int64_t>(blockLeft, 0) + inDevice) / kBytesPerSecond;
}

int64_t PcmOutput::median(std::vector<int64_t> values) {
    if (values.empty()) return 0;
    const auto middle = values.begin() + (values.size() - 1) / 2;
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

bool PcmOutput::open(Fill fill, int framesPerHalf) {
    close();
    if (!fill || framesPerHalf <= 0 || !sdlAudioReady()) return false;

    SDL_AudioSpec want{};
    want.freq = kSampleRate;
    want.format = AUDIO_S16LSB;
    want.channels = kChannels;
    want.samples = uint16_t(std::min(framesPerHalf, 32768));
    want.callback = deviceCallback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // A name of its own, so that the sound server's stream list tells this
    // output apart from other outputs of the program. The name is a
    // process-wide hint that SDL reads while it opens the device.
    static std::mutex nameMutex;
    static std::atomic<int> outputs{0};
    const std::string name = "Lumacro3 sound " + std::to_string(getpid()) + "-" + std::to_string(++outputs);
    SDL_AudioDeviceID device = 0;
    {
        std::lock_guard<std::mutex> lock(nameMutex);
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, name.c_str());
        // No allowed changes: SDL converts, so the callback sees our format.
        device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, nullptr);
    }
    if (device == 0) {
        LOGOUT("sound device open failed: %s", SDL_GetError());
        return false;
    }
    fill_ = std::move(fill);
    blockSize_ = 4 * framesPerHalf;
    block_.assign(size_t(blockSize_), 0);
    blockPos_ = block_.size();  // the first callback fills a fresh block
    paused_ = false;
    started_ = false;
    lastTakenUs_ = 0;
    lastTakenBytes_ = 0;
    blockLeftBytes_ = 0;
    serverUs_ = 0;
    streamName_ = name;
    {
        std::lock_guard<std::mutex> lock(stopMutex_);
        stop_ = false;
    }
    device_ = device;
    return true;
}

void PcmOutput::openClockOnly(Fill fill, int framesPerHalf) {
    close();
    fill_ = std::move(fill);
    blockSize_ = 4 * std::max(framesPerHalf, 1);
    clockOnly_ = true;
    started_ = false;
    std::lock_guard<std::mutex> lock(stopMutex_);
    stop_ = false;
}

bool PcmOutput::openOrClock(Fill fill, int framesPerHalf) {
    if (open(fill, framesPerHalf)) return true;
    openClockOnly(std::move(fill), framesPerHalf);
    return false;
}

void PcmOutput::start() {
    if (started_) return;
    if (device_) {
        started_ = true;
        SDL_PauseAudioDevice(device_, 0);
        latencyThread_ = std::thread(&PcmOutput::latencyThread, this);
    } else if (clockOnly_) {
        started_ = true;
        thread_ = std::thread(&PcmOutput::clockThread, this);
    }
}

void PcmOutput::pause(bool pause) {
    if (!device_ || !started_) return;
    if (pause == paused_.load()) return;
    SDL_LockAudioDevice(device_);
    const int64_t now = nowUs();
    if (pause) {
        pausedAtUs_ = lastTakenUs_ ? now - lastTakenUs_ : 0;
    } else if (lastTakenUs_) {
        lastTakenUs_ = now - pausedAtUs_;
    }
    paused_ = pause;
    SDL_UnlockAudioDevice(device_);
    SDL_PauseAudioDevice(device_, pause ? 1 : 0);
}

double PcmOutput::bufferedSeconds() {
    if (!device_ || !started_) return 0;
    const int64_t taken = lastTakenUs_.load();
    if (taken == 0) return 0;
    const int64_t since = paused_ ? pausedAtUs_.load() : nowUs() - taken;
    return bufferedFromConsumed(blockLeftBytes_.load(), lastTakenBytes_.load(), since, serverUs_.load());
}

void PcmOutput::close() {
    if (latencyThread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(stopMutex_);
            stop_ = true;
        }
        stopEvent_.notify_all();
        latencyThread_.join();
    }
    if (device_) {
        // Waits for a callback in progress; none runs afterwards.
        SDL_CloseAudioDevice(device_);
        device_ = 0;
    }
    if (clockOnly_) {
        {
            std::lock_guard<std::mutex> lock(stopMutex_);
            stop_ = true;
        }
        stopEvent_.notify_all();
        if (thread_.joinable()) thread_.join();
        clockOnly_ = false;
    }
    started_ = false;
    paused_ = false;
    lastTakenUs_ = 0;
    lastTakenBytes_ = 0;
    blockLeftBytes_ = 0;
    serverUs_ = 0;
    block_.clear();
    block_.shrink_to_fit();
}

void PcmOutput::deviceCallback(void* self, uint8_t* stream, int len) {
    static_cast<PcmOutput*>(self)->serveDevice(stream, len);
}

// The device asks for `len` bytes; fill is only ever called for whole blocks,
// so a device that pulls in other sizes is served from the current block.
void PcmOutput::serveDevice(uint8_t* stream, int len) {
    const int64_t taken = len;
    while (len > 0) {
        if (blockPos_ >= block_.size()) {
            std::memset(block_.data(), 0, block_.size());
            fill_(block_.data(), blockSize_);
            blockPos_ = 0;
        }
        const size_t n = std::min(size_t(len), block_.size() - blockPos_);
        std::memcpy(stream, block_.data() + blockPos_, n);
        blockPos_ += n;
        stream += n;
        len -= int(n);
    }
    // The device plays what it took now after nothing else (it asks when
    // its own buffer runs low); the rest of the block waits for the next
    // request.
    blockLeftBytes_ = int64_t(block_.size() - blockPos_);
    lastTakenBytes_ = taken;
    lastTakenUs_ = nowUs();
}

// Calls fill at the rate a device consumes blocks. Deadlines are kept on an
// absolute schedule of exactly blockSize / 176,400 s per block so that the
// pace does not drift from the wall clock by the time fill takes or by
// rounding the period to whole milliseconds.
void PcmOutput::clockThread() {
    std::vector<uint8_t> scratch(size_t(blockSize_), 0);
    const auto begin = std::chrono::steady_clock::now();
    for (int64_t k = 1;; ++k) {
        const auto due = begin + std::chrono::microseconds(clockDeadlineUs(k, blockSize_));
        {
            std::unique_lock<std::mutex> lock(stopMutex_);
            if (stopEvent_.wait_until(lock, due, [this] { return stop_; })) break;
        }
        fill_(scratch.data(), blockSize_);
    }
}

// SDL hands each block to the sound server and reports nothing of what
// happens there; SDL's own figures (the obtained buffer size) do not tell it
// either, since the server sizes its queue and the output's latency itself.
// So the server is asked: its sink-input list gives, for our stream, the time
// until the last sample written to it is heard. Measured right after the
// device took a block (SDL has then just written the whole previous block),
// that is the delay before the new block starts to play. Measures that miss
// that moment are dropped, and the clock uses the median of the recent ones.
// Quick measures while there are few, then one every half second, quick
// again when one is far off (the output changed: a queue that built up
// while the sink was waking drained, another sink, a device that adapts its
// latency).
void PcmOutput::latencyThread() {
    constexpr size_t kKept = 5;
    constexpr int64_t kMaxSinceUs = 8000;
    constexpr int64_t kMaxServerUs = 2000000;
    std::unique_ptr<platform::OutputLatency> server = platform::makePulseOutputLatency();
    std::vector<int64_t> recent;
    bool reported = false;
    int misses = 0;
    auto stopped = [this](std::chrono::steady_clock::duration wait) {
        std::unique_lock<std::mutex> lock(stopMutex_);
        return stopEvent_.wait_for(lock, wait, [this] { return stop_; });
    };
    bool quick = true;
    for (;;) {
        if (stopped(std::chrono::milliseconds(quick ? 50 : 500))) break;
        // Wait for the next device request (one block's time at most, and
        // half a second more for a device that is slow to ask).
        const int64_t before = lastTakenUs_.load();
        const int64_t waitEnd = nowUs() + int64_t(blockSize_) * 1000000 / kBytesPerSecond + 500000;
        bool stopping = false;
        while (lastTakenUs_.load() == before && nowUs() < waitEnd && !(stopping = stopped(std::chrono::milliseconds(1)))) {
        }
        if (stopping) break;
        const int64_t takenAt = lastTakenUs_.load();
        if (paused_ || takenAt == before) continue;
        platform::OutputLatency::Sample sample;
        if (!server->measure(streamName_, sample, 250)) {
            if (++misses == 20 && recent.empty())
                LOGOUT("sound server latency unknown for %s: the clock counts only what SDL took", streamName_.c_str());
            continue;
        }
        const int64_t since = sample.atUs - takenAt;
        if (lastTakenUs_.load() != takenAt || paused_ || since < 0 || since > kMaxSinceUs) continue;
        const int64_t share = serverShareUs(sample.queuedUs, since);
        if (share > kMaxServerUs) continue;
        const int64_t current = median(recent);
        const bool far = !recent.empty() && std::abs(share - current) > std::max<int64_t>(current / 4, 10000);
        recent.push_back(share);
        if (recent.size() > kKept) recent.erase(recent.begin());
        serverUs_ = median(recent);
        quick = far || recent.size() < kKept;
        if (!reported && recent.size() >= 3) {
            reported = true;
            LOGOUT("sound server latency %lld ms", static_cast<long long>(serverUs_.load() / 1000));
        }
    }
}

}  // namespace audio
