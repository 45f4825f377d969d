#include "ui/main/drawing_board_bridge.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace {

using StateFn = void (*)(int*, int*, int*, HubOwner**);

struct Seen {
    int opened = 0, closed = 0, port = 0;
    HubOwner* owner = nullptr;
};

// The test keeps its own handle on the fake library, so its counters
// survive the bridge unloading it.
class FakeBoard {
public:
    FakeBoard() : handle_(dlopen(FAKE_BOARD_PATH, RTLD_NOW | RTLD_LOCAL)) {}
    ~FakeBoard() {
        if (handle_) dlclose(handle_);
    }
    bool ok() const { return handle_ != nullptr; }
    Seen seen() const {
        Seen s;
        reinterpret_cast<StateFn>(dlsym(handle_, "fakeBoardState"))(&s.opened, &s.closed, &s.port,
                                                                     &s.owner);
        return s;
    }

private:
    void* handle_;
};

TEST(DrawingBoardBridge, PresentExportsAreCalledMissingOnesDoNothingAndUnloadCutsThemOff) {
    FakeBoard fake;
    ASSERT_TRUE(fake.ok()) << dlerror();
    HubOwner owner{nullptr, nullptr};
    ui::DrawingBoardBridge bridge;
    ASSERT_TRUE(bridge.load(FAKE_BOARD_PATH, &owner, "/tmp", 8123));
    EXPECT_EQ(fake.seen().owner, &owner);
    EXPECT_EQ(fake.seen().port, 8123);

    EXPECT_FALSE(bridge.isOpened());
    bridge.openPainter();
    EXPECT_TRUE(bridge.isOpened());
    // Exports the library lacks are skipped.
    bridge.insertImage("/tmp/a.png");
    bridge.clearPainter();
    bridge.imageZoom(1);
    bridge.nextPage(0);
    bridge.setRotateAngle(90.0f);
    bridge.setInputText("x");
    bridge.setAnime(2);
    bridge.closePainter();
    EXPECT_FALSE(bridge.isOpened());

    bridge.openPainter();
    bridge.unload();
    EXPECT_FALSE(bridge.loaded());
    EXPECT_FALSE(bridge.isOpened());
    bridge.openPainter();
    bridge.closePainter();
    EXPECT_EQ(fake.seen().opened, 2);
    EXPECT_EQ(fake.seen().closed, 1);
}

TEST(DrawingBoardBridge, MissingLibraryLeavesEveryCallHarmless) {
    ui::DrawingBoardBridge bridge;
    EXPECT_FALSE(bridge.load("/nonexistent/libSketchpad4.so", nullptr, "", 0));
    EXPECT_FALSE(bridge.loaded());
    bridge.openPainter();
    bridge.insertImage("/tmp/a.png");
    EXPECT_FALSE(bridge.isOpened());
}

}  // namespace
