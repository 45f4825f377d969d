// The input records each message produces, on the recording injector, and the
// tool commands of the overlay branches.
#include "common/recording_hub.h"
#include "core/overlay_flags.h"
#include "core/pointer_forward.h"
#include "input/remote_input.h"
#include "input/virtual_keys.h"
#include "net/json_text.h"
#include "platform/fakes/fake_input_injector.h"
#include "platform/fakes/fake_volume_control.h"
#include "protocol/message_names.h"
#include "ui/main/command_context.h"
#include "ui/main/dispatcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace input_test {
namespace {

using platform::InputRecord;
using ::testing::ElementsAre;
namespace f = platform::mouse_flag;
namespace vk = input::vk;

struct MockBoard : core::DrawingBoard {
    MOCK_METHOD(bool, isOpened, (), (override));
    MOCK_METHOD(void, setRotateAngle, (float), (override));
    MOCK_METHOD(void, setInputText, (const std::string&), (override));
    MOCK_METHOD(void, setAnime, (int), (override));
    MOCK_METHOD(void, nextPage, (int), (override));
    MOCK_METHOD(void, imageZoom, (int), (override));
};
struct MockPhotoWall : core::PhotoWall {
    MOCK_METHOD(void, show, (const std::vector<std::string>&, int), (override));
    MOCK_METHOD(void, step, (bool), (override));
    MOCK_METHOD(void, zoom, (bool), (override));
    MOCK_METHOD(void, close, (), (override));
};
struct MockMagnifier : core::Magnifier {
    MOCK_METHOD(void, zoom, (float), (override));
};

struct FakeClipboard : input::ClipboardWriter {
    bool setText(const std::string& utf8) override {
        texts.push_back(utf8);
        return accept;
    }
    std::vector<std::string> texts;
    bool accept = true;
};

// A hub that also notes the forwarded pointer record at each synchronous send.
struct ForwardHub : testing_support::RecordingHub {
    ForwardHub(const core::ForwardedPointerSlot& slot, const core::OverlayFlags& flags)
        : slot(slot), flags(flags) {}
    void send(uint32_t message, int64_t wParam, int64_t lParam) override {
        if (message == core::UM_BRUSH && wParam == 4) {
            forwarded.push_back(slot.record);
            heldAtSend.push_back(flags.remoteButtonHeld.load());
        }
        testing_support::RecordingHub::send(message, wParam, lParam);
    }
    const core::ForwardedPointerSlot& slot;
    const core::OverlayFlags& flags;
    std::vector<core::ForwardedPointer> forwarded;
    std::vector<bool> heldAtSend;
};

InputRecord mouse(uint32_t flags, int dx = 0, int dy = 0, int data = 0) {
    return InputRecord::mouse(flags, dx, dy, data);
}
InputRecord down(uint16_t k) { return InputRecord::key(k, false); }
InputRecord up(uint16_t k) { return InputRecord::key(k, true); }

class HandlerTest : public ::testing::Test {
protected:
    void openBoard(bool open) { ON_CALL(board, isOpened()).WillByDefault(::testing::Return(open)); }

    platform::FakeInputInjector injector;
    core::OverlayFlags overlay;
    core::ForwardedPointerSlot forwarded;
    ForwardHub hub{forwarded, overlay};
    FakeClipboard clipboard;
    platform::FakeVolumeControl volume;
    ::testing::NiceMock<MockBoard> board;
    ::testing::NiceMock<MockPhotoWall> wall;
    ::testing::NiceMock<MockMagnifier> magnifier;
    core::Features tools;
    input::RemoteInputHandler handler{injector, &hub, tools, overlay, forwarded, &clipboard, &volume};
};

TEST_F(HandlerTest, AbsoluteButtonsArePrecededByAMoveToTheirNormalisedPosition) {
    handler.mouseEvent(1, true, 1920, 1080);
    EXPECT_THAT(injector.groups(),
                ElementsAre(ElementsAre(mouse(f::Move | f::Absolute, 65535, 65535),
                                        mouse(f::LeftDown | f::Absolute, 65535, 65535)),
                            ElementsAre(mouse(f::Move | f::Absolute, 65535, 65535),
                                        mouse(f::LeftUp | f::Absolute, 65535, 65535))));
    // x * 65535 / width, truncated: (1919, 1079) -> (65500, 65474), and the
    // pointer goes back to exactly that pixel.
    injector.clear();
    handler.mouseEvent(3, true, 1919, 1079);
    EXPECT_THAT(injector.records(), ElementsAre(mouse(f::Move | f::Absolute, 65500, 65474),
                                                mouse(f::RightDown | f::Absolute, 65500, 65474),
                                                mouse(f::Move | f::Absolute, 65500, 65474),
                                                mouse(f::RightUp | f::Absolute, 65500, 65474)));
    int x = 0, y = 0;
    injector.cursorPosition(x, y);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(1919, 1079));
    // Every pixel of both axes maps back to itself on odd sizes too.
    injector.setScreenSize(1366, 767);
    for (int px = 1; px < 1366; ++px) {
        injector.clear();
        handler.mouseEvent(4, true, float(px), float(px % 767));
        injector.cursorPosition(x, y);
        ASSERT_EQ(std::make_pair(x, y), std::make_pair(px, px % 767));
    }
    // An absolute move is one record.
    injector.clear();
    handler.mouseEvent(4, true, 683, 0.5f);
    EXPECT_THAT(injector.groups(), ElementsAre(ElementsAre(mouse(f::Move | f::Absolute, 32767, 85))));
}

TEST_F(HandlerTest, RelativeEventsClickAtTheCursorAndRoundMoves) {
    handler.mouseEvent(1, false, 50, 60);
    handler.mouseEvent(2, false, 5, 5);
    EXPECT_THAT(injector.records(), ElementsAre(mouse(f::LeftDown), mouse(f::LeftUp), mouse(f::LeftDown),
                                                mouse(f::LeftUp), mouse(f::LeftDown), mouse(f::LeftUp)));
    injector.clear();
    handler.mouseEvent(4, false, -0.6f, 0.6f);   // (0, 1)
    handler.mouseEvent(4, false, 2.5f, -2.7f);   // (3, -2)
    handler.mouseEvent(4, false, 2.4f, 0.0f);    // (2, 0)
    handler.mouseEvent(4, false, 0.0f, 0.0f);    // nothing
    handler.mouseEvent(4, false, 0.4f, -0.9f);   // rounds to (0, 0): nothing
    EXPECT_THAT(injector.records(),
                ElementsAre(mouse(f::Move, 0, 1), mouse(f::Move, 3, -2), mouse(f::Move, 2, 0)));
}

TEST_F(HandlerTest, WheelIsClampedToOneNotchAndUnknownActionsDoNothing) {
    handler.mouseEvent(5, true, 7, 500);
    handler.mouseEvent(5, false, 0, -500);
    handler.mouseEvent(5, false, 0, 40.6f);
    EXPECT_THAT(injector.records(), ElementsAre(mouse(f::Wheel, 0, 0, 120), mouse(f::Wheel, 0, 0, -120),
                                                mouse(f::Wheel, 0, 0, 41)));
    injector.clear();
    for (int action : {0, 6, -1, 99}) handler.mouseEvent(action, true, 10, 10);
    for (int action : {3, 4, -1, 99}) handler.motionEvent(action, true, 10, 10);
    EXPECT_TRUE(injector.records().empty());
}

TEST_F(HandlerTest, AbsoluteEventsWithoutAScreenSizeAreDropped) {
    injector.setScreenSize(0, 0);
    handler.mouseEvent(1, true, 10, 10);
    handler.motionEvent(2, true, 10, 10);
    EXPECT_TRUE(injector.records().empty());
    handler.mouseEvent(1, false, 10, 10);  // relative still works
    EXPECT_EQ(injector.records().size(), 2u);
}

TEST_F(HandlerTest, PointerIsForwardedToTheAnnotationOverlayWhileItAsks) {
    handler.motionEvent(0, true, 10, 20);
    EXPECT_EQ(hub.size(), 0u);  // not forwarding
    overlay.annotationForwarding = true;
    handler.motionEvent(0, true, 100, 200);
    handler.motionEvent(2, true, 110, 210);
    handler.motionEvent(1, true, 120, 220);
    handler.mouseEvent(4, true, 130, 230);
    handler.mouseEvent(1, true, 140, 240);   // clicks are not forwarded
    handler.mouseEvent(4, false, 0, 0);      // an empty move is not either
    injector.moveCursorTo(500, 500);
    handler.mouseEvent(4, false, 7, -3);     // relative: where the pointer went
    handler.motionEvent(0, false, 0, 0);

    ASSERT_EQ(hub.forwarded.size(), 6u);
    for (const auto& r : hub.summaries()) EXPECT_EQ(r, (testing_support::RecordingHub::Summary{core::UM_BRUSH, 4, 0}));
    auto rec = [](int x, int y, bool isUp, bool isDown) { return std::tuple(x, y, isUp, isDown); };
    std::vector<std::tuple<int, int, bool, bool>> got;
    for (const auto& p : hub.forwarded) got.push_back(rec(p.x, p.y, p.isUp, p.isDown));
    EXPECT_THAT(got, ElementsAre(rec(100, 200, false, true), rec(110, 210, false, false),
                                 rec(120, 220, true, false), rec(130, 230, false, false),
                                 rec(507, 497, false, false), rec(507, 497, false, true)));
    for (const auto& r : hub.takeAll()) EXPECT_TRUE(r.sent);
    // The button is held from the press until after the release was forwarded.
    EXPECT_THAT(hub.heldAtSend, ElementsAre(true, true, true, false, false, true));
    EXPECT_TRUE(overlay.remoteButtonHeld.load());
    handler.motionEvent(1, false, 0, 0);
    EXPECT_FALSE(overlay.remoteButtonHeld.load());
}

TEST_F(HandlerTest, MovesSteerTheSpotlightThroughTheDispatcherButDragsDoNot) {
    ui::CommandContext context;
    context.hub = &hub;
    context.overlay = &overlay;
    context.features.input = &handler;
    auto dispatch = [&](const char* cls, const char* json) {
        Json::Value m;
        ASSERT_TRUE(net::parseJson(json, m));
        ui::dispatchMessage(nullptr, cls, &context, m, 0, 3);
    };
    overlay.spotlightActive = true;
    overlay.annotationForwarding = true;
    dispatch(protocol::MsgMouseEvent, R"({"action":4,"dx":3,"dy":-2})");
    EXPECT_TRUE(injector.records().empty());
    EXPECT_THAT(hub.summaries(), ElementsAre(testing_support::RecordingHub::Summary{core::UM_SPOT, 5, 0x0003FFFE}));
    hub.clear();
    dispatch(protocol::MsgMotionEvent, R"({"action":2,"dx":3,"dy":-2})");
    EXPECT_THAT(injector.records(), ElementsAre(mouse(f::Move, 3, -2)));
    EXPECT_EQ(hub.count(core::UM_BRUSH), 1u);
    // Clicks are not diverted.
    injector.clear();
    dispatch(protocol::MsgMouseEvent, R"({"action":1})");
    EXPECT_EQ(injector.records().size(), 2u);
}

TEST_F(HandlerTest, PlainKeysAreTwoCallsAndChordsOneGroupReleasingTheModifierFirst) {
    handler.keyEvent(19);
    handler.keyEvent(250);
    EXPECT_THAT(injector.groups(),
                ElementsAre(ElementsAre(down(vk::Up)), ElementsAre(up(vk::Up)),
                            ElementsAre(down(vk::Control), down(vk::KeyV), up(vk::Control), up(vk::KeyV))));
    // keyEventEx: the low 16 bits, one or several modifiers.
    injector.clear();
    handler.keyEventEx(0x10000 + 'A', false, false, false);
    handler.keyEventEx('B', true, false, false);
    handler.keyEventEx('C', true, true, false);
    handler.keyEventEx('D', false, true, true);
    EXPECT_THAT(injector.groups(),
                ElementsAre(ElementsAre(down('A')), ElementsAre(up('A')),
                            ElementsAre(down(vk::Shift), down('B'), up(vk::Shift), up('B')),
                            ElementsAre(down(vk::Control), down(vk::Shift), down('C'), up(vk::Shift),
                                        up(vk::Control), up('C')),
                            ElementsAre(down(vk::Control), down(vk::Menu), down('D'), up(vk::Menu),
                                        up(vk::Control), up('D'))));
}

TEST_F(HandlerTest, PageKeysSteerTheOpenToolAndStillSendTheKey) {
    tools.drawingBoard = &board;
    tools.photoWall = &wall;
    overlay.photoWallOpen = true;
    EXPECT_CALL(wall, step(true));
    handler.keyEvent(93);
    openBoard(true);
    EXPECT_CALL(board, nextPage(0));
    EXPECT_CALL(wall, step(::testing::_)).Times(0);  // the board comes first
    handler.keyEvent(92);
    EXPECT_THAT(injector.records(), ElementsAre(down(vk::Next), up(vk::Next), down(vk::Prior), up(vk::Prior)));
}

TEST_F(HandlerTest, CloseKeyClosesTheBoardThenThePhotoWallElseSendsAltF4) {
    handler.keyEvent(253);  // no tools: the fallback key
    EXPECT_THAT(injector.records(), ElementsAre(down(vk::Menu), down(vk::F4), up(vk::Menu), up(vk::F4)));
    injector.clear();

    tools.drawingBoard = &board;
    tools.photoWall = &wall;
    overlay.photoWallOpen = true;
    EXPECT_CALL(wall, close()).Times(1);
    handler.keyEvent(253);
    openBoard(true);
    handler.keyEvent(253);
    handler.keyEventEx(vk::F4, false, false, true);  // Alt+F4 behaves as the close key
    EXPECT_TRUE(injector.records().empty());
    EXPECT_THAT(hub.summaries(), ElementsAre(testing_support::RecordingHub::Summary{core::UM_PAINTER, 0, 0},
                                             testing_support::RecordingHub::Summary{core::UM_PAINTER, 0, 0}));
}

TEST_F(HandlerTest, ZoomKeysGoToTheFirstToolShown) {
    tools.drawingBoard = &board;
    tools.photoWall = &wall;
    tools.magnifier = &magnifier;
    core::OverlayFlags& fl = overlay;
    fl.spotlightActive = fl.magnifierActive = fl.photoWallOpen = true;
    openBoard(true);
    {
        ::testing::InSequence order;
        EXPECT_CALL(magnifier, zoom(0.1f));
        EXPECT_CALL(board, imageZoom(0));
        EXPECT_CALL(wall, zoom(true));
    }
    handler.keyEvent(254);          // spotlight
    handler.keyEvent(255);
    fl.spotlightActive = false;
    handler.keyEvent(254);          // magnifier
    fl.magnifierActive = false;
    handler.keyEvent(255);          // drawing board
    openBoard(false);
    handler.keyEvent(254);          // photo wall
    fl.photoWallOpen = false;
    handler.keyEvent(255);          // the key chord
    EXPECT_THAT(hub.summaries(), ElementsAre(testing_support::RecordingHub::Summary{core::UM_SPOT, 4, 1},
                                             testing_support::RecordingHub::Summary{core::UM_SPOT, 4, 0}));
    EXPECT_THAT(injector.records(),
                ElementsAre(down(vk::Control), down(vk::Subtract), up(vk::Control), up(vk::Subtract)));
    // A tool flag without the tool (not built yet) takes the fallback key.
    injector.clear();
    tools.magnifier = nullptr;
    fl.magnifierActive = true;
    handler.keyEvent(254);
    EXPECT_EQ(injector.records().size(), 4u);
}

TEST_F(HandlerTest, RotationReachesOnlyAnOpenBoard) {
    tools.drawingBoard = &board;
    EXPECT_CALL(board, setRotateAngle(::testing::_)).Times(0);
    handler.rotateEvent(30);
    ::testing::Mock::VerifyAndClearExpectations(&board);
    openBoard(true);
    EXPECT_CALL(board, setRotateAngle(-30.5f));
    handler.rotateEvent(30.5f);
}

TEST_F(HandlerTest, TextIsPastedWholeThroughTheClipboard) {
    handler.inputText("abc");
    handler.inputText("你好, café");
    EXPECT_THAT(clipboard.texts, ElementsAre("abc", "你好, café"));
    const std::vector<std::vector<InputRecord>> paste = {{down(vk::LControl)}, {down(vk::KeyV)}, {up(vk::KeyV)},
                                                         {up(vk::LControl)}};
    auto groups = injector.groups();
    ASSERT_EQ(groups.size(), 8u);
    EXPECT_EQ(std::vector(groups.begin(), groups.begin() + 4), paste);
    // When the clipboard cannot be set nothing is pasted.
    injector.clear();
    clipboard.accept = false;
    handler.inputText("lost");
    EXPECT_TRUE(injector.records().empty());
}

TEST_F(HandlerTest, VolumeGoesToTheSoundOutput) {
    handler.setVolume(40);
    handler.setVolume(0);
    EXPECT_THAT(volume.levels(), ElementsAre(40, 0));
    // Without clipboard or volume control the session goes on.
    input::RemoteInputHandler bare(injector, nullptr, tools, overlay, forwarded, nullptr, nullptr);
    bare.inputText("x");
    bare.setVolume(10);
    overlay.annotationForwarding = true;
    bare.motionEvent(0, true, 1, 1);
    EXPECT_EQ(injector.records().size(), 2u);
}

}  // namespace
}  // namespace input_test
