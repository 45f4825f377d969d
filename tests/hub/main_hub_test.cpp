// The main hub against a real session server and phone on loopback.
#include "hub_fixture.h"

#include "app/program/hub_link.h"
#include "app/program/hub_socket_server.h"
#include "protocol/message_names.h"

#include <atomic>
#include <cstdio>
#include <initializer_list>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace hubtest {
namespace {

// Reads frames while the UI loop runs, until `count` messages of the given
// classes arrived (others are skipped) or the time ran out.
std::vector<phone::ReceivedFrame> collect(phone::PhoneClient& phone,
                                          const std::vector<std::string>& classes, size_t count,
                                          int ms = 3000) {
    std::vector<phone::ReceivedFrame> got;
    spinUntil(
        [&] {
            phone::ReceivedFrame f;
            while (phone.readFrame(f, 0) == phone::ReadResult::Frame)
                if (std::find(classes.begin(), classes.end(), f.className) != classes.end())
                    got.push_back(f);
            return got.size() >= count;
        },
        ms);
    return got;
}

const std::vector<std::string> kStateClasses = {
    protocol::MsgDrawingBoardState, protocol::MsgBrushState, protocol::MsgSpotState,
    protocol::MsgGlassState, protocol::MsgPhotos};

TEST_F(HubTest, ReadyPhoneGetsTheFiveStatesInOrderAndAdminHidesConnectWindow) {
    makeHub(deps());
    connect_.visible = true;
    spotlight_.visible = true;
    photoWall_.visible = true;
    auto admin = connectPhone(true);
    auto states = collect(*admin, kStateClasses, 5);
    ASSERT_EQ(states.size(), 5u);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(states[i].className, kStateClasses[i]);
    EXPECT_EQ(states[0].message["state"].asInt(), 0);  // no drawing board library
    EXPECT_EQ(states[1].message["state"].asInt(), 0);
    EXPECT_EQ(states[2].message["state"].asInt(), 1);
    EXPECT_EQ(states[3].message["state"].asInt(), 0);
    EXPECT_EQ(states[4].message["action"].asInt(), 2);
    EXPECT_TRUE(states[4].message["isOpened"].asBool());
    EXPECT_FALSE(connect_.visible);
    EXPECT_EQ(hub_->clientAddress(), support::string2ip("127.0.0.1"));  // the phone's address

    // A second phone that is not the controller: the connect window stays as
    // it is, and both phones get the states again.
    connect_.visible = true;
    auto other = connectPhone(false);
    EXPECT_EQ(collect(*other, kStateClasses, 5).size(), 5u);
    EXPECT_TRUE(connect_.visible);
}

TEST_F(HubTest, ControllerLeavingShowsConnectWindowAndClosesItsTools) {
    makeHub(deps());
    auto admin = connectPhone(true);
    ASSERT_EQ(collect(*admin, kStateClasses, 5).size(), 5u);
    annotation_.visible = true;
    magnifier_.visible = true;
    photoWall_.visible = true;
    const int shows = connect_.shows;
    admin->close();
    ASSERT_TRUE(spinUntil([&] { return connect_.shows > shows; }));
    EXPECT_TRUE(connect_.visible);
    EXPECT_FALSE(annotation_.visible);
    EXPECT_FALSE(magnifier_.visible);
    EXPECT_FALSE(photoWall_.visible);
    EXPECT_EQ(hub_->clientAddress(), 0u);
}

TEST_F(HubTest, ConnectWindowAtStartUpStaysAwayOnceTheControllerIsIn) {
    // The connect window comes up shortly after start-up, unless a
    // controller connected within that delay: the window would cover its
    // overlays.
    settings_.setInt(core::setting::SET, "AUTO_HIDE", 0);
    makeHub(deps());
    auto admin = connectPhone(true);
    ASSERT_EQ(collect(*admin, kStateClasses, 5).size(), 5u);
    EXPECT_FALSE(spinUntil([&] { return connect_.shows > 0; }, 600));
    EXPECT_FALSE(connect_.visible);

    // Once it leaves the window comes back.
    admin->close();
    EXPECT_TRUE(spinUntil([&] { return connect_.visible; }));
}

TEST_F(HubTest, ToolsExcludeEachOtherAndBroadcastsReachPhones) {
    makeHub(deps());
    auto admin = connectPhone(true);
    ASSERT_EQ(collect(*admin, kStateClasses, 5).size(), 5u);

    spotlight_.visible = true;
    hub_->post(core::UM_BRUSH, 1, 0);  // annotation on: spotlight off first
    ASSERT_TRUE(spinUntil([&] { return annotation_.visible; }));
    EXPECT_FALSE(spotlight_.visible);
    hub_->post(core::UM_SPOT, 1, 0);  // and the other way round
    ASSERT_TRUE(spinUntil([&] { return spotlight_.visible; }));
    EXPECT_FALSE(annotation_.visible);
    hub_->post(core::UM_GLASS, 1, 0);  // magnifier on closes the spotlight
    ASSERT_TRUE(spinUntil([&] { return magnifier_.visible; }));
    EXPECT_FALSE(spotlight_.visible);

    hub_->post(core::UM_DRAWING_BOARD, 7, 1);
    hub_->post(core::UM_EDIT_TEXT_END, 0, 0);
    auto got = collect(*admin, {protocol::MsgDrawingBoardState, protocol::MsgEditText}, 2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].message["state"].asInt(), 1);
    EXPECT_EQ(got[1].message["content"].asString(), "");

    // The display size: the first size is no change, a new one is sent once.
    hub_->screenSizeChanged(1920, 1080);
    hub_->screenSizeChanged(1280, 1024);
    hub_->screenSizeChanged(1280, 1024);
    got = collect(*admin, {protocol::MsgConfigChanged}, 2, 500);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].message["screenWidth"].asInt(), 1280);
    EXPECT_EQ(got[0].message["screenHeight"].asInt(), 1024);
}

TEST_F(HubTest, HeapBlocksReachTheirWindowAndRunOnUiRunsOnTheUiThread) {
    makeHub(deps());
    auto stroke = std::make_unique<core::StrokeBlock>();
    stroke->points = {1, 2, 3, 4};
    hub_->post(core::UM_BRUSH, 5, 0, std::move(stroke));
    ASSERT_TRUE(spinUntil([&] { return annotation_.lastBlock != nullptr; }));
    auto* got = dynamic_cast<core::StrokeBlock*>(annotation_.lastBlock.get());
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->points.size(), 4u);

    std::atomic<bool> ranOnUi{false};
    auto run = std::make_unique<core::RunOnUiBlock>();
    const auto uiThread = std::this_thread::get_id();
    run->callable = [&](int64_t a, int64_t b) {
        ranOnUi = std::this_thread::get_id() == uiThread && a == 3 && b == 4;
    };
    run->first = 3;
    run->second = 4;
    std::thread([&] { hub_->post(core::UM_RUN_ON_UI, 0, 0, std::move(run)); }).join();
    ASSERT_TRUE(spinUntil([&] { return ranOnUi.load(); }));
}

TEST_F(HubTest, SendFromAnotherThreadReturnsAfterTheUiThreadRanIt) {
    makeHub(deps());
    std::atomic<bool> returned{false};
    size_t seenWhenReturned = 0;
    std::thread sender([&] {
        hub_->send(core::UM_BRUSH, 4, 0);
        seenWhenReturned = annotation_.log.size();
        returned = true;
    });
    ASSERT_TRUE(spinUntil([&] { return returned.load(); }));
    sender.join();
    EXPECT_EQ(seenWhenReturned, 1u);
    EXPECT_EQ(annotation_.log.back(), "msg " + std::to_string(core::UM_BRUSH) + " 4");

    // Once the hub is shutting down a sender is not left waiting, whether its
    // message was queued before or comes after.
    app::QtMainHub* hub = hub_.get();
    std::atomic<bool> lateReturned{false};
    std::thread late([&] {
        hub->send(core::UM_BRUSH, 4, 0);
        lateReturned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    hub->destroy();
    late.join();
    EXPECT_TRUE(lateReturned);
    hub->send(core::UM_BRUSH, 4, 0);  // on the UI thread it still runs directly
}

TEST_F(HubTest, NetworkWatchRestartsWhenTheBoundAddressVanishes) {
    int restarts = 0;
    auto d = deps();
    d.restartProgram = [&] { ++restarts; };
    makeHub(std::move(d));
    EXPECT_TRUE(hub_->networkTimerActive());
    EXPECT_FALSE(hub_->checkNetwork());
    EXPECT_EQ(restarts, 0);

    adapters_.set({support::string2ip("10.99.0.7")});
    bool quit = false;
    QObject::connect(hub_.get(), &app::QtMainHub::quitRequested, [&] { quit = true; });
    EXPECT_TRUE(hub_->checkNetwork());
    EXPECT_EQ(restarts, 1);
    ASSERT_TRUE(spinUntil([&] { return quit; }));
    EXPECT_EQ(hub_->exec(), 0);  // a quit that came first ends the loop at once
}

// Writes `records` on one connection to the hub socket, in order.
bool writeHubRecords(const std::string& path, std::initializer_list<app::HubRecord> records) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    for (const app::HubRecord& r : records) {
        uint8_t bytes[app::kHubRecordSize];
        app::encodeHubRecord(r, bytes);
        ok = ok && ::write(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes);
    }
    ::close(fd);
    return ok;
}

TEST_F(HubTest, HubSocketPassesOnlyTheMessagesOtherProgramsMaySend) {
    int encoderCloses = 0;
    auto d = deps();
    d.encoderClose = [&] { ++encoderCloses; };
    makeHub(std::move(d));
    char dir[] = "/tmp/lumacro3-hub-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/Lumacro3.hub";
    app::HubSocketServer socket(*hub_);
    ASSERT_TRUE(socket.listen(path));

    // One connection keeps the order: by the time the connect window shows,
    // the records before it have been handled or ignored.
    ASSERT_TRUE(writeHubRecords(path, {{core::UM_BRUSH, 1, 0},  // not allowed: ignored
                                       {core::UM_ENCODER_CLOSE, 0, 0},
                                       {core::UM_SHOW_CONNECT, 0, 0}}));
    ASSERT_TRUE(spinUntil([&] { return connect_.visible; }));
    EXPECT_TRUE(annotation_.log.empty());
    EXPECT_EQ(encoderCloses, 1);

    // The one-record helper other programs use reaches the hub as well.
    bool quit = false;
    QObject::connect(hub_.get(), &app::QtMainHub::quitRequested, [&] { quit = true; });
    EXPECT_TRUE(app::postToRunningInstance(core::UM_QUIT, 0, 0, path));
    ASSERT_TRUE(spinUntil([&] { return quit; }));
    socket.close();
    EXPECT_FALSE(app::postToRunningInstance(core::UM_QUIT, 0, 0, path));
    rmdir(dir);
}

TEST(HubRecord, RoundTripsNegativeAndLargeValues) {
    uint8_t bytes[app::kHubRecordSize];
    app::encodeHubRecord({0x556, -2, INT64_MAX}, bytes);
    app::HubRecord r = app::decodeHubRecord(bytes);
    EXPECT_EQ(r.message, 0x556u);
    EXPECT_EQ(r.wParam, -2);
    EXPECT_EQ(r.lParam, INT64_MAX);
}

TEST_F(HubTest, AnyPhoneBecomingReadyClosesTheSettingsWindow) {
    FakeWindow settings;
    app::HubDependencies d = deps();
    d.windows.settings = &settings;
    makeHub(std::move(d));
    settings.visible = true;
    auto watcher = connectPhone(false);
    ASSERT_EQ(collect(*watcher, kStateClasses, 5).size(), 5u);
    EXPECT_FALSE(settings.visible);
    EXPECT_EQ(settings.log, std::vector<std::string>{"hide"});
}

}  // namespace
}  // namespace hubtest
