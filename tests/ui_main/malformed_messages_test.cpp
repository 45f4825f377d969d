// Fields of the wrong JSON type and missing features: the message is dropped
// or logged and the session goes on.
#include "dispatch_fixture.h"

namespace dispatch_test {
namespace {

struct ClassAndJson {
    const char* className;
    const char* json;
};

class WrongTypes : public DispatchTest, public ::testing::WithParamInterface<ClassAndJson> {};

TEST_P(WrongTypes, MessageIsDroppedWithALogLineAndTheNextOneWorks) {
    EXPECT_CALL(input, mouseEvent(_, _, _, _)).Times(0);
    EXPECT_CALL(photoWall, show(_, _)).Times(0);
    EXPECT_CALL(files, openUrl(_, _, _)).Times(0);
    EXPECT_CALL(recorder, start(_)).Times(0);
    LogCapture log;
    dispatch(GetParam().className, GetParam().json, 42);
    EXPECT_EQ(hub.size(), 0u);
    EXPECT_EQ(context.liveSourceSocket.load(), -1);
    EXPECT_THAT(log.text(), ::testing::HasSubstr(std::string("socket 42: ") + GetParam().className));

    dispatch(msg::MsgSpot, R"({"action":1})", 42);
    EXPECT_EQ(hub.summaries(), (Summaries{{core::UM_SPOT, 1, 0}}));
}

INSTANTIATE_TEST_SUITE_P(Dispatcher, WrongTypes, ::testing::Values(
    ClassAndJson{msg::MsgMouseEvent, R"({"action":"4","dx":3})"},
    ClassAndJson{msg::MsgMouseEvent, R"({"action":4,"dx":{},"dy":1})"},
    ClassAndJson{msg::MsgMouseEvent, R"({"action":1e20})"},
    ClassAndJson{msg::MsgBrush, R"({"action":4,"pointList":"1,2,3,4"})"},
    ClassAndJson{msg::MsgBrush, R"({"action":4,"pointList":{"a":1,"b":2}})"},
    ClassAndJson{msg::MsgBrush, R"({"action":4,"pointList":[1,"2",3,4]})"},
    ClassAndJson{msg::MsgPhotos, R"({"urls":"http://a/1.jpg"})"},
    ClassAndJson{msg::MsgPhotos, R"({"urls":{"0":"http://a/1.jpg"}})"},
    ClassAndJson{msg::MsgOpenURL, R"({"resType":1,"url":{"u":1}})"},
    ClassAndJson{msg::MsgMediaRecord, R"({"action":1,"enableClientVoice":"on"})"},
    ClassAndJson{msg::MsgLiveOpen, R"({"width":"640"})"},
    ClassAndJson{msg::MsgPCCamera, "[1,2]"}));  // not an object at all

TEST_F(DispatchTest, MissingFeaturesAreLoggedByName) {
    context.features = core::Features{};
    context.settings = nullptr;
    context.hub = nullptr;
    const ClassAndJson every[] = {
        {msg::MsgMouseEvent, R"({"action":4,"dx":3})"}, {msg::MsgMotionEvent, "{}"},
        {msg::MsgRotateEvent, "{}"}, {msg::MsgKeyEvent, "{}"}, {msg::MsgKeyEventEx, "{}"},
        {msg::MsgLive, "{}"}, {msg::MsgOpenURL, R"({"resType":0})"}, {msg::MsgLiveData, "{}"},
        {msg::MsgAudioPlayStart, "{}"}, {msg::MsgAudioPlayData, "{}"}, {msg::MsgAudioPlayStop, "{}"},
        {msg::MsgMediaRecord, R"({"action":2})"}, {msg::MsgMediaRecord, R"({"action":4})"},
        {msg::MsgVoiceData, "{}"}, {msg::MsgFile, R"({"action":4})"}, {msg::MsgEditText, "{}"},
        {msg::MsgMediaPlayer, R"({"action":2})"}, {msg::MsgMediaPlayer, R"({"action":5})"},
        {msg::MsgVolume, "{}"}, {msg::MsgPPT, R"({"action":0})"}, {msg::MsgPPT, R"({"action":1})"},
        {msg::MsgScreenshot, "{}"}, {msg::MsgInputText, "{}"}, {msg::MsgPhotos, "{}"},
        {msg::MsgPexloAutoLogin, "{}"}, {msg::MsgOpenEbook, "{}"}, {msg::MsgMiracastDisplay, "{}"},
        {msg::MsgBrush, R"({"action":1})"}, {msg::MsgScreen, R"({"action":1})"}};
    LogCapture log;
    for (const ClassAndJson& c : every)
        dispatch(c.className, c.json);

    const std::string text = log.text();
    EXPECT_THAT(text, ::testing::HasSubstr(std::string("input not available: ") + msg::MsgMouseEvent));
    EXPECT_THAT(text, ::testing::HasSubstr(std::string("recorder not available: ") + msg::MsgMediaRecord));
    EXPECT_THAT(text, ::testing::HasSubstr(std::string("slide show not available: ") + msg::MsgPPT));
    EXPECT_THAT(text, ::testing::HasSubstr(std::string("hub not available: ") + msg::MsgBrush));
    EXPECT_THAT(text, ::testing::Not(::testing::HasSubstr("unknown msg")));
}

}  // namespace
}  // namespace dispatch_test
