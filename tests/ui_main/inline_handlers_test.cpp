// Work done on the receive thread: each class reaches its feature, and the
// rules the dispatcher keeps itself (attach limit, record state, hand-over).
#include "dispatch_fixture.h"

#include "support/clock.h"

namespace dispatch_test {
namespace {

using ::testing::ElementsAre;
using ::testing::InSequence;
using ::testing::Pointee;

TEST_F(DispatchTest, EachInlineClassReachesItsFeature) {
    const std::vector<uint8_t> tail{1, 2, 3};
    EXPECT_CALL(input, rotateEvent(-30.5f));
    EXPECT_CALL(input, keyEvent(93));
    EXPECT_CALL(input, keyEventEx(115, false, false, true));
    EXPECT_CALL(input, inputText("abc"));
    EXPECT_CALL(input, setVolume(40));
    EXPECT_CALL(liveStream, liveRequest(7, 1));
    EXPECT_CALL(liveView, videoData(Pointee(1), 3u));
    EXPECT_CALL(phoneAudio, start(2, 44100, Pointee(1), 3u));
    EXPECT_CALL(phoneAudio, data(Pointee(1), 3u));
    EXPECT_CALL(phoneAudio, stop());
    EXPECT_CALL(recorder, voiceData(Pointee(1), 3u));
    EXPECT_CALL(remoteMedia, readAnswer(Pointee(1), 3u));
    EXPECT_CALL(remoteMedia, seekDone());
    EXPECT_CALL(board, setInputText("hello"));
    EXPECT_CALL(slides, gotoSlide(4));
    EXPECT_CALL(integration, openEbook());
    EXPECT_CALL(integration, miracastDisplay());

    dispatch(msg::MsgRotateEvent, R"({"degree":-30.5})");
    dispatch(msg::MsgKeyEvent, R"({"keyCode":93})");
    dispatch(msg::MsgKeyEventEx, R"({"keyCode":115,"alt":true})");
    dispatch(msg::MsgInputText, R"({"text":"abc"})");
    dispatch(msg::MsgVolume, R"({"volume":40})");
    dispatch(msg::MsgLive, R"({"action":1})");
    dispatch(msg::MsgLiveData, R"({"flag":1})", 7, tail);
    dispatch(msg::MsgLiveData, R"({"flag":2})", 7, tail);  // not video
    dispatch(msg::MsgAudioPlayStart, R"({"channels":2,"sampleRate":44100})", 7, tail);
    dispatch(msg::MsgAudioPlayData, "{}", 7, tail);
    dispatch(msg::MsgAudioPlayStop);
    dispatch(msg::MsgVoiceData, "{}", 7, tail);
    dispatch(msg::MsgMediaPlayer, R"({"action":2})", 7, tail);
    dispatch(msg::MsgMediaPlayer, R"({"action":5})");
    dispatch(msg::MsgEditText, R"({"content":"hello"})");
    dispatch(msg::MsgPPT, R"({"action":1,"slideIndex":4})");
    dispatch(msg::MsgOpenEbook);
    dispatch(msg::MsgMiracastDisplay);
    EXPECT_EQ(hub.size(), 0u);
}

TEST_F(DispatchTest, SlideShowAttachIsAcceptedAtMostOncePer1001Ms) {
    int attached = 0;
    ON_CALL(slides, attach()).WillByDefault([&] { ++attached; });
    // (clock, attaches so far): counted from the last accepted request.
    const std::pair<int64_t, int> steps[] = {{0, 1},    {500, 1},  {1000, 1}, {1001, 2},
                                             {1500, 2}, {2001, 2}, {2002, 3}};
    for (const auto& [now, expected] : steps) {
        gFakeNow = now;
        dispatch(msg::MsgPPT, R"({"action":0})");
        EXPECT_EQ(attached, expected) << "at " << now;
    }
    // The real monotonic clock is used when none is given: far past the fake
    // clock's last attach, the first request is taken and stamped with it; a
    // second one within 1001 ms of that stamp is not.
    context.monotonicMs = nullptr;
    const int64_t before = support::gettime2();
    dispatch(msg::MsgPPT, R"({"action":0})");
    const int64_t after = support::gettime2();
    EXPECT_EQ(attached, 4);
    EXPECT_GE(context.lastPptAttach, before);
    EXPECT_LE(context.lastPptAttach, after);
    const int64_t stamp = context.lastPptAttach;
    dispatch(msg::MsgPPT, R"({"action":0})");
    if (support::gettime2() - stamp <= 1000) {
        EXPECT_EQ(attached, 4);
    }
}

TEST_F(DispatchTest, RecorderCommandsAndTheStatesTheDispatcherReports) {
    {
        InSequence order;
        EXPECT_CALL(recorder, start(true));
        EXPECT_CALL(recorder, pause());
        EXPECT_CALL(recorder, resume());
        EXPECT_CALL(recorder, stop());
    }
    for (const char* json : {R"({"action":1,"enableClientVoice":true})", R"({"action":2})",
                             R"({"action":3})", R"({"action":0})", R"({"action":9})"})
        dispatch(msg::MsgMediaRecord, json);

    ASSERT_EQ(server.sent.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(server.sent[i].className, msg::MsgMediaRecordState);
        EXPECT_EQ(server.sent[i].target, -1);
        EXPECT_EQ(server.sent[i].message[field::state].asInt(), i + 2);
    }
    // No recorder: nothing was paused, so nothing is reported.
    context.features.recorder = nullptr;
    dispatch(msg::MsgMediaRecord, R"({"action":2})");
    EXPECT_EQ(server.sent.size(), 2u);
}

TEST_F(DispatchTest, PhotoWallOpensWithoutActionOrWithActionOne) {
    EXPECT_CALL(photoWall, show(ElementsAre("http://a/1.jpg", "http://a/2.jpg"), 1)).Times(2);
    dispatch(msg::MsgPhotos, R"({"urls":["http://a/1.jpg",7,"http://a/2.jpg"],"index":1})");
    dispatch(msg::MsgPhotos, R"({"action":1,"urls":["http://a/1.jpg","http://a/2.jpg"],"index":1})");
    dispatch(msg::MsgPhotos, R"({"action":0,"urls":["http://a/1.jpg"]})");
    dispatch(msg::MsgPhotos, R"({"action":2,"urls":["http://a/1.jpg"]})");
}

TEST_F(DispatchTest, FileQuerySetsTheEffectFirstAndUnknownActionsAreIgnored) {
    {
        InSequence order;
        EXPECT_CALL(board, setAnime(3));
        EXPECT_CALL(files, fileMessage(7, 4, _, nullptr, 0u));
    }
    EXPECT_CALL(files, fileMessage(7, 2, _, Pointee(9), 1u));
    dispatch(msg::MsgFile, R"({"action":4,"fileName":"a.ppt","md5":"x","anim":3})");
    dispatch(msg::MsgFile, R"({"action":2})", 7, {9});
    dispatch(msg::MsgFile, R"({"action":5})");
    dispatch(msg::MsgFile, R"({"action":-1})");
}

TEST_F(DispatchTest, OpenUrlIsLocalOnlyWhenItNamesThisPcsAddress) {
    server.bound = inet_addr("192.168.1.1");
    EXPECT_CALL(files, openUrl("http://192.168.1.1:27272/a.pptx", 2, true));
    EXPECT_CALL(files, openUrl("http://192.168.1.10:27272/a.pptx", 0, false));
    EXPECT_CALL(files, openUrl("http://10.192.168.1.1/a.pptx", 0, false));
    dispatch(msg::MsgOpenURL, R"({"resType":0,"url":"http://192.168.1.1:27272/a.pptx","anim":2})");
    dispatch(msg::MsgOpenURL, R"({"resType":1,"url":"http://192.168.1.10:27272/a.pptx"})");
    dispatch(msg::MsgOpenURL, R"({"resType":1,"url":"http://10.192.168.1.1/a.pptx"})");
    dispatch(msg::MsgOpenURL, R"({"resType":3,"url":"http://192.168.1.1/a.pptx"})");
    // Not bound: "0.0.0.0" in a URL makes nothing local.
    server.bound = 0;
    EXPECT_CALL(files, openUrl("http://0.0.0.0/x", 0, false));
    dispatch(msg::MsgOpenURL, R"({"resType":0,"url":"http://0.0.0.0/x"})");
    EXPECT_EQ(hub.size(), 0u);
}

TEST_F(DispatchTest, PexloLoginIsStoredCompactAndAnnouncedToTheClassroomServer) {
    const std::string json = R"({"user":"t\u00e9", "token":"abc", "dataLength":0})";
    EXPECT_CALL(integration, postToWindow(_, _, _, _)).Times(0);
    dispatch(msg::MsgPexloAutoLogin, json);
    EXPECT_EQ(settings.getKeyString("Quorvel\\FarolineServer\\SET", "pexloStartup"),
              "{\"dataLength\":0,\"token\":\"abc\",\"user\":\"t\xc3\xa9\"}");

    ::testing::Mock::VerifyAndClearExpectations(&integration);
    settings.setInt(core::setting::Interop, "FSHWND", 0x1234567);
    EXPECT_CALL(integration, postToWindow(0x1234567, 0x557u, 0, 0));
    dispatch(msg::MsgPexloAutoLogin, json);
}

}  // namespace
}  // namespace dispatch_test
