#include "tools_overlay/overlay_env.h"

#include "core/overlay_flags.h"
#include "core/pointer_forward.h"
#include "core/window_messages.h"
#include "protocol/message_names.h"
#include "tools/brush_wnd.h"

#include <QKeyEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace overlay_test;
using tools::BrushWnd;

namespace {

void forward(BrushWnd& brush, int x, int y, bool down, bool up) {
    testPointer().record = {x, y, up, down};
    brush.handle(core::UM_BRUSH, 4, 0, nullptr);
}

// A straight forwarded stroke from (x0, y) to (x1, y) in 20-pixel steps.
void forwardLine(BrushWnd& brush, int x0, int x1, int y) {
    forward(brush, x0, y, true, false);
    for (int x = x0 + 20; x < x1; x += 20) forward(brush, x, y, false, false);
    forward(brush, x1, y, false, true);
}

void key(QWidget& w, Qt::KeyboardModifiers mods) {
    QKeyEvent e(QEvent::KeyPress, Qt::Key_Z, mods);
    QApplication::sendEvent(&w, &e);
}

// With a compositing manager the overlay is see-through (per-pixel alpha);
// without one it draws over a picture of the screen. Both must look the same
// to the class.
class AnnotationScreen : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        env = std::make_unique<Env>(GetParam());
        if (!env->ok()) GTEST_SKIP() << "no Xvfb";
        brush = std::make_unique<BrushWnd>(phones.link());
    }
    void TearDown() override {
        brush.reset();
        env.reset();
    }
    Phones phones;
    std::unique_ptr<Env> env;
    std::unique_ptr<BrushWnd> brush;
};

constexpr QRgb kOrange = 0xFFFF8800;

TEST_P(AnnotationScreen, ForwardedStrokeShowsInkOfItsColourAndWidthOnlyAlongThePath) {
    brush->handle(core::UM_BRUSH, 1, 0, nullptr);
    EXPECT_EQ(brush->layered(), GetParam());
    brush->handle(core::UM_BRUSH, 2, 0xFF8800, nullptr);
    brush->handle(core::UM_BRUSH, 6, 10, nullptr);
    forwardLine(*brush, 400, 1000, 600);
    const QImage shot = Env::grabWhen([](const QImage& s) { return near(s.pixel(700, 600), kOrange, 8); });
    ASSERT_FALSE(shot.isNull());
    for (int x : {420, 550, 700, 980}) {
        EXPECT_TRUE(near(shot.pixel(x, 600), kOrange, 8)) << x << " " << hex(shot.pixel(x, 600));
        EXPECT_TRUE(near(shot.pixel(x, 603), kOrange, 8)) << x;  // inside a 10-pixel pen
        EXPECT_TRUE(near(shot.pixel(x, 608), kBackground)) << x << " " << hex(shot.pixel(x, 608));
        EXPECT_TRUE(near(shot.pixel(x, 592), kBackground)) << x;
    }
    // Nothing anywhere else (the close button aside).
    for (int y = 150; y < 1080; y += 97)
        for (int x = 5; x < 1800; x += 131) {
            if (std::abs(y - 600) < 12 && x > 385 && x < 1015) continue;
            ASSERT_TRUE(near(shot.pixel(x, y), kBackground)) << x << "," << y << " " << hex(shot.pixel(x, y));
        }
    // The close button is in the top-right corner.
    const QRect close = brush->closeButtonRect();
    EXPECT_EQ(close.right(), 1920 - 3);
    EXPECT_FALSE(near(shot.pixel(close.center()), kBackground));

    brush->handle(core::UM_BRUSH, 3, 0, nullptr);
    const QImage cleared = Env::grabWhen([](const QImage& s) { return near(s.pixel(700, 600), kBackground); });
    EXPECT_TRUE(near(cleared.pixel(700, 600), kBackground)) << hex(cleared.pixel(700, 600));
    EXPECT_TRUE(near(cleared.pixel(420, 603), kBackground));
}

TEST_P(AnnotationScreen, ErasePathRestoresTheBackgroundAndLeavesTheRest) {
    brush->showOverlay();
    brush->setColor(0x00FF00);
    brush->setSize(12);
    forwardLine(*brush, 300, 900, 400);
    ASSERT_FALSE(Env::grabWhen([](const QImage& s) { return near(s.pixel(600, 400), 0xFF00FF00, 8); }).isNull());

    // Erase across the middle: x 500..700, 30 pixels wide, as the phone sends it.
    auto block = std::make_unique<core::StrokeBlock>();
    block->pointRadius = 15;
    block->points = {500.2, 400.0, 600.0, 400.4, 700.0, 400.0};
    brush->handle(core::UM_BRUSH, 5, 0, std::move(block));
    const QImage shot = Env::grabWhen([](const QImage& s) { return near(s.pixel(600, 400), kBackground); });
    EXPECT_TRUE(near(shot.pixel(600, 400), kBackground)) << hex(shot.pixel(600, 400));
    EXPECT_TRUE(near(shot.pixel(550, 405), kBackground));
    EXPECT_TRUE(near(shot.pixel(400, 400), 0xFF00FF00, 8)) << hex(shot.pixel(400, 400));
    EXPECT_TRUE(near(shot.pixel(800, 400), 0xFF00FF00, 8));
    // An erase draws nothing of its own outside its path.
    EXPECT_TRUE(near(shot.pixel(600, 440), kBackground));
    // The stroke list is unchanged by an erase.
    EXPECT_EQ(brush->canvas().strokeCount(), 1u);
}

TEST_P(AnnotationScreen, MirroringClientGetsRedAndBlueExchanged) {
    phones.tag = "win_mira";
    brush->showOverlay();
    brush->setColor(0xFF8800);
    EXPECT_EQ(brush->penColor(), 0xFF0088FFu);
    brush->setSize(10);
    forwardLine(*brush, 400, 1000, 300);  // forwarded ink is kept in every mode
    const QImage shot = Env::grabWhen([](const QImage& s) { return near(s.pixel(700, 300), 0xFF0088FF, 8); });
    EXPECT_TRUE(near(shot.pixel(700, 300), 0xFF0088FF, 8)) << hex(shot.pixel(700, 300));
}

TEST_P(AnnotationScreen, UndoAndRedoFromTheKeyboard) {
    brush->showOverlay();
    // Shown, it takes the keyboard (no window manager runs here to give it).
    EXPECT_TRUE(Env::waitUntil([&] { return QApplication::focusWindow() == brush->windowHandle(); }));
    brush->setColor(0xFF0000);
    forwardLine(*brush, 200, 800, 500);
    forwardLine(*brush, 200, 800, 700);
    ASSERT_EQ(brush->canvas().strokeCount(), 2u);
    // A real key press through the X server reaches the overlay.
    ASSERT_EQ(std::system("xdotool key ctrl+z"), 0);
    EXPECT_TRUE(Env::waitUntil([&] { return brush->canvas().strokeCount() == 1u; }));
    QImage shot = Env::grabWhen([](const QImage& s) { return near(s.pixel(500, 700), kBackground); });
    EXPECT_TRUE(near(shot.pixel(500, 700), kBackground));
    EXPECT_TRUE(near(shot.pixel(500, 500), 0xFFFF0000, 8));
    key(*brush, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(brush->canvas().strokeCount(), 2u);
    shot = Env::grabWhen([](const QImage& s) { return near(s.pixel(500, 700), 0xFFFF0000, 8); });
    EXPECT_TRUE(near(shot.pixel(500, 700), 0xFFFF0000, 8));
}

INSTANTIATE_TEST_SUITE_P(Compositing, AnnotationScreen, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "xcompmgr" : "plainX"; });

// Behaviour that does not depend on how the picture reaches the screen.
class Annotation : public ::testing::Test {
protected:
    void SetUp() override {
        env = std::make_unique<Env>(false);
        if (!env->ok()) GTEST_SKIP() << "no Xvfb";
    }
    std::unique_ptr<BrushWnd> make() { return std::make_unique<BrushWnd>(phones.link()); }
    Phones phones;
    std::unique_ptr<Env> env;
};

TEST_F(Annotation, EveryShowAndHideSendsItsStateOnceAndSetsTheFlags) {
    auto brush = make();
    testOverlay().remoteButtonHeld = true;
    brush->handle(core::UM_BRUSH, 1, 0, nullptr);
    EXPECT_TRUE(brush->isVisible());
    EXPECT_TRUE(testOverlay().annotationForwarding.load());
    brush->handle(core::UM_BRUSH, 0, 0, nullptr);
    brush->handle(core::UM_BRUSH, 0, 0, nullptr);  // already hidden: nothing to report
    EXPECT_FALSE(brush->isVisible());
    EXPECT_FALSE(testOverlay().annotationForwarding.load());
    EXPECT_FALSE(testOverlay().remoteButtonHeld.load());
    EXPECT_EQ(phones.states(protocol::MsgBrushState), (std::vector<int>{1, 0}));
    // Hidden: forwarded pointers are dropped.
    forward(*brush, 10, 10, true, false);
    forward(*brush, 90, 10, false, true);
    EXPECT_EQ(brush->canvas().strokeCount(), 0u);
}

TEST_F(Annotation, PenSizeLimitsFromTheSettingAndFromThePhone) {
    auto brush = make();
    phones.settings.setInt("SET", "BRUSH_SIZE", 0);
    brush->showOverlay();
    EXPECT_EQ(brush->penWidth(), 1);
    brush->hideOverlay();
    phones.settings.setInt("SET", "BRUSH_SIZE", 200);
    brush->showOverlay();
    Env::waitUntil([&] { return !brush->showPending(); });  // shown after the screen repainted
    EXPECT_EQ(brush->penWidth(), 64);
    // The phone's size is used and stored as it came.
    brush->handle(core::UM_BRUSH, 6, 200, nullptr);
    EXPECT_EQ(brush->penWidth(), 200);
    EXPECT_EQ(phones.settings.getInt("SET", "BRUSH_SIZE", 0), 200);
    // A size that would stroke with no pen or a pen beyond the screen is limited.
    brush->setSize(-5);
    EXPECT_EQ(brush->penWidth(), 1);
    brush->setSize(int64_t{1} << 40);
    EXPECT_EQ(brush->penWidth(), 1080);
    // A mirroring client's size is scaled to this screen and not stored.
    phones.tag = "win_mira";
    phones.height = 2160;
    brush->setSize(10);
    EXPECT_EQ(brush->penWidth(), 5);
    EXPECT_EQ(phones.settings.getInt("SET", "BRUSH_SIZE", 0), int64_t{1} << 40);
}

TEST_F(Annotation, PressOnCloseButtonHidesWhereverItIsReleased) {
    auto brush = make();
    brush->showOverlay();
    const QPoint button = brush->closeButtonRect().center();
    mouse(*brush, QEvent::MouseButtonPress, button);
    mouse(*brush, QEvent::MouseMove, QPoint(900, 500));
    mouse(*brush, QEvent::MouseButtonRelease, QPoint(900, 500));
    EXPECT_FALSE(brush->isVisible());
    EXPECT_EQ(phones.states(protocol::MsgBrushState), (std::vector<int>{1, 0}));
    EXPECT_EQ(phones.count(protocol::kCloseBrush), 0);  // only mirroring clients are told
}

TEST_F(Annotation, MirroringTapIsEchoedAsClickAndTheStrokeFades) {
    phones.tag = "win_mira";
    auto brush = make();
    brush->showOverlay();
    brush->setColor(0x00FF00);
    brush->setSize(12);
    mouse(*brush, QEvent::MouseButtonPress, QPoint(600, 600));
    mouse(*brush, QEvent::MouseMove, QPoint(603, 602));
    mouse(*brush, QEvent::MouseButtonRelease, QPoint(605, 600));
    Env::waitUntil([&] { return phones.count(protocol::kMouseEvent) == 3; });
    std::vector<std::string> names;
    for (const auto& [name, body] : phones.sent) names.push_back(name);
    const std::vector<std::string> expected = {protocol::MsgBrushState, protocol::kAddPoint,
                                               protocol::kAddPoint,     protocol::kAddPoint,
                                               protocol::kMouseEvent,   protocol::kMouseEvent,
                                               protocol::kMouseEvent};
    ASSERT_EQ(names, expected);
    EXPECT_TRUE(phones.sent[1].second["start"].asBool());
    EXPECT_TRUE(phones.sent[3].second["fin"].asBool());
    EXPECT_NEAR(phones.sent[3].second["x"].asDouble(), 605.0 / 1920, 1e-9);
    EXPECT_EQ(phones.sent[4].second["event"].asInt(), 32769);
    EXPECT_EQ(phones.sent[5].second["event"].asInt(), 32770);
    EXPECT_EQ(phones.sent[6].second["event"].asInt(), 32772);
    // The mirrored stroke is not kept: it fades out (45 ticks of 16 ms).
    EXPECT_EQ(brush->canvas().strokeCount(), 0u);
    const QImage faded = Env::grabWhen([](const QImage& s) { return near(s.pixel(603, 601), kBackground); });
    EXPECT_TRUE(near(faded.pixel(603, 601), kBackground)) << hex(faded.pixel(603, 601));

    // The close button in mirroring mode also tells the client.
    const QPoint button = brush->closeButtonRect().center();
    mouse(*brush, QEvent::MouseButtonPress, button);
    mouse(*brush, QEvent::MouseButtonRelease, button);
    EXPECT_EQ(phones.count(protocol::kCloseBrush), 1);
}

TEST_F(Annotation, PhoneHeldButtonDoesNotDrawTwice) {
    auto brush = make();
    brush->showOverlay();
    // The phone's injected press reaches the window as a real mouse press too.
    testOverlay().remoteButtonHeld = true;
    forward(*brush, 100, 800, true, false);
    mouse(*brush, QEvent::MouseButtonPress, QPoint(100, 800));
    mouse(*brush, QEvent::MouseMove, QPoint(300, 800));
    forward(*brush, 300, 800, false, false);
    forward(*brush, 500, 800, false, true);
    mouse(*brush, QEvent::MouseButtonRelease, QPoint(500, 800));
    testOverlay().remoteButtonHeld = false;
    EXPECT_EQ(brush->canvas().strokeCount(), 1u);
}

TEST_F(Annotation, TouchDrawsWithTheFirstFingerAndIgnoresItsEchoedMouse) {
    auto brush = make();
    brush->showOverlay();
    Env::settle(50);
    QPointingDevice* screen = QTest::createTouchDevice();
    QTest::touchEvent(brush.get(), screen).press(0, QPoint(200, 800), brush.get());
    QTest::touchEvent(brush.get(), screen).move(0, QPoint(400, 800), brush.get()).press(1, QPoint(900, 100), brush.get());
    QTest::touchEvent(brush.get(), screen).move(0, QPoint(600, 810), brush.get()).move(1, QPoint(950, 100), brush.get());
    QTest::touchEvent(brush.get(), screen).release(0, QPoint(600, 810), brush.get()).stationary(1);
    QTest::touchEvent(brush.get(), screen).release(1, QPoint(950, 100), brush.get());
    EXPECT_EQ(brush->canvas().strokeCount(), 1u);
    // Touch points go to the phones in every mode.
    ASSERT_EQ(phones.count(protocol::kAddPoint), 4);
    EXPECT_TRUE(phones.sent[1].second["start"].asBool());
    EXPECT_TRUE(phones.sent[4].second["fin"].asBool());
    EXPECT_NEAR(phones.sent[4].second["y"].asDouble(), 810.0 / 1080, 1e-9);

    // The mouse messages the system makes from the same touch add nothing.
    mouse(*brush, QEvent::MouseButtonPress, QPoint(200, 800));
    mouse(*brush, QEvent::MouseMove, QPoint(600, 810));
    mouse(*brush, QEvent::MouseButtonRelease, QPoint(600, 810));
    EXPECT_EQ(brush->canvas().strokeCount(), 1u);
    // A real mouse stroke afterwards draws again.
    Env::settle(250);
    mouse(*brush, QEvent::MouseButtonPress, QPoint(200, 300));
    mouse(*brush, QEvent::MouseMove, QPoint(600, 300));
    mouse(*brush, QEvent::MouseButtonRelease, QPoint(700, 300));
    EXPECT_EQ(brush->canvas().strokeCount(), 2u);
}

TEST_F(Annotation, ForwardedPauseStillReachesTheScreen) {
    auto brush = make();
    brush->showOverlay();
    brush->setColor(0xFF00FF);
    brush->setSize(10);
    forward(*brush, 100, 900, true, false);
    forward(*brush, 800, 900, false, false);  // within 60 ms of the press: drawn a little later
    const QImage shot = Env::grabWhen([](const QImage& s) { return near(s.pixel(700, 900), 0xFFFF00FF, 8); });
    EXPECT_TRUE(near(shot.pixel(700, 900), 0xFFFF00FF, 8)) << hex(shot.pixel(700, 900));
}

}  // namespace
