// What the hub does around the media player: a local open that plays closes
// the drawing board; pause and resume reach the phones only while something
// plays.
#include "hub_fixture.h"

#include "protocol/message_names.h"
#include "ui/main/drawing_board_bridge.h"

#include <dlfcn.h>

namespace hubtest {
namespace {

class FakePlayer : public ui::MediaPlayerWindow {
public:
    bool isVisible() override { return playing; }
    void showWindow() override {}
    void hideWindow() override {}
    void handle(uint32_t message, int64_t wParam, int64_t, std::unique_ptr<core::HeapBlock>) override {
        handled.push_back(message);
        if (message == core::UM_PLAY_URL) playing = opens;
        if (message == core::UM_MEDIA_CLOSE) playing = false;
        if (message == core::UM_MEDIA_PAUSE) paused = wParam != 0;
    }
    bool openLiveView(int, int, int, int) override { return false; }
    bool isPlaying() override { return playing; }
    bool isOpening() override { return opening; }
    int64_t position() override { return 0; }
    int64_t duration() override { return 0; }
    void closeMedia() override { playing = false; }

    bool opening = false;  // a phone's file being probed
    bool opens = true;     // what the next local open does
    bool playing = false;
    bool paused = false;
    std::vector<uint32_t> handled;
};

// How often the stand-in board library was closed (its own counter).
int boardCloses() {
    static void* handle = dlopen(FAKE_BOARD_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!handle) return -1;
    using StateFn = void (*)(int*, int*, int*, HubOwner**);
    int opened = 0, closed = 0, port = 0;
    HubOwner* owner = nullptr;
    reinterpret_cast<StateFn>(dlsym(handle, "fakeBoardState"))(&opened, &closed, &port, &owner);
    return closed;
}

class MediaHubTest : public HubTest {
protected:
    void SetUp() override {
        HubTest::SetUp();
        ASSERT_GE(boardCloses(), 0) << dlerror();
        auto d = deps();
        d.windows.mediaPlayer = &player_;
        d.drawingBoard = &board_;
        makeHub(std::move(d));
        ASSERT_TRUE(board_.load(FAKE_BOARD_PATH, hub_->hubOwner(), "/tmp", 27272));
    }
    void TearDown() override {
        HubTest::TearDown();
        board_.unload();
    }
    ui::DrawingBoardBridge board_;
    FakePlayer player_;
};

// States the phone got within `ms`.
std::vector<int> statesSeen(phone::PhoneClient& phone, int ms) {
    std::vector<int> states;
    spinUntil(
        [&] {
            phone::ReceivedFrame f;
            while (phone.readFrame(f, 0) == phone::ReadResult::Frame)
                if (f.className == protocol::MsgMediaPlayState) states.push_back(f.message["state"].asInt());
            return false;
        },
        ms);
    return states;
}

TEST_F(MediaHubTest, LocalOpenThatPlaysClosesTheDrawingBoardAFailedOneLeavesIt) {
    const int before = boardCloses();
    player_.opens = false;
    hub_->post(core::UM_PLAY_URL, 0, 0, core::makeTextBlock("/nonexistent.mp4", core::kUrlBlockUnits));
    ASSERT_TRUE(spinUntil([&] { return player_.handled.size() == 1; }));
    EXPECT_EQ(boardCloses(), before);

    player_.opens = true;
    hub_->post(core::UM_PLAY_URL, 0, 0, core::makeTextBlock("/tmp/clip.mp4", core::kUrlBlockUnits));
    ASSERT_TRUE(spinUntil([&] { return player_.handled.size() == 2; }));
    EXPECT_EQ(boardCloses(), before + 1);
}

TEST_F(MediaHubTest, PauseAndResumeWithNothingPlayingSendNoState) {
    auto admin = connectPhone(true);
    hub_->post(core::UM_MEDIA_PAUSE, 1, 0);
    hub_->post(core::UM_MEDIA_PAUSE, 0, 0);
    EXPECT_TRUE(statesSeen(*admin, 400).empty());
    // Nor while a phone's file is still being probed.
    player_.playing = player_.opening = true;
    hub_->post(core::UM_MEDIA_PAUSE, 1, 0);
    EXPECT_TRUE(statesSeen(*admin, 300).empty());
    EXPECT_TRUE(player_.handled.empty());
    player_.opening = false;

    player_.playing = true;
    hub_->post(core::UM_MEDIA_PAUSE, 1, 0);
    hub_->post(core::UM_MEDIA_PAUSE, 0, 0);
    EXPECT_EQ(statesSeen(*admin, 600), (std::vector<int>{2, 3}));
    EXPECT_FALSE(player_.paused);
}

}  // namespace
}  // namespace hubtest
