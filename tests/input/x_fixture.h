// A private X server per test process (input changes global state: pointer,
// focus, keymap, clipboard; other tests must not see it) and a plain Xlib
// window that records the events it receives. The window is also a paste
// target: on Ctrl+V it asks for the CLIPBOARD selection as UTF8_STRING.
#pragma once

#include "common/private_xvfb.h"
#include "platform/input_injector.h"

#include <X11/keysym.h>  // XK_ names only
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <memory>
#include <vector>

namespace input_test {

class PrivateXServer {
public:
    // Started on first use; DISPLAY names it from then on.
    static PrivateXServer& instance() {
        static PrivateXServer server;
        return server;
    }
    bool ok() const { return xvfb_.ok(); }
    const std::string& display() const { return xvfb_.display(); }

private:
    PrivateXServer() : xvfb_(1920, 1080) {}
    testing_support::PrivateXvfb xvfb_;
};

// X event types and state bits as the recorder reports them (the values of
// the X protocol; the Xlib headers stay out of the tests because their macros
// clash with gtest and Qt).
enum : int { kKeyPress = 2, kKeyRelease = 3, kButtonPress = 4, kButtonRelease = 5, kMotionNotify = 6 };
inline constexpr unsigned kShiftMask = 1u << 0, kControlMask = 1u << 2, kMod1Mask = 1u << 3,
                          kButton1Mask = 1u << 8;

struct XEventRecord {
    int type = 0;
    int x = 0, y = 0;  // root coordinates
    unsigned button = 0;
    unsigned state = 0;
    unsigned long keysym = 0;
    std::chrono::steady_clock::time_point received;
};

class RecorderWindow {
public:
    // A window over the whole screen with the keyboard focus.
    RecorderWindow();
    ~RecorderWindow();
    bool ok() const;

    // Waits until `done` holds for the events so far (checked on each new one).
    bool waitUntil(const std::function<bool(const std::vector<XEventRecord>&)>& done, int timeoutMs = 3000);
    bool waitForCount(int type, size_t n, int timeoutMs = 3000) {
        return waitUntil([&](const std::vector<XEventRecord>& e) { return count(e, type) >= n; }, timeoutMs);
    }
    static size_t count(const std::vector<XEventRecord>& events, int type) {
        size_t n = 0;
        for (const XEventRecord& r : events) n += r.type == type;
        return n;
    }
    std::vector<XEventRecord> events();
    // Events of the given types only, in order.
    std::vector<XEventRecord> events(std::initializer_list<int> types) {
        std::vector<XEventRecord> out;
        for (const XEventRecord& r : events())
            for (int t : types)
                if (r.type == t) out.push_back(r);
        return out;
    }
    void clear();
    // Texts fetched from the CLIPBOARD after each Ctrl+V.
    std::vector<std::string> pasted();
    bool waitForPaste(size_t n, int timeoutMs = 5000);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The private X server, the XTest injector into it and a recording window
// over the whole screen with the keyboard focus.
class XInjectionFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(PrivateXServer::instance().ok()) << "Xvfb did not start";
        injector = platform::makeXTestInjector();
        ASSERT_TRUE(injector);
        window = std::make_unique<RecorderWindow>();
        ASSERT_TRUE(window->ok());
    }

    std::unique_ptr<platform::InputInjector> injector;
    std::unique_ptr<RecorderWindow> window;
};

}  // namespace input_test
