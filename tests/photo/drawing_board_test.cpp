#include "photo/photo_env.h"

#include "core/window_messages.h"
#include "sketchpad/board_page.h"
#include "ui/main/drawing_board_bridge.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <tuple>

using namespace photo_test;

namespace {

TEST(BoardPage, ZoomAndTurnStayInRangeAndAPictureIsFittedWithItsMargin) {
    sketchpad::BoardPage page;
    page.size = QSizeF(1920, 1080);
    for (int i = 0; i < 20; ++i) page.zoomBy(true);
    EXPECT_EQ(page.zoom, sketchpad::BoardPage::kMaxZoom);
    for (int i = 0; i < 40; ++i) page.zoomBy(false);
    EXPECT_EQ(page.zoom, sketchpad::BoardPage::kMinZoom);
    page.turnBy(-90);
    EXPECT_EQ(page.angle, 270);
    page.turnBy(450);
    EXPECT_EQ(page.angle, 0);
    page.turnBy(std::nan(""));
    EXPECT_EQ(page.angle, 0);

    page.picture = QImage(400, 400, QImage::Format_RGB32);
    page.fitPicture(QMarginsF(48, 48, 48, 104));
    EXPECT_EQ(page.pictureRect, QRectF(496, 48, 928, 928));
    // The view turns and zooms about the page centre.
    page.zoom = 2;
    page.angle = 90;
    EXPECT_EQ(page.view().map(QPointF(960, 540)), QPointF(960, 540));
    EXPECT_EQ(page.view().map(QPointF(1060, 540)).toPoint(), QPoint(960, 740));
}

// What the library posts to its owner.
struct Owner {
    static void post(void* self, uint32_t message, int64_t wParam, int64_t lParam) {
        auto* o = static_cast<Owner*>(self);
        std::lock_guard<std::mutex> lock(o->mutex);
        o->posts.emplace_back(message, wParam, lParam);
    }
    size_t count(uint32_t message, int64_t wParam, int64_t lParam) {
        std::lock_guard<std::mutex> lock(mutex);
        size_t n = 0;
        for (const auto& p : posts) n += p == std::make_tuple(message, wParam, lParam) ? 1 : 0;
        return n;
    }
    std::mutex mutex;
    std::vector<std::tuple<uint32_t, int64_t, int64_t>> posts;
    HubOwner handle{this, &Owner::post};
};

bool isDark(QRgb c) { return qRed(c) < 90 && qGreen(c) < 90 && qBlue(c) < 90; }
bool isWhite(QRgb c) { return near(c, 0xFFFFFFFF, 6); }

int darkPixels(const QImage& s, QRect area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) n += isDark(s.pixel(x, y)) ? 1 : 0;
    return n;
}

class DrawingBoard : public ::testing::Test {
protected:
    void SetUp() override {
        x = std::make_unique<XEnv>();
        if (!x->ok()) GTEST_SKIP() << "no Xvfb or SDL video";
        ASSERT_TRUE(board.load(SKETCHPAD_PATH, &owner.handle, dir.path(), 27272));
    }
    void TearDown() override {
        if (board.loaded()) board.unload();
    }

    testing_support::TempDir dir{"drawing-board"};
    std::unique_ptr<XEnv> x;
    Owner owner;
    ui::DrawingBoardBridge board;
};

constexpr QRgb kGreen = 0xFF30A040;
constexpr QRgb kOrange = 0xFFE08020;

TEST_F(DrawingBoard, PenPicturesOnNewPagesPageAndZoomKeysTextAndClose) {
    board.openPainter();
    ASSERT_TRUE(Env::waitUntil([&] { return board.isOpened(); }));
    EXPECT_EQ(owner.count(core::UM_DRAWING_BOARD, 0, 1), 1u);
    QImage s = Env::grabWhen([](const QImage& g) { return isWhite(g.pixel(960, 540)); });
    ASSERT_TRUE(isWhite(s.pixel(960, 540))) << overlay_test::hex(s.pixel(960, 540));

    // Ink from the X pointer, as the phone's injected pointer also arrives.
    ASSERT_EQ(std::system("xdotool mousemove 300 300 mousedown 1 mousemove 400 305 mousemove 500 310 "
                          "mouseup 1"),
              0);
    s = Env::grabWhen([](const QImage& g) { return isDark(g.pixel(400, 305)); });
    EXPECT_TRUE(isDark(s.pixel(400, 305))) << overlay_test::hex(s.pixel(400, 305));

    // A received picture with the "anim" effect: on a new page, fitted.
    ASSERT_TRUE(savePicture(dir / "received.png", 600, 400, kGreen, kGreen));
    board.setAnime(1);
    board.insertImage(dir / "received.png");
    s = Env::grabWhen([](const QImage& g) {
        return near(g.pixel(400, 305), kGreen, 8) && near(g.pixel(280, 540), kGreen, 8);
    });
    // Fitted above the tool bar: 1392 x 928 from (264, 48).
    EXPECT_TRUE(near(s.pixel(400, 305), kGreen, 8)) << overlay_test::hex(s.pixel(400, 305));
    EXPECT_TRUE(near(s.pixel(280, 540), kGreen, 8));
    EXPECT_TRUE(isWhite(s.pixel(240, 540)));
    EXPECT_TRUE(isWhite(s.pixel(960, 30)));
    EXPECT_TRUE(isWhite(s.pixel(960, 990)));

    // Page keys: back to the ink, forward to the picture.
    board.nextPage(0);
    s = Env::grabWhen([](const QImage& g) { return isWhite(g.pixel(960, 540)); });
    EXPECT_TRUE(isDark(s.pixel(400, 305)));
    board.nextPage(1);
    s = Env::grabWhen([](const QImage& g) { return near(g.pixel(960, 540), kGreen, 8); });
    EXPECT_TRUE(near(s.pixel(960, 540), kGreen, 8));

    // Zoom keys: the picture grows past its fitted left edge, and back.
    board.imageZoom(1);
    s = Env::grabWhen([](const QImage& g) { return near(g.pixel(100, 540), kGreen, 8); });
    EXPECT_TRUE(near(s.pixel(100, 540), kGreen, 8)) << overlay_test::hex(s.pixel(100, 540));
    board.imageZoom(0);
    s = Env::grabWhen([](const QImage& g) { return isWhite(g.pixel(100, 540)); });
    EXPECT_TRUE(isWhite(s.pixel(100, 540)));

    // The phone's turn: a quarter turn stands the picture on its end.
    board.setRotateAngle(90);
    s = Env::grabWhen([](const QImage& g) { return isWhite(g.pixel(300, 540)); });
    EXPECT_TRUE(isWhite(s.pixel(300, 540)));
    EXPECT_TRUE(near(s.pixel(960, 20), kGreen, 8)) << overlay_test::hex(s.pixel(960, 20));
    board.setRotateAngle(-90);

    // A second picture also goes on a page of its own.
    ASSERT_TRUE(savePicture(dir / "second.jpg", 400, 400, kOrange, kOrange));
    board.insertImage(dir / "second.jpg");
    s = Env::grabWhen([](const QImage& g) { return near(g.pixel(960, 540), kOrange, 12); });
    EXPECT_TRUE(near(s.pixel(960, 540), kOrange, 12)) << overlay_test::hex(s.pixel(960, 540));
    board.nextPage(0);
    s = Env::grabWhen([](const QImage& g) { return near(g.pixel(960, 540), kGreen, 8); });
    EXPECT_TRUE(near(s.pixel(960, 540), kGreen, 8));

    // Text typed on the phone appears in a box; clicking the board ends it.
    const QRect textArea(740, 340, 560, 140);
    const int before = darkPixels(s, textArea);
    board.setInputText("Hello 你好");
    s = Env::grabWhen([&](const QImage& g) { return darkPixels(g, textArea) > before + 200; });
    EXPECT_GT(darkPixels(s, textArea), before + 200);
    Env::keep(s);
    EXPECT_EQ(owner.count(core::UM_EDIT_TEXT_END, 0, 0), 0u);
    ASSERT_EQ(std::system("xdotool mousemove 1600 200 click 1"), 0);
    ASSERT_TRUE(Env::waitUntil([&] { return owner.count(core::UM_EDIT_TEXT_END, 0, 0) == 1; }));

    // Clear: one blank page, still open.
    board.clearPainter();
    s = Env::grabWhen([](const QImage& g) { return isWhite(g.pixel(960, 540)) && isWhite(g.pixel(400, 305)); });
    EXPECT_TRUE(isWhite(s.pixel(400, 305)));
    EXPECT_TRUE(board.isOpened());

    board.closePainter();
    ASSERT_TRUE(Env::waitUntil([&] { return !board.isOpened(); }));
    EXPECT_EQ(owner.count(core::UM_DRAWING_BOARD, 0, 0), 1u);
    s = Env::grabWhen([](const QImage& g) { return near(g.pixel(960, 540), overlay_test::kBackground, 6); });
    EXPECT_TRUE(near(s.pixel(960, 540), overlay_test::kBackground, 6));
}

TEST_F(DrawingBoard, CallsFromSessionThreadsRunOnTheUiThreadAndBadInputIsRefused) {
    // A file that is no picture changes nothing and opens nothing.
    board.insertImage(dir / "missing.png");
    board.insertImage("");
    Env::settle(100);
    EXPECT_FALSE(board.isOpened());

    // Text, page, zoom and turn keys on a closed board are dropped.
    board.setInputText("ignored");
    board.nextPage(1);
    board.imageZoom(1);
    board.setRotateAngle(45);
    Env::settle(50);
    EXPECT_FALSE(board.isOpened());

    // From another thread (the session receive threads): queued to the UI thread.
    ASSERT_TRUE(savePicture(dir / "from-thread.png", 300, 200, kGreen, kGreen));
    std::thread session([&] {
        board.setAnime(0);
        board.insertImage(dir / "from-thread.png");
        board.setInputText("");
    });
    session.join();
    ASSERT_TRUE(Env::waitUntil([&] { return board.isOpened(); }));
    QImage s = Env::grabWhen([](const QImage& g) { return near(g.pixel(960, 540), kGreen, 8); });
    EXPECT_TRUE(near(s.pixel(960, 540), kGreen, 8));

    // Unloading with the board open takes the window away.
    board.unload();
    s = Env::grabWhen([](const QImage& g) { return near(g.pixel(960, 540), overlay_test::kBackground, 6); });
    EXPECT_TRUE(near(s.pixel(960, 540), overlay_test::kBackground, 6));
}

}  // namespace
