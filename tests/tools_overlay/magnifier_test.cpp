#include "tools_overlay/overlay_env.h"

#include "core/overlay_flags.h"
#include "protocol/message_names.h"
#include "tools/magnifier_wnd.h"


#include <gtest/gtest.h>

#include <thread>

using namespace overlay_test;
using tools::MagniferWnd;

namespace {

constexpr QRgb kMagenta = 0xFFFF00FF;

// The screen grows around the 20-pixel square at its centre by the factor;
// the zoom keys arrive on a session thread.
TEST(Magnifier, EnlargesByItsFactorPansWithTheHandAndKeepsTheFactor) {
    Env env(false);
    if (!env.ok()) GTEST_SKIP() << "no Xvfb";
    Phones phones;
    Marker marker(QRect(950, 530, 20, 20), kMagenta);
    Env::settle(100);
    MagniferWnd glass(phones.link());
    glass.zoom(0.1f);  // hidden: nothing
    EXPECT_FLOAT_EQ(glass.factor(), 2.0f);

    glass.handle(0x489, 1, 0, nullptr);
    glass.showWindow();  // already shown: nothing
    EXPECT_TRUE(testOverlay().magnifierActive.load());
    QImage shot = Env::grabWhen([](const QImage& s) { return near(s.pixel(943, 523), kMagenta, 8); });
    EXPECT_TRUE(near(shot.pixel(943, 523), kMagenta, 8)) << hex(shot.pixel(943, 523));
    EXPECT_TRUE(near(shot.pixel(977, 557), kMagenta, 8));
    EXPECT_TRUE(near(shot.pixel(936, 540), kBackground, 8)) << hex(shot.pixel(936, 540));

    std::thread keys([&] {
        for (int i = 0; i < 30; ++i) glass.zoom(0.1f);
    });
    keys.join();
    EXPECT_FLOAT_EQ(glass.factor(), 4.0f);
    shot = Env::grabWhen([](const QImage& s) { return near(s.pixel(923, 503), kMagenta, 8); });
    EXPECT_TRUE(near(shot.pixel(923, 503), kMagenta, 8)) << hex(shot.pixel(923, 503));
    EXPECT_TRUE(near(shot.pixel(997, 577), kMagenta, 8));

    // Dragging 100 pixels to the right moves the picture with the hand.
    mouse(glass, QEvent::MouseButtonPress, QPoint(960, 540));
    mouse(glass, QEvent::MouseMove, QPoint(1060, 540));
    mouse(glass, QEvent::MouseButtonRelease, QPoint(1060, 540));
    EXPECT_EQ(glass.view(), QPoint(935, 540));
    shot = Env::grabWhen([](const QImage& s) { return near(s.pixel(1030, 540), kMagenta, 8); });
    EXPECT_TRUE(near(shot.pixel(1030, 540), kMagenta, 8)) << hex(shot.pixel(1030, 540));
    EXPECT_FALSE(near(shot.pixel(925, 540), kMagenta, 40));

    // Panning stops at the screen's edge.
    for (int i = 0; i < 2; ++i) {
        mouse(glass, QEvent::MouseButtonPress, QPoint(0, 0));
        mouse(glass, QEvent::MouseMove, QPoint(1919, 1079));
        mouse(glass, QEvent::MouseButtonRelease, QPoint(1919, 1079));
    }
    EXPECT_EQ(glass.view(), QPoint(240, 135));

    testOverlay().annotationForwarding = true;
    glass.handle(0x489, 0, 0, nullptr);
    glass.hideWindow();  // already hidden: nothing
    EXPECT_FALSE(testOverlay().magnifierActive.load());
    EXPECT_FALSE(testOverlay().annotationForwarding.load());
    for (int i = 0; i < 50; ++i) glass.zoom(-0.1f);  // hidden: ignored
    glass.showGlass();
    EXPECT_TRUE(glass.isVisible());  // for the hub, while the screen repaints
    Env::waitUntil([&] { return !glass.showPending(); });
    EXPECT_FLOAT_EQ(glass.factor(), 4.0f);  // kept between showings
    EXPECT_EQ(glass.view(), QPoint(960, 540));
    for (int i = 0; i < 50; ++i) glass.zoom(-0.1f);
    EXPECT_FLOAT_EQ(glass.factor(), 2.0f);
    glass.hideGlass();
    EXPECT_EQ(phones.states(protocol::MsgGlassState), (std::vector<int>{1, 0, 1, 0}));
}

}  // namespace
