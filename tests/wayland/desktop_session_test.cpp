#include "platform/desktop_session.h"
#include "platform/gnome_remote.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

namespace {

using platform::SessionFacts;
using platform::SessionKind;

SessionFacts facts(const char* type, const char* display, bool mutter = false, bool kwin = false) {
    SessionFacts f;
    f.sessionType = type;
    f.waylandDisplay = display;
    f.mutterScreenCast = mutter;
    f.kwin = kwin;
    return f;
}

TEST(DesktopSession, TypeDecidesAndDisplayOnlyWhenTypeIsMissing) {
    // An X11 session keeps the X backends even with a Wayland socket around
    // (a nested compositor), and a compositor's bus names do not make it Wayland.
    EXPECT_EQ(platform::classifySession(facts("x11", "wayland-0", true)), SessionKind::X11);
    EXPECT_EQ(platform::classifySession(facts("", "", true)), SessionKind::X11);
    EXPECT_EQ(platform::classifySession(facts("tty", "", true)), SessionKind::X11);
    EXPECT_EQ(platform::classifySession(facts("", "wayland-0", true)), SessionKind::GnomeWayland);
    EXPECT_EQ(platform::classifySession(facts("tty", "wayland-0", true)), SessionKind::GnomeWayland);
    EXPECT_EQ(platform::classifySession(facts("wayland", "", true)), SessionKind::GnomeWayland);
}

TEST(DesktopSession, CompositorByBusNames) {
    EXPECT_EQ(platform::classifySession(facts("wayland", "wayland-0", false, true)), SessionKind::KdeWayland);
    EXPECT_EQ(platform::classifySession(facts("wayland", "wayland-0")), SessionKind::PortalWayland);
    // mutter wins when both are there (a KWin name left by another program).
    EXPECT_EQ(platform::classifySession(facts("wayland", "wayland-0", true, true)), SessionKind::GnomeWayland);
}

TEST(EvdevKeys, EveryVirtualKeyWithAKeysymHasAKeyOfItsOwn) {
    // The key table of the Wayland injector covers what the X11 one does, and
    // distinct keys do not share a code (except left/right-neutral aliases).
    std::set<uint16_t> aliases = {0x10, 0x11, 0x12, 0xA0, 0xA2, 0xA4, 0x2A, 0x2C, 0xFA, 0xB3};
    // Keysyms no keyboard key sends (IME states, Execute) have no code.
    std::set<uint16_t> keyless = {0x17, 0x18, 0x1F, 0x2B};
    std::set<uint32_t> seen;
    for (int vk = 1; vk < 256; ++vk) {
        if (platform::keysymForVirtualKey(uint16_t(vk)) == 0 || keyless.count(uint16_t(vk))) continue;
        const uint32_t code = platform::evdevKeyForVirtualKey(uint16_t(vk));
        EXPECT_NE(code, 0u) << "virtual key " << vk;
        if (!aliases.count(uint16_t(vk))) {
            EXPECT_TRUE(seen.insert(code).second) << "virtual key " << vk;
        }
    }
    EXPECT_EQ(platform::evdevKeyForVirtualKey(0x41), 30u);   // A
    EXPECT_EQ(platform::evdevKeyForVirtualKey(0x30), 11u);   // 0
    EXPECT_EQ(platform::evdevKeyForVirtualKey(0x0D), 28u);   // Enter
    EXPECT_EQ(platform::evdevKeyForVirtualKey(0xFFFF), 0u);
}

}  // namespace

namespace {

TEST(GnomeRemote, NoSessionBusMeansNoSessionAndNoBackends) {
    // The program falls back to the X11 backends when this is null; it must
    // come back at once rather than wait for a bus that is not there. In a
    // child process: libdbus keeps the first bus address it read.
    const auto check = [] {
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/lumacro-test-bus", 1);
        auto grabber = platform::makePipeWireScreenGrabber(nullptr);
        const bool ok = platform::openGnomeRemoteSession() == nullptr &&
                        platform::makeMutterInjector(nullptr, nullptr) == nullptr && !grabber->open() &&
                        grabber->width() == 0 && !grabber->capture(true);
        std::_Exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(check(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
