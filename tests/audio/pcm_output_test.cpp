// The PCM output against a real sound server (a private PulseAudio with a
// null sink), with no server at all, and its clock-only mode.
#include "audio/pcm_output.h"
#include "common/pulse_server.h"
#include "common/run_command.h"
#include "record/tone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using audio::PcmOutput;
using Clock = std::chrono::steady_clock;

namespace {

// Calls of fill: when and with how many bytes.
struct FillLog {
    std::mutex mutex;
    std::vector<Clock::time_point> times;
    std::vector<int> sizes;

    PcmOutput::Fill fill() {
        return [this](uint8_t* buffer, int size) {
            std::memset(buffer, 0, size_t(size));
            std::lock_guard<std::mutex> lock(mutex);
            times.push_back(Clock::now());
            sizes.push_back(size);
        };
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(mutex);
        return times.size();
    }
    bool waitFor(size_t n, int seconds) {
        const auto end = Clock::now() + std::chrono::seconds(seconds);
        while (count() < n && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return count() >= n;
    }
    // Mean time between calls a..b, in milliseconds.
    double meanIntervalMs(size_t a, size_t b) {
        std::lock_guard<std::mutex> lock(mutex);
        return std::chrono::duration<double, std::milli>(times[b] - times[a]).count() / double(b - a);
    }
    // Checks the calls against the clock's schedule from `started` (taken
    // just before start()): none comes before its deadline, which is what
    // a drifting or too fast clock breaks; a busy machine only delays calls,
    // and the schedule makes up for it, so the last is at most a second late.
    void expectOnSchedule(Clock::time_point started, int blockSize) {
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_FALSE(times.empty());
        const auto us = [&](size_t i) {
            return std::chrono::duration_cast<std::chrono::microseconds>(times[i] - started).count();
        };
        for (size_t i = 0; i < times.size(); ++i)
            EXPECT_GE(us(i), PcmOutput::clockDeadlineUs(int64_t(i) + 1, blockSize)) << "block " << i + 1;
        EXPECT_LE(us(times.size() - 1), PcmOutput::clockDeadlineUs(int64_t(times.size()), blockSize) + 1000000);
    }
};

}  // namespace

TEST(PcmOutputFigures, BufferedSecondsFromWhatTheDeviceConsumed) {
    // Just taken: the whole request is still to be heard, plus what waits in the block.
    EXPECT_NEAR(PcmOutput::bufferedFromConsumed(0, 16384, 0), 16384 / 176400.0, 1e-9);
    EXPECT_NEAR(PcmOutput::bufferedFromConsumed(4096, 8192, 0), 12288 / 176400.0, 1e-9);
    // Half a block's time later, half of it has played.
    EXPECT_NEAR(PcmOutput::bufferedFromConsumed(0, 16384, 46440), 8192 / 176400.0, 1e-4);
    // Long after, only the untaken part remains; nothing negative.
    EXPECT_NEAR(PcmOutput::bufferedFromConsumed(4096, 16384, 1000000), 4096 / 176400.0, 1e-9);
    EXPECT_DOUBLE_EQ(PcmOutput::bufferedFromConsumed(0, 16384, 1000000), 0.0);
    EXPECT_DOUBLE_EQ(PcmOutput::bufferedFromConsumed(0, 16384, -5), 16384 / 176400.0);
}

TEST(PcmOutputFigures, TheServersShareCountsBeforeTheTakenBlock) {
    // 40 ms in the server: just taken, the block plays after those 40 ms.
    EXPECT_NEAR(PcmOutput::bufferedFromConsumed(0, 16384, 0, 40000), 16384 / 176400.0 + 0.040, 1e-4);
    // 60 ms later, 20 ms of the block have played.
    EXPECT_NEAR(PcmOutput::bufferedFromConsumed(0, 16384, 60000, 40000), 16384 / 176400.0 - 0.020, 1e-4);
    // Requests late: nothing left, not less.
    EXPECT_DOUBLE_EQ(PcmOutput::bufferedFromConsumed(0, 16384, 500000, 40000), 0.0);

    // 3 ms after a request the server still holds 85 ms: the new block
    // waited 88 ms.
    EXPECT_EQ(PcmOutput::serverShareUs(85000, 3000), 88000);

    EXPECT_EQ(PcmOutput::median({}), 0);
    EXPECT_EQ(PcmOutput::median({7}), 7);
    EXPECT_EQ(PcmOutput::median({40, 2, 41, 39, 90}), 40);  // the odd ones do not count
    EXPECT_EQ(PcmOutput::median({30, 10, 40, 20}), 20);
}

TEST(PcmOutputFigures, BufferedSecondsFromTheCursor) {
    EXPECT_NEAR(PcmOutput::bufferedFromCursor(0, 16384), 16384 / 176400.0, 1e-9);
    EXPECT_NEAR(PcmOutput::bufferedFromCursor(0, 16384), 0.0929, 1e-4);
    EXPECT_DOUBLE_EQ(PcmOutput::bufferedFromCursor(16384, 16384), 0.0);
    EXPECT_NEAR(PcmOutput::bufferedFromCursor(16384 * 3 / 2, 16384), 8192 / 176400.0, 1e-9);
    EXPECT_DOUBLE_EQ(PcmOutput::bufferedFromCursor(32768, 16384), 0.0);
    // The clock's deadlines: 92.88 ms per 16,384 bytes with nothing lost to
    // rounding however long it runs; half blocks twice as often.
    EXPECT_EQ(PcmOutput::clockDeadlineUs(1, 16384), 92879);
    EXPECT_EQ(PcmOutput::clockDeadlineUs(1000, 16384), 92879818);
    EXPECT_EQ(PcmOutput::clockDeadlineUs(38750, 16384), 3599092970);  // an hour, no overflow
    EXPECT_EQ(PcmOutput::clockDeadlineUs(2, 8192), PcmOutput::clockDeadlineUs(1, 16384));
}

TEST(PcmOutputClock, FillsWholeBlocksAboutEvery92Ms) {
    FillLog log;
    PcmOutput out;
    out.openClockOnly(log.fill(), 4096);
    EXPECT_FALSE(out.deviceMode());
    EXPECT_EQ(out.blockSize(), 16384);
    const auto started = Clock::now();
    out.start();
    out.start();  // once only
    ASSERT_TRUE(log.waitFor(20, 10));
    out.close();
    const size_t n = log.count();
    for (int size : log.sizes) EXPECT_EQ(size, 16384);
    // The pace of a device: 16,384 bytes per 92.9 ms.
    log.expectOnSchedule(started, 16384);
    EXPECT_DOUBLE_EQ(out.bufferedSeconds(), 0.0);
    out.pause(true);  // nothing to pause on a clock
    out.close();
    // Nothing runs after close.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(log.count(), n);
}

TEST(PcmOutputClock, HalfSizeBlocksComeTwiceAsOften) {
    FillLog log;
    PcmOutput out;
    out.openClockOnly(log.fill(), 2048);
    const auto started = Clock::now();
    out.start();
    ASSERT_TRUE(log.waitFor(30, 10));
    out.close();
    for (int size : log.sizes) EXPECT_EQ(size, 8192);
    log.expectOnSchedule(started, 8192);
}

TEST(PcmOutputNoServer, OpenFailsAndTheClockTakesOver) {
    // A server address where nothing listens; no other driver is allowed.
    setenv("PULSE_SERVER", "unix:/nonexistent/lumacro3-no-pulse", 1);
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    FillLog log;
    PcmOutput out;
    EXPECT_FALSE(out.open(log.fill(), 4096));
    EXPECT_FALSE(out.isOpen());
    out.close();
    EXPECT_FALSE(out.openOrClock(log.fill(), 4096));
    EXPECT_TRUE(out.isOpen());
    out.start();
    EXPECT_TRUE(log.waitFor(2, 3));
    out.close();
}

class PcmOutputDevice : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pulse_.ready()) << "pulseaudio did not start";
        setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    }
    testing_support::PulseServer pulse_;
};

TEST_F(PcmOutputDevice, CloseRightAfterOpenAndTwice) {
    FillLog log;
    PcmOutput out;
    ASSERT_TRUE(out.open(log.fill(), 4096));
    EXPECT_TRUE(out.deviceMode());
    out.close();
    out.close();
    EXPECT_FALSE(out.isOpen());
    EXPECT_EQ(log.count(), 0u);
}

TEST_F(PcmOutputDevice, FillsAtTheDevicePaceAndPauses) {
    FillLog log;
    PcmOutput out;
    ASSERT_TRUE(out.open(log.fill(), 4096));
    EXPECT_DOUBLE_EQ(out.bufferedSeconds(), 0.0);  // not started
    out.start();
    ASSERT_TRUE(log.waitFor(30, 10));
    for (int size : log.sizes) EXPECT_EQ(size, 16384);
    // Over many blocks the device consumes 176,400 bytes per second (92.9 ms
    // a block). The bounds leave room for a busy machine and the sound
    // server's bursts, and still catch a block size or pace off by half.
    const size_t n = log.count();
    const double interval = log.meanIntervalMs(n - 20, n - 1);
    EXPECT_GT(interval, 62.0);
    EXPECT_LT(interval, 185.0);

    const double buffered = out.bufferedSeconds();
    EXPECT_GE(buffered, 0.0);
    EXPECT_LE(buffered, 16384 / 176400.0 + out.serverLatencyUs() / 1e6 + 1e-9);

    out.pause(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const size_t atPause = log.count();
    const double bufferedAtPause = out.bufferedSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(log.count(), atPause);
    EXPECT_DOUBLE_EQ(out.bufferedSeconds(), bufferedAtPause);  // nothing plays
    out.pause(false);
    EXPECT_TRUE(log.waitFor(atPause + 3, 5));
    out.close();
}

namespace {

// Buffer plus sink latency of the server's sink input named `name`, in
// microseconds, as pactl prints them; -1 when it is not listed.
int64_t pactlQueuedUs(const std::string& name) {
    const std::string out = testing_support::commandOutput("LC_ALL=C pactl list sink-inputs");
    int64_t buffer = -1, sink = -1;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Sink Input #", 0) == 0) buffer = sink = -1;
        long long v = 0;
        if (sscanf(line.c_str(), " Buffer Latency: %lld usec", &v) == 1) buffer = v;
        if (sscanf(line.c_str(), " Sink Latency: %lld usec", &v) == 1) sink = v;
        if (line.find("media.name = \"" + name + "\"") != std::string::npos && buffer >= 0 && sink >= 0)
            return buffer + sink;
    }
    return -1;
}

}  // namespace

// What the server holds before our blocks, measured by the output, against
// pactl's view of the same stream: pactl sees the queue at any moment, which
// is full right after each device request and drains by at most one of the
// server's requests for more (a fraction of a block) before SDL tops it up.
TEST_F(PcmOutputDevice, ServerLatencyAgreesWithWhatPactlSees) {
    FillLog log;
    PcmOutput out;
    ASSERT_TRUE(out.open(log.fill(), 4096));
    out.start();
    // A sink that has just woken up first holds a long queue of silence
    // (about 2 s on the null sink); the measure follows it down. pactl's own
    // round trips on a busy machine can catch the server in a burst: most of
    // its readings, not all, must fall in the range.
    constexpr int64_t kAboveUs = 8000, kBelowUs = 50000;
    const auto end = Clock::now() + std::chrono::seconds(15);
    std::vector<int64_t> seen;
    int64_t share = 0;
    int inRange = 0;
    while (Clock::now() < end && inRange < 6) {
        seen.clear();
        for (int i = 0; i < 8; ++i) {
            seen.push_back(pactlQueuedUs(out.streamName()));
            std::this_thread::sleep_for(std::chrono::milliseconds(37));
        }
        share = out.serverLatencyUs();
        inRange = int(std::count_if(seen.begin(), seen.end(), [&](int64_t q) {
            return q >= 0 && q <= share + kAboveUs && q >= share - kBelowUs;
        }));
    }
    ASSERT_GT(share, 0) << "no latency measured for " << out.streamName();
    EXPECT_GE(inRange, 6) << "measured share " << share << ", pactl " << ::testing::PrintToString(seen);
    EXPECT_LE(out.bufferedSeconds(), (16384 + 0.0) / 176400.0 + share / 1e6 + 1e-9);
    out.close();
    EXPECT_EQ(out.serverLatencyUs(), 0);
}
