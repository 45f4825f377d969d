// The player window on a private X server with a private sound server: a
// local video full screen (checked on a screenshot taken with ImageMagick's
// import) with its sound on the sink's monitor (measured by ffmpeg), and
// key and pointer input sent to the phones as "mouse-event" messages.
#include "common/private_xvfb.h"
#include "common/pulse_server.h"
#include "common/temp_dir.h"
#include "core/heap_blocks.h"
#include "core/window_messages.h"
#include "media_clips.h"
#include "ui/player/media_player_wnd.h"
#include "ui/player/video_static.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTest>
#include <QThread>

#include <cstdlib>
#include <future>
#include <regex>

using media_test::Sent;
using ui::player::MediaPlayerWnd;

namespace {

constexpr const char kMouse[] = "mouse-event";

// One X server, sound server and Qt application for the test process: SDL
// keeps its own connection to the display until the process ends.
struct Env {
    testing_support::PrivateXvfb xvfb{1920, 1080};
    testing_support::PulseServer pulse;
    std::unique_ptr<QApplication> app;
    Env() {
        if (!xvfb.ok() || !pulse.ready()) return;
        setenv("PULSE_SERVER", pulse.server().c_str(), 1);
        setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        static int argc = 1;
        static char name[] = "test_media";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
    }
};

Env& env() {
    static Env* e = new Env();
    return *e;
}

class PlayerWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(env().app);
        ui::player::PlayerWindowLink link;
        link.broadcast = sent.sink();
        link.controllerTag = [] { return std::string("android"); };
        link.classroomWindow = [this] { return classroomWindow; };
        link.postToWindow = [this](int64_t window, uint32_t message) { posted.emplace_back(window, message); };
        link.annotationForwarding = [this] { return annotationOn; };
        link.annotate = [this](int x, int y, bool down, bool up) { strokes.push_back({x, y, down, up}); };
        wnd = std::make_unique<MediaPlayerWnd>(link);
    }
    void TearDown() override { wnd.reset(); }

    static void settle(int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(5);
        }
    }
    static bool waitUntil(const std::function<bool()>& done, int ms = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            if (done()) return true;
            QThread::msleep(5);
        }
        return done();
    }
    void play(const std::string& path) {
        wnd->handle(core::UM_PLAY_URL, 0, 0, core::makeTextBlock(path, core::kUrlBlockUnits));
    }
    // A screenshot of the whole display by ImageMagick; kept in
    // $LUMACRO3_KEEP_FRAMES when that is set.
    QImage screenshot(const std::string& name) {
        const std::string path = dir / (name + ".png");
        testing_support::runCommand("import -window root " + path + " 2>&1");
        if (const char* keep = std::getenv("LUMACRO3_KEEP_FRAMES"))
            testing_support::runCommand("cp " + path + " " + std::string(keep) + "/");
        return QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_RGB32);
    }
    std::vector<Json::Value> mouseEvents() { return sent.named(kMouse); }
    void moveTo(QPoint p) {
        QMouseEvent move(QEvent::MouseMove, QPointF(p), QPointF(wnd->mapToGlobal(p)), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(wnd.get(), &move);
    }

    testing_support::TempDir dir{"lumacro3-player"};
    Sent sent;
    int64_t classroomWindow = 0;
    std::vector<std::pair<int64_t, uint32_t>> posted;
    struct StrokePoint {
        int x, y;
        bool down, up;
    };
    bool annotationOn = false;
    std::vector<StrokePoint> strokes;
    std::unique_ptr<MediaPlayerWnd> wnd;
};

bool near(QRgb c, int r, int g, int b, int tolerance = 16) {
    return std::abs(qRed(c) - r) <= tolerance && std::abs(qGreen(c) - g) <= tolerance &&
           std::abs(qBlue(c) - b) <= tolerance;
}

}  // namespace

TEST_F(PlayerWindow, LocalVideoFullScreenFittedWithoutEnlargementAndItsSoundOnTheSink) {
    const std::string clip = dir / "clip.mp4";
    ASSERT_TRUE(media_test::makeClip(clip, 640, 360, 4.0));
    play(clip);
    ASSERT_EQ(sent.states(), std::vector<int>{1});
    ASSERT_TRUE(waitUntil([&] { return wnd->picture().drawnFrames() > 10; }));
    EXPECT_TRUE(wnd->isVisible());
    EXPECT_EQ(wnd->geometry(), QRect(0, 0, 1920, 1080));

    // The sound reaches the null sink: its monitor is loud while it plays.
    auto level = std::async(std::launch::async, [&] {
        return testing_support::runCommand("ffmpeg -nostdin -hide_banner -f pulse -i " + env().pulse.monitor() +
                                           " -t 1 -af volumedetect -f null - 2>&1").output;
    });
    QImage shot;
    waitUntil([&] { return level.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; }, 8000);
    shot = screenshot("player-640x360");
    const std::string out = level.get();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("mean_volume: (-?[0-9.]+) dB"))) << out;
    EXPECT_GT(std::stod(m[1]), -40.0) << out;

    // 640 x 360 centred on the 1920 x 1080 screen, black around it, the
    // close icon in the top-right corner.
    ASSERT_EQ(shot.size(), QSize(1920, 1080));
    EXPECT_TRUE(near(shot.pixel(960, 540), 0x30, 0x60, 0xC0)) << std::hex << shot.pixel(960, 540);
    EXPECT_TRUE(near(shot.pixel(645, 365), 0x30, 0x60, 0xC0));
    EXPECT_TRUE(near(shot.pixel(1274, 714), 0x30, 0x60, 0xC0));
    EXPECT_TRUE(near(shot.pixel(634, 540), 0, 0, 0));
    EXPECT_TRUE(near(shot.pixel(960, 354), 0, 0, 0));
    EXPECT_TRUE(near(shot.pixel(960, 726), 0, 0, 0));
    EXPECT_TRUE(near(shot.pixel(1920 - 24, 24), 255, 255, 255, 40));  // the cross of the close icon
    // The drawing delay the video thread hands pictures over early by was measured.
    EXPECT_GT(wnd->picture().presentDelayUs(), 0);
    EXPECT_LT(wnd->picture().presentDelayUs(), 1000000);

    // Hidden and shown again, the last picture comes back.
    wnd->engine().setPaused(true);
    wnd->hide();
    settle(100);
    wnd->show();
    settle(300);
    EXPECT_TRUE(near(screenshot("player-reshown").pixel(960, 540), 0x30, 0x60, 0xC0));
    wnd->closeMedia();
    EXPECT_FALSE(wnd->isVisible());
    EXPECT_EQ(sent.states(), (std::vector<int>{1, 0}));
}

TEST_F(PlayerWindow, PointerAndKeysBecomeMouseEventsAndTheCloseSquareStops) {
    const std::string clip = dir / "portrait.mp4";
    ASSERT_TRUE(media_test::makeClip(clip, 1080, 1920, 5.0, "0x208040", 5, false));
    play(clip);
    ASSERT_TRUE(waitUntil([&] { return wnd->picture().drawnFrames() > 0; }));
    settle(100);
    screenshot("player-portrait");
    sent.clear();

    // A click at (303, 540) on a 607 x 1080 picture.
    QTest::mousePress(wnd.get(), Qt::LeftButton, {}, QPoint(303, 540));
    QTest::mouseRelease(wnd.get(), Qt::LeftButton, {}, QPoint(303, 540));
    auto events = mouseEvents();
    ASSERT_GE(events.size(), 2u);
    const Json::Value& up = events.back();
    EXPECT_EQ(up["type"].asInt(), 0);
    EXPECT_EQ(up["event"].asInt(), 0x8004);
    EXPECT_NEAR(up["x"].asDouble(), 303.0 / 607, 1e-9);
    EXPECT_NEAR(up["x"].asDouble(), 0.499, 0.001);
    EXPECT_DOUBLE_EQ(up["y"].asDouble(), 0.5);
    EXPECT_EQ(up["mouseDelta"].asInt(), 0);
    EXPECT_EQ(events[events.size() - 2]["event"].asInt(), 0x8002);

    // Two moves to the same place send one message.
    sent.clear();
    moveTo(QPoint(400, 300));
    moveTo(QPoint(400, 300));
    events = mouseEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["event"].asInt(), 0x8001);

    // Keys: down 0, up 2, with the virtual-key code.
    sent.clear();
    QTest::keyClick(wnd.get(), Qt::Key_A);
    events = mouseEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["type"].asInt(), 1);
    EXPECT_EQ(events[0]["event"].asInt(), 0);
    EXPECT_EQ(events[0]["vk"].asUInt(), 0x41u);
    EXPECT_EQ(events[1]["event"].asInt(), 2);

    // Double-click tells the classroom server's window.
    classroomWindow = 0x1234;
    QTest::mouseDClick(wnd.get(), Qt::LeftButton, {}, QPoint(100, 100));
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(posted.back(), std::make_pair(int64_t(0x1234), uint32_t(0x555)));
    posted.clear();

    // Just left of the close square: nothing stops.
    sent.clear();
    QTest::mouseRelease(wnd.get(), Qt::LeftButton, {}, QPoint(1920 - 33, 0));
    settle(50);
    EXPECT_TRUE(sent.named("com.quorvel.qm.msg.MsgForceStopAllMedia").empty());
    EXPECT_TRUE(wnd->isPlaying());
    // Inside it: the phones are told, the classroom server too, and it stops.
    QTest::mouseRelease(wnd.get(), Qt::LeftButton, {}, QPoint(1920 - 1, 0));
    ASSERT_TRUE(waitUntil([&] { return !wnd->isPlaying(); }, 3000));
    EXPECT_EQ(sent.named("com.quorvel.qm.msg.MsgForceStopAllMedia").size(), 1u);
    EXPECT_EQ(mouseEvents().back()["event"].asInt(), 0x8004);
    EXPECT_EQ(sent.states(), std::vector<int>{0});
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].second, 0x555u);

    // Stopped: keys send nothing.
    sent.clear();
    QTest::keyClick(wnd.get(), Qt::Key_B);
    EXPECT_TRUE(mouseEvents().empty());
}

TEST_F(PlayerWindow, StrokesGoToTheAnnotationOverlayWhileItTakesThePointer) {
    const std::string clip = dir / "clip.mp4";
    ASSERT_TRUE(media_test::makeClip(clip, 320, 240, 3.0, "0x208040", 5, false));
    play(clip);
    ASSERT_TRUE(waitUntil([&] { return wnd->picture().drawnFrames() > 0; }));

    // Off: nothing is forwarded.
    QTest::mousePress(wnd.get(), Qt::LeftButton, {}, QPoint(10, 10));
    moveTo(QPoint(20, 20));
    QTest::mouseRelease(wnd.get(), Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_TRUE(strokes.empty());

    annotationOn = true;
    QTest::mousePress(wnd.get(), Qt::LeftButton, {}, QPoint(100, 200));
    moveTo(QPoint(150, 250));
    QTest::mouseRelease(wnd.get(), Qt::LeftButton, {}, QPoint(200, 300));
    moveTo(QPoint(210, 310));  // no stroke in progress: not forwarded
    ASSERT_EQ(strokes.size(), 3u);
    EXPECT_TRUE(strokes[0].down);
    EXPECT_EQ(strokes[0].x, 100);
    EXPECT_EQ(strokes[0].y, 200);
    EXPECT_FALSE(strokes[1].down || strokes[1].up);
    EXPECT_TRUE(strokes[2].up);
    EXPECT_EQ(strokes[2].x, 200);
    // The phones still get the pointer.
    EXPECT_FALSE(mouseEvents().empty());
    wnd->closeMedia();
}
