#include "tools_overlay/overlay_env.h"

#include "core/pointer_forward.h"
#include "core/window_messages.h"
#include "tools/brush_wnd.h"
#include "tools/spotlight_wnd.h"
#include "tools/x11_desktop.h"

#include <gtest/gtest.h>

using namespace overlay_test;

namespace {

void redStroke(tools::BrushWnd& brush, int y) {
    brush.setColor(0xFF0000);
    brush.setSize(12);
    testPointer().record = {300, y, false, true};
    brush.handle(core::UM_BRUSH, 4, 0, nullptr);
    testPointer().record = {1600, y, true, false};
    brush.handle(core::UM_BRUSH, 4, 0, nullptr);
}

// A window that comes up over the overlay is put back under it.
TEST(OverlayStacking, RaisedAgainAboveAWindowThatCameLater) {
    Env env(false);
    if (!env.ok()) GTEST_SKIP() << "no Xvfb";
    Phones phones;
    tools::BrushWnd brush(phones.link());
    brush.setKeepOnTopInterval(100);
    brush.showOverlay();
    redStroke(brush, 540);
    ASSERT_FALSE(Env::grabWhen([](const QImage& s) { return near(s.pixel(960, 540), 0xFFFF0000, 8); }).isNull());

    Marker late(QRect(800, 400, 300, 300), 0xFF00FF00);
    late.raise();
    const QImage shot = Env::grabWhen([](const QImage& s) { return near(s.pixel(960, 540), 0xFFFF0000, 8); });
    EXPECT_TRUE(near(shot.pixel(960, 540), 0xFFFF0000, 8)) << hex(shot.pixel(960, 540));
}

// On a desktop with a window manager the overlays stay managed (so they can
// take the keyboard) and still cover the whole screen above a normal window.
TEST(OverlayStacking, WindowManagerKeepsOverlaysFullScreenOnTop) {
    Env env(false, true);
    if (!env.ok()) GTEST_SKIP() << "no Xvfb";
    ASSERT_TRUE(tools::windowManagerRunning());
    Phones phones;
    QWidget normal;  // an ordinary application window, managed and focused
    normal.setGeometry(500, 300, 800, 500);
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::green);
    normal.setPalette(palette);
    normal.setAutoFillBackground(true);
    normal.show();
    normal.activateWindow();
    Env::settle(300);

    tools::BrushWnd brush(phones.link());
    brush.showOverlay();
    Env::waitUntil([&] { return brush.geometry() == QRect(0, 0, 1920, 1080); });
    EXPECT_EQ(brush.geometry(), QRect(0, 0, 1920, 1080));
    EXPECT_FALSE(brush.testAttribute(Qt::WA_X11NetWmWindowTypeDock));
    EXPECT_FALSE(brush.windowFlags() & Qt::X11BypassWindowManagerHint);
    redStroke(brush, 600);
    QImage shot = Env::grabWhen([](const QImage& s) { return near(s.pixel(900, 600), 0xFFFF0000, 8); });
    EXPECT_TRUE(near(shot.pixel(900, 600), 0xFFFF0000, 8)) << hex(shot.pixel(900, 600));
    EXPECT_TRUE(near(shot.pixel(1919, 1079), kBackground, 24));  // no frame, no panel gap
    EXPECT_TRUE(near(shot.pixel(0, 1079), kBackground, 24));

    // The teacher clicks the other window: the overlay stays above it.
    normal.raise();
    normal.activateWindow();
    Env::settle(300);
    shot = Env::grab();
    EXPECT_TRUE(near(shot.pixel(900, 600), 0xFFFF0000, 8)) << hex(shot.pixel(900, 600));
    brush.hideOverlay();

    tools::SpotlightWnd spot(phones.link());
    spot.showSpot();
    Env::waitUntil([&] { return !spot.showPending(); });
    shot = Env::grabWhen([](const QImage& s) { return qGreen(s.pixel(600, 350)) < 16; });
    EXPECT_LT(qGreen(shot.pixel(600, 350)), 16) << hex(shot.pixel(600, 350));  // shaded
    EXPECT_EQ(spot.geometry(), QRect(0, 0, 1920, 1080));
}

}  // namespace
