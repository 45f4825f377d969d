// Phones becoming ready and leaving, and the live source they leave behind.
#include "dispatch_fixture.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

namespace dispatch_test {
namespace {

using ::testing::InSequence;
using ui::onSessionEvent;

constexpr int kReady = net::kClientReady;
constexpr int kGone = net::kClientGone;

TEST_F(DispatchTest, ReadyPhoneGetsCursorStateAndKeyFrame) {
    server.admins = {5};
    settings.setInt(core::setting::SET, "SHOW_CURSOR", 1);
    settings.setInt(core::setting::SET, "CURSOR", 3);
    EXPECT_CALL(cursors, apply(3)).Times(2);
    EXPECT_CALL(liveStream, hasSubscription()).WillOnce(Return(true)).WillRepeatedly(Return(false));
    EXPECT_CALL(liveStream, requestKeyFrame()).Times(1);

    event(5, kReady, inet_addr("192.168.1.20"));
    event(6, kReady, inet_addr("10.0.0.9"));
    EXPECT_EQ(hub.summaries(), (Summaries{{core::UM_CLIENT_STATE, 1, inet_addr("192.168.1.20")},
                                          {core::UM_CLIENT_STATE, 2, inet_addr("10.0.0.9")}}));

    // SHOW_CURSOR off: no scheme; CURSOR alone defaults to 9.
    settings.setInt(core::setting::SET, "SHOW_CURSOR", 0);
    event(6, kReady);
    ::testing::Mock::VerifyAndClearExpectations(&cursors);
    core::MemorySettings fresh;
    fresh.setInt(core::setting::SET, "SHOW_CURSOR", 1);
    context.settings = &fresh;
    EXPECT_CALL(cursors, apply(9));
    event(6, kReady);
}

TEST_F(DispatchTest, AdminGonePostsFiveMessagesInOrderAndReleasesThePhone) {
    server.admins = {5};
    {
        InSequence order;
        EXPECT_CALL(liveStream, dropViewers());
        EXPECT_CALL(files, closeAll());
        EXPECT_CALL(recorder, endSilently());
        EXPECT_CALL(phoneAudio, stop());
        EXPECT_CALL(cursors, apply(8));
    }
    LogCapture log;
    event(5, kGone);
    EXPECT_EQ(hub.summaries(), (Summaries{{core::UM_CLIENT_STATE, 0, 0}, {core::UM_MEDIA_CLOSE, 0, 0},
                                          {core::UM_DRAWING_BOARD, 2, 0}, {core::UM_SPOT, 0, 0}, {core::UM_BRUSH, 0, 0}}));
    EXPECT_THAT(log.text(), ::testing::HasSubstr("client disconnected"));
}

TEST_F(DispatchTest, OtherPhoneGoneClosesTheLiveViewOnlyWhenItIsTheSource) {
    EXPECT_CALL(liveStream, dropViewers()).Times(0);
    EXPECT_CALL(cursors, apply(_)).Times(0);
    dispatch(msg::MsgLiveOpen, R"({"width":640,"height":480})", 9);
    EXPECT_EQ(context.liveSourceSocket.load(), 9);
    hub.clear();

    event(6, kGone);
    EXPECT_EQ(hub.size(), 0u);
    event(9, kGone);
    EXPECT_EQ(hub.summaries(), (Summaries{{core::UM_MEDIA_CLOSE, 0, 0}}));
    // Forgotten with its phone: a later session on socket 9 leaving closes nothing.
    hub.clear();
    event(9, kGone);
    EXPECT_EQ(hub.size(), 0u);
}

TEST_F(DispatchTest, LiveCloseForgetsTheSourceSoItsDepartureStaysQuiet) {
    dispatch(msg::MsgLiveOpen, R"({"width":640,"height":480})", 9);
    dispatch(msg::MsgLiveClose, "{}", 9);
    EXPECT_EQ(context.liveSourceSocket.load(), -1);
    hub.clear();
    event(9, kGone);
    EXPECT_EQ(hub.size(), 0u);
}

TEST_F(DispatchTest, MessageEventIsDispatchedAndMissingPeerReadsAsZero) {
    server.admins = {3};
    EXPECT_EQ(0, onSessionEvent(3, nullptr, msg::MsgPCCamera, Json::Value(Json::objectValue),
                                nullptr, 0, net::kMessage, &context));
    EXPECT_EQ(0, onSessionEvent(3, nullptr, "", Json::Value(), nullptr, 0, kReady, &context));
    EXPECT_EQ(hub.summaries(), (Summaries{{core::UM_PC_CAMERA, 0, 0}, {core::UM_CLIENT_STATE, 1, 0}}));
}

TEST_F(DispatchTest, EventsWithoutFeaturesOrHubAreLoggedAndKeepTheSessionState) {
    LogCapture log;
    context.features = core::Features{};
    context.hub = nullptr;
    server.admins = {5};
    settings.setInt(core::setting::SET, "SHOW_CURSOR", 1);
    context.liveSourceSocket = 5;
    EXPECT_EQ(0, onSessionEvent(5, nullptr, "", Json::Value(), nullptr, 0, kReady, &context));
    EXPECT_EQ(0, onSessionEvent(5, nullptr, "", Json::Value(), nullptr, 0, kGone, &context));
    const std::string text = log.text();
    EXPECT_NE(text.find("cursors not available: client ready"), std::string::npos) << text;
    EXPECT_NE(text.find("client disconnected"), std::string::npos) << text;
    // The admin that left was the live source: forgotten even without a hub.
    EXPECT_EQ(context.liveSourceSocket.load(), -1);
    // With the hub back, the next phone is reported as usual.
    context.hub = &hub;
    event(6, kReady);
    EXPECT_EQ(hub.summaries(), (Summaries{{core::UM_CLIENT_STATE, 2, 0}}));
}

TEST_F(DispatchTest, AClosedGateDropsEveryEventBeforeItReachesAFeature) {
    EXPECT_CALL(input, mouseEvent).Times(0);
    EXPECT_CALL(recorder, voiceData).Times(0);
    EXPECT_CALL(liveStream, liveRequest).Times(0);
    server.admins = {5};
    context.gate.close();
    Json::Value move;
    move["action"] = 1;
    EXPECT_EQ(0, onSessionEvent(5, nullptr, msg::MsgMouseEvent, move, nullptr, 0, net::kMessage, &context));
    Json::Value live;
    live["action"] = 1;
    EXPECT_EQ(0, onSessionEvent(5, nullptr, msg::MsgLive, live, nullptr, 0, net::kMessage, &context));
    const uint8_t voice[4] = {1, 2, 3, 4};
    EXPECT_EQ(0, onSessionEvent(5, nullptr, msg::MsgVoiceData, Json::Value(Json::objectValue), voice,
                                sizeof voice, net::kMessage, &context));
    EXPECT_EQ(0, onSessionEvent(5, nullptr, "", Json::Value(), nullptr, 0, kGone, &context));
    EXPECT_EQ(hub.size(), 0u);
    EXPECT_EQ(context.gate.refused(), 4u);
}

TEST(DispatchGate, CloseWaitsForTheDeliveryInsideAndRefusesNewOnes) {
    ui::DispatchGate gate;
    std::optional<ui::DispatchGate::Pass> inside(gate.enter());
    ASSERT_TRUE(*inside);
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        gate.close();
        closed = true;
    });
    // Once the gate refuses, close() has begun; it cannot end while a
    // delivery is inside.
    while (!gate.closed()) std::this_thread::yield();
    EXPECT_FALSE(gate.enter());
    EXPECT_FALSE(closed.load());
    inside.reset();
    closer.join();
    EXPECT_TRUE(closed.load());
    EXPECT_FALSE(gate.enter());
    gate.close();  // again: nothing inside, returns at once
}

TEST(DispatchGate, AHeldGateKeepsDeliveriesWaitingUntilOpenOrClose) {
    ui::DispatchGate gate;
    gate.hold();
    std::atomic<int> passed{0};
    std::thread early([&] {
        if (gate.enter()) ++passed;
    });
    // Still waiting while held: the delivery has not got in.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(passed.load(), 0);
    gate.open();
    early.join();
    EXPECT_EQ(passed.load(), 1);

    // Held again and then closed (quit during start-up): the waiter is
    // refused instead of waiting for ever.
    gate.hold();
    std::thread late([&] {
        if (gate.enter()) ++passed;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    gate.close();
    late.join();
    EXPECT_EQ(passed.load(), 1);
    EXPECT_EQ(gate.refused(), 1u);
}

}  // namespace
}  // namespace dispatch_test
