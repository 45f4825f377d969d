// The lumacro3-phone program against loopback stand-ins for the PC.
#include "loopback_fakes.h"
#include "net/frame_codec.h"
#include "protocol/message_names.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>

namespace {

using e2e::FakeTcpPeer;
using e2e::FakeUdpResponder;
using e2e::ProgramResult;

const std::string kPhone = std::string(LUMACRO3_BIN_DIR) + "/lumacro3-phone";

ProgramResult phoneTool(const std::vector<std::string>& args) {
    // A fixed environment: no default address from the caller leaks in.
    return e2e::runProgram(kPhone, args, {"PATH=/usr/bin:/bin", "LUMACRO3_LISTEN_ADDRESS=127.0.0.1"});
}

std::future<ProgramResult> phoneToolAsync(std::vector<std::string> args) {
    return std::async(std::launch::async, [args] { return phoneTool(args); });
}

TEST(PhoneCli, BadCommandLinesExitWithUsageCode) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"fly"},
        {"send", "--bogus"},
        {"send", "MsgBrush"},           // JSON missing
        {"send", "MsgBrush", "[1,2]"},  // not an object
        {"send"},                               // nothing to send
        {"send", "MsgBrush", "{}", "MsgSpot"},  // the second JSON missing
        {"send", "MsgBrush", "{}", "MsgSpot", "{}", "--tail", "/dev/null"},  // whose tail?
        {"connect", "--width", "wide"},
        {"connect", "--admin", "--no-admin"},
        {"record", "sideways"},
        {"watch", "--seconds"},
    };
    for (const auto& args : bad) {
        ProgramResult r = phoneTool(args);
        EXPECT_EQ(r.exitCode, 2) << (args.empty() ? "(none)" : args[0]) << ": " << r.err;
        EXPECT_NE(r.err.find("usage"), std::string::npos) << r.err;
    }
    ProgramResult help = phoneTool({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* command : {"discover", "connect", "send", "watch", "record"})
        EXPECT_NE(help.out.find(command), std::string::npos) << command;
    ProgramResult sendHelp = phoneTool({"send", "--help"});
    EXPECT_EQ(sendHelp.exitCode, 0);
    EXPECT_NE(sendHelp.out.find("--tail"), std::string::npos);
}

TEST(PhoneCli, SendHandshakesThenSendsTheExpandedClassWithTail) {
    const std::string tailFile = ::testing::TempDir() + "phone_cli_tail.bin";
    std::ofstream(tailFile, std::ios::binary) << std::string("\x00\x01\x02tail", 7);

    FakeTcpPeer pc;
    auto tool = phoneToolAsync({"send", "--address", "127.0.0.1", "--port", std::to_string(pc.port()),
                                "MsgBrush", "{\"action\":1,\"color\":-65536}", "--tail", tailFile,
                                "--unique-id", "cli-1", "--no-admin", "--width", "720"});
    ASSERT_TRUE(pc.accept());
    pc.write(net::encodeFrame(protocol::MsgServerInfo, Json::Value(), nullptr, 0));
    auto hello = pc.readMessage();
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->className, protocol::MsgClientInfo);
    EXPECT_EQ(hello->message["uniqueId"].asString(), "cli-1");
    EXPECT_FALSE(hello->message["admin"].asBool());
    EXPECT_TRUE(hello->message.isMember("admin"));
    EXPECT_EQ(hello->message["width"].asInt(), 720);
    EXPECT_FALSE(hello->message.isMember("tag"));

    auto brush = pc.readMessage();
    ASSERT_TRUE(brush);
    EXPECT_EQ(brush->className, protocol::MsgBrush);
    EXPECT_EQ(brush->message["action"].asInt(), 1);
    EXPECT_EQ(brush->message["color"].asInt(), -65536);
    EXPECT_EQ(std::string(brush->data.begin(), brush->data.end()), std::string("\x00\x01\x02tail", 7));
    pc.closeConnection();  // the tool waits for this before it ends

    ProgramResult r = tool.get();
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST(PhoneCli, SendSendsSeveralMessagesAndThenInputLinesInOrderOnOneSession) {
    FakeTcpPeer pc;
    // Two messages on the command line, two more (around a blank line) from
    // standard input.
    const std::string command =
        "printf '%s\\n\\n%s\\n' 'MsgMotionEvent {\"action\":2, \"dx\":5}' 'MsgBrush {\"action\":0}' | " + kPhone +
        " send --address 127.0.0.1 --port " + std::to_string(pc.port()) +
        " MsgBrush '{\"action\":1}' MsgMotionEvent '{\"action\":0}' --lines";
    auto tool = std::async(std::launch::async, [command] {
        return e2e::runProgram("/bin/sh", {"-c", command}, {"PATH=/usr/bin:/bin"});
    });
    ASSERT_TRUE(pc.accept());
    pc.write(net::encodeFrame(protocol::MsgServerInfo, Json::Value(), nullptr, 0));
    auto hello = pc.readMessage();
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->className, protocol::MsgClientInfo);
    const std::vector<std::pair<std::string, int>> expected = {
        {protocol::MsgBrush, 1}, {protocol::MsgMotionEvent, 0}, {protocol::MsgMotionEvent, 2}, {protocol::MsgBrush, 0}};
    for (const auto& [className, action] : expected) {
        auto m = pc.readMessage();
        ASSERT_TRUE(m) << className;
        EXPECT_EQ(m->className, className);
        EXPECT_EQ(m->message["action"].asInt(), action) << className;
    }
    pc.closeConnection();
    ProgramResult r = tool.get();
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST(PhoneCli, AFieldOfTheWrongTypeFromThePcFailsTheCommandWithoutACrash) {
    const std::string out = ::testing::TempDir() + "phone_cli_live.h264";
    FakeTcpPeer pc;
    auto tool = phoneToolAsync({"live", "--port37374", "--address", "127.0.0.1", "--port",
                                std::to_string(pc.port()), "--out", out, "--seconds", "5"});
    ASSERT_TRUE(pc.accept());
    Json::Value open(Json::objectValue);
    open["width"] = "wide";
    pc.write(net::encodeFrame(protocol::MsgLiveOpen, open, nullptr, 0));
    ProgramResult r = tool.get();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("lumacro3-phone live:"), std::string::npos) << r.err;
    std::remove(out.c_str());
}

TEST(PhoneCli, WatchPrintsEveryFrameAndTheKeepAliveCount) {
    FakeTcpPeer pc;
    auto tool = phoneToolAsync({"watch", "--address", "127.0.0.1", "--port", std::to_string(pc.port()),
                                "--seconds", "1"});
    ASSERT_TRUE(pc.accept());
    Json::Value info(Json::objectValue);
    info["name"] = "room 1";
    pc.write(net::encodeFrame(protocol::MsgServerInfo, info, nullptr, 0));
    pc.writeKeepAlive();
    pc.writeKeepAlive();
    pc.write(net::encodeFrame(protocol::MsgLiveData, Json::Value(), "abc", 3));
    auto hello = pc.readMessage();
    ASSERT_TRUE(hello);
    EXPECT_FALSE(hello->message["admin"].asBool());  // watching phones are not admins
    EXPECT_TRUE(hello->message.isMember("uniqueId"));
    // Like the PC: the tool's end of stream ends the session.
    EXPECT_FALSE(pc.readBytes(1, 5000));
    pc.closeConnection();

    ProgramResult r = tool.get();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "com.quorvel.qm.msg.MsgServerInfo {\"dataLength\":0,\"name\":\"room 1\"}\n"
              "com.quorvel.qm.msg.MsgLiveData {\"dataLength\":3} +3 bytes\n"
              "keep-alives: 2\n");

    // The PC closing the session is a failure the caller can see.
    FakeTcpPeer refusing;
    auto refused = phoneToolAsync({"connect", "--address", "127.0.0.1", "--port",
                                   std::to_string(refusing.port()), "--watch", "5"});
    ASSERT_TRUE(refusing.accept());
    ASSERT_TRUE(refusing.readMessage());
    refusing.closeConnection();
    ProgramResult closed = refused.get();
    EXPECT_EQ(closed.exitCode, 1);
    EXPECT_NE(closed.err.find("closed"), std::string::npos) << closed.err;
}

TEST(PhoneCli, DiscoverAndRecordUseTheDatagrams) {
    FakeUdpResponder pc([](const std::string& request) {
        if (request == "hello") {
            Json::Value info(Json::objectValue);
            info["useable"] = true;
            return std::vector<std::string>{
                e2e::frameText(net::encodeFrame(protocol::MsgServerInfo, info, nullptr, 0))};
        }
        if (request == "stop-record") return std::vector<std::string>{"recorder-stoped"};
        return std::vector<std::string>{};
    });
    const std::string port = std::to_string(pc.port());

    ProgramResult found = phoneTool({"discover", "--address", "127.0.0.1", "--port", port});
    EXPECT_EQ(found.exitCode, 0) << found.err;
    EXPECT_EQ(found.out, "{\"dataLength\":0,\"useable\":true}\n");

    ProgramResult stopped = phoneTool({"record", "stop", "--udp", "--address", "127.0.0.1", "--port", port});
    EXPECT_EQ(stopped.exitCode, 0) << stopped.err;
    EXPECT_EQ(stopped.out, "recorder-stoped\n");

    ProgramResult silent = phoneTool({"record", "start", "--udp", "--address", "127.0.0.1", "--port", port,
                                      "--timeout", "200"});
    EXPECT_EQ(silent.exitCode, 1);
    EXPECT_NE(silent.err.find("no reply"), std::string::npos) << silent.err;
}

}  // namespace
