// The capture service's consumer, rate and frame rules against a fake source.
#include "capture/screen_capture_service.h"
#include "common/eventually.h"
#include "platform/fakes/fake_screen_grabber.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;

namespace {

using testing_support::eventually;

struct Fixture {
    explicit Fixture(int w = 64, int h = 32) {
        auto grabber = std::make_unique<platform::FakeScreenGrabber>(w, h);
        fake = grabber.get();
        service = std::make_unique<capture::ScreenCaptureService>(std::move(grabber), nullptr, nullptr);
    }
    platform::FakeScreenGrabber* fake;
    std::unique_ptr<capture::ScreenCaptureService> service;
};

}  // namespace

TEST(CaptureService, RateIsTheFastestConsumerButNeverBelowFive) {
    Fixture f;
    auto& s = *f.service;
    EXPECT_FLOAT_EQ(s.captureRate(), 5.0f);
    const int64_t slow = s.start(2.0f);
    EXPECT_FLOAT_EQ(s.captureRate(), 5.0f);
    const int64_t fast = s.start(20.0f);
    EXPECT_FLOAT_EQ(s.captureRate(), 20.0f);
    EXPECT_NE(slow, fast);
    s.stop(fast);
    EXPECT_FLOAT_EQ(s.captureRate(), 5.0f);
    EXPECT_EQ(s.consumerCount(), 1u);
    s.stop(slow);
    EXPECT_EQ(s.consumerCount(), 0u);
    EXPECT_FLOAT_EQ(s.captureRate(), 5.0f);
}

TEST(CaptureService, UnknownTokenStillUnregistersOneConsumer) {
    Fixture f;
    auto& s = *f.service;
    s.start(12.0f);
    const int64_t b = s.start(25.0f);
    s.start(8.0f);
    s.stop(b + 123456789);  // never issued
    EXPECT_EQ(s.consumerCount(), 2u);
    EXPECT_FLOAT_EQ(s.captureRate(), 25.0f);  // all three entries remain
    s.stop(b);
    EXPECT_EQ(s.consumerCount(), 1u);
    EXPECT_FLOAT_EQ(s.captureRate(), 12.0f);
}

TEST(CaptureService, ConsumersInTheSameMillisecondKeepTheirOwnRates) {
    Fixture f;
    auto& s = *f.service;
    // Registered back to back, most likely within one millisecond.
    const int64_t a = s.start(30.0f);
    const int64_t b = s.start(10.0f);
    const int64_t c = s.start(6.0f);
    EXPECT_NE(a, b);
    EXPECT_NE(b, c);
    s.stop(a);
    EXPECT_FLOAT_EQ(s.captureRate(), 10.0f);
    s.stop(b);
    EXPECT_FLOAT_EQ(s.captureRate(), 6.0f);
    s.stop(c);
}

TEST(CaptureService, StoppedServiceHasNoSizeNoFrameAndIgnoresStop) {
    Fixture f(64, 32);
    auto& s = *f.service;
    EXPECT_EQ(s.width(), 0);
    EXPECT_EQ(s.height(), 0);
    s.stop(42);  // nothing registered: nothing happens
    EXPECT_EQ(s.consumerCount(), 0u);
    EXPECT_FALSE(bool(s.lockFrame()));

    const int64_t t = s.start(20.0f);
    EXPECT_EQ(s.width(), 64);
    EXPECT_EQ(s.height(), 32);
    {
        capture::FrameAccess frame = s.lockFrame();
        ASSERT_TRUE(bool(frame));
        EXPECT_EQ(frame.stride(), 64 * 4);
        // The first picture is in place before start() returns.
        EXPECT_EQ(frame.data()[3], 0xff);
    }
    s.stop(t);
    EXPECT_EQ(s.width(), 0);
    EXPECT_FALSE(bool(s.lockFrame()));
    EXPECT_EQ(f.fake->closes.load(), 1);
    EXPECT_FALSE(f.fake->isOpen.load());
}

TEST(CaptureService, TheThreadKeepsTheSharedFrameFreshAndStopsWithTheLastConsumer) {
    Fixture f;
    auto& s = *f.service;
    s.drawCursor = true;
    const int64_t a = s.start(30.0f);
    const int64_t b = s.start(10.0f);
    ASSERT_TRUE(eventually([&] { return f.fake->captures.load() >= 5; }));
    EXPECT_TRUE(f.fake->lastDrawCursor.load());
    uint8_t first, later;
    {
        auto frame = s.lockFrame();
        first = frame.data()[0];
    }
    ASSERT_TRUE(eventually([&] {
        auto frame = s.lockFrame();
        later = frame.data()[0];
        return later != first;
    }));
    s.stop(a);
    EXPECT_EQ(s.width(), 64);  // one consumer left
    s.stop(b);
    const int captures = f.fake->captures.load();
    std::this_thread::sleep_for(250ms);
    EXPECT_EQ(f.fake->captures.load(), captures);  // the thread has ended
    // A new run opens the source again.
    const int64_t c = s.start(5.0f);
    EXPECT_EQ(f.fake->opens.load(), 2);
    EXPECT_EQ(s.width(), 64);
    s.stop(c);
}

TEST(CaptureService, NoSourceMeansSizeZeroButConsumersStillCount) {
    Fixture f;
    f.fake->openResult = false;
    auto& s = *f.service;
    const int64_t t = s.start(20.0f);
    EXPECT_EQ(s.width(), 0);
    EXPECT_EQ(s.consumerCount(), 1u);
    EXPECT_FALSE(bool(s.lockFrame()));
    s.stop(t);
    EXPECT_EQ(s.consumerCount(), 0u);
}

TEST(CaptureService, EveryStartNudgesTheCursorRightLeftAndBack) {
    platform::FakeCursorControl cursor;
    cursor.place(300, 200);
    support::ThreadPool pool(2);
    {
        capture::ScreenCaptureService s(std::make_unique<platform::FakeScreenGrabber>(8, 8), &cursor,
                                        &pool);
        const int64_t t = s.start(20.0f);
        ASSERT_TRUE(eventually([&] { return cursor.moves().size() >= 3; }));
        using P = std::pair<int, int>;
        EXPECT_EQ(cursor.moves(), (std::vector<P>{{301, 200}, {299, 200}, {300, 200}}));
        s.stop(t);
    }
    pool.shutdown();
}

TEST(CaptureService, NudgeLeavesAnUnreadableCursorAloneAndEndsWithTheService) {
    // The service lives until the nudge has asked for the position and
    // finished, so only the unreadable cursor can keep it from moving.
    struct CountingCursor : platform::FakeCursorControl {
        bool cursorPosition(int& x, int& y) override {
            reads.fetch_add(1);
            return FakeCursorControl::cursorPosition(x, y);
        }
        std::atomic<int> reads{0};
    } cursor;
    cursor.readable = false;
    support::ThreadPool pool(2);
    {
        capture::ScreenCaptureService s(std::make_unique<platform::FakeScreenGrabber>(8, 8), &cursor,
                                        &pool);
        s.stop(s.start(20.0f));
        ASSERT_TRUE(eventually([&] { return cursor.reads.load() > 0; }));
        pool.shutdown();  // lets the nudge finish while the service is there
    }
    EXPECT_TRUE(cursor.moves().empty());

    // A service destroyed while its nudge waits never touches the cursor
    // afterwards.
    platform::FakeCursorControl cursor2;
    support::ThreadPool pool2(1);
    {
        capture::ScreenCaptureService s(std::make_unique<platform::FakeScreenGrabber>(8, 8), &cursor2,
                                        &pool2);
        s.start(20.0f);
    }
    pool2.shutdown();
    EXPECT_TRUE(cursor2.moves().empty());
}
