// MsgInputText end to end on a real X server: the text is put on the
// CLIPBOARD by the UI thread, Ctrl+V goes to the focused window, and that
// window fetches the selection as UTF8_STRING.
#include "input/qt_clipboard.h"
#include "input/remote_input.h"
#include "qt_app.h"

#include <QClipboard>
#include <future>

namespace input_test {
namespace {

class ClipboardPasteTest : public XInjectionFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(qtApp());
        XInjectionFixture::SetUp();
        if (HasFatalFailure()) return;
        handler = std::make_unique<input::RemoteInputHandler>(*injector, nullptr, tools, overlay, forwarded, &clipboard, nullptr);
    }

    // Runs inputText on a session thread while this (UI) thread serves the clipboard.
    void typeFromSessionThread(const std::string& text) {
        std::future<void> done = std::async(std::launch::async, [&] { handler->inputText(text); });
        EXPECT_TRUE(pumpUntil([&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    }

    core::OverlayFlags overlay;
    core::ForwardedPointerSlot forwarded;
    core::Features tools;
    input::QtClipboardWriter clipboard;
    std::unique_ptr<input::RemoteInputHandler> handler;
};

TEST_F(ClipboardPasteTest, LatinAndNonLatinTextArrivesWhole) {
    const std::string texts[] = {"abc", "你好, café", "line one\nline two\ttab 😀"};
    size_t n = 0;
    for (const std::string& text : texts) {
        typeFromSessionThread(text);
        ++n;
        ASSERT_TRUE(pumpUntil([&] { return window->pasted().size() >= n; })) << text;
        EXPECT_EQ(window->pasted().back(), text);
        EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), text);
    }
    // The paste keys: left Ctrl down, V down, V up, Ctrl up.
    const auto keys = window->events({kKeyPress, kKeyRelease});
    ASSERT_GE(keys.size(), 4u);
    EXPECT_EQ(keys[0].keysym, XK_Control_L);
    EXPECT_EQ(keys[1].keysym, XK_v);
    EXPECT_EQ(keys[2].type, kKeyRelease);
    EXPECT_EQ(keys[2].keysym, XK_v);
    EXPECT_EQ(keys[3].keysym, XK_Control_L);
}

TEST_F(ClipboardPasteTest, TextIsNotPastedWhenTheUiThreadDoesNotTakeIt) {
    input::QtClipboardWriter impatient(50);
    input::RemoteInputHandler h(*injector, nullptr, tools, overlay, forwarded, &impatient, nullptr);
    // The UI thread is not running its events: the writer gives up.
    std::thread session([&] { h.inputText("never"); });
    session.join();
    pumpUntil([] { return false; }, 200);
    EXPECT_TRUE(window->events({kKeyPress}).empty());
    EXPECT_TRUE(window->pasted().empty());
}

}  // namespace
}  // namespace input_test
