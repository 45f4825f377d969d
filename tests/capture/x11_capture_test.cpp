// The X11 source against a private Xvfb: known colours at known places, the
// cursor painted with its top-left corner at the pointer.
// gtest first: Xlib's macros (None, Bool, ...) clash with its names.
#include <gtest/gtest.h>

#include "capture/colour_window.h"
#include "capture/screen_capture_service.h"
#include "platform/screen_grabber.h"

#include <X11/Xlib.h>
#include <X11/cursorfont.h>
#include <X11/extensions/Xfixes.h>

#include <cstring>
#include <vector>

using testing_support::ColourWindow;
using testing_support::PrivateXvfb;

namespace {

struct Bgr {
    int b, g, r;
    bool operator==(const Bgr& o) const { return b == o.b && g == o.g && r == o.r; }
};

Bgr pixelAt(const uint8_t* data, int stride, int x, int y) {
    const uint8_t* p = data + size_t(y) * stride + size_t(x) * 4;
    return {p[0], p[1], p[2]};
}

::testing::AssertionResult hasColour(const uint8_t* data, int stride, int x, int y,
                                     unsigned long rgb) {
    const Bgr got = pixelAt(data, stride, x, y);
    const Bgr want{int(rgb & 0xff), int((rgb >> 8) & 0xff), int((rgb >> 16) & 0xff)};
    if (got == want) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") is b" << got.b << " g"
                                         << got.g << " r" << got.r << ", want b" << want.b << " g"
                                         << want.g << " r" << want.r;
}

}  // namespace

TEST(X11Capture, WindowColoursAppearAtTheirScreenPlace) {
    PrivateXvfb xvfb(1920, 1080);
    ASSERT_TRUE(xvfb.ok());
    // Red left half, blue right half, a green 10x10 square at the window's (20, 30).
    ColourWindow window(300, 200, 160, 80,
                        {{0, 0, 80, 80, 0xff0000}, {80, 0, 80, 80, 0x0000ff}, {20, 30, 10, 10, 0x00ff00}});
    ASSERT_TRUE(window.ok());

    capture::ScreenCaptureService service(platform::makeX11ScreenGrabber(), nullptr, nullptr);
    const int64_t token = service.start(20.0f);
    ASSERT_EQ(service.width(), 1920);
    ASSERT_EQ(service.height(), 1080);
    {
        capture::FrameAccess frame = service.lockFrame();
        ASSERT_TRUE(bool(frame));
        const uint8_t* d = frame.data();
        const int s = frame.stride();
        EXPECT_TRUE(hasColour(d, s, 300, 200, 0xff0000));  // top-left corner
        EXPECT_TRUE(hasColour(d, s, 379, 279, 0xff0000));
        EXPECT_TRUE(hasColour(d, s, 380, 200, 0x0000ff));
        EXPECT_TRUE(hasColour(d, s, 459, 279, 0x0000ff));  // bottom-right corner
        EXPECT_TRUE(hasColour(d, s, 320, 230, 0x00ff00));
        EXPECT_TRUE(hasColour(d, s, 329, 239, 0x00ff00));
        EXPECT_TRUE(hasColour(d, s, 330, 240, 0xff0000));
        EXPECT_FALSE(hasColour(d, s, 299, 200, 0xff0000));  // just outside
        EXPECT_FALSE(hasColour(d, s, 460, 279, 0x0000ff));
    }
    // Later changes show up in the shared frame.
    window.setFills({{0, 0, 160, 80, 0xffff00}});
    bool changed = false;
    for (int i = 0; i < 200 && !changed; ++i) {
        {
            capture::FrameAccess frame = service.lockFrame();
            changed = hasColour(frame.data(), frame.stride(), 400, 250, 0xffff00);
        }
        if (!changed) usleep(10000);
    }
    EXPECT_TRUE(changed);
    service.stop(token);
    EXPECT_EQ(service.width(), 0);
}

TEST(X11Capture, CursorIsPaintedOnlyWhenAskedWithItsTopLeftAtThePointer) {
    PrivateXvfb xvfb(800, 600);
    ASSERT_TRUE(xvfb.ok());
    ColourWindow window(0, 0, 800, 600, {{0, 0, 800, 600, 0x808080}});
    ASSERT_TRUE(window.ok());
    window.useCursor(XC_crosshair);
    XWarpPointer(window.display(), None, DefaultRootWindow(window.display()), 0, 0, 0, 0, 400, 300);
    XSync(window.display(), False);

    auto grabber = platform::makeX11ScreenGrabber();
    ASSERT_TRUE(grabber->open());
    ASSERT_EQ(grabber->width(), 800);
    ASSERT_EQ(grabber->height(), 600);
    std::vector<uint8_t> plain(800 * 600 * 4), withCursor(800 * 600 * 4);
    ASSERT_TRUE(grabber->grab(plain.data(), 800 * 4, false));
    ASSERT_TRUE(grabber->grab(withCursor.data(), 800 * 4, true));
    grabber->close();
    EXPECT_EQ(grabber->width(), 0);

    for (int y = 250; y < 350; ++y)
        for (int x = 350; x < 450; ++x)
            ASSERT_TRUE(hasColour(plain.data(), 800 * 4, x, y, 0x808080));

    XFixesCursorImage* cursor = XFixesGetCursorImage(window.display());
    ASSERT_NE(cursor, nullptr);
    ASSERT_EQ(cursor->x, 400);
    ASSERT_EQ(cursor->y, 300);
    int opaque = 0, differing = 0;
    for (int j = 0; j < cursor->height; ++j) {
        for (int i = 0; i < cursor->width; ++i) {
            const uint32_t p = uint32_t(cursor->pixels[j * cursor->width + i]);
            if ((p >> 24) != 0xff) continue;
            ++opaque;
            const Bgr got = pixelAt(withCursor.data(), 800 * 4, 400 + i, 300 + j);
            if (!(got == Bgr{int(p & 0xff), int((p >> 8) & 0xff), int((p >> 16) & 0xff)})) ++differing;
        }
    }
    XFree(cursor);
    EXPECT_GT(opaque, 10);
    EXPECT_EQ(differing, 0);
    // Nothing is painted above or left of the pointer.
    for (int x = 380; x < 400; ++x)
        EXPECT_TRUE(hasColour(withCursor.data(), 800 * 4, x, 299, 0x808080));
}

TEST(X11Capture, WithoutSharedMemoryThePlainImageRequestGivesTheSamePixels) {
    PrivateXvfb xvfb(640, 480, {"-extension", "MIT-SHM"});
    ASSERT_TRUE(xvfb.ok());
    ColourWindow window(10, 20, 100, 50, {{0, 0, 50, 50, 0x123456}, {50, 0, 50, 50, 0xabcdef}});
    ASSERT_TRUE(window.ok());
    auto grabber = platform::makeX11ScreenGrabber();
    ASSERT_TRUE(grabber->open());
    std::vector<uint8_t> picture(640 * 480 * 4);
    ASSERT_TRUE(grabber->grab(picture.data(), 640 * 4, false));
    EXPECT_TRUE(hasColour(picture.data(), 640 * 4, 10, 20, 0x123456));
    EXPECT_TRUE(hasColour(picture.data(), 640 * 4, 109, 69, 0xabcdef));
    EXPECT_FALSE(hasColour(picture.data(), 640 * 4, 110, 69, 0xabcdef));
}

TEST(X11Capture, BlendingFollowsAlphaAndClipsAtTheEdges) {
    std::vector<uint8_t> picture(4 * 4 * 4, 100);
    // 2x2 cursor: opaque white, transparent, half-transparent premultiplied red, opaque black.
    const uint32_t cursor[4] = {0xffffffff, 0x00000000, 0x80800000, 0xff000000};
    platform::blendCursor(picture.data(), 16, 4, 4, cursor, 2, 2, 3, 3);  // only (3,3) lands
    EXPECT_EQ(picture[(3 * 4 + 3) * 4 + 0], 255);
    EXPECT_EQ(picture[(2 * 4 + 2) * 4 + 0], 100);
    platform::blendCursor(picture.data(), 16, 4, 4, cursor, 2, 2, 0, 0);
    EXPECT_EQ(picture[0], 255);                      // opaque white
    EXPECT_EQ(picture[4], 100);                      // transparent
    EXPECT_EQ(picture[16 + 2], 0x80 + 50);           // red: 128 + 100 * 127 / 255
    EXPECT_EQ(picture[16 + 0], 50);                  // blue: 100 * 127 / 255
    EXPECT_EQ(picture[16 + 4], 0);                   // opaque black
    platform::blendCursor(picture.data(), 16, 4, 4, cursor, 2, 2, -5, -5);  // fully outside
}

TEST(X11Capture, NoDisplayMeansNoSource) {
    const char* old = std::getenv("DISPLAY");
    const std::string saved = old ? old : "";
    ::setenv("DISPLAY", ":4999", 1);
    auto grabber = platform::makeX11ScreenGrabber();
    EXPECT_FALSE(grabber->open());
    EXPECT_EQ(grabber->width(), 0);
    capture::ScreenCaptureService service(platform::makeX11ScreenGrabber(), nullptr, nullptr);
    const int64_t t = service.start(20.0f);
    EXPECT_EQ(service.width(), 0);
    service.stop(t);
    if (old)
        ::setenv("DISPLAY", saved.c_str(), 1);
    else
        ::unsetenv("DISPLAY");
}
