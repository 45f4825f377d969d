#include "photo/photo_env.h"

#include "core/overlay_flags.h"
#include "protocol/message_names.h"
#include "support/files.h"
#include "support/thread_pool.h"
#include "ui/photo/photo_layout.h"
#include "ui/photo/photo_wall_wnd.h"

#include <QKeyEvent>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace photo_test;

namespace {

TEST(PhotoLayout, FitCentresTheWholePictureAndZoomCutsAroundTheCentre) {
    // 800 x 600 in 1920 x 1080: height decides, scale 1.8.
    photo::PhotoLayout fit = photo::layoutPhoto(800, 600, 1920, 1080, -1.0, 0.5, 0.5);
    EXPECT_TRUE(fit.fit);
    EXPECT_EQ(fit.source, (photo::Rect{0, 0, 800, 600}));
    EXPECT_EQ(fit.destination, (photo::Rect{240, 0, 1440, 1080}));
    // At or below the fit scale: fitted.
    EXPECT_TRUE(photo::layoutPhoto(800, 600, 1920, 1080, 1.8, 0.5, 0.5).fit);
    EXPECT_TRUE(photo::layoutPhoto(800, 600, 1920, 1080, 0.3, 0.5, 0.5).fit);
    // Above it but still narrower than the window: whole width centred, a
    // part of the height around the centre over the whole height.
    photo::PhotoLayout mixed = photo::layoutPhoto(1600, 1200, 1920, 1080, 1.0, 0.5, 0.25);
    EXPECT_FALSE(mixed.fit);
    EXPECT_EQ(mixed.source, (photo::Rect{0, 0, 1600, 1080}));
    EXPECT_EQ(mixed.destination, (photo::Rect{160, 0, 1600, 1080}));
    EXPECT_EQ(photo::layoutPhoto(1600, 1200, 1920, 1080, 1.0, 0.5, 0.6).source, (photo::Rect{0, 120, 1600, 1080}));

    // 1600 x 1200 at zoom 2: a 960 x 540 part fills the window.
    photo::PhotoLayout zoomed = photo::layoutPhoto(1600, 1200, 1920, 1080, 2.0, 0.5, 0.5);
    EXPECT_FALSE(zoomed.fit);
    EXPECT_EQ(zoomed.source, (photo::Rect{320, 330, 960, 540}));
    EXPECT_EQ(zoomed.destination, (photo::Rect{0, 0, 1920, 1080}));
    // The part never leaves the picture at either edge.
    EXPECT_EQ(photo::layoutPhoto(1600, 1200, 1920, 1080, 2.0, 0.0, 0.0).source, (photo::Rect{0, 0, 960, 540}));
    EXPECT_EQ(photo::layoutPhoto(1600, 1200, 1920, 1080, 2.0, 1.0, 1.0).source,
              (photo::Rect{640, 660, 960, 540}));
    // Nothing loaded: nothing to place.
    EXPECT_EQ(photo::layoutPhoto(0, 0, 1920, 1080, -1.0, 0.5, 0.5).destination, (photo::Rect{}));

    // Dragging 100 px left and up at zoom 2 moves the centre by 100 / 3200 and 100 / 2400.
    double cx = 0, cy = 0;
    photo::panCentre(1600, 1200, 2.0, 300, 300, 200, 200, 0.5, 0.5, &cx, &cy);
    EXPECT_DOUBLE_EQ(cx, 0.5 + 100.0 / 3200);
    EXPECT_DOUBLE_EQ(cy, 0.5 + 100.0 / 2400);
    photo::panCentre(1600, 1200, 2.0, 0, 0, 5000, -5000, 0.5, 0.5, &cx, &cy);
    EXPECT_EQ(cx, 0.0);
    EXPECT_EQ(cy, 1.0);
}

TEST(PhotoCache, NamesAreTheUrlsLastComponentAndStayInTheCacheFolder) {
    EXPECT_EQ(photo::cacheFileName("http://10.0.0.2:8080/dcim/IMG%201.jpg?size=2#x"), "IMG 1.jpg");
    EXPECT_EQ(photo::cacheFileName("http://10.0.0.2/a/b.png"), "b.png");
    // Escaped separators and dots never lead out of the folder.
    EXPECT_EQ(photo::cacheFileName("http://h/x/..%2F..%2Fetc%2Fpasswd"), "passwd");
    EXPECT_EQ(photo::cacheFileName("http://h/x/%2E%2E"), "");
    EXPECT_EQ(photo::cacheFileName("http://h/"), "");
    EXPECT_EQ(photo::cacheFileName("http://h"), "");
    EXPECT_EQ(photo::cacheFileName("http://h/a%zz"), "a%zz");
}

constexpr QRgb kColours[5] = {0xFFD03030, 0xFF30A040, 0xFF3050D0, 0xFFE0C020, 0xFF9040B0};

class PhotoWall : public ::testing::Test {
protected:
    void SetUp() override {
        x = std::make_unique<XEnv>();
        if (!x->ok()) GTEST_SKIP() << "no Xvfb or SDL video";
        ASSERT_TRUE(support::mkdir(dir / "served"));
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(savePicture(served(i), 400, 300, kColours[i], kColours[i]));
        http = std::make_unique<testing_support::HttpServer>("127.0.0.1", dir / "served");
        ASSERT_TRUE(http->ok());
        for (int i = 0; i < 5; ++i) urls.push_back(http->base() + "p" + std::to_string(i) + ".png");

        photo::PhotoWallLink link;
        link.broadcast = [this](const std::string& name, const Json::Value& body) {
            std::lock_guard<std::mutex> lock(sentMutex);
            sent.emplace_back(name, body);
        };
        link.overlay = &flags;
        link.threadPool = &pool;
        link.docDir = [this] { return dir.path(); };
        link.showing = [this] { ++showings; };
        wall = std::make_unique<photo::PhotoWallWnd>(std::move(link));
    }
    void TearDown() override {
        wall.reset();
        pool.shutdown();
    }

    std::string served(int i) const { return dir / ("served/p" + std::to_string(i) + ".png"); }
    std::string cached(const std::string& name) const { return dir / (".temp/" + name); }
    std::vector<bool> openStates() {
        std::lock_guard<std::mutex> lock(sentMutex);
        std::vector<bool> out;
        for (const auto& [name, body] : sent) {
            EXPECT_EQ(name, protocol::MsgPhotos);
            EXPECT_EQ(body["action"].asInt(), 2);
            out.push_back(body["isOpened"].asBool());
        }
        return out;
    }
    // Waits until the wall shows a loaded photo and the screen centre has `colour`.
    QImage shows(QRgb colour) {
        Env::waitUntil([&] { return wall->view().width > 0; });
        return Env::grabWhen([&](const QImage& s) { return near(s.pixel(960, 540), colour, 8); });
    }

    testing_support::TempDir dir{"photo-wall"};
    std::unique_ptr<XEnv> x;
    std::unique_ptr<testing_support::HttpServer> http;
    std::vector<std::string> urls;
    core::OverlayFlags flags;
    support::ThreadPool pool{4};
    std::mutex sentMutex;
    std::vector<std::pair<std::string, Json::Value>> sent;
    std::unique_ptr<photo::PhotoWallWnd> wall;
    int showings = 0;
};

TEST_F(PhotoWall, PreloadsAroundTheStartAndThreeAheadWhenSteppingAndReportsOpenAndClose) {
    wall->show(urls, 0);
    ASSERT_TRUE(Env::waitUntil([&] { return wall->isVisible(); }));
    EXPECT_TRUE(flags.photoWallOpen);
    QImage screen = shows(kColours[0]);
    EXPECT_TRUE(near(screen.pixel(960, 540), kColours[0], 8)) << overlay_test::hex(screen.pixel(960, 540));
    ASSERT_TRUE(Env::waitUntil([&] { return exists(cached("p1.png")); }));
    Env::settle(200);
    EXPECT_FALSE(exists(cached("p2.png")));
    EXPECT_FALSE(exists(cached("p3.png")));

    wall->step(true);
    screen = shows(kColours[1]);
    EXPECT_TRUE(near(screen.pixel(960, 540), kColours[1], 8)) << overlay_test::hex(screen.pixel(960, 540));
    ASSERT_TRUE(Env::waitUntil([&] { return exists(cached("p2.png")) && exists(cached("p3.png")); }));
    Env::settle(200);
    EXPECT_FALSE(exists(cached("p4.png")));
    EXPECT_EQ(wall->view().current, 1);

    // Closed by the phone's close key: hidden, the keys go back to the desktop.
    wall->close();
    ASSERT_TRUE(Env::waitUntil([&] { return !wall->isVisible(); }));
    EXPECT_FALSE(flags.photoWallOpen);
    EXPECT_EQ(wall->view().count, 0);
    EXPECT_EQ(openStates(), (std::vector<bool>{true, false}));
}

TEST_F(PhotoWall, ACachedPhotoIsShownWithoutDownloadingItAgain) {
    // The cache holds a green p2.png; the server's p2.png is blue, and p9 is not served at all.
    ASSERT_TRUE(support::mkdir(dir / ".temp"));
    ASSERT_TRUE(savePicture(cached("p2.png"), 200, 200, 0xFF20C020, 0xFF20C020));
    ASSERT_TRUE(savePicture(cached("p9.png"), 200, 200, 0xFF806040, 0xFF806040));
    std::vector<std::string> list = {urls[2], http->base() + "p9.png"};
    wall->show(list, 0);
    QImage screen = shows(0xFF20C020);
    EXPECT_TRUE(near(screen.pixel(960, 540), 0xFF20C020, 8)) << overlay_test::hex(screen.pixel(960, 540));
    wall->step(true);
    screen = shows(0xFF806040);
    EXPECT_TRUE(near(screen.pixel(960, 540), 0xFF806040, 8)) << overlay_test::hex(screen.pixel(960, 540));

    // A photo that cannot be fetched stays black; the wall goes on working.
    wall->show({http->base() + "missing.png", urls[4]}, 0);
    screen = Env::grabWhen([](const QImage& s) { return s.pixel(960, 540) == 0xFF000000u; });
    EXPECT_EQ(screen.pixel(960, 540), 0xFF000000u);
    wall->step(true);
    screen = shows(kColours[4]);
    EXPECT_TRUE(near(screen.pixel(960, 540), kColours[4], 8));
    EXPECT_EQ(openStates(), (std::vector<bool>{true}));  // replaced lists do not show it again
}

TEST_F(PhotoWall, TwoTurnsShowThePhotoUpsideDownAtFitSize) {
    // Red above blue, 800 x 400: fitted it fills the width, 960 px high.
    ASSERT_TRUE(savePicture(dir / "served/halves.png", 800, 400, 0xFFD02020, 0xFF2040D0));
    wall->show({http->base() + "halves.png"}, 0);
    Env::waitUntil([&] { return wall->view().width == 800; });
    QImage screen = Env::grabWhen([](const QImage& s) { return near(s.pixel(960, 300), 0xFFD02020, 8); });
    EXPECT_TRUE(near(screen.pixel(960, 300), 0xFFD02020, 8));
    EXPECT_TRUE(near(screen.pixel(960, 800), 0xFF2040D0, 8));

    // Zoomed in first: each turn puts the zoom back to fit.
    wall->zoom(true);
    Env::settle(50);
    EXPECT_GT(wall->view().zoom, 0);

    // Two clicks on the rotate button through the X server (edges count).
    const photo::Rect button = wall->rotateButton();
    EXPECT_EQ(button.x, 8);
    EXPECT_EQ(button.y, 1080 - 80);
    for (int i = 0; i < 2; ++i) {
        const std::string click = "xdotool mousemove " + std::to_string(button.x + 36) + " " +
                                  std::to_string(button.y + 36) + " click 1";
        ASSERT_EQ(std::system(click.c_str()), 0);
        const int expected = 90 * (i + 1);
        ASSERT_TRUE(Env::waitUntil([&] { return wall->view().rotation == expected; })) << expected;
        const photo::PhotoWallWnd::View v = wall->view();
        EXPECT_EQ(v.zoom, -1.0);
        EXPECT_EQ(v.centerX, 0.5);
        EXPECT_EQ(v.width, i == 0 ? 400 : 800);
        EXPECT_EQ(v.height, i == 0 ? 800 : 400);
    }
    EXPECT_EQ(wall->view().layout.destination, (photo::Rect{0, 60, 1920, 960}));
    screen = Env::grabWhen([](const QImage& s) { return near(s.pixel(960, 300), 0xFF2040D0, 8); });
    EXPECT_TRUE(near(screen.pixel(960, 300), 0xFF2040D0, 8)) << overlay_test::hex(screen.pixel(960, 300));
    EXPECT_TRUE(near(screen.pixel(960, 800), 0xFFD02020, 8)) << overlay_test::hex(screen.pixel(960, 800));
    // Black bands above and below the fitted photo; the button drawn at the bottom left.
    EXPECT_EQ(screen.pixel(960, 30), 0xFF000000u);
    EXPECT_NE(screen.pixel(8 + 36, 1080 - 80 + 36), 0xFF000000u);
}

TEST_F(PhotoWall, ZoomKeysAndPanMoveThePartShownAndSteppingResetsThem) {
    ASSERT_TRUE(savePicture(dir / "served/wide.png", 1600, 1200, 0xFF808080, 0xFF808080));
    std::vector<std::string> list = {http->base() + "wide.png", urls[1]};
    // Zoom keys before the photo is loaded leave it fitted.
    wall->show(list, 0);
    wall->zoom(true);
    EXPECT_EQ(wall->view().zoom, -1.0);
    shows(0xFF808080);

    const double fit = 1080.0 / 1200;
    wall->zoom(true);
    EXPECT_NEAR(wall->view().zoom, fit + 0.05, 1e-9);
    // The first zoom key already makes the photo larger: taller than the
    // window, still narrower (whole width, centred).
    photo::PhotoWallWnd::View v = wall->view();
    EXPECT_FALSE(v.layout.fit);
    EXPECT_EQ(v.layout.source.w, 1600);
    EXPECT_EQ(v.layout.destination.h, 1080);
    EXPECT_NEAR(v.layout.destination.w, 1600 * v.zoom, 1);
    EXPECT_NEAR(v.layout.destination.x, (1920 - 1600 * v.zoom) / 2, 1);
    for (int i = 0; i < 6; ++i) wall->zoom(true);
    v = wall->view();
    EXPECT_NEAR(v.zoom, fit + 0.35, 1e-9);
    EXPECT_EQ(v.layout.destination, (photo::Rect{0, 0, 1920, 1080}));
    const int sw = static_cast<int>(1920 / v.zoom);
    const int sh = static_cast<int>(1080 / v.zoom);
    EXPECT_EQ(v.layout.source, (photo::Rect{800 - sw / 2, 600 - sh / 2, sw, sh}));
    QImage screen = Env::grabWhen([](const QImage& s) { return near(s.pixel(2, 540), 0xFF808080, 8); });
    EXPECT_TRUE(near(screen.pixel(2, 540), 0xFF808080, 8)) << overlay_test::hex(screen.pixel(2, 540));

    // A drag 105 px to the left and 40 px up shows more of the right and the bottom.
    QWidget& w = *wall->window();
    overlay_test::mouse(w, QEvent::MouseButtonPress, QPoint(900, 500));
    overlay_test::mouse(w, QEvent::MouseMove, QPoint(795, 460));
    overlay_test::mouse(w, QEvent::MouseButtonRelease, QPoint(795, 460));
    overlay_test::mouse(w, QEvent::MouseMove, QPoint(0, 0));  // after release: no pan
    v = wall->view();
    EXPECT_NEAR(v.centerX, 0.5 + 105 / (1600 * v.zoom), 1e-9);
    EXPECT_NEAR(v.centerY, 0.5 + 40 / (1200 * v.zoom), 1e-9);
    EXPECT_GT(v.layout.source.x, 800 - sw / 2);
    EXPECT_GT(v.layout.source.y, 600 - sh / 2);

    // Zooming out below the fit scale is fit again.
    for (int i = 0; i < 8; ++i) wall->zoom(false);
    EXPECT_EQ(wall->view().zoom, -1.0);
    EXPECT_TRUE(wall->view().layout.fit);

    // Stepping back at the first photo changes nothing, the zoom stays.
    wall->zoom(true);
    wall->step(false);
    EXPECT_NEAR(wall->view().zoom, fit + 0.05, 1e-9);
    EXPECT_EQ(wall->view().current, 0);
    wall->step(true);
    EXPECT_EQ(wall->view().zoom, -1.0);
    EXPECT_EQ(wall->view().centerX, 0.5);
    wall->step(true);  // last photo: nothing
    EXPECT_EQ(wall->view().current, 1);
}

TEST_F(PhotoWall, AnEmptyListOrAnIndexOutsideItIsAnsweredWithoutACrash) {
    wall->show({}, 0);
    Env::settle(100);
    EXPECT_FALSE(wall->isVisible());
    EXPECT_TRUE(openStates().empty());
    // Keys reach a wall without photos safely.
    wall->step(true);
    wall->zoom(true);
    wall->pointerDown(40, 1040);

    wall->show(urls, 9);
    ASSERT_TRUE(Env::waitUntil([&] { return wall->isVisible(); }));
    EXPECT_EQ(wall->view().current, 4);
    shows(kColours[4]);
    wall->show(urls, -3);
    shows(kColours[0]);
    EXPECT_EQ(wall->view().current, 0);
    // Coming up closes the drawing board once; a new list on the shown wall does not.
    EXPECT_EQ(showings, 1);

    // Esc on the wall closes it.
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(wall->window(), &esc);
    EXPECT_FALSE(wall->isVisible());
    EXPECT_EQ(openStates(), (std::vector<bool>{true, false}));
    // The hub's close on a hidden wall says nothing more.
    wall->handle(core::UM_PHOTO_CLOSE, 0, 0, nullptr);
    EXPECT_EQ(openStates().size(), 2u);
}

}  // namespace
