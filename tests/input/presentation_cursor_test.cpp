// The presentation cursor on a real X server: the scheme's picture is shown
// at the pointer, follows it, animates, and goes away on scheme 9.
#include "input/cursor_window.h"
#include "input/presentation_cursor.h"
#include "platform/fakes/fake_input_injector.h"
#include "qt_app.h"

#include <QPixmap>
#include <QScreen>

namespace input_test {
namespace {

// The fixture's window is the white desktop under the cursor.
class PresentationCursorTest : public XInjectionFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(qtApp());
        XInjectionFixture::SetUp();
        if (HasFatalFailure()) return;
        cursor = std::make_unique<input::PresentationCursor>(&settings, LUMACRO3_SOURCE_DIR "/data", &pointer);
    }
    void TearDown() override {
        cursor.reset();
        EXPECT_FALSE(pointer.pointerHidden());  // restored when it goes
    }

    void pointerTo(int x, int y) {
        injector->moveCursorTo(x, y);
        ASSERT_TRUE(pumpUntil([&] { return QCursor::pos() == QPoint(x, y); }));
    }

    // The window sits with the picture's hot spot on the pointer.
    bool followsPointer() {
        input::CursorWindow* w = cursor->window();
        if (!w || !w->isVisible()) return false;
        const auto& step = w->picture().steps[size_t(w->currentStep())];
        return w->pos() + step.hotSpot == QCursor::pos();
    }

    // The screen shows the picture's opaque pixels where the window is.
    void expectPictureOnScreen() {
        input::CursorWindow* w = cursor->window();
        ASSERT_TRUE(w);
        QCoreApplication::processEvents();
        QImage shot;
        const auto& step = w->picture().steps[size_t(w->currentStep())];
        // Wait until the window has been painted where it now is.
        const bool painted = pumpUntil([&] {
            shot = QGuiApplication::primaryScreen()->grabWindow(0, w->x(), w->y(), 48, 48).toImage();
            int same = 0, opaque = 0;
            for (int y = 0; y < 48; ++y)
                for (int x = 0; x < 48; ++x) {
                    const QRgb p = step.image.pixel(x, y);
                    if (qAlpha(p) != 255) continue;
                    ++opaque;
                    const QRgb s = shot.pixel(x, y);
                    same += std::abs(qRed(s) - qRed(p)) <= 2 && std::abs(qGreen(s) - qGreen(p)) <= 2 &&
                            std::abs(qBlue(s) - qBlue(p)) <= 2;
                }
            return opaque > 100 && same == opaque;
        }, 3000);
        EXPECT_TRUE(painted) << "the cursor picture is not on the screen";
    }

    // Saves the screen around the pointer with ImageMagick when asked to
    // (LUMACRO3_CURSOR_SHOTS=<folder>), for the documentation.
    void shot(const char* name) {
        const char* folder = getenv("LUMACRO3_CURSOR_SHOTS");
        if (!folder) return;
        pumpUntil([] { return false; }, 300);
        const QPoint p = QCursor::pos();
        const std::string cmd = "import -display " + PrivateXServer::instance().display() +
                                " -window root -crop 160x120+" + std::to_string(p.x() - 80) + "+" +
                                std::to_string(p.y() - 60) + " +repage " + folder + "/" + name;
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }

    core::MemorySettings settings;
    platform::FakeInputInjector pointer;
    std::unique_ptr<input::PresentationCursor> cursor;
};

TEST_F(PresentationCursorTest, SchemeIsShownAtThePointerAndFollowsIt) {
    pointerTo(400, 300);
    cursor->apply(0);
    ASSERT_TRUE(cursor->active());
    EXPECT_TRUE(pointer.pointerHidden());
    EXPECT_EQ(cursor->window()->picture().steps.size(), 1u);
    EXPECT_TRUE(pumpUntil([&] { return followsPointer(); }));
    expectPictureOnScreen();
    shot("cursor-scheme0.png");

    pointerTo(900, 650);
    EXPECT_TRUE(pumpUntil([&] { return followsPointer(); }));
    expectPictureOnScreen();

    // Input passes through the cursor window to what lies below.
    EXPECT_TRUE(cursor->window()->windowFlags() & Qt::WindowTransparentForInput);

    cursor->apply(9);
    EXPECT_FALSE(cursor->active());
    EXPECT_FALSE(pointer.pointerHidden());
}

TEST_F(PresentationCursorTest, AnimatedSchemesStepThroughTheirFrames) {
    pointerTo(600, 400);
    cursor->apply(3);
    ASSERT_TRUE(cursor->active());
    EXPECT_EQ(cursor->window()->picture().steps.size(), 8u);
    std::set<int> stepsSeen;
    EXPECT_TRUE(pumpUntil([&] {
        stepsSeen.insert(cursor->window()->currentStep());
        return stepsSeen.size() >= 3;
    }));
    EXPECT_TRUE(pumpUntil([&] { return followsPointer(); }));
    shot("cursor-scheme3.png");
    // Every shipped scheme loads.
    for (int scheme = 0; scheme < 8; ++scheme) {
        cursor->apply(scheme);
        ASSERT_TRUE(cursor->active()) << scheme;
        EXPECT_EQ(cursor->window()->picture().steps.size(), scheme == 0 || scheme == 2 || scheme == 4 ? 1u : 8u)
            << scheme;
    }
}

TEST_F(PresentationCursorTest, CustomFileAndSchemesThatChangeNothing) {
    pointerTo(200, 200);
    cursor->apply(8);  // CURSOR_PATH empty: nothing happens
    EXPECT_FALSE(cursor->active());
    EXPECT_FALSE(pointer.pointerHidden());

    settings.setString("SET", "CURSOR_PATH", LUMACRO3_SOURCE_DIR "/data/cursor/7.ani");
    cursor->apply(8);
    ASSERT_TRUE(cursor->active());
    const QImage shark = cursor->window()->picture().steps[0].image;

    // A file that cannot be loaded leaves the cursor as it is.
    settings.setString("SET", "CURSOR_PATH", "/nonexistent/x.cur");
    cursor->apply(8);
    cursor->apply(-1);
    EXPECT_TRUE(cursor->active());
    EXPECT_EQ(cursor->window()->picture().steps[0].image, shark);

    // Requests from a session thread run on the UI thread.
    std::thread([&] { cursor->apply(12); }).join();
    EXPECT_TRUE(cursor->active());
    EXPECT_TRUE(pumpUntil([&] { return !cursor->active(); }));
    EXPECT_FALSE(pointer.pointerHidden());
}

}  // namespace
}  // namespace input_test
