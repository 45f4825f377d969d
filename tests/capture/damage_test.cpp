// Capture driven by what changed: a still screen is not grabbed again, a
// change is grabbed row by row, the painted pointer follows the pointer, and
// without X DAMAGE every frame is grabbed whole as before.
// gtest first: Xlib's macros (None, Bool, ...) clash with its names.
#include <gtest/gtest.h>

#include "capture/colour_window.h"
#include "capture/screen_capture_service.h"
#include "common/eventually.h"
#include "platform/fakes/fake_screen_grabber.h"
#include "platform/screen_grabber.h"

#include <X11/Xlib.h>
#include <X11/cursorfont.h>

#include <chrono>
#include <thread>
#include <vector>

using testing_support::ColourWindow;
using testing_support::eventually;
using testing_support::PrivateXvfb;
using namespace std::chrono_literals;

namespace {

uint32_t pixel(const capture::FrameAccess& frame, int x, int y) {
    const uint8_t* p = frame.data() + size_t(y) * frame.stride() + size_t(x) * 4;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

bool frameShows(capture::ScreenCaptureService& service, int x, int y, uint32_t rgb) {
    capture::FrameAccess frame = service.lockFrame();
    return frame && pixel(frame, x, y) == rgb;
}

}  // namespace

TEST(FrameChanges, RowsSinceJoinKnownPicturesAndGiveUpOnUnknownOnes) {
    capture::FrameChanges changes;
    std::vector<capture::RowSpan> rows;
    EXPECT_FALSE(changes.rowsSince(5, rows));  // a serial from the future
    changes.record({{0, 100}});               // serial 1
    changes.record({{10, 20}, {50, 60}});     // 2
    changes.record({{15, 30}});               // 3
    ASSERT_TRUE(changes.rowsSince(3, rows));
    EXPECT_TRUE(rows.empty());
    ASSERT_TRUE(changes.rowsSince(1, rows));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].begin, 10);
    EXPECT_EQ(rows[0].end, 30);
    EXPECT_EQ(rows[1].begin, 50);
    ASSERT_TRUE(changes.rowsSince(0, rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].end, 100);
    // Older than what is kept: every row counts.
    for (size_t i = 0; i < capture::FrameChanges::kKept; ++i) changes.record({{1, 2}});
    EXPECT_FALSE(changes.rowsSince(2, rows));
    EXPECT_TRUE(changes.rowsSince(changes.serial() - 1, rows));
    // A new run forgets every earlier picture.
    changes.reset();
    EXPECT_FALSE(changes.rowsSince(changes.serial() - 1, rows));
}

TEST(DamageCapture, TrackingSourceGrabsOnlyOnChangesAndNoFasterThanTheRate) {
    auto owned = std::make_unique<platform::FakeScreenGrabber>(64, 32);
    platform::FakeScreenGrabber* fake = owned.get();
    fake->tracking = true;
    capture::ScreenCaptureService service(std::move(owned), nullptr, nullptr);
    const int64_t token = service.start(5.0f);  // one grab per 200 ms at most
    EXPECT_TRUE(service.tracksChanges());
    EXPECT_EQ(fake->captures.load(), 1);  // the first picture
    const uint64_t first = service.frameSerial();
    EXPECT_FALSE(service.waitForFrame(first, 300));
    EXPECT_EQ(fake->captures.load(), 1);

    // Three changes in quick succession: the first is grabbed, the other two
    // together no sooner than one interval later.
    fake->change({0, 4, 64, 2});
    ASSERT_TRUE(service.waitForFrame(first, 2000));
    fake->change({0, 10, 64, 1});
    fake->change({0, 20, 64, 3});
    ASSERT_TRUE(eventually([&] { return service.frameSerial() == first + 2; }));
    EXPECT_EQ(fake->captures.load(), 3);
    const auto times = fake->captureTimes();
    ASSERT_EQ(times.size(), 3u);
    EXPECT_GE(times[2] - times[1], 150ms);  // the rate holds (200 ms less the clock's slack)
    {
        capture::FrameAccess frame = service.lockFrame();
        std::vector<capture::RowSpan> rows;
        ASSERT_TRUE(frame.rowsSince(first, rows));
        ASSERT_EQ(rows.size(), 3u);
        EXPECT_EQ(rows[0].begin, 4);
        EXPECT_EQ(rows[2].end, 23);
        ASSERT_TRUE(frame.rowsSince(first + 1, rows));
        EXPECT_EQ(rows.size(), 2u);
    }
    service.stop(token);
}

TEST(DamageCapture, StillScreenIsNotGrabbedAgainAndACornerChangeGrabsItsRows) {
    PrivateXvfb xvfb(800, 600);
    ASSERT_TRUE(xvfb.ok());
    ColourWindow background(0, 0, 800, 600, {{0, 0, 800, 600, 0x204060}});
    ColourWindow corner(760, 0, 40, 30, {{0, 0, 40, 30, 0x204060}});
    ASSERT_TRUE(background.ok() && corner.ok());

    capture::ScreenCaptureService service(platform::makeX11ScreenGrabber(), nullptr, nullptr);
    const int64_t token = service.start(20.0f);
    ASSERT_TRUE(service.tracksChanges());
    // What was drawn before the start may still arrive once; then nothing.
    std::this_thread::sleep_for(200ms);
    const uint64_t grabs = service.grabCount();
    const uint64_t serial = service.frameSerial();
    EXPECT_FALSE(service.waitForFrame(serial, 500));
    EXPECT_EQ(service.grabCount(), grabs);

    corner.setFills({{0, 0, 40, 30, 0xff8000}});
    ASSERT_TRUE(eventually([&] { return frameShows(service, 790, 10, 0xff8000); }));
    {
        capture::FrameAccess frame = service.lockFrame();
        std::vector<capture::RowSpan> rows;
        ASSERT_TRUE(frame.rowsSince(serial, rows));
        ASSERT_FALSE(rows.empty());
        EXPECT_LE(rows.front().begin, 0);
        EXPECT_GE(rows.back().end, 30);
        EXPECT_LT(rows.back().end, 100);  // the corner's rows, not the screen
        EXPECT_EQ(pixel(frame, 759, 10), 0x204060u);
        EXPECT_EQ(pixel(frame, 790, 29), 0xff8000u);
        EXPECT_EQ(pixel(frame, 790, 30), 0x204060u);
    }
    service.stop(token);
}

TEST(DamageCapture, PaintedPointerFollowsThePointerOnAStillScreen) {
    PrivateXvfb xvfb(640, 480);
    ASSERT_TRUE(xvfb.ok());
    ColourWindow background(0, 0, 640, 480, {{0, 0, 640, 480, 0x808080}});
    ASSERT_TRUE(background.ok());
    background.useCursor(XC_crosshair);
    Display* d = background.display();
    XWarpPointer(d, 0, DefaultRootWindow(d), 0, 0, 0, 0, 100, 100);
    XSync(d, False);

    capture::ScreenCaptureService service(platform::makeX11ScreenGrabber(), nullptr, nullptr);
    service.drawCursor = true;
    const int64_t token = service.start(20.0f);
    ASSERT_TRUE(service.tracksChanges());
    auto cursorAround = [&](int x0, int y0) {
        capture::FrameAccess frame = service.lockFrame();
        int differing = 0;
        for (int y = y0; y < y0 + 16; ++y)
            for (int x = x0; x < x0 + 16; ++x) differing += pixel(frame, x, y) != 0x808080u;
        return differing;
    };
    ASSERT_TRUE(eventually([&] { return cursorAround(100, 100) > 5; }));

    const uint64_t before = service.grabCount();
    XWarpPointer(d, 0, DefaultRootWindow(d), 0, 0, 0, 0, 400, 300);
    XSync(d, False);
    ASSERT_TRUE(eventually([&] { return cursorAround(400, 300) > 5; }));
    // The old drawing is gone, pixel for pixel, and the screen was not grabbed whole.
    EXPECT_EQ(cursorAround(100, 100), 0);
    EXPECT_GT(service.grabCount(), before);
    {
        capture::FrameAccess frame = service.lockFrame();
        std::vector<capture::RowSpan> rows;
        ASSERT_TRUE(frame.rowsSince(frame.serial() - 1, rows));
        int changed = 0;
        for (const auto& r : rows) changed += r.end - r.begin;
        EXPECT_LT(changed, 200);
    }
    // When the pointer is no longer painted, its drawing goes at once.
    service.drawCursor = false;
    ASSERT_TRUE(eventually([&] { return cursorAround(400, 300) == 0; }));
    service.stop(token);
}

TEST(DamageCapture, WithoutDamageEveryFrameIsGrabbedWholeAtTheRate) {
    PrivateXvfb xvfb(320, 240, {"-extension", "DAMAGE"});
    ASSERT_TRUE(xvfb.ok());
    ColourWindow background(0, 0, 320, 240, {{0, 0, 320, 240, 0x102030}});
    ASSERT_TRUE(background.ok());
    capture::ScreenCaptureService service(platform::makeX11ScreenGrabber(), nullptr, nullptr);
    const int64_t token = service.start(20.0f);
    EXPECT_FALSE(service.tracksChanges());
    EXPECT_TRUE(frameShows(service, 10, 10, 0x102030));
    const uint64_t grabs = service.grabCount();
    ASSERT_TRUE(eventually([&] { return service.grabCount() >= grabs + 3; }));
    {
        capture::FrameAccess frame = service.lockFrame();
        std::vector<capture::RowSpan> rows;
        ASSERT_TRUE(frame.rowsSince(frame.serial() - 1, rows));
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].begin, 0);
        EXPECT_EQ(rows[0].end, 240);
    }
    background.setFills({{0, 0, 320, 240, 0xa0b0c0}});
    EXPECT_TRUE(eventually([&] { return frameShows(service, 10, 10, 0xa0b0c0); }));
    service.stop(token);
}
