// The photo wall and the drawing board in the running program, on a private
// X server: driven by a phone client, looked at with ImageMagick's import.
#include "common/http_server.h"
#include "common/loopback.h"
#include "common/private_xvfb.h"
#include "common/run_command.h"
#include "pc_program.h"
#include "phone/phone_client.h"
#include "protocol/message_names.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

struct Rgb {
    int r = -1, g = -1, b = -1;
    bool near(int R, int G, int B, int tolerance = 10) const {
        return std::abs(r - R) <= tolerance && std::abs(g - G) <= tolerance && std::abs(b - B) <= tolerance;
    }
};

// The colour of one screen pixel as ImageMagick reads it from the root window.
Rgb screenPixel(const std::string& folder, int x, int y) {
    const std::string shot = folder + "/screen.png";
    if (testing_support::runCommand("import -window root '" + shot + "' 2>/dev/null").status != 0) return {};
    if (const char* keep = std::getenv("OVERLAY_SHOTS")) {
        static int n = 0;
        std::filesystem::copy_file(shot, std::string(keep) + "/e2e-" + std::to_string(++n) + ".png",
                                   std::filesystem::copy_options::overwrite_existing);
    }
    const std::string text = testing_support::commandOutput(
        "convert '" + shot + "' -format '%[fx:int(255*p{" + std::to_string(x) + "," + std::to_string(y) +
        "}.r)],%[fx:int(255*p{" + std::to_string(x) + "," + std::to_string(y) + "}.g)],%[fx:int(255*p{" +
        std::to_string(x) + "," + std::to_string(y) + "}.b)]' info:");
    Rgb c;
    std::sscanf(text.c_str(), "%d,%d,%d", &c.r, &c.g, &c.b);
    return c;
}

// Waits (up to 8 s) until the pixel has the colour.
bool screenShows(const std::string& folder, int x, int y, int r, int g, int b, Rgb* last) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    while (std::chrono::steady_clock::now() < end) {
        *last = screenPixel(folder, x, y);
        if (last->near(r, g, b)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// A PNG in one colour, made by ImageMagick.
void makePicture(const std::string& path, int w, int h, const char* colour) {
    testing_support::runCommand("convert -size " + std::to_string(w) + "x" + std::to_string(h) + " xc:'" +
                                colour + "' '" + path + "'");
}

Json::Value fileMessage(int action, int64_t fileId) {
    Json::Value m(Json::objectValue);
    m["action"] = action;
    m["fileId"] = static_cast<Json::Int64>(fileId);
    return m;
}

class PhotoBoardE2e : public ::testing::Test {
protected:
    void SetUp() override {
        if (!xvfb.ok()) GTEST_SKIP() << "no Xvfb";
        pc = std::make_unique<e2e::PcProgram>(testing_support::uniqueLoopbackAddress(74));
        ASSERT_TRUE(pc->waitReady()) << pc->log();
        ASSERT_TRUE(pc->waitForLog("start-up complete")) << pc->log();
        ASSERT_TRUE(phone.connect(pc->address())) << phone.lastError();
        phone::ClientInfoOptions options;
        options.uniqueId = "teacher";
        ASSERT_TRUE(phone.handshake(options)) << phone.lastError();
        // A ready phone first hears every tool's state, the photo wall's last.
        phone::ReceivedFrame frame;
        ASSERT_EQ(phone.waitFor(protocol::MsgPhotos, frame, 8000), phone::ReadResult::Frame) << pc->log();
        EXPECT_FALSE(frame.message["isOpened"].asBool());
        while (phone.readFrame(frame, 0) == phone::ReadResult::Frame) {
            if (frame.className == protocol::MsgDrawingBoardState) {
                EXPECT_EQ(frame.message["state"].asInt(), 0);
            }
        }
    }
    void TearDown() override {
        if (!pc) return;
        phone.closeGracefully(1000);
        EXPECT_EQ(pc->terminate(), 0) << pc->log();
    }
    // The next state message of `className` with its field `key` as an integer.
    int nextState(const char* className, const char* key) {
        phone::ReceivedFrame frame;
        if (phone.waitFor(className, frame, 8000) != phone::ReadResult::Frame) return -1;
        return frame.message[key].asInt();
    }
    void key(int code) {
        Json::Value m(Json::objectValue);
        m["keyCode"] = code;
        ASSERT_TRUE(phone.sendMessage(protocol::MsgKeyEvent, m));
    }
    void push(const std::string& path, const std::string& name, int64_t fileId) {
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Json::Value start = fileMessage(1, fileId);
        start["fileName"] = name;
        start["fileSize"] = static_cast<Json::Int64>(bytes.size());
        ASSERT_TRUE(phone.sendMessage(protocol::MsgFile, start));
        ASSERT_TRUE(phone.sendMessage(protocol::MsgFile, fileMessage(2, fileId), bytes.data(), bytes.size()));
        ASSERT_TRUE(phone.sendMessage(protocol::MsgFile, fileMessage(3, fileId)));
        ASSERT_TRUE(phone.sendMessage(protocol::MsgFile, fileMessage(0, fileId)));
    }

    testing_support::PrivateXvfb xvfb{1920, 1080};
    std::unique_ptr<e2e::PcProgram> pc;
    phone::PhoneClient phone;
};

TEST_F(PhotoBoardE2e, ReceivedPicturesOpenTheBoardOnNewPagesAndThePhoneKeysDriveIt) {
    ASSERT_TRUE(pc->waitForLog("drawing board library loaded")) << pc->log();
    makePicture(pc->home() + "/green.png", 600, 400, "#30a040");
    makePicture(pc->home() + "/orange.png", 400, 400, "#e08020");

    push(pc->home() + "/green.png", "green.png", 1);
    EXPECT_EQ(nextState(protocol::MsgDrawingBoardState, "state"), 1) << pc->log();
    Rgb c;
    EXPECT_TRUE(screenShows(pc->home(), 960, 540, 0x30, 0xa0, 0x40, &c)) << c.r << "," << c.g << "," << c.b;
    push(pc->home() + "/orange.png", "orange.png", 2);
    EXPECT_TRUE(screenShows(pc->home(), 960, 540, 0xe0, 0x80, 0x20, &c)) << c.r << "," << c.g << "," << c.b;

    // Page up: the first picture again; page down: the second.
    key(92);
    EXPECT_TRUE(screenShows(pc->home(), 960, 540, 0x30, 0xa0, 0x40, &c)) << c.r << "," << c.g << "," << c.b;
    key(93);
    EXPECT_TRUE(screenShows(pc->home(), 960, 540, 0xe0, 0x80, 0x20, &c));
    // Zoom in: the square grows past its fitted left edge (x = 496).
    EXPECT_TRUE(screenPixel(pc->home(), 420, 540).near(255, 255, 255));
    key(254);
    EXPECT_TRUE(screenShows(pc->home(), 420, 540, 0xe0, 0x80, 0x20, &c)) << c.r << "," << c.g << "," << c.b;

    // The close key closes the board; the phone hears it.
    key(253);
    EXPECT_EQ(nextState(protocol::MsgDrawingBoardState, "state"), 0) << pc->log();
}

TEST_F(PhotoBoardE2e, PhotosFromThePhoneAreShownSteppedAndClosed) {
    const std::string served = pc->home() + "/served";
    std::filesystem::create_directories(served);
    makePicture(served + "/a.png", 640, 480, "#d03030");
    makePicture(served + "/b.png", 640, 480, "#3050d0");
    testing_support::HttpServer http(testing_support::uniqueLoopbackAddress(75), served);
    ASSERT_TRUE(http.ok());

    Json::Value photos(Json::objectValue);
    photos["urls"].append(http.base() + "a.png");
    photos["urls"].append(http.base() + "b.png");
    photos["index"] = 0;
    ASSERT_TRUE(phone.sendMessage(protocol::MsgPhotos, photos));
    phone::ReceivedFrame frame;
    ASSERT_EQ(phone.waitFor(protocol::MsgPhotos, frame, 8000), phone::ReadResult::Frame) << pc->log();
    EXPECT_EQ(frame.message["action"].asInt(), 2);
    EXPECT_TRUE(frame.message["isOpened"].asBool());
    Rgb c;
    EXPECT_TRUE(screenShows(pc->home(), 960, 540, 0xd0, 0x30, 0x30, &c)) << c.r << "," << c.g << "," << c.b;
    key(93);
    EXPECT_TRUE(screenShows(pc->home(), 960, 540, 0x30, 0x50, 0xd0, &c)) << c.r << "," << c.g << "," << c.b;
    key(253);
    ASSERT_EQ(phone.waitFor(protocol::MsgPhotos, frame, 8000), phone::ReadResult::Frame) << pc->log();
    EXPECT_FALSE(frame.message["isOpened"].asBool());
}

}  // namespace
