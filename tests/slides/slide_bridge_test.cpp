// The slide-show bridge against a fake helper on the test's own loopback
// address: the commands it sends, how it answers the helper's datagrams, the
// start-show sequence, slide image publishing and the image cache expiry.
#include "common/eventually.h"
#include "common/loopback.h"
#include "common/temp_dir.h"
#include "core/settings.h"
#include "fake_helper.h"
#include "platform/window_raiser.h"
#include "slides/slide_bridge.h"
#include "support/files.h"

#include <json/writer.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

namespace {

using slides_test::FakeHelper;
using testing_support::TempDir;
namespace fs = std::filesystem;

class CountingRaiser : public platform::WindowRaiser {
public:
    bool raiseFullScreenWindowOf(const std::vector<pid_t>&) override {
        ++calls;
        return false;
    }
    std::atomic<int> calls{0};
};

class SlideBridgeTest : public ::testing::Test {
protected:
    SlideBridgeTest() : address(testing_support::uniqueLoopbackAddress(61)), helper(address) {}

    void SetUp() override {
        ASSERT_TRUE(helper.ok());
        // The cache was emptied just now; the expiry test sets its own time.
        settings.setInt("SET", "lastClearTemp", kNow);
    }
    static constexpr int64_t kNow = 500000;

    slides::SlideBridgeDeps deps() {
        slides::SlideBridgeDeps d;
        d.broadcast = [this](const Json::Value& m) {
            std::lock_guard<std::mutex> lock(mutex);
            sent.push_back(m);
        };
        d.serverAddress = [] { return std::string("192.0.2.7"); };
        d.settings = &settings;
        d.cacheDir = cache();
        d.address = address;
        d.raiser = &raiser;
        d.hoursNow = [] { return kNow; };
        d.openWaitMs = 300;
        return d;
    }
    std::string cache() const { return temp / ".temp"; }
    std::unique_ptr<slides::SlideBridge> make(slides::SlideBridgeDeps d) {
        auto bridge = std::make_unique<slides::SlideBridge>(std::move(d));
        EXPECT_TRUE(bridge->ok());
        return bridge;
    }
    std::unique_ptr<slides::SlideBridge> make() { return make(deps()); }

    // The broadcasts so far, waiting until there are at least `count`.
    std::vector<Json::Value> broadcasts(size_t count) {
        testing_support::waitUntil(
            [&] {
                std::lock_guard<std::mutex> lock(mutex);
                return sent.size() >= count;
            },
            2000);
        std::lock_guard<std::mutex> lock(mutex);
        return sent;
    }

    std::string address;
    FakeHelper helper;
    TempDir temp;
    core::MemorySettings settings;
    CountingRaiser raiser;
    std::mutex mutex;
    std::vector<Json::Value> sent;
};

TEST_F(SlideBridgeTest, CommandsReachTheHelperAsWritten) {
    auto bridge = make();
    bridge->gotoSlide(4);
    auto go = helper.next();
    ASSERT_TRUE(go);
    EXPECT_EQ((*go)["cmd"].asString(), "goto");
    EXPECT_EQ((*go)["slide"].asInt(), 4);

    // Nothing cached under a timestamp key: the helper is asked to export.
    bridge->publishSlides(cache(), "1765300000123");
    auto get = helper.next();
    ASSERT_TRUE(get);
    EXPECT_EQ((*get)["cmd"].asString(), "get-image");
    EXPECT_EQ((*get)["dir"].asString(), cache());
    EXPECT_EQ((*get)["md5"].asString(), "1765300000123");

    // openPresentation: "close", then "open" with the UTF-8 path.
    std::thread opener([&] { bridge->openPresentation("/tmp/课件 1.pptx"); });
    EXPECT_EQ(helper.nextCmd(), "close");
    auto open = helper.next();
    ASSERT_TRUE(open);
    EXPECT_EQ((*open)["cmd"].asString(), "open");
    EXPECT_EQ((*open)["file"].asString(), "/tmp/课件 1.pptx");
    opener.join();
}

TEST_F(SlideBridgeTest, OpenWaitsForTheAnswerAndFallsBackOnlyOnFailure) {
    auto d = deps();
    std::vector<std::string> shellOpened;
    int repairs = 0;
    d.shellOpen = [&](const std::string& path) { shellOpened.push_back(path); };
    d.repair = [&] { ++repairs; };
    d.openWaitMs = 5000;
    auto bridge = make(std::move(d));

    // An answer left over from before must not satisfy the next open.
    helper.send(R"({"cmd":"rep-open","ret":0})");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    auto started = std::chrono::steady_clock::now();
    std::thread ok([&] { bridge->openPresentation("/x/a.pptx"); });
    EXPECT_EQ(helper.nextCmd(), "close");
    EXPECT_EQ(helper.nextCmd(), "open");
    helper.send(R"({"cmd":"rep-open","ret":1})");
    ok.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
    EXPECT_TRUE(shellOpened.empty());

    std::thread failed([&] { bridge->openPresentation("/x/b.ppt"); });
    EXPECT_EQ(helper.nextCmd(), "close");
    EXPECT_EQ(helper.nextCmd(), "open");
    helper.send(R"({"cmd":"rep-open","ret":0})");
    failed.join();
    EXPECT_EQ(shellOpened, std::vector<std::string>{"/x/b.ppt"});
    EXPECT_EQ(repairs, 1);
}

TEST_F(SlideBridgeTest, SilentHelperLeavesTheFileAloneAndDestructionEndsAWait) {
    auto d = deps();
    int fallbacks = 0;
    d.shellOpen = [&](const std::string&) { ++fallbacks; };
    d.repair = [&] { ++fallbacks; };
    auto bridge = make(std::move(d));
    bridge->openPresentation("/x/c.pptx");  // 300 ms without an answer
    EXPECT_EQ(fallbacks, 0);

    // A bridge being stopped wakes an open that waits for the helper.
    auto d2 = deps();
    d2.openWaitMs = 60000;
    auto second = std::make_unique<slides::SlideBridge>(std::move(d2));
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        second->openPresentation("/x/d.pptx");
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    second->requestStop();
    EXPECT_TRUE(testing_support::waitUntil([&] { return returned.load(); }, 2000));
    waiter.join();
}

TEST_F(SlideBridgeTest, NotificationsBecomeMsgPptBroadcasts) {
    auto bridge = make();
    helper.send(R"({"cmd":"notify-slide-changed","curSlide":2,"totalPages":5})");
    auto got = broadcasts(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0]["action"].asInt(), 4);
    EXPECT_EQ(got[0]["slideIndex"].asInt(), 2);
    EXPECT_EQ(got[0]["slideCount"].asInt(), 5);
    EXPECT_EQ(bridge->curSlide(), 2);
    EXPECT_EQ(bridge->slideCount(), 5);

    // totalPages 0 is passed on but keeps the stored count; a negative slide
    // keeps the stored slide.
    helper.send(R"({"cmd":"notify-slide-changed","curSlide":-1,"totalPages":0})");
    got = broadcasts(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1]["slideCount"].asInt(), 0);
    EXPECT_EQ(got[1]["slideIndex"].asInt(), -1);
    EXPECT_EQ(bridge->slideCount(), 5);
    EXPECT_EQ(bridge->curSlide(), 2);

    helper.send(R"({"cmd":"rep-get-slide-index","curSlide":3,"totalPages":9})");
    got = broadcasts(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[2]["action"].asInt(), 5);
    EXPECT_EQ(got[2]["slideIndex"].asInt(), 3);
    EXPECT_EQ(got[2]["slideCount"].asInt(), 9);

    helper.send(R"({"cmd":"rep-get-image","ret":3,"md5":"abc"})");
    got = broadcasts(4);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[3]["action"].asInt(), 2);
    ASSERT_EQ(got[3]["urls"].size(), 3u);
    EXPECT_EQ(got[3]["urls"][0].asString(), "http://192.0.2.7:27272/.temp/abc_000.png");
    EXPECT_EQ(got[3]["urls"][1].asString(), "http://192.0.2.7:27272/.temp/abc_001.png");
    EXPECT_EQ(got[3]["urls"][2].asString(), "http://192.0.2.7:27272/.temp/abc_002.png");

    helper.send(R"({"cmd":"notify-quit"})");
    got = broadcasts(5);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[4]["action"].asInt(), 3);
    EXPECT_TRUE(testing_support::waitUntil([&] { return bridge->slideCount() == 0 && bridge->curSlide() == 0; }, 1000));

    helper.send(R"({"cmd":"notify-fullscreen"})");
    EXPECT_TRUE(testing_support::waitUntil([&] { return raiser.calls.load() == 1; }, 2000));
}

TEST_F(SlideBridgeTest, BadOrUselessDatagramsAreDroppedAndTheBridgeGoesOn) {
    auto bridge = make();
    helper.send(R"({"cmd":"rep-get-image","ret":0,"md5":"abc"})");
    helper.send(R"({"cmd":"rep-get-image","ret":2,"md5":"../../etc/x"})");
    helper.send(R"({"cmd":"rep-get-image","ret":"many","md5":"abc"})");
    helper.send(R"({"cmd":"notify-slide-changed","curSlide":{},"totalPages":1})");
    helper.send(R"({"cmd":"something-else"})");
    helper.send("not json at all");
    helper.send(std::string(200, '['));
    helper.send(R"(["cmd","notify-quit"])");
    // A huge count is cut rather than listed.
    helper.send(R"({"cmd":"rep-get-image","ret":2000000000,"md5":"big"})");
    helper.send(R"({"cmd":"notify-slide-changed","curSlide":1,"totalPages":2})");
    auto got = broadcasts(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0]["action"].asInt(), 2);
    EXPECT_LE(got[0]["urls"].size(), 5000u);
    EXPECT_EQ(got[1]["action"].asInt(), 4);
}

TEST_F(SlideBridgeTest, AttachedPresentationIsExportedUnderItsMd5) {
    auto bridge = make();
    const std::string file = temp / "lesson.pptx";
    std::ofstream(file) << "slides";
    std::string md5;
    ASSERT_TRUE(support::getMd5(file, md5));

    Json::Value attached(Json::objectValue);
    attached["cmd"] = "notify-ppt-attached";
    attached["filePath"] = file;
    helper.send(Json::FastWriter().write(attached));
    auto get = helper.next();
    ASSERT_TRUE(get);
    EXPECT_EQ((*get)["cmd"].asString(), "get-image");
    EXPECT_EQ((*get)["dir"].asString(), cache());
    EXPECT_EQ((*get)["md5"].asString(), md5);

    // Without a path, or with one that cannot be read, nothing is asked.
    helper.send(R"({"cmd":"notify-ppt-attached"})");
    helper.send(R"({"cmd":"notify-ppt-attached","filePath":"/no/such/file.pptx"})");
    EXPECT_EQ(helper.nextCmd(300), "");
}

TEST_F(SlideBridgeTest, StartShowResumesInsideTheDeckOnly) {
    auto bridge = make();
    helper.send(R"({"cmd":"notify-slide-changed","curSlide":5,"totalPages":20})");
    ASSERT_TRUE(testing_support::waitUntil([&] { return bridge->slideCount() == 20; }, 2000));
    bridge->startShow();
    EXPECT_EQ(helper.nextCmd(), "f5");
    auto go = helper.next();
    ASSERT_TRUE(go);
    EXPECT_EQ((*go)["cmd"].asString(), "goto");
    EXPECT_EQ((*go)["slide"].asInt(), 5);
    EXPECT_EQ(raiser.calls.load(), 1);

    // On the last slide, and with no show, only "f5".
    helper.send(R"({"cmd":"notify-slide-changed","curSlide":20,"totalPages":20})");
    ASSERT_TRUE(testing_support::waitUntil([&] { return bridge->curSlide() == 20; }, 2000));
    bridge->attach();
    EXPECT_EQ(helper.nextCmd(), "f5");
    EXPECT_EQ(helper.nextCmd(200), "");
    helper.send(R"({"cmd":"notify-quit"})");
    ASSERT_TRUE(testing_support::waitUntil([&] { return bridge->curSlide() == 0; }, 2000));
    bridge->startShow();
    EXPECT_EQ(helper.nextCmd(), "f5");
    EXPECT_EQ(helper.nextCmd(200), "");
    EXPECT_EQ(raiser.calls.load(), 3);
}

TEST_F(SlideBridgeTest, CachedImagesOfAFileKeyAreAnnouncedInSlideOrder) {
    const std::string key = "0123456789abcdef0123456789abcdef";
    fs::create_directories(cache());
    // Created out of order; another key's image and a partial one are no slides of this key.
    for (const char* name : {"_002.png", "_000.png", "_010.png", "_001.png", "_003.png.part"})
        std::ofstream(cache() + "/" + key + name) << "png";
    std::ofstream(cache() + "/ffff456789abcdef0123456789abcdef_000.png") << "png";
    auto bridge = make();
    bridge->publishSlides(cache(), key);
    auto got = broadcasts(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0]["action"].asInt(), 2);
    ASSERT_EQ(got[0]["urls"].size(), 4u);
    const std::string base = "http://192.0.2.7:27272/.temp/" + key;
    EXPECT_EQ(got[0]["urls"][0].asString(), base + "_000.png");
    EXPECT_EQ(got[0]["urls"][1].asString(), base + "_001.png");
    EXPECT_EQ(got[0]["urls"][2].asString(), base + "_002.png");
    EXPECT_EQ(got[0]["urls"][3].asString(), base + "_010.png");
    EXPECT_EQ(helper.nextCmd(200), "");

    // A key that is no MD5 always asks for a fresh export, even with files.
    std::ofstream(cache() + "/1765300000123_000.png") << "png";
    bridge->publishSlides(cache(), "1765300000123");
    EXPECT_EQ(helper.nextCmd(), "get-image");
}

TEST_F(SlideBridgeTest, CacheIsEmptiedOnlyAfterMoreThan120Hours) {
    fs::create_directories(cache());
    std::ofstream(cache() + "/old_000.png") << "png";
    settings.setInt("SET", "lastClearTemp", kNow - 100);
    make().reset();
    EXPECT_TRUE(fs::exists(cache() + "/old_000.png"));
    EXPECT_EQ(settings.getInt("SET", "lastClearTemp", 0), kNow - 100);

    settings.setInt("SET", "lastClearTemp", kNow - 121);
    make().reset();
    EXPECT_FALSE(fs::exists(cache() + "/old_000.png"));
    EXPECT_EQ(settings.getInt("SET", "lastClearTemp", 0), kNow);
}

TEST_F(SlideBridgeTest, WatchdogRestartsAHelperThatDidNotStayOnce) {
    // A helper that records each start and ends at once.
    const std::string starts = temp / "starts";
    const std::string program = temp / "helper.sh";
    std::ofstream(program) << "#!/bin/sh\necho started >> '" << starts << "'\n";
    fs::permissions(program, fs::perms::owner_all);
    auto d = deps();
    d.helperProgram = program;
    d.helperDir = temp.path();
    d.watchdogMs = 100;
    auto bridge = make(std::move(d));
    auto lines = [&] {
        std::ifstream in(starts);
        int n = 0;
        for (std::string line; std::getline(in, line);) ++n;
        return n;
    };
    EXPECT_TRUE(testing_support::waitUntil([&] { return lines() == 2; }, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(lines(), 2);
}

}  // namespace
