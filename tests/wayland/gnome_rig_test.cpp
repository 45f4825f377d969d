// The PipeWire grabber and the mutter injector in a headless GNOME session:
// an XWayland window fills the screen, the grabber must see its colour, and
// the window must receive the pointer and key events the injector sends.
#include "platform/desktop_session.h"
#include "platform/gnome_remote.h"
#include "platform/linux/gnome_remote_session.h"

#include <gtest/gtest.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// Xlib macros that clash with names used below.
#undef None

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Generous: mutter renders in software and shares two cores with the other tests.
bool waitFor(const std::function<bool()>& done, int ms = 20000) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

class GnomeRig : public ::testing::Test {
protected:
    void SetUp() override {
        if (platform::detectDesktopSession() != platform::SessionKind::GnomeWayland)
            GTEST_SKIP() << "not in a GNOME Wayland session (run through scripts/with-gnome-wayland)";
        session_ = std::static_pointer_cast<platform::GnomeRemoteSession>(platform::openGnomeRemoteSession());
        ASSERT_TRUE(session_);
        dpy_ = XOpenDisplay(nullptr);
        ASSERT_TRUE(dpy_) << "no XWayland display";
        const int screen = DefaultScreen(dpy_);
        win_ = XCreateSimpleWindow(dpy_, RootWindow(dpy_, screen), 0, 0, DisplayWidth(dpy_, screen),
                                   DisplayHeight(dpy_, screen), 0, 0, colour(0xff0000));
        XSelectInput(dpy_, win_, ButtonPressMask | ButtonReleaseMask | KeyPressMask | KeyReleaseMask |
                                     PointerMotionMask | StructureNotifyMask);
        Atom state = XInternAtom(dpy_, "_NET_WM_STATE", False);
        Atom full = XInternAtom(dpy_, "_NET_WM_STATE_FULLSCREEN", False);
        XChangeProperty(dpy_, win_, state, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&full), 1);
        XMapRaised(dpy_, win_);
        XSync(dpy_, False);
    }
    void TearDown() override {
        if (dpy_) {
            if (win_) XDestroyWindow(dpy_, win_);
            XCloseDisplay(dpy_);
        }
    }

    unsigned long colour(unsigned rgb) {
        XColor c{};
        c.red = uint16_t(((rgb >> 16) & 0xff) * 257);
        c.green = uint16_t(((rgb >> 8) & 0xff) * 257);
        c.blue = uint16_t((rgb & 0xff) * 257);
        XAllocColor(dpy_, DefaultColormap(dpy_, DefaultScreen(dpy_)), &c);
        return c.pixel;
    }

    void paint(unsigned rgb) {
        XSetWindowBackground(dpy_, win_, colour(rgb));
        XClearWindow(dpy_, win_);
        XSync(dpy_, False);
    }

    // Waits for an X event of `type` on the window and returns it.
    bool nextEvent(int type, XEvent& out) {
        return waitFor([&] {
            while (XPending(dpy_)) {
                XNextEvent(dpy_, &out);
                if (out.type == type) return true;
            }
            return false;
        });
    }

    std::shared_ptr<platform::GnomeRemoteSession> session_;
    Display* dpy_ = nullptr;
    Window win_ = 0;
};

// BGRA pixel at (x, y) of the grabber's picture.
unsigned pixelAt(platform::ScreenGrabber& g, int x, int y) {
    const uint8_t* p = g.picture() + size_t(y) * g.pictureStride() + size_t(x) * 4;
    return (unsigned(p[2]) << 16) | (unsigned(p[1]) << 8) | p[0];
}

TEST_F(GnomeRig, GrabberSeesTheScreenAndFollowsItsChanges) {
    auto grabber = platform::makePipeWireScreenGrabber(session_);
    ASSERT_TRUE(grabber->open());
    EXPECT_EQ(grabber->width(), 1280);
    EXPECT_EQ(grabber->height(), 720);
    ASSERT_NE(grabber->picture(), nullptr);
    // The stream sends a picture only when the screen changes: the window is
    // painted again on every try, so a stream that started before the window
    // showed still gets a picture of it.
    const auto shows = [&](unsigned rgb) {
        return waitFor([&] {
            paint(rgb);
            return grabber->capture(false) && pixelAt(*grabber, 640, 360) == rgb &&
                   pixelAt(*grabber, 5, 5) == rgb && pixelAt(*grabber, 1274, 714) == rgb;
        });
    };
    EXPECT_TRUE(shows(0xff0000));
    paint(0x0000ff);
    EXPECT_TRUE(shows(0x0000ff));
    // A second grabber on the same stream (the overlays' screenshots) works
    // beside the first.
    auto second = platform::makePipeWireScreenGrabber(session_);
    ASSERT_TRUE(second->open());
    paint(0x00ff00);
    EXPECT_TRUE(shows(0x00ff00));
    second->close();

    // The cursor comes as metadata: drawn into the picture only when asked.
    auto pointer = platform::makeMutterInjector(session_, platform::makeSystemScreenInfo());
    const auto region = [&](bool drawCursor) {
        int other = 0;
        grabber->capture(drawCursor);
        for (int y = 200; y < 224; ++y)
            for (int x = 300; x < 324; ++x) other += pixelAt(*grabber, x, y) != 0x00ff00;
        return other;
    };
    const platform::InputRecord move =
        platform::InputRecord::mouse(platform::mouse_flag::Move | platform::mouse_flag::Absolute,
                                     300 * 65535 / 1280, 200 * 65535 / 720);
    EXPECT_TRUE(waitFor([&] {
        pointer->sendInput(&move, 1);
        return region(true) > 20;
    })) << "no cursor drawn at the pointer";
    EXPECT_EQ(region(false), 0);
    EXPECT_GT(region(true), 20);

    // Sharing stopped in GNOME (mutter closes the session): the grabber and
    // the injector get a new session by themselves.
    session_->stop();
    paint(0xffff00);
    const auto showsLong = [&](unsigned rgb) {
        return waitFor([&] { return grabber->capture(false) && pixelAt(*grabber, 640, 360) == rgb; }, 10000);
    };
    EXPECT_TRUE(showsLong(0xffff00));
    const platform::InputRecord moveAgain =
        platform::InputRecord::mouse(platform::mouse_flag::Move | platform::mouse_flag::Absolute,
                                     640 * 65535 / 1280, 100 * 65535 / 720);
    EXPECT_TRUE(waitFor([&] {
        pointer->sendInput(&moveAgain, 1);
        grabber->capture(true);
        int other = 0;
        for (int y = 100; y < 124; ++y)
            for (int x = 640; x < 664; ++x) other += pixelAt(*grabber, x, y) != 0xffff00;
        return other > 20;
    }, 10000)) << "no pointer after the session was started again";
    grabber->close();
    EXPECT_EQ(grabber->width(), 0);
}

TEST_F(GnomeRig, PointerAndKeysReachAnXWaylandWindow) {
    auto injector = platform::makeMutterInjector(session_, platform::makeSystemScreenInfo());
    ASSERT_TRUE(injector);
    ASSERT_EQ(injector->screenSize().width, 1280);
    using platform::InputRecord;
    namespace mf = platform::mouse_flag;
    const InputRecord click[] = {
        InputRecord::mouse(mf::Move | mf::Absolute, 16384, 49152),  // a quarter across, three quarters down
        InputRecord::mouse(mf::LeftDown, 0, 0),
        InputRecord::mouse(mf::LeftUp, 0, 0),
    };
    XEvent ev{};
    // The window may take a moment to be mapped and shown: click until it answers.
    const bool pressed = waitFor([&] {
        injector->sendInput(click, 3);
        XSync(dpy_, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        while (XPending(dpy_)) {
            XNextEvent(dpy_, &ev);
            if (ev.type == ButtonPress) return true;
        }
        return false;
    });
    ASSERT_TRUE(pressed);
    EXPECT_EQ(ev.xbutton.button, 1u);
    EXPECT_NEAR(ev.xbutton.x, 320, 1);
    EXPECT_NEAR(ev.xbutton.y, 540, 1);
    int x = 0, y = 0;
    ASSERT_TRUE(injector->cursorPosition(x, y));
    EXPECT_EQ(x, ev.xbutton.x);
    EXPECT_EQ(y, ev.xbutton.y);

    // Wheel away from the user is X button 4 (up). Earlier clicks' events go first.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    while (XPending(dpy_)) XNextEvent(dpy_, &ev);
    const InputRecord wheel = InputRecord::mouse(mf::Wheel, 0, 0, platform::kWheelDelta);
    injector->sendInput(&wheel, 1);
    ASSERT_TRUE(nextEvent(ButtonPress, ev));
    EXPECT_EQ(ev.xbutton.button, 4u);

    // A key right after a focus change may lose its press: one throw-away
    // key first, then Shift+A.
    const InputRecord warm[] = {InputRecord::key(0x10, false), InputRecord::key(0x10, true)};
    injector->sendInput(warm, 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    while (XPending(dpy_)) XNextEvent(dpy_, &ev);
    const InputRecord keys[] = {InputRecord::key(0x10, false), InputRecord::key(0x41, false),
                                InputRecord::key(0x41, true), InputRecord::key(0x10, true)};
    ASSERT_EQ(injector->sendInput(keys, 4), 4u);
    KeySym sym = 0;
    ASSERT_TRUE(waitFor([&] {
        while (XPending(dpy_)) {
            XNextEvent(dpy_, &ev);
            if (ev.type == KeyPress) {
                char text[8];
                KeySym s = 0;
                XLookupString(&ev.xkey, text, sizeof(text), &s, nullptr);
                if (s != XK_Shift_L) sym = s;
            }
        }
        return sym != 0;
    }));
    EXPECT_EQ(sym, KeySym(XK_A));
}

}  // namespace
