// Files pushed into the running program with lumacro3-phone push.
#include "common/http_server.h"
#include "common/loopback.h"
#include "common/temp_dir.h"
#include "loopback_fakes.h"
#include "pc_program.h"
#include "phone/phone_client.h"
#include "protocol/message_names.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;

const std::string kPhone = std::string(LUMACRO3_BIN_DIR) + "/lumacro3-phone";

// The received copy of `name` anywhere below the program's home.
fs::path findReceived(const std::string& home, const std::string& name) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(home, ec); it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->path().filename() == name && it->path().parent_path().filename() == "Recv") return it->path();
    return {};
}

TEST(FilePushE2e, PushedFileArrivesWholeAndAQueryFindsTheCopy) {
    e2e::PcProgram pc(testing_support::uniqueLoopbackAddress(72));
    ASSERT_TRUE(pc.waitReady()) << pc.log();
    // Sessions are served before the features exist; push once they do.
    ASSERT_TRUE(pc.waitForLog("start-up complete")) << pc.log();

    // Several data frames with a short last one, and bytes of every value.
    std::string content;
    for (int i = 0; i < 3 * 65536 + 1234; ++i) content.push_back(static_cast<char>((i * 7 + i / 251) & 0xff));
    const std::string source = pc.home() + "/board photo.jpg";
    std::ofstream(source, std::ios::binary) << content;

    const std::vector<std::string> env = {"PATH=/usr/bin:/bin"};
    auto push = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = {"push", "--address", pc.address(), "--chunk", "65536", source};
        args.insert(args.end(), extra.begin(), extra.end());
        return e2e::runProgram(kPhone, args, env);
    };

    e2e::ProgramResult first = push({"--query", "--file-id", "11"});
    ASSERT_EQ(first.exitCode, 0) << first.err << pc.log();
    EXPECT_NE(first.out.find("the PC has no copy"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("in 4 data frames"), std::string::npos) << first.out;
    ASSERT_TRUE(pc.waitForLog("file len:" + std::to_string(content.size()) +
                              ", write: " + std::to_string(content.size())))
        << pc.log();
    const fs::path received = findReceived(pc.home(), "board photo.jpg");
    ASSERT_FALSE(received.empty()) << pc.log();
    EXPECT_TRUE(testing_support::readText(received) == content);

    // The same file again: the PC answers nothing, so no upload follows.
    e2e::ProgramResult second = push({"--query", "--file-id", "12"});
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_NE(second.out.find("holds an identical copy"), std::string::npos) << second.out;

    // A name that tries to climb out lands in the receive folder.
    e2e::ProgramResult third = push({"--name", "../../escaped.jpg", "--file-id", "13"});
    ASSERT_EQ(third.exitCode, 0) << third.err;
    fs::path escaped;
    for (int i = 0; i < 250 && escaped.empty(); ++i) {
        escaped = findReceived(pc.home(), "escaped.jpg");
        if (escaped.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(escaped.parent_path(), received.parent_path()) << pc.log();
    EXPECT_FALSE(fs::exists(received.parent_path().parent_path().parent_path() / "escaped.jpg"));

    EXPECT_EQ(pc.terminate(), 0) << pc.log();
}

// Waits until the received copy of `name` holds `size` bytes.
fs::path waitForReceived(const std::string& home, const std::string& name, size_t size) {
    for (int i = 0; i < 500; ++i) {
        const fs::path found = findReceived(home, name);
        std::error_code ec;
        if (!found.empty() && fs::file_size(found, ec) == size) return found;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return {};
}

TEST(FilePushE2e, UrlOfAnotherHostIsDownloadedAndOwnAddressPathsStayInside) {
    e2e::PcProgram pc(testing_support::uniqueLoopbackAddress(72));
    ASSERT_TRUE(pc.waitReady()) << pc.log();
    ASSERT_TRUE(pc.waitForLog("start-up complete")) << pc.log();

    const std::string served = pc.home() + "/served";
    fs::create_directories(served);
    std::ofstream(served + "/class plan.png", std::ios::binary) << "not really a picture";
    // Another host: the phone's own server on a second loopback address.
    testing_support::HttpServer http(testing_support::uniqueLoopbackAddress(73), served);
    ASSERT_TRUE(http.ok());

    const std::vector<std::string> env = {"PATH=/usr/bin:/bin"};
    e2e::ProgramResult sent = e2e::runProgram(
        kPhone, {"url", "--address", pc.address(), http.base() + "class%20plan.png"}, env);
    ASSERT_EQ(sent.exitCode, 0) << sent.err;
    EXPECT_FALSE(waitForReceived(pc.home(), "class plan.png", 20).empty()) << pc.log();

    // This PC's own address with a path out of the document folder.
    e2e::ProgramResult own = e2e::runProgram(
        kPhone, {"url", "--address", pc.address(), "http://" + pc.address() + ":27272/../../etc/hostname"}, env);
    ASSERT_EQ(own.exitCode, 0) << own.err;
    EXPECT_TRUE(pc.waitForLog("lies outside the document folder")) << pc.log();

    EXPECT_EQ(pc.terminate(), 0) << pc.log();
}

TEST(FilePushE2e, TheControllingPhoneLeavingClosesItsPartialFiles) {
    e2e::PcProgram pc(testing_support::uniqueLoopbackAddress(72));
    ASSERT_TRUE(pc.waitReady()) << pc.log();
    ASSERT_TRUE(pc.waitForLog("start-up complete")) << pc.log();

    auto phone = [&](bool admin, const std::string& id) {
        auto client = std::make_unique<phone::PhoneClient>();
        EXPECT_TRUE(client->connect(pc.address())) << client->lastError();
        phone::ClientInfoOptions options;
        options.uniqueId = id;
        options.admin = admin;
        EXPECT_TRUE(client->handshake(options)) << client->lastError();
        return client;
    };
    auto fileMessage = [](int action) {
        Json::Value m(Json::objectValue);
        m["action"] = action;
        m["fileId"] = 77;
        return m;
    };
    const std::string first = "from the controlling phone";
    auto admin = phone(true, "teacher");
    Json::Value start = fileMessage(1);
    start["fileName"] = "partial.txt";
    start["fileSize"] = 1000;
    ASSERT_TRUE(admin->sendMessage(protocol::MsgFile, start));
    ASSERT_TRUE(admin->sendMessage(protocol::MsgFile, fileMessage(2), first.data(), first.size()));
    admin->closeGracefully(2000);
    ASSERT_TRUE(pc.waitForLog("file len:1000, write: " + std::to_string(first.size()))) << pc.log();

    // Data for the same fileId from another phone no longer reaches the file.
    auto watcher = phone(false, "pupil");
    const std::string late = "late data";
    ASSERT_TRUE(watcher->sendMessage(protocol::MsgFile, fileMessage(2), late.data(), late.size()));
    ASSERT_TRUE(watcher->sendMessage(protocol::MsgFile, fileMessage(3)));
    watcher->closeGracefully(2000);
    const fs::path received = findReceived(pc.home(), "partial.txt");
    ASSERT_FALSE(received.empty()) << pc.log();
    EXPECT_EQ(testing_support::readText(received), first);
    EXPECT_EQ(pc.terminate(), 0) << pc.log();
}

}  // namespace
