// Input records injected with XTest into the X server of $DISPLAY.
//
// Absolute records carry 0..65535 across the primary screen; they are mapped
// back to the pixel they came from (rounding up, which undoes the truncating
// normalisation exactly for screens up to 65535 pixels). Keys are found
// through the virtual-key table; a keysym the keymap lacks is bound to a spare
// keycode for the press and unbound again a little later, once the clients
// have had time to look the key up.
#include "platform/linux/x11_display.h"
#include "platform/input_injector.h"
#include "support/clock.h"
#include "support/logger.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
// XI.h (through XTest.h) defines these as macros; they would replace the
// mouse flag names below.
#undef Absolute
#undef Relative

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {
namespace {

// A spare keycode keeps its borrowed keysym this long after its last use.
constexpr int64_t kSpareHoldMs = 1000;
// Taken from the top of the keycode range: lower empty keycodes of Xvfb's
// keymap delivered no keysym when bound (measured).
constexpr size_t kMaxSpares = 8;
// A spare taken back sooner than this gives the clients a moment first.
constexpr int kSpareSettleMs = 50;

class XTestInjector : public InputInjector {
public:
    explicit XTestInjector(Display* display) : dpy_(display) {
        screen_ = DefaultScreen(dpy_);
        root_ = RootWindow(dpy_, screen_);
        int errorBase = 0;
        if (XRRQueryExtension(dpy_, &rrEventBase_, &errorBase)) {
            XRRSelectInput(dpy_, root_,
                           RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
        } else {
            rrEventBase_ = -1;
        }
        int fixesError = 0;
        hasFixes_ = XFixesQueryExtension(dpy_, &fixesEvent_, &fixesError);
        findSpareKeycodes();
        readGeometry();
    }

    ~XTestInjector() override {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Spare& s : spares_)
            if (s.keysym != NoSymbol) unbind(s);
        if (pointerHidden_) XFixesShowCursor(dpy_, root_);
        XSync(dpy_, False);
        platform::closeX11Display(dpy_);
    }

    size_t sendInput(const InputRecord* records, size_t count) override {
        std::lock_guard<std::mutex> lock(mutex_);
        drainEvents();
        releaseIdleSpares(false);
        size_t done = 0;
        for (size_t i = 0; i < count; ++i) {
            const InputRecord& r = records[i];
            if (r.type == InputRecord::Type::Mouse)
                injectMouse(r);
            else if (!injectKey(r))
                continue;
            ++done;
        }
        XFlush(dpy_);
        return done;
    }

    ScreenSize screenSize() override {
        std::lock_guard<std::mutex> lock(mutex_);
        drainEvents();
        return ScreenSize{width_, height_};
    }

    bool cursorPosition(int& x, int& y) override {
        std::lock_guard<std::mutex> lock(mutex_);
        drainEvents();
        Window rootReturn = 0, child = 0;
        int rootX = 0, rootY = 0, winX = 0, winY = 0;
        unsigned int mask = 0;
        if (!XQueryPointer(dpy_, root_, &rootReturn, &child, &rootX, &rootY, &winX, &winY, &mask))
            return false;
        x = rootX - originX_;
        y = rootY - originY_;
        return true;
    }

    void moveCursorTo(int x, int y) override {
        std::lock_guard<std::mutex> lock(mutex_);
        drainEvents();
        XTestFakeMotionEvent(dpy_, screen_, originX_ + x, originY_ + y, CurrentTime);
        XFlush(dpy_);
    }

    void setSystemPointerHidden(bool hidden) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!hasFixes_ || hidden == pointerHidden_) return;
        if (hidden)
            XFixesHideCursor(dpy_, root_);
        else
            XFixesShowCursor(dpy_, root_);
        pointerHidden_ = hidden;
        XFlush(dpy_);
    }

private:
    struct Spare {
        KeyCode code = 0;
        KeySym keysym = NoSymbol;  // borrowed keysym, NoSymbol when free
        int64_t lastUse = 0;
    };

    // 0..65535 back to a pixel of a screen `size` wide.
    static int toPixel(int32_t normalised, int size) {
        if (size <= 0) return 0;
        const int64_t n = std::clamp<int64_t>(normalised, 0, 65535);
        const int64_t pixel = (n * size + 65534) / 65535;
        return int(std::clamp<int64_t>(pixel, 0, size - 1));
    }

    void injectMouse(const InputRecord& r) {
        using namespace mouse_flag;
        if (r.flags & Move) {
            if (r.flags & Absolute) {
                XTestFakeMotionEvent(dpy_, screen_, originX_ + toPixel(r.dx, width_),
                                     originY_ + toPixel(r.dy, height_), CurrentTime);
            } else if (r.dx != 0 || r.dy != 0) {
                XTestFakeRelativeMotionEvent(dpy_, std::clamp(r.dx, -32768, 32767),
                                             std::clamp(r.dy, -32768, 32767), CurrentTime);
            }
        }
        const struct {
            uint32_t flag;
            unsigned button;
            bool press;
        } buttons[] = {{LeftDown, 1, true},   {LeftUp, 1, false},   {RightDown, 3, true},
                       {RightUp, 3, false},   {MiddleDown, 2, true}, {MiddleUp, 2, false}};
        for (const auto& b : buttons)
            if (r.flags & b.flag) XTestFakeButtonEvent(dpy_, b.button, b.press, CurrentTime);
        if (r.flags & Wheel) wheel(wheelRest_, r.mouseData, 4, 5);
        if (r.flags & HWheel) wheel(hwheelRest_, r.mouseData, 7, 6);
    }

    // A notch is 120; smaller deltas add up until they make one, as the
    // wheel handling of most programs does.
    void wheel(int& rest, int32_t delta, unsigned positiveButton, unsigned negativeButton) {
        if ((rest > 0 && delta < 0) || (rest < 0 && delta > 0)) rest = 0;
        const int64_t sum = int64_t(rest) + delta;
        const int64_t notches = std::clamp<int64_t>(sum / kWheelDelta, -100, 100);
        rest = int(sum - notches * kWheelDelta);
        if (rest > kWheelDelta || rest < -kWheelDelta) rest = 0;
        const unsigned button = notches > 0 ? positiveButton : negativeButton;
        for (int64_t i = 0; i < (notches > 0 ? notches : -notches); ++i) {
            XTestFakeButtonEvent(dpy_, button, True, CurrentTime);
            XTestFakeButtonEvent(dpy_, button, False, CurrentTime);
        }
    }

    bool injectKey(const InputRecord& r) {
        const KeySym keysym = keysymForVirtualKey(r.vk);
        if (keysym == 0) return false;
        const KeyCode code = keycodeFor(keysym);
        if (code == 0) return false;
        XTestFakeKeyEvent(dpy_, code, (r.flags & kKeyUp) ? False : True, CurrentTime);
        return true;
    }

    KeyCode keycodeFor(KeySym keysym) {
        const int64_t now = support::gettime2();
        for (Spare& s : spares_) {
            if (s.keysym == keysym) {
                s.lastUse = now;
                return s.code;
            }
        }
        // A key whose first keysym is the one asked for gives it whatever
        // modifiers or lock states are on; any other place (a shifted level,
        // the keypad without Num Lock) would not, so a spare is used then.
        if (KeyCode code = plainKeycode(keysym)) return code;
        if (spares_.empty()) {
            LOGOUT("input: no keycode for keysym 0x%lx", static_cast<unsigned long>(keysym));
            return 0;
        }
        // Borrow the spare that was used least recently.
        Spare* pick = &spares_.front();
        for (Spare& s : spares_) {
            if (s.keysym == NoSymbol) {
                pick = &s;
                break;
            }
            if (s.lastUse < pick->lastUse) pick = &s;
        }
        // Clients look a key up when they handle its event; rebinding a key
        // they may not have handled yet would show them the new keysym.
        if (pick->keysym != NoSymbol && now - pick->lastUse < kSpareHoldMs) {
            XSync(dpy_, False);
            std::this_thread::sleep_for(std::chrono::milliseconds(kSpareSettleMs));
        }
        KeySym syms[2] = {keysym, keysym};
        XChangeKeyboardMapping(dpy_, pick->code, 2, syms, 1);
        pick->keysym = keysym;
        pick->lastUse = now;
        return pick->code;
    }

    void unbind(Spare& s) {
        KeySym syms[2] = {NoSymbol, NoSymbol};
        XChangeKeyboardMapping(dpy_, s.code, 2, syms, 1);
        s.keysym = NoSymbol;
    }

    void releaseIdleSpares(bool all) {
        const int64_t now = support::gettime2();
        bool changed = false;
        for (Spare& s : spares_) {
            if (s.keysym != NoSymbol && (all || now - s.lastUse >= kSpareHoldMs)) {
                unbind(s);
                changed = true;
            }
        }
        if (changed) XFlush(dpy_);
    }

    // The first keysym of every keycode, read again when the keymap changes.
    void loadKeymap() {
        int maxCode = 0;
        XDisplayKeycodes(dpy_, &minCode_, &maxCode);
        int perCode = 0;
        KeySym* map = XGetKeyboardMapping(dpy_, KeyCode(minCode_), maxCode - minCode_ + 1, &perCode);
        firstKeysym_.assign(size_t(maxCode - minCode_ + 1), NoSymbol);
        emptyCodes_.clear();
        if (!map) return;
        for (int code = minCode_; code <= maxCode; ++code) {
            bool empty = true;
            for (int i = 0; i < perCode; ++i)
                if (map[(code - minCode_) * perCode + i] != NoSymbol) empty = false;
            firstKeysym_[size_t(code - minCode_)] = perCode > 0 ? map[(code - minCode_) * perCode] : NoSymbol;
            if (empty) emptyCodes_.push_back(KeyCode(code));
        }
        XFree(map);
    }

    KeyCode plainKeycode(KeySym keysym) const {
        for (size_t i = 0; i < firstKeysym_.size(); ++i) {
            if (firstKeysym_[i] != keysym) continue;
            const KeyCode code = KeyCode(minCode_ + int(i));
            const bool isSpare = std::any_of(spares_.begin(), spares_.end(),
                                             [&](const Spare& s) { return s.code == code; });
            if (!isSpare) return code;
        }
        return 0;
    }

    // Keycodes without any keysym, taken from the top of the range.
    void findSpareKeycodes() {
        loadKeymap();
        for (auto it = emptyCodes_.rbegin(); it != emptyCodes_.rend() && spares_.size() < kMaxSpares; ++it)
            spares_.push_back(Spare{*it, NoSymbol, 0});
    }

    // Handles what the server told this connection: screen changes and
    // keymap changes.
    void drainEvents() {
        while (XPending(dpy_) > 0) {
            XEvent ev;
            XNextEvent(dpy_, &ev);
            if (ev.type == MappingNotify) {
                XRefreshKeyboardMapping(&ev.xmapping);
                if (ev.xmapping.request == MappingKeyboard) keymapStale_ = true;
            } else if (rrEventBase_ >= 0 && (ev.type == rrEventBase_ + RRScreenChangeNotify ||
                                             ev.type == rrEventBase_ + RRNotify)) {
                XRRUpdateConfiguration(&ev);
                geometryStale_ = true;
            }
        }
        if (geometryStale_) readGeometry();
        if (keymapStale_) {
            keymapStale_ = false;
            loadKeymap();
        }
    }

    // The primary output's rectangle in root coordinates; the whole screen
    // when there is no primary output.
    void readGeometry() {
        geometryStale_ = false;
        originX_ = originY_ = 0;
        width_ = DisplayWidth(dpy_, screen_);
        height_ = DisplayHeight(dpy_, screen_);
        if (rrEventBase_ < 0) return;
        XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy_, root_);
        if (!res) return;
        if (RROutput primary = XRRGetOutputPrimary(dpy_, root_)) {
            if (XRROutputInfo* out = XRRGetOutputInfo(dpy_, res, primary)) {
                if (out->crtc) {
                    if (XRRCrtcInfo* crtc = XRRGetCrtcInfo(dpy_, res, out->crtc)) {
                        if (crtc->width > 0 && crtc->height > 0) {
                            originX_ = crtc->x;
                            originY_ = crtc->y;
                            width_ = int(crtc->width);
                            height_ = int(crtc->height);
                        }
                        XRRFreeCrtcInfo(crtc);
                    }
                }
                XRRFreeOutputInfo(out);
            }
        }
        XRRFreeScreenResources(res);
    }

    std::mutex mutex_;
    Display* dpy_;
    int screen_ = 0;
    Window root_ = 0;
    int rrEventBase_ = -1;
    bool geometryStale_ = false;
    int originX_ = 0, originY_ = 0, width_ = 0, height_ = 0;
    bool hasFixes_ = false;
    int fixesEvent_ = 0;
    bool pointerHidden_ = false;
    int wheelRest_ = 0, hwheelRest_ = 0;
    std::vector<Spare> spares_;
    int minCode_ = 8;
    std::vector<KeySym> firstKeysym_;
    std::vector<KeyCode> emptyCodes_;
    bool keymapStale_ = false;
};

}  // namespace

std::unique_ptr<InputInjector> makeXTestInjector(const char* display) {
    Display* dpy = platform::openX11Display(display && *display ? display : nullptr);
    if (!dpy) {
        LOGOUT("input: cannot open the X display");
        return nullptr;
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(dpy, &eventBase, &errorBase, &major, &minor)) {
        LOGOUT("input: the X server has no XTEST extension");
        platform::closeX11Display(dpy);
        return nullptr;
    }
    return std::make_unique<XTestInjector>(dpy);
}

}  // namespace platform
