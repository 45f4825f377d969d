#include "tools_overlay/overlay_env.h"

#include "core/overlay_flags.h"
#include "core/pointer_forward.h"
#include "core/window_messages.h"
#include "protocol/message_names.h"
#include "tools/brush_wnd.h"
#include "tools/spotlight_model.h"
#include "tools/spotlight_wnd.h"


#include <gtest/gtest.h>

using namespace overlay_test;
using tools::SpotlightModel;
using tools::SpotlightWnd;

namespace {

int64_t packed(int dx, int dy) {
    return static_cast<int64_t>((static_cast<uint32_t>(static_cast<uint16_t>(dx)) << 16) |
                                static_cast<uint16_t>(dy));
}

TEST(SpotlightGeometry, RadiusLimitsCornerClampAndEverySecondMove) {
    SpotlightModel m;
    m.start(1920, 1080);
    for (int i = 0; i < 30; ++i) m.resize(true);
    EXPECT_EQ(m.radius, 472);  // 1080 * 7 / 16
    for (int i = 0; i < 30; ++i) m.resize(false);
    EXPECT_EQ(m.radius, 100);

    m.radius = 240;
    m.moveTo({0, 0});
    EXPECT_EQ(m.drawnCentre(), QPoint(240, 240));
    EXPECT_EQ(m.spotX, 0);  // the stored centre stays at the corner
    m.moveTo({1920, 1080});
    EXPECT_EQ(m.drawnCentre(), QPoint(1680, 840));

    m.start(1920, 1080);
    for (int i = 0; i < 10; ++i) m.movePacked(packed(4, 0));
    EXPECT_EQ(m.spotX, 960 + 20);
    EXPECT_EQ(m.spotY, 540);
    EXPECT_FALSE(m.movePacked(packed(0, 0)));
    m.movePacked(packed(-3000, -7));
    m.movePacked(packed(-3000, -7));
    EXPECT_EQ(m.spotX, 0);  // kept on the screen
    EXPECT_EQ(m.spotY, 533);
}

TEST(SpotlightGeometry, BandShowsTheStripAroundTheSpotAcrossTheWidth) {
    SpotlightModel m;
    m.start(1920, 1080);
    m.shape = SpotlightModel::Band;
    m.magnify = true;
    m.radius = 100;
    m.moveTo({100, 300});
    EXPECT_EQ(m.magnifySource(), QRect(0, 250, 960, 100));  // centre kept a quarter in
    EXPECT_EQ(m.magnifyTarget(), QRect(0, 200, 1920, 200));
    EXPECT_EQ(m.litArea().boundingRect(), QRectF(0, 200, 1920 - 32, 200));
    m.magnify = false;
    EXPECT_EQ(m.litArea().boundingRect(), QRectF(16, 200, 1920 - 32, 200));
    m.nextShape();
    EXPECT_EQ(m.shape, SpotlightModel::Circle);
}

class SpotlightScreen : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        env = std::make_unique<Env>(GetParam());
        if (!env->ok()) GTEST_SKIP() << "no Xvfb";
        spot = std::make_unique<SpotlightWnd>(phones.link());
    }
    void TearDown() override {
        spot.reset();
        env.reset();
    }
    Phones phones;
    std::unique_ptr<Env> env;
    std::unique_ptr<SpotlightWnd> spot;
};

// Dark: almost nothing of the screen shows through the shade.
bool dark(QRgb c) { return qRed(c) < 16 && qGreen(c) < 16 && qBlue(c) < 16; }
bool yellow(QRgb c) { return qRed(c) > 230 && qGreen(c) > 230 && qBlue(c) < 40; }

TEST_P(SpotlightScreen, LitCircleFollowsTheDragAndThePhone) {
    spot->handle(core::UM_SPOT, 1, 0, nullptr);
    spot->handle(core::UM_SPOT, 1, 0, nullptr);  // already shown: nothing
    EXPECT_TRUE(testOverlay().spotlightActive.load());
    QImage shot = Env::grabWhen([](const QImage& s) { return dark(s.pixel(100, 1000)); });
    EXPECT_TRUE(near(shot.pixel(960, 540), kBackground, 30)) << hex(shot.pixel(960, 540));
    EXPECT_TRUE(dark(shot.pixel(100, 1000))) << hex(shot.pixel(100, 1000));
    EXPECT_TRUE(dark(shot.pixel(960, 540 - 240 - 20)));
    EXPECT_TRUE(yellow(shot.pixel(960, 540 - 240))) << hex(shot.pixel(960, 540 - 240));

    // Dragged into the corner: drawn whole, centred one radius in.
    mouse(*spot, QEvent::MouseButtonPress, QPoint(500, 500));
    mouse(*spot, QEvent::MouseMove, QPoint(3, 3));
    mouse(*spot, QEvent::MouseButtonRelease, QPoint(0, 0));
    shot = Env::grabWhen([](const QImage& s) { return dark(s.pixel(960, 540)); });
    EXPECT_TRUE(dark(shot.pixel(960, 540)));
    EXPECT_TRUE(near(shot.pixel(240, 300), kBackground, 30)) << hex(shot.pixel(240, 300));
    EXPECT_TRUE(yellow(shot.pixel(240, 480))) << hex(shot.pixel(240, 480));

    // From the middle, ten phone moves of (+4, 0): 20 pixels to the right.
    spot->handle(core::UM_SPOT, 0, 0, nullptr);
    spot->handle(core::UM_SPOT, 1, 0, nullptr);
    Env::waitUntil([&] { return !spot->showPending(); });
    for (int i = 0; i < 10; ++i) spot->handle(core::UM_SPOT, 5, packed(4, 0), nullptr);
    shot = Env::grabWhen([](const QImage& s) { return yellow(s.pixel(960 + 20 + 240, 540)); });
    EXPECT_TRUE(yellow(shot.pixel(980 + 240, 540))) << hex(shot.pixel(980 + 240, 540));
    EXPECT_TRUE(yellow(shot.pixel(980 - 240, 540))) << hex(shot.pixel(980 - 240, 540));
    EXPECT_TRUE(dark(shot.pixel(980 - 240 - 12, 540)));

    spot->handle(core::UM_SPOT, 0, 0, nullptr);
    spot->handle(core::UM_SPOT, 0, 0, nullptr);  // already hidden: nothing
    EXPECT_FALSE(testOverlay().spotlightActive.load());
    // Commands that need the spotlight shown do nothing while it is hidden.
    spot->handle(core::UM_SPOT, 4, 1, nullptr);
    spot->handle(core::UM_SPOT, 3, 0, nullptr);
    EXPECT_EQ(spot->model().radius, 240);
    EXPECT_EQ(spot->model().shape, 0);
    EXPECT_EQ(phones.states(protocol::MsgSpotState), (std::vector<int>{1, 0, 1, 0}));
}

TEST_P(SpotlightScreen, MagnifyShowsTheScreenUnderTheSpotTwiceAsLarge) {
    Marker marker(QRect(950, 530, 20, 20), 0xFFFF00FF);
    Env::settle(100);
    spot->showSpot();
    spot->handle(core::UM_SPOT, 2, 0, nullptr);
    const QImage shot = Env::grabWhen([](const QImage& s) { return near(s.pixel(943, 523), 0xFFFF00FF, 12); });
    // The 20-pixel square is now 40 pixels wide around the same centre.
    EXPECT_TRUE(near(shot.pixel(943, 523), 0xFFFF00FF, 12)) << hex(shot.pixel(943, 523));
    EXPECT_TRUE(near(shot.pixel(977, 557), 0xFFFF00FF, 12));
    EXPECT_TRUE(near(shot.pixel(935, 540), kBackground, 30)) << hex(shot.pixel(935, 540));
    EXPECT_TRUE(dark(shot.pixel(100, 1000)));
}

// What the class sees in the live stream: ink and the spotlight over it.
TEST_P(SpotlightScreen, CaptureHoldsInkInTheLitAreaAndTheDarkSurround) {
    tools::BrushWnd brush(phones.link());
    brush.showOverlay();
    brush.setColor(0xFF8800);
    brush.setSize(10);
    testPointer().record = {700, 540, false, true};
    brush.handle(core::UM_BRUSH, 4, 0, nullptr);
    testPointer().record = {1300, 540, true, false};
    brush.handle(core::UM_BRUSH, 4, 0, nullptr);
    ASSERT_FALSE(Env::grabWhen([](const QImage& s) { return near(s.pixel(960, 540), 0xFFFF8800, 8); }).isNull());

    spot->showSpot();
    const QImage frame = Env::grabWhen([](const QImage& s) { return dark(s.pixel(1250, 540)); });
    // Lit: the ink with the spotlight's faint white over it.
    EXPECT_TRUE(near(frame.pixel(960, 540), 0xFFFF8800, 24)) << hex(frame.pixel(960, 540));
    EXPECT_TRUE(near(frame.pixel(800, 540), 0xFFFF8800, 24));
    // Outside the lit circle the ink is shaded like the rest.
    EXPECT_TRUE(dark(frame.pixel(1250, 540))) << hex(frame.pixel(1250, 540));
    EXPECT_TRUE(dark(frame.pixel(300, 300)));
    brush.hideOverlay();
}

// Opening the spotlight hides the annotation first (the hub does so): the
// spotlight's picture of the screen must not hold the ink that just went.
TEST_P(SpotlightScreen, ReplacingTheAnnotationLeavesNoInkInItsPicture) {
    Marker page(QRect(600, 300, 700, 500), 0xFFFFFFFF);  // a window under the ink
    Env::settle(100);
    tools::BrushWnd brush(phones.link());
    brush.showOverlay();
    brush.setColor(0xFF0000);
    brush.setSize(16);
    testPointer().record = {700, 540, false, true};
    brush.handle(core::UM_BRUSH, 4, 0, nullptr);
    testPointer().record = {1200, 540, true, false};
    brush.handle(core::UM_BRUSH, 4, 0, nullptr);
    ASSERT_FALSE(Env::grabWhen([](const QImage& s) { return near(s.pixel(960, 540), 0xFFFF0000, 8); }).isNull());

    brush.hideOverlay();
    spot->showSpot();
    spot->handle(core::UM_SPOT, 2, 0, nullptr);  // not yet shown: ignored
    EXPECT_TRUE(spot->isVisible());
    Env::waitUntil([&] { return !spot->showPending(); });
    spot->handle(core::UM_SPOT, 2, 0, nullptr);  // magnify: the picture itself fills the spot
    const QImage frame = Env::grabWhen([](const QImage& s) { return near(s.pixel(960, 600), 0xFFFFFFFF, 30); });
    for (int x = 760; x <= 1160; x += 50)
        EXPECT_TRUE(near(frame.pixel(x, 540), 0xFFFFFFFF, 30)) << x << " " << hex(frame.pixel(x, 540));
}

INSTANTIATE_TEST_SUITE_P(Compositing, SpotlightScreen, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "xcompmgr" : "plainX"; });

}  // namespace
