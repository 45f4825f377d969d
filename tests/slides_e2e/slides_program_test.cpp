// The slide-show bridge inside the running program, driven by the reference
// phone client, with a fake helper on the program's loopback address.
#include "common/loopback.h"
#include "e2e/pc_program.h"
#include "phone/phone_client.h"
#include "protocol/message_names.h"
#include "slides/fake_helper.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <thread>

namespace {

using slides_test::FakeHelper;

bool allDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

TEST(SlidesProgram, ConnectAsksForImagesAndStartRequestsWithinASecondCountOnce) {
    const std::string address = testing_support::uniqueLoopbackAddress(62);
    FakeHelper helper(address);
    ASSERT_TRUE(helper.ok());
    e2e::PcProgram::Options options;
    options.env = {"LUMACRO3_SLIDE_HELPER=none"};
    e2e::PcProgram pc(address, options);
    ASSERT_TRUE(pc.waitReady()) << pc.log();
    ASSERT_TRUE(pc.waitForLog("start-up complete")) << pc.log();

    phone::PhoneClient client;
    ASSERT_TRUE(client.connect(address));
    phone::ClientInfoOptions info;
    info.uniqueId = "slides-phone";
    info.admin = true;
    ASSERT_TRUE(client.handshake(info));

    // A phone that becomes ready makes the PC ask for the images of whatever
    // the helper holds, under a timestamp key.
    auto get = helper.next(5000);
    ASSERT_TRUE(get) << pc.log();
    EXPECT_EQ((*get)["cmd"].asString(), "get-image");
    EXPECT_TRUE(allDigits((*get)["md5"].asString())) << (*get)["md5"].asString();
    EXPECT_EQ((*get)["md5"].asString().size(), 13u);
    const std::string dir = (*get)["dir"].asString();
    EXPECT_EQ(dir.substr(dir.size() - 6), "/.temp");

    // Two starts 500 ms apart: one "f5"; another after more than a second: a second one.
    Json::Value start(Json::objectValue);
    start["action"] = 0;
    ASSERT_TRUE(client.sendMessage(protocol::MsgPPT, start));
    EXPECT_EQ(helper.nextCmd(), "f5");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(client.sendMessage(protocol::MsgPPT, start));
    EXPECT_EQ(helper.nextCmd(700), "");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ASSERT_TRUE(client.sendMessage(protocol::MsgPPT, start));
    EXPECT_EQ(helper.nextCmd(), "f5");

    Json::Value go(Json::objectValue);
    go["action"] = 1;
    go["slideIndex"] = 3;
    ASSERT_TRUE(client.sendMessage(protocol::MsgPPT, go));
    auto sentGoto = helper.next();
    ASSERT_TRUE(sentGoto);
    EXPECT_EQ((*sentGoto)["cmd"].asString(), "goto");
    EXPECT_EQ((*sentGoto)["slide"].asInt(), 3);

    // The helper's answers reach the phone.
    helper.send(R"({"cmd":"notify-slide-changed","curSlide":3,"totalPages":7})");
    phone::ReceivedFrame frame;
    ASSERT_EQ(client.waitFor(protocol::MsgPPT, frame, 3000), phone::ReadResult::Frame);
    EXPECT_EQ(frame.message["action"].asInt(), 4);
    EXPECT_EQ(frame.message["slideIndex"].asInt(), 3);
    EXPECT_EQ(frame.message["slideCount"].asInt(), 7);
    helper.send(R"({"cmd":"rep-get-image","ret":2,"md5":"1765300000123"})");
    ASSERT_EQ(client.waitFor(protocol::MsgPPT, frame, 3000), phone::ReadResult::Frame);
    EXPECT_EQ(frame.message["action"].asInt(), 2);
    ASSERT_EQ(frame.message["urls"].size(), 2u);
    EXPECT_EQ(frame.message["urls"][1].asString(), "http://" + address + ":27272/.temp/1765300000123_001.png");
    helper.send(R"({"cmd":"notify-quit"})");
    ASSERT_EQ(client.waitFor(protocol::MsgPPT, frame, 3000), phone::ReadResult::Frame);
    EXPECT_EQ(frame.message["action"].asInt(), 3);

    client.closeGracefully(2000);
    EXPECT_EQ(pc.terminate(), 0) << pc.log();
    EXPECT_NE(pc.log().find("slide bridge freed"), std::string::npos) << pc.log();
}

}  // namespace
