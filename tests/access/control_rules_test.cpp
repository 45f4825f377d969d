// No control before the handshake, and watching phones only watch: over
// loopback with the real session server and dispatcher, input going to a
// fake injector.
#include "access/access_rig.h"

#include "net/client_session.h"
#include "protocol/fields.h"

#include <gmock/gmock.h>

namespace access_test {
namespace {

class ControlRulesTest : public AccessRig {};

TEST_F(ControlRulesTest, AFrameBeforeTheHandshakeMovesNothingAndIsLoggedOnce) {
    startServer();
    auto stranger = connectOnly();
    ASSERT_TRUE(stranger->sendMessage(protocol::MsgMouseEvent, move(50, 0)));
    // The handshake that follows is read after the frame: once the phone is
    // ready, the frame has been dealt with.
    phone::ClientInfoOptions options;
    options.uniqueId = "late-phone";
    ASSERT_TRUE(stranger->handshake(options));
    ASSERT_TRUE(testing_support::eventually([&] { return readyEvents() == 1; }));
    EXPECT_TRUE(injector_.groups().empty());
    EXPECT_EQ(log_->count("MsgMouseEvent dropped: no accepted MsgClientInfo yet"), 1u) << log_->text();
    // The line names the peer (the phone's end of the connection).
    EXPECT_NE(log_->text().find("127.0.0.1 com.quorvel.qm.msg.MsgMouseEvent dropped"), std::string::npos);

    // The same message after the handshake moves the pointer.
    ASSERT_TRUE(stranger->sendMessage(protocol::MsgMouseEvent, move(50, 0)));
    EXPECT_TRUE(testing_support::eventually([&] { return pointerX() == 50; }));
}

TEST_F(ControlRulesTest, AFloodBeforeTheHandshakeIsLoggedABoundedNumberOfTimesAndBroadcastsSkipIt) {
    startServer();
    auto stranger = connectOnly();
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(stranger->sendMessage(protocol::MsgKeyEvent, Json::Value(Json::objectValue)));
    auto phone = readyPhone("teacher", true);
    // The stranger gets no broadcast while phones that were let in do.
    Json::Value state(Json::objectValue);
    state["state"] = 1;
    server_->send(protocol::MsgBrushState, state, nullptr, 0, -1);
    phone::ReceivedFrame frame;
    EXPECT_EQ(phone->waitFor(protocol::MsgBrushState, frame, 3000), phone::ReadResult::Frame);
    EXPECT_EQ(stranger->waitFor(protocol::MsgBrushState, frame, 300), phone::ReadResult::Timeout);
    EXPECT_TRUE(testing_support::eventually(
        [&] { return log_->count("further drops are not logged") == 1; }));
    EXPECT_EQ(log_->count("dropped: no accepted MsgClientInfo yet"), size_t(net::ClientSession::kDropLogLimit));
    EXPECT_TRUE(injector_.groups().empty());
}

TEST_F(ControlRulesTest, APhoneGetsWhatItsOwnReadyEventBroadcasts) {
    // The program answers a ready phone with the tools' states sent to every
    // phone; the phone that just became ready is among them.
    uint32_t bound = testing_support::ipv4(address_);
    ASSERT_TRUE(server_->start(
        bound, protocol::kSessionPort,
        [this](int, const sockaddr_in*, const std::string&, const Json::Value&, const uint8_t*, size_t, int event,
               void*) {
            if (event == net::kClientReady) {
                Json::Value state(Json::objectValue);
                state["state"] = 0;
                server_->send(protocol::MsgBrushState, state, nullptr, 0, -1);
            }
            return 0;
        },
        nullptr));
    auto phone = shakeHands("phone", true);
    phone::ReceivedFrame frame;
    EXPECT_EQ(phone->waitFor(protocol::MsgBrushState, frame, 3000), phone::ReadResult::Frame);
}

TEST_F(ControlRulesTest, AWatchingPhoneCannotActButStillWatches) {
    startServer();
    auto teacher = readyPhone("teacher", true);
    auto student = readyPhone("student", false);

    Json::Value key(Json::objectValue);
    key["keyCode"] = 66;  // enter
    Json::Value text(Json::objectValue);
    text["text"] = "hello";
    Json::Value url(Json::objectValue);
    url["resType"] = 2;
    url["url"] = "http://192.0.2.1/film.mp4";
    hub_.clear();
    ASSERT_TRUE(student->sendMessage(protocol::MsgMouseEvent, move(40, 0)));
    ASSERT_TRUE(student->sendMessage(protocol::MsgKeyEvent, key));
    ASSERT_TRUE(student->sendMessage(protocol::MsgInputText, text));
    ASSERT_TRUE(student->sendMessage(protocol::MsgOpenURL, url));
    // Pictures of the screen still reach the watching phone; by then its
    // earlier messages have been handled.
    ASSERT_TRUE(getsPictures(*student));
    EXPECT_TRUE(injector_.groups().empty());
    EXPECT_EQ(clipboard_.size(), 0u);
    EXPECT_EQ(hub_.count(core::UM_PLAY_URL), 0u);
    for (const char* name : {"MsgMouseEvent", "MsgKeyEvent", "MsgInputText", "MsgOpenURL"})
        EXPECT_EQ(log_->count(std::string(name) + " dropped: a watching phone does not control this PC"), 1u)
            << name << "\n" << log_->text();

    // The controlling phone acts as before.
    ASSERT_TRUE(teacher->sendMessage(protocol::MsgMouseEvent, move(30, 0)));
    ASSERT_TRUE(teacher->sendMessage(protocol::MsgOpenURL, url));
    EXPECT_TRUE(testing_support::eventually([&] { return pointerX() == 30; }));
    EXPECT_TRUE(testing_support::eventually([&] { return hub_.count(core::UM_PLAY_URL) == 1; }));
}

TEST_F(ControlRulesTest, WithTheRuleSwitchedOffAWatchingPhoneControlsAsBefore) {
    ASSERT_TRUE(core::AccessSettings(settings_).setWatchOnly(false));
    startServer();
    auto teacher = readyPhone("teacher", true);
    auto student = readyPhone("student", false);
    ASSERT_TRUE(student->sendMessage(protocol::MsgMouseEvent, move(40, 0)));
    Json::Value text(Json::objectValue);
    text["text"] = "hello";
    ASSERT_TRUE(student->sendMessage(protocol::MsgInputText, text));
    EXPECT_TRUE(testing_support::eventually([&] { return pointerX() == 40; }));
    EXPECT_TRUE(testing_support::eventually([&] { return clipboard_.size() == 1; }));
    EXPECT_EQ(log_->count("a watching phone does not control this PC"), 0u);
}

TEST(ControlRuleClasses, OnlyTheLiveStreamRequestIsLeftToWatchingPhones) {
    // Every routed class but MsgLive acts on the PC; MsgClientInfo never
    // reaches the dispatcher, and unknown classes are only logged.
    const char* acting[] = {
        protocol::MsgMouseEvent, protocol::MsgMotionEvent, protocol::MsgRotateEvent, protocol::MsgKeyEvent,
        protocol::MsgKeyEventEx, protocol::MsgOpenURL, protocol::MsgMediaPlay, protocol::MsgLiveOpen,
        protocol::MsgLiveData, protocol::MsgLiveClose, protocol::MsgAudioPlayStart, protocol::MsgAudioPlayData,
        protocol::MsgAudioPlayStop, protocol::MsgMediaRecord, protocol::MsgVoiceData, protocol::MsgFile,
        protocol::MsgBrush, protocol::MsgSpot, protocol::MsgDrawingBoard, protocol::MsgEditText,
        protocol::MsgMediaPlayer, protocol::MsgGlass, protocol::MsgPCCamera, protocol::MsgVolume,
        protocol::MsgPPT, protocol::MsgScreenshot, protocol::MsgInputText, protocol::MsgPhotos,
        protocol::MsgPexloAutoLogin, protocol::MsgOpenEbook, protocol::MsgScreen, protocol::MsgMiracastDisplay};
    for (const char* name : acting) EXPECT_TRUE(ui::actsOnPc(name)) << name;
    EXPECT_FALSE(ui::actsOnPc(protocol::MsgLive));
    EXPECT_FALSE(ui::actsOnPc(protocol::MsgClientInfo));
    EXPECT_FALSE(ui::actsOnPc("com.quorvel.qm.msg.msgmouseevent"));
}

}  // namespace
}  // namespace access_test
