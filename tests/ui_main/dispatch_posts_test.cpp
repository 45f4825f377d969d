// Messages posted to the hub: routing, packing of the two integers, and the
// pointer-move diversion to the spotlight.
#include "dispatch_fixture.h"

#include "core/round_delta.h"

#include <climits>
#include <cmath>

namespace dispatch_test {
namespace {

using testing_support::RecordingHub;

struct PostCase {
    const char* className;
    const char* json;
    std::vector<RecordingHub::Summary> expected;
};

class PostTable : public DispatchTest, public ::testing::WithParamInterface<PostCase> {};

TEST_P(PostTable, PostsExactlyTheListedMessages) {
    dispatch(GetParam().className, GetParam().json);
    EXPECT_EQ(hub.summaries(), GetParam().expected) << GetParam().className << GetParam().json;
}

INSTANTIATE_TEST_SUITE_P(Dispatcher, PostTable, ::testing::Values(
    PostCase{msg::MsgMediaPlay, R"({"action":0})", {{core::UM_MEDIA_CLOSE, 0, 0}}},
    PostCase{msg::MsgMediaPlay, R"({"action":1})", {}},
    PostCase{msg::MsgMediaPlay, R"({"action":2})", {{core::UM_MEDIA_PAUSE, 1, 0}}},
    PostCase{msg::MsgMediaPlay, R"({"action":3})", {{core::UM_MEDIA_PAUSE, 0, 0}}},
    PostCase{msg::MsgMediaPlay, R"({"action":7})", {}},
    PostCase{msg::MsgLiveOpen, R"({"width":1280,"height":720,"codecId":7,"pixelFormat":3})",
             {{core::UM_LIVE_OPEN, 1280 + (720LL << 16), 7}}},
    PostCase{msg::MsgLiveOpen, R"({"width":640,"height":480,"codecId":1})",
             {{core::UM_LIVE_OPEN, 640 + (480LL << 16), 2}}},
    PostCase{msg::MsgLiveClose, "{}", {{core::UM_MEDIA_CLOSE, 0, 0}}},
    PostCase{msg::MsgBrush, R"({"action":0})", {{core::UM_BRUSH, 0, 0}}},
    PostCase{msg::MsgBrush, R"({"action":1})", {{core::UM_BRUSH, 1, 0}}},
    PostCase{msg::MsgBrush, R"({"action":2})", {{core::UM_BRUSH, 3, 0}}},
    PostCase{msg::MsgBrush, R"({"action":3,"color":-16777216})", {{core::UM_BRUSH, 2, -16777216}}},
    // ARGB written as an unsigned number is kept, not rejected as out of int range.
    PostCase{msg::MsgBrush, R"({"action":3,"color":4294967295})", {{core::UM_BRUSH, 2, 4294967295LL}}},
    PostCase{msg::MsgBrush, R"({"action":4,"pointList":[1,2,3]})", {}},
    PostCase{msg::MsgBrush, R"({"action":4})", {}},
    PostCase{msg::MsgBrush, R"({"action":5,"size":12})", {{core::UM_BRUSH, 6, 12}}},
    PostCase{msg::MsgBrush, R"({"action":6})", {}},
    PostCase{msg::MsgSpot, R"({"action":0})", {{core::UM_SPOT, 0, 0}}},
    PostCase{msg::MsgSpot, R"({"action":3})", {{core::UM_SPOT, 3, 0}}},
    PostCase{msg::MsgSpot, R"({"action":4})", {}},
    PostCase{msg::MsgDrawingBoard, R"({"action":1})", {{core::UM_DRAWING_BOARD, 1, 1}}},
    PostCase{msg::MsgDrawingBoard, "{}", {{core::UM_DRAWING_BOARD, 1, 0}}},
    PostCase{msg::MsgGlass, R"({"action":1})", {{core::UM_GLASS, 1, 0}}},
    PostCase{msg::MsgPCCamera, R"({"action":5})", {{core::UM_PC_CAMERA, 0, 0}}},
    // Class names compare byte for byte.
    PostCase{"com.quorvel.qm.msg.msgPCCamera", "{}", {}},
    PostCase{"com.quorvel.qm.msg.MsgPCCamera ", "{}", {}}));

TEST_F(DispatchTest, UnknownClassIsLoggedWithControlBytesEscaped) {
    LogCapture log;
    dispatch("com.quorvel.qm.msg.MSGBRUSH", R"({"action":1})");
    dispatch("Evil\nline");
    EXPECT_EQ(hub.size(), 0u);
    EXPECT_THAT(log.text(), ::testing::HasSubstr("unknown msg: com.quorvel.qm.msg.MSGBRUSH"));
    EXPECT_THAT(log.text(), ::testing::HasSubstr("unknown msg: Evil\\x0aline"));
}

TEST(RoundDelta, TruncatesThenRoundsUpFromHalfAndSaturates) {
    const std::pair<float, int> cases[] = {
        {2.5f, 3}, {2.4f, 2}, {0.6f, 1}, {-0.6f, 0}, {-2.7f, -2}, {NAN, 0},
        {1e30f, INT_MAX}, {-1e30f, INT_MIN}, {INFINITY, INT_MAX}, {-INFINITY, INT_MIN}};
    for (const auto& [value, rounded] : cases)
        EXPECT_EQ(core::roundDelta(value), rounded) << value;
}

TEST_F(DispatchTest, MoveWithSpotlightShownSteersTheSpotlightOnly) {
    overlay.spotlightActive = true;
    EXPECT_CALL(input, mouseEvent(_, _, _, _)).Times(0);
    dispatch(msg::MsgMouseEvent, R"({"action":4,"dx":3.0,"dy":-2.0})");
    dispatch(msg::MsgMouseEvent, R"({"action":4,"dx":-3.2,"dy":2.6})");
    // Beyond 16 bits a delta is clamped, not wrapped into the other direction.
    dispatch(msg::MsgMouseEvent, R"({"action":4,"dx":40000,"dy":-40000})");
    // Rounds to no move at all: nothing.
    dispatch(msg::MsgMouseEvent, R"({"action":4,"dx":-0.6,"dy":0.4})");
    EXPECT_EQ(hub.summaries(),
              (Summaries{{core::UM_SPOT, 5, 0x0003FFFE}, {core::UM_SPOT, 5, 0xFFFD0003}, {core::UM_SPOT, 5, 0x7FFF8000}}));
}

TEST_F(DispatchTest, PointerInputWithoutSpotlightOrNotAMoveReachesTheDesktop) {
    EXPECT_CALL(input, mouseEvent(4, false, 3.0f, -2.0f));
    EXPECT_CALL(input, mouseEvent(1, true, 1920.0f, 1080.0f));
    dispatch(msg::MsgMouseEvent, R"({"action":4,"dx":3,"dy":-2})");
    dispatch(msg::MsgMouseEvent, R"({"action":4,"dx":0.4,"dy":-0.9})");  // no move: nothing
    overlay.spotlightActive = true;
    EXPECT_CALL(input, motionEvent(2, false, 3.0f, 4.0f));
    dispatch(msg::MsgMouseEvent, R"({"action":1,"absolute":1,"dx":1920,"dy":1080})");
    dispatch(msg::MsgMotionEvent, R"({"action":2,"dx":3,"dy":4})");
    EXPECT_EQ(hub.size(), 0u);
}

}  // namespace
}  // namespace dispatch_test
