// Input records sent through mutter's RemoteDesktop session. Absolute
// positions are pixels of the session's screencast stream (the primary
// monitor); keys go as evdev key codes, which the compositor's keymap reads.
#include "platform/gnome_remote.h"
#include "platform/linux/gnome_remote_session.h"

#include "support/logger.h"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace platform {

namespace {

class MutterInjector : public InputInjector {
public:
    MutterInjector(std::shared_ptr<RemoteScreenSession> session, std::unique_ptr<ScreenInfo> screen)
        : session_(std::move(session)), screen_(std::move(screen)) {}

    ~MutterInjector() override {
        // Nothing stays pressed when the injector goes.
        std::lock_guard<std::mutex> lock(mutex_);
        for (uint32_t code : pressedKeys_) session_->keyboardKeycode(code, false);
    }

    size_t sendInput(const InputRecord* records, size_t count) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const ScreenSize size = screenSizeLocked();
        size_t sent = 0;
        for (size_t i = 0; i < count; ++i) {
            const InputRecord& r = records[i];
            if (r.type == InputRecord::Type::Keyboard) {
                const uint32_t code = evdevKeyForVirtualKey(r.vk);
                if (code == 0) continue;
                const bool down = !(r.flags & kKeyUp);
                session_->keyboardKeycode(code, down);
                if (down)
                    pressedKeys_.push_back(code);
                else
                    pressedKeys_.erase(std::remove(pressedKeys_.begin(), pressedKeys_.end(), code),
                                       pressedKeys_.end());
                if (pressedKeys_.size() > 64) pressedKeys_.erase(pressedKeys_.begin());
            } else {
                injectMouse(r, size);
            }
            ++sent;
        }
        return sent;
    }

    ScreenSize screenSize() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return screenSizeLocked();
    }

    void setSystemPointerHidden(bool hidden) override {
        // A Wayland client cannot hide the compositor's pointer.
        if (hidden && !hideNoted_.exchange(true))
            LOGOUT("system pointer cannot be hidden in a Wayland session");
    }

    bool cursorPosition(int& x, int& y) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!known_) return false;
        x = int(x_);
        y = int(y_);
        return true;
    }

    void moveCursorTo(int x, int y) override {
        std::lock_guard<std::mutex> lock(mutex_);
        moveTo(x, y, screenSizeLocked());
    }

private:
    ScreenSize screenSizeLocked() { return screen_ ? screen_->primaryScreenSize() : ScreenSize{}; }

    // 0..65535 back to a pixel of a screen `size` wide, as the X11 backend does.
    static int toPixel(int32_t normalised, int size) {
        if (size <= 0) return 0;
        const int64_t n = std::clamp<int64_t>(normalised, 0, 65535);
        return int(std::clamp<int64_t>((n * size + 65534) / 65535, 0, size - 1));
    }

    void moveTo(double x, double y, ScreenSize size) {
        x_ = x;
        y_ = y;
        known_ = true;
        session_->pointerAbsolute(x, y, size.width, size.height);
    }

    void injectMouse(const InputRecord& r, ScreenSize size) {
        using namespace mouse_flag;
        if (r.flags & Move) {
            if (r.flags & Absolute) {
                moveTo(toPixel(r.dx, size.width), toPixel(r.dy, size.height), size);
            } else if (r.dx != 0 || r.dy != 0) {
                const double dx = std::clamp(r.dx, -32768, 32767), dy = std::clamp(r.dy, -32768, 32767);
                session_->pointerRelative(dx, dy);
                if (known_ && size.width > 0 && size.height > 0) {
                    x_ = std::clamp(x_ + dx, 0.0, double(size.width - 1));
                    y_ = std::clamp(y_ + dy, 0.0, double(size.height - 1));
                }
            }
        }
        const struct {
            uint32_t flag;
            int32_t button;
            bool press;
        } buttons[] = {{LeftDown, BTN_LEFT, true},     {LeftUp, BTN_LEFT, false},
                       {RightDown, BTN_RIGHT, true},   {RightUp, BTN_RIGHT, false},
                       {MiddleDown, BTN_MIDDLE, true}, {MiddleUp, BTN_MIDDLE, false}};
        for (const auto& b : buttons)
            if (r.flags & b.flag) session_->pointerButton(b.button, b.press);
        // Wheel away from the user scrolls up (negative steps); right is positive.
        if (r.flags & Wheel) wheel(wheelRest_, -r.mouseData, 0);
        if (r.flags & HWheel) wheel(hwheelRest_, r.mouseData, 1);
    }

    // A notch is 120; smaller deltas add up until they make one.
    void wheel(int& rest, int32_t delta, uint32_t axis) {
        if ((rest > 0 && delta < 0) || (rest < 0 && delta > 0)) rest = 0;
        const int64_t sum = int64_t(rest) + delta;
        const int64_t notches = std::clamp<int64_t>(sum / kWheelDelta, -100, 100);
        rest = int(sum - notches * kWheelDelta);
        if (rest > kWheelDelta || rest < -kWheelDelta) rest = 0;
        for (int64_t i = 0; i < (notches > 0 ? notches : -notches); ++i)
            session_->pointerAxisDiscrete(axis, notches > 0 ? 1 : -1);
    }

    std::shared_ptr<RemoteScreenSession> session_;
    std::unique_ptr<ScreenInfo> screen_;
    std::mutex mutex_;
    std::vector<uint32_t> pressedKeys_;
    double x_ = 0, y_ = 0;
    bool known_ = false;
    int wheelRest_ = 0, hwheelRest_ = 0;
    std::atomic<bool> hideNoted_{false};
};

}  // namespace

std::unique_ptr<InputInjector> makeMutterInjector(std::shared_ptr<RemoteScreenSession> session,
                                                  std::unique_ptr<ScreenInfo> screen) {
    if (!session) return nullptr;
    return std::make_unique<MutterInjector>(std::move(session), std::move(screen));
}

}  // namespace platform
