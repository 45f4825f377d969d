// The desktop portal's path in a headless GNOME session with
// xdg-desktop-portal and its GNOME backend running (scripts/with-portal):
// the consent dialogs are accepted with pointer clicks sent through mutter's
// own RemoteDesktop session, found on pictures from mutter's ScreenCast.
// The screen's consent is asked once: a second session with the kept
// restore token starts without a dialog.
#include "platform/desktop_session.h"
#include "platform/gnome_remote.h"
#include "platform/screen_info.h"

#include <gtest/gtest.h>
// After gtest: Xlib's macros (None, Bool) clash with its names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool waitFor(const std::function<bool()>& done, int ms = 20000, int pauseMs = 50) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    return false;
}

unsigned pixelAt(platform::ScreenGrabber& g, int x, int y) {
    const uint8_t* p = g.picture() + size_t(y) * g.pictureStride() + size_t(x) * 4;
    return (unsigned(p[2]) << 16) | (unsigned(p[1]) << 8) | p[0];
}

// With LUMACRO3_SHOT_DIR set, the grabber's picture goes there as NAME.ppm.
void keepPicture(platform::ScreenGrabber& g, const std::string& name) {
    const char* dir = std::getenv("LUMACRO3_SHOT_DIR");
    if (!dir) return;
    FILE* f = std::fopen((std::string(dir) + "/" + name + ".ppm").c_str(), "wb");
    if (!f) return;
    std::fprintf(f, "P6\n%d %d\n255\n", g.width(), g.height());
    for (int y = 0; y < g.height(); ++y)
        for (int x = 0; x < g.width(); ++x) {
            const unsigned c = pixelAt(g, x, y);
            const unsigned char rgb[3] = {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)};
            std::fwrite(rgb, 1, 3, f);
        }
    std::fclose(f);
}

// The restore token store and the consent state the program keeps.
struct Keeper {
    std::mutex mutex;
    std::string token;
    std::atomic<int> dialogs{0};
    std::atomic<bool> waiting{false};
    platform::PortalHooks hooks() {
        platform::PortalHooks h;
        h.loadRestoreToken = [this] {
            std::lock_guard<std::mutex> lock(mutex);
            return token;
        };
        h.saveRestoreToken = [this](const std::string& t) {
            std::lock_guard<std::mutex> lock(mutex);
            token = t;
        };
        h.consentWaiting = [this](bool w) {
            if (w) ++dialogs;
            waiting = w;
        };
        return h;
    }
};

class PortalRig : public ::testing::Test {
protected:
    void SetUp() override {
        if (platform::detectDesktopSession() != platform::SessionKind::GnomeWayland || !std::getenv("LUMACRO3_PORTAL_RIG"))
            GTEST_SKIP() << "not in a GNOME session with the desktop portal (run through scripts/with-portal)";
        mutter_ = platform::openGnomeRemoteSession();
        ASSERT_TRUE(mutter_);
        eyes_ = platform::makePipeWireScreenGrabber(mutter_);
        ASSERT_TRUE(eyes_->open());
        hands_ = platform::makeMutterInjector(mutter_, platform::makeSystemScreenInfo());
        // The clicker for scripts takes the screen as it finds it.
        if (std::getenv("LUMACRO3_ACCEPT_DIALOG")) return;
        dpy_ = XOpenDisplay(nullptr);
        ASSERT_TRUE(dpy_) << "no XWayland display";
        const int screen = DefaultScreen(dpy_);
        win_ = XCreateSimpleWindow(dpy_, RootWindow(dpy_, screen), 0, 0, 1280, 720, 0, 0, 0);
        Atom state = XInternAtom(dpy_, "_NET_WM_STATE", False);
        Atom full = XInternAtom(dpy_, "_NET_WM_STATE_FULLSCREEN", False);
        XChangeProperty(dpy_, win_, state, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&full), 1);
        XMapRaised(dpy_, win_);
        paint(0x00c000);
    }
    void TearDown() override {
        if (dpy_) {
            if (win_) XDestroyWindow(dpy_, win_);
            XCloseDisplay(dpy_);
        }
    }
    void paint(unsigned rgb) {
        if (!dpy_) return;
        XColor c{};
        c.red = uint16_t(((rgb >> 16) & 0xff) * 257);
        c.green = uint16_t(((rgb >> 8) & 0xff) * 257);
        c.blue = uint16_t((rgb & 0xff) * 257);
        XAllocColor(dpy_, DefaultColormap(dpy_, DefaultScreen(dpy_)), &c);
        XSetWindowBackground(dpy_, win_, c.pixel);
        XClearWindow(dpy_, win_);
        XSync(dpy_, False);
    }
    void capture() {
        paint(0x00c000);
        eyes_->capture(false);
    }

    // A left click at a screen pixel, through mutter.
    void click(int x, int y) {
        using namespace platform::mouse_flag;
        const platform::InputRecord move =
            platform::InputRecord::mouse(Move | Absolute, x * 65535 / 1279, y * 65535 / 719);
        const platform::InputRecord down = platform::InputRecord::mouse(LeftDown, 0, 0);
        const platform::InputRecord up = platform::InputRecord::mouse(LeftUp, 0, 0);
        hands_->sendInput(&move, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        hands_->sendInput(&down, 1);
        hands_->sendInput(&up, 1);
    }

    struct Box {
        int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
        long n = 0;
        void add(int x, int y) { x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y), ++n; }
        int cx() const { return (x0 + x1) / 2; }
        int cy() const { return (y0 + y1) / 2; }
    };
    // Pixels of the current picture inside `within` for which `test` holds.
    Box find(const Box& within, const std::function<bool(unsigned)>& test) {
        Box box;
        for (int y = within.y0; y <= within.y1; ++y)
            for (int x = within.x0; x <= within.x1; ++x)
                if (test(pixelAt(*eyes_, x, y))) box.add(x, y);
        return box;
    }
    static bool near(unsigned c, int r, int g, int b) {
        return std::abs(int((c >> 16) & 0xff) - r) <= 12 && std::abs(int((c >> 8) & 0xff) - g) <= 12 &&
               std::abs(int(c & 0xff) - b) <= 12;
    }
    // The accept button of GNOME's consent dialogs (Adwaita's blue, pale
    // while nothing is picked, paler still while the dialog has no focus),
    // found anywhere on the screen.
    Box acceptButton() {
        const auto test = [](unsigned c) {
            return near(c, 53, 132, 228) || near(c, 144, 183, 231) || near(c, 201, 220, 244);
        };
        // The band of 40 rows with the most of that colour: the button, not
        // a few edge pixels of other windows' text nor the list's check marks.
        const int w = eyes_->width(), h = eyes_->height();
        std::vector<int> rows(h, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) rows[y] += test(pixelAt(*eyes_, x, y));
        int best = 0, bestY = 0, sum = 0;
        for (int y = 0; y < h; ++y) {
            sum += rows[y] - (y >= 40 ? rows[y - 40] : 0);
            if (sum > best) best = sum, bestY = std::max(0, y - 39);
        }
        return find(Box{0, bestY, w - 1, std::min(h - 1, bestY + 39)}, test);
    }

    // Accepts GNOME's consent dialog, which the desktop centres: picks the
    // first entry of its list (a white card) when there is one, then its
    // button at the right of its title band. False when no dialog shows.
    bool accept(const std::string& name) {
        capture();
        keepPicture(*eyes_, name);
        const Box button = acceptButton();
        if (button.n < 100) {
            ADD_FAILURE() << "no accept button: " << button.n << " pixels at " << button.x0 << "," << button.y0
                          << ".." << button.x1 << "," << button.y1;
            return false;
        }
        // The dialog spans from the button's mirror image to the button.
        Box body;
        body.x0 = eyes_->width() - 1 - button.x1, body.x1 = button.x1;
        body.y0 = button.y1 + 8, body.y1 = std::min(eyes_->height() - 1, button.y1 + 260);
        if (body.x0 >= body.x1) return false;
        const Box card = find(body, [](unsigned c) { return c == 0xffffff; });
        if (card.n > 2000) click(card.cx(), card.cy());
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        capture();
        keepPicture(*eyes_, name + "-picked");
        Box band = button;
        const Box ready = find(band, [](unsigned c) { return near(c, 53, 132, 228); });
        if (ready.n < 100) return false;
        click(ready.cx(), ready.cy());
        return true;
    }

    // Declines the dialog: the button at the left of its title band, the
    // mirror image of the accept button.
    bool decline(const std::string& name) {
        capture();
        keepPicture(*eyes_, name);
        const Box button = acceptButton();
        if (button.n < 100) return false;
        click(eyes_->width() - 1 - button.cx(), button.cy());
        return true;
    }

    std::shared_ptr<platform::RemoteScreenSession> mutter_;
    std::unique_ptr<platform::ScreenGrabber> eyes_;
    std::unique_ptr<platform::InputInjector> hands_;
    Display* dpy_ = nullptr;
    Window win_ = 0;
};

// A clicker for scripts (scripts/wayland-check --portal): with
// LUMACRO3_ACCEPT_DIALOG set, accepts the consent dialog that shows within
// a while, as a teacher would.
TEST_F(PortalRig, AcceptDialogForScripts) {
    if (!std::getenv("LUMACRO3_ACCEPT_DIALOG")) GTEST_SKIP() << "a tool for scripts";
    const char* name = std::getenv("LUMACRO3_ACCEPT_DIALOG");
    // Give the dialog time to draw itself completely.
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    capture();
    keepPicture(*eyes_, std::string(name) + "-found");
    EXPECT_TRUE(accept(name));
}

TEST_F(PortalRig, ScreenConsentIsAskedOnceAndInputConsentEachStart) {
    Keeper keeper;
    {
        auto portal = platform::openPortalRemoteSession(keeper.hooks());
        ASSERT_TRUE(portal);
        ASSERT_TRUE(waitFor([&] { return keeper.waiting.load(); })) << "no consent dialog";
        std::this_thread::sleep_for(std::chrono::seconds(1));
        ASSERT_TRUE(accept("screen-dialog"));
        ASSERT_TRUE(waitFor([&] { return portal->ensureStarted(); })) << "the screen's consent was not taken";
        EXPECT_FALSE(keeper.token.empty()) << "no restore token kept";

        // The input's dialog follows; "Allow remote interaction" is switched
        // on by a click on its row.
        ASSERT_TRUE(waitFor([&] { return keeper.waiting.load(); })) << "no input consent dialog";
        std::this_thread::sleep_for(std::chrono::seconds(1));
        ASSERT_TRUE(accept("input-dialog"));
        ASSERT_TRUE(waitFor([&] { return !keeper.waiting.load(); }));
        EXPECT_EQ(keeper.dialogs.load(), 2);

        // The portal's stream shows the screen.
        auto grabber = platform::makePipeWireScreenGrabber(portal);
        ASSERT_TRUE(waitFor([&] { return grabber->open(); }, 10000));
        EXPECT_EQ(grabber->width(), 1280);
        EXPECT_TRUE(waitFor([&] {
            paint(0x0000ff);
            return grabber->capture(false) && pixelAt(*grabber, 640, 360) == 0x0000ff &&
                   pixelAt(*grabber, 10, 10) == 0x0000ff;
        })) << "the portal's stream does not show the screen";

        // Input through the portal reaches the XWayland window: a click where
        // it was aimed (absolute motion is made of relative steps there) and
        // keys.
        XSelectInput(dpy_, win_, ButtonPressMask | KeyPressMask);
        XSync(dpy_, False);
        auto injector = platform::makeMutterInjector(portal, platform::makeSystemScreenInfo());
        using namespace platform::mouse_flag;
        const platform::InputRecord clickAt[] = {
            platform::InputRecord::mouse(Move | Absolute, 300 * 65535 / 1279, 200 * 65535 / 719),
            platform::InputRecord::mouse(LeftDown, 0, 0), platform::InputRecord::mouse(LeftUp, 0, 0)};
        injector->sendInput(clickAt, 3);
        XEvent event{};
        const auto next = [&](int type) {
            return waitFor([&] {
                while (XPending(dpy_)) {
                    XNextEvent(dpy_, &event);
                    if (event.type == type) return true;
                }
                return false;
            }, 10000);
        };
        ASSERT_TRUE(next(ButtonPress)) << "no click through the portal";
        EXPECT_NEAR(event.xbutton.x_root, 300, 2);
        EXPECT_NEAR(event.xbutton.y_root, 200, 2);
        // One throw-away key after the focus change, then Up (103).
        const platform::InputRecord keys[] = {platform::InputRecord::key(0x10, false), platform::InputRecord::key(0x10, true)};
        injector->sendInput(keys, 2);
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        const platform::InputRecord up[] = {platform::InputRecord::key(0x26, false), platform::InputRecord::key(0x26, true)};
        injector->sendInput(up, 2);
        bool sawUp = waitFor([&] {
            while (XPending(dpy_)) {
                XNextEvent(dpy_, &event);
                if (event.type == KeyPress && XLookupKeysym(&event.xkey, 0) == XK_Up) return true;
            }
            return false;
        }, 10000);
        EXPECT_TRUE(sawUp) << "no key through the portal";
    }

    // The next start: the screen with the kept token, no dialog for it; the
    // input asks again.
    const int before = keeper.dialogs.load();
    auto again = platform::openPortalRemoteSession(keeper.hooks());
    ASSERT_TRUE(again);
    ASSERT_TRUE(waitFor([&] { return again->ensureStarted(); })) << "the kept consent was not honoured";
    EXPECT_EQ(keeper.dialogs.load(), before) << "a dialog for the screen although its consent was kept";
    EXPECT_TRUE(waitFor([&] { return keeper.waiting.load(); })) << "the input did not ask again";
    capture();
    keepPicture(*eyes_, "second-start");
}

TEST_F(PortalRig, ATeacherWhoDeclinesIsNotAskedAgainUntilTheNextStart) {
    Keeper keeper;
    keeper.token = "a-token-the-desktop-no-longer-knows";
    auto portal = platform::openPortalRemoteSession(keeper.hooks());
    ASSERT_TRUE(portal);
    const auto screenUp = [&] { return keeper.waiting.load() && keeper.dialogs.load() == 1; };
    ASSERT_TRUE(waitFor(screenUp)) << "no dialog for the screen although its token is unknown";
    std::this_thread::sleep_for(std::chrono::seconds(1));
    // The first click may only give the dialog the focus.
    ASSERT_TRUE(waitFor([&] { return !screenUp() || (decline("decline-screen"), false); }, 8000, 1000));
    // Longer than the pause between tries of a stopped sharing: at most the
    // input's own dialog comes (declined as well), the screen's not again.
    const auto end = Clock::now() + std::chrono::seconds(9);
    while (Clock::now() < end) {
        if (keeper.waiting.load()) decline("decline-other");
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    }
    EXPECT_FALSE(portal->ensureStarted());
    EXPECT_EQ(keeper.token, "") << "the spent token is kept";
    EXPECT_LE(keeper.dialogs.load(), 2);
    EXPECT_FALSE(keeper.waiting.load());
}

}  // namespace
