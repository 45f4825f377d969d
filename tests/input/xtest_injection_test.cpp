// The handlers through the XTest backend into a real X server: what a window
// on that server receives.
#include "input/remote_input.h"
#include "platform/input_injector.h"
#include "x_fixture.h"

#include <X11/XF86keysym.h>

namespace input_test {
namespace {

class XInjectionTest : public XInjectionFixture {
protected:
    void SetUp() override {
        XInjectionFixture::SetUp();
        if (HasFatalFailure()) return;
        handler = std::make_unique<input::RemoteInputHandler>(*injector, nullptr, tools, overlay, forwarded, nullptr, nullptr);
    }

    // Presses of the given types as (type, x, y, button) tuples.
    struct Seen {
        int type, x, y;
        unsigned button;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> seen(std::initializer_list<int> types) {
        std::vector<Seen> out;
        for (const XEventRecord& r : window->events(types)) out.push_back({r.type, r.x, r.y, r.button});
        return out;
    }
    std::vector<std::pair<int, unsigned long>> keys() {
        std::vector<std::pair<int, unsigned long>> out;
        for (const XEventRecord& r : window->events({kKeyPress, kKeyRelease})) out.emplace_back(r.type, r.keysym);
        return out;
    }

    core::OverlayFlags overlay;
    core::ForwardedPointerSlot forwarded;
    core::Features tools;
    std::unique_ptr<input::RemoteInputHandler> handler;
};

TEST_F(XInjectionTest, AbsoluteClicksLandOnThePixelAskedFor) {
    EXPECT_EQ(injector->screenSize().width, 1920);
    EXPECT_EQ(injector->screenSize().height, 1080);
    const std::pair<int, int> points[] = {{1919, 1079}, {0, 0}, {1, 1}, {960, 540}, {1234, 777}, {1920, 1080}};
    for (auto [x, y] : points) {
        window->clear();
        handler->mouseEvent(1, true, float(x), float(y));
        ASSERT_TRUE(window->waitForCount(kButtonRelease, 1)) << x << "," << y;
        const int ex = std::min(x, 1919), ey = std::min(y, 1079);
        EXPECT_EQ(seen({kButtonPress, kButtonRelease}),
                  (std::vector<Seen>{{kButtonPress, ex, ey, 1}, {kButtonRelease, ex, ey, 1}}))
            << x << "," << y;
        int cx = -1, cy = -1;
        ASSERT_TRUE(injector->cursorPosition(cx, cy));
        EXPECT_EQ(std::make_pair(cx, cy), std::make_pair(ex, ey));
    }
    // Right click and double click.
    window->clear();
    handler->mouseEvent(3, true, 100, 200);
    handler->mouseEvent(2, true, 300, 400);
    ASSERT_TRUE(window->waitForCount(kButtonRelease, 3));
    EXPECT_EQ(seen({kButtonPress, kButtonRelease}),
              (std::vector<Seen>{{kButtonPress, 100, 200, 3}, {kButtonRelease, 100, 200, 3},
                                 {kButtonPress, 300, 400, 1}, {kButtonRelease, 300, 400, 1},
                                 {kButtonPress, 300, 400, 1}, {kButtonRelease, 300, 400, 1}}));
}

TEST_F(XInjectionTest, RelativeClicksActAtTheCursorAndMovesAreRelative) {
    injector->moveCursorTo(500, 300);
    handler->mouseEvent(1, false, 50, 60);  // dx, dy of a click are ignored
    ASSERT_TRUE(window->waitForCount(kButtonRelease, 1));
    EXPECT_EQ(seen({kButtonPress, kButtonRelease}),
              (std::vector<Seen>{{kButtonPress, 500, 300, 1}, {kButtonRelease, 500, 300, 1}}));

    // Small steps move by exactly their size (below any acceleration threshold).
    window->clear();
    handler->mouseEvent(4, false, 2.5f, -1.6f);  // rounds to (3, -1)
    handler->mouseEvent(4, false, 0.4f, 0.0f);   // rounds to (0, 0): nothing
    handler->mouseEvent(1, false, 0, 0);
    ASSERT_TRUE(window->waitForCount(kButtonRelease, 1));
    EXPECT_EQ(seen({kButtonPress}), (std::vector<Seen>{{kButtonPress, 503, 299, 1}}));

    // A large relative move goes the asked way.
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    injector->cursorPosition(x0, y0);
    handler->mouseEvent(4, false, 40, 30);
    injector->cursorPosition(x1, y1);
    EXPECT_GE(x1 - x0, 40);
    EXPECT_GE(y1 - y0, 30);
}

TEST_F(XInjectionTest, DragPressesMovesAndReleases) {
    handler->motionEvent(0, true, 100, 100);
    handler->motionEvent(2, true, 200, 150);
    handler->motionEvent(2, true, 300, 200);
    handler->motionEvent(1, true, 300, 200);
    ASSERT_TRUE(window->waitForCount(kButtonRelease, 1));
    const auto events = window->events({kButtonPress, kMotionNotify, kButtonRelease});
    std::vector<Seen> got;
    for (const XEventRecord& r : events) got.push_back({r.type, r.x, r.y, r.button});
    ASSERT_GE(got.size(), 4u);
    const auto press = std::find(got.begin(), got.end(), Seen{kButtonPress, 100, 100, 1});
    ASSERT_NE(press, got.end());
    EXPECT_EQ(got.back(), (Seen{kButtonRelease, 300, 200, 1}));
    // Between press and release the moves arrive with the button held.
    std::vector<std::pair<int, int>> held;
    for (size_t i = size_t(press - got.begin()) + 1; i + 1 < events.size(); ++i) {
        EXPECT_EQ(events[i].type, kMotionNotify);
        EXPECT_TRUE(events[i].state & kButton1Mask);
        held.emplace_back(events[i].x, events[i].y);
    }
    // The release, absolute too, is preceded by its own move.
    EXPECT_EQ(held, (std::vector<std::pair<int, int>>{{200, 150}, {300, 200}, {300, 200}}));
}

TEST_F(XInjectionTest, WheelSendsOneNotchPerMessage) {
    handler->mouseEvent(5, false, 0, 500);   // clamped to one notch up
    handler->mouseEvent(5, true, 0, -500);   // one notch down; absolute is ignored
    handler->mouseEvent(5, false, 0, 60);    // half notches add up
    handler->mouseEvent(5, false, 0, 60);
    ASSERT_TRUE(window->waitForCount(kButtonRelease, 3));
    std::vector<unsigned> buttons;
    for (const XEventRecord& r : window->events({kButtonPress})) buttons.push_back(r.button);
    EXPECT_EQ(buttons, (std::vector<unsigned>{4, 5, 4}));

    // A horizontal wheel record gives buttons 7 (right) and 6 (left).
    window->clear();
    const platform::InputRecord h[] = {platform::InputRecord::mouse(platform::mouse_flag::HWheel, 0, 0, 120),
                                       platform::InputRecord::mouse(platform::mouse_flag::HWheel, 0, 0, -240)};
    injector->sendInput(h, 2);
    ASSERT_TRUE(window->waitForCount(kButtonRelease, 3));
    buttons.clear();
    for (const XEventRecord& r : window->events({kButtonPress})) buttons.push_back(r.button);
    EXPECT_EQ(buttons, (std::vector<unsigned>{7, 6, 6}));
}

TEST_F(XInjectionTest, EveryPhoneKeyProducesItsKeysym) {
    const std::pair<int, std::vector<unsigned long>> table[] = {
        {19, {XK_Up}},
        {20, {XK_Down}},
        {21, {XK_Left}},
        {22, {XK_Right}},
        {24, {XF86XK_AudioRaiseVolume}},
        {25, {XF86XK_AudioLowerVolume}},
        {66, {XK_Return}},
        {92, {XK_Prior}},
        {93, {XK_Next}},
        {111, {XK_Escape}},
        {135, {XK_F5}},
        {250, {XK_Control_L, XK_v}},
        {251, {XK_Control_L, XK_c}},
        {252, {XK_Control_L, XK_x}},
        {253, {XK_Alt_L, XK_F4}},
        {254, {XK_Control_L, XK_KP_Add}},
        {255, {XK_Control_L, XK_KP_Subtract}},
    };
    for (const auto& [code, syms] : table) {
        window->clear();
        handler->keyEvent(code);
        ASSERT_TRUE(window->waitForCount(kKeyRelease, syms.size())) << code;
        std::vector<std::pair<int, unsigned long>> expected;
        if (syms.size() == 1) {
            expected = {{kKeyPress, syms[0]}, {kKeyRelease, syms[0]}};
        } else {
            // Modifier down, key down, modifier up, key up.
            expected = {{kKeyPress, syms[0]}, {kKeyPress, syms[1]}, {kKeyRelease, syms[0]}, {kKeyRelease, syms[1]}};
        }
        EXPECT_EQ(keys(), expected) << "phone key " << code;
    }
    // Codes outside the table send nothing.
    window->clear();
    for (int code : {0, 18, 23, 26, 112, 256, -1, 1000}) handler->keyEvent(code);
    handler->keyEvent(66);
    ASSERT_TRUE(window->waitForCount(kKeyRelease, 1));
    EXPECT_EQ(keys(), (std::vector<std::pair<int, unsigned long>>{{kKeyPress, XK_Return}, {kKeyRelease, XK_Return}}));
}

TEST_F(XInjectionTest, ChordsWithOneOrSeveralModifiersArriveInOrder) {
    handler->keyEventEx('S', false, true, false);
    ASSERT_TRUE(window->waitForCount(kKeyRelease, 2));
    EXPECT_EQ(keys(), (std::vector<std::pair<int, unsigned long>>{
                          {kKeyPress, XK_Control_L}, {kKeyPress, XK_s}, {kKeyRelease, XK_Control_L}, {kKeyRelease, XK_s}}));
    // The key itself is seen with Ctrl held.
    EXPECT_TRUE(window->events({kKeyPress})[1].state & kControlMask);

    window->clear();
    handler->keyEventEx('T', true, true, true);
    ASSERT_TRUE(window->waitForCount(kKeyRelease, 4));
    EXPECT_EQ(keys(), (std::vector<std::pair<int, unsigned long>>{{kKeyPress, XK_Control_L},
                                                            {kKeyPress, XK_Shift_L},
                                                            {kKeyPress, XK_Alt_L},
                                                            {kKeyPress, XK_t},
                                                            {kKeyRelease, XK_Alt_L},
                                                            {kKeyRelease, XK_Shift_L},
                                                            {kKeyRelease, XK_Control_L},
                                                            {kKeyRelease, XK_t}}));
    const XEventRecord t = window->events({kKeyPress})[3];
    EXPECT_EQ(t.state & (kControlMask | kShiftMask | kMod1Mask), unsigned(kControlMask | kShiftMask | kMod1Mask));
}

// Every key of the virtual-key table can be sent, including keysyms the
// keymap lacks (they borrow a spare keycode) and keypad digits (whose keycode
// gives another keysym without Num Lock).
TEST_F(XInjectionTest, EveryVirtualKeyOfTheTableArrivesAsItsKeysym) {
    std::vector<std::pair<int, unsigned long>> expected;
    size_t sent = 0;
    for (int vk = 1; vk < 256; ++vk) {
        const unsigned long sym = platform::keysymForVirtualKey(uint16_t(vk));
        if (sym == 0) continue;
        // Lock keys would change the state for the rest of the run.
        if (sym == XK_Caps_Lock || sym == XK_Num_Lock || sym == XK_Scroll_Lock) continue;
        handler->keyEventEx(vk, false, false, false);
        expected.emplace_back(kKeyPress, sym);
        expected.emplace_back(kKeyRelease, sym);
        ++sent;
        // Any X client reads a rebound keycode's keysym when it handles the
        // event; waiting for each key keeps a slow receiver from seeing a
        // spare that was lent to a later key meanwhile.
        ASSERT_TRUE(window->waitForCount(kKeyRelease, sent, 5000)) << "virtual key " << vk;
    }
    EXPECT_GE(sent, 150u);
    const auto got = keys();
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i], expected[i]) << "key " << i / 2 << " keysym 0x" << std::hex << expected[i].second
                                       << " got 0x" << got[i].second;
}

TEST_F(XInjectionTest, SystemPointerHideAndShowAreBalanced) {
    // Showing without hiding, or hiding twice, must not upset the server.
    injector->setSystemPointerHidden(false);
    injector->setSystemPointerHidden(true);
    injector->setSystemPointerHidden(true);
    injector->setSystemPointerHidden(false);
    handler->mouseEvent(1, true, 10, 10);
    EXPECT_TRUE(window->waitForCount(kButtonRelease, 1));
}

}  // namespace
}  // namespace input_test
