#include "x_fixture.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace input_test {

struct RecorderWindow::Impl {
    Impl() {
        dpy = XOpenDisplay(nullptr);
        if (!dpy) return;
        const int screen = DefaultScreen(dpy);
        XSetWindowAttributes attrs{};
        attrs.override_redirect = True;
        attrs.background_pixel = WhitePixel(dpy, screen);
        attrs.event_mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask |
                           KeyReleaseMask | StructureNotifyMask | ExposureMask;
        win = XCreateWindow(dpy, RootWindow(dpy, screen), 0, 0, DisplayWidth(dpy, screen),
                            DisplayHeight(dpy, screen), 0, CopyFromParent, InputOutput, CopyFromParent,
                            CWOverrideRedirect | CWBackPixel | CWEventMask, &attrs);
        clipboard = XInternAtom(dpy, "CLIPBOARD", False);
        utf8 = XInternAtom(dpy, "UTF8_STRING", False);
        pasteProperty = XInternAtom(dpy, "LUMACRO3_PASTE", False);
        XMapRaised(dpy, win);
        for (;;) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            if (ev.type == MapNotify && ev.xmap.window == win) break;
        }
        XSetInputFocus(dpy, win, RevertToParent, CurrentTime);
        XSync(dpy, False);
        reader = std::thread([this] { run(); });
    }

    ~Impl() {
        stop = true;
        if (reader.joinable()) reader.join();
        if (dpy) XCloseDisplay(dpy);
    }

    void run() {
        const int fd = ConnectionNumber(dpy);
        while (!stop) {
            if (XPending(dpy) == 0) {
                pollfd p{fd, POLLIN, 0};
                poll(&p, 1, 20);
                continue;
            }
            XEvent ev;
            XNextEvent(dpy, &ev);
            handle(ev);
        }
    }

    void handle(XEvent& ev) {
        XEventRecord r;
        r.received = std::chrono::steady_clock::now();
        r.type = ev.type;
        switch (ev.type) {
        case MappingNotify:
            XRefreshKeyboardMapping(&ev.xmapping);
            return;
        case KeyPress:
        case KeyRelease:
            r.keysym = XLookupKeysym(&ev.xkey, 0);
            r.state = ev.xkey.state;
            r.x = ev.xkey.x_root;
            r.y = ev.xkey.y_root;
            // A paste target: fetch the clipboard's text on Ctrl+V.
            if (ev.type == KeyPress && r.keysym == XK_v && (ev.xkey.state & ControlMask))
                XConvertSelection(dpy, clipboard, utf8, pasteProperty, win, ev.xkey.time);
            break;
        case ButtonPress:
        case ButtonRelease:
            r.button = ev.xbutton.button;
            r.state = ev.xbutton.state;
            r.x = ev.xbutton.x_root;
            r.y = ev.xbutton.y_root;
            break;
        case MotionNotify:
            r.state = ev.xmotion.state;
            r.x = ev.xmotion.x_root;
            r.y = ev.xmotion.y_root;
            break;
        case SelectionNotify:
            addPaste(ev.xselection.property != None ? readPaste() : "<refused>");
            return;
        default:
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back(r);
        }
        changed.notify_all();
    }

    std::string readPaste() {
        Atom type = None;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        XGetWindowProperty(dpy, win, pasteProperty, 0, 1 << 20, True, AnyPropertyType, &type, &format, &items,
                           &after, &data);
        std::string text;
        if (data && format == 8) text.assign(reinterpret_cast<char*>(data), items);
        if (data) XFree(data);
        return text;
    }

    void addPaste(const std::string& text) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            pasted.push_back(text);
        }
        changed.notify_all();
    }

    Display* dpy = nullptr;
    Window win = 0;
    Atom clipboard = 0, utf8 = 0, pasteProperty = 0;
    std::atomic<bool> stop{false};
    std::thread reader;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<XEventRecord> events;
    std::vector<std::string> pasted;
};

RecorderWindow::RecorderWindow() : impl_(std::make_unique<Impl>()) {}
RecorderWindow::~RecorderWindow() = default;
bool RecorderWindow::ok() const { return impl_->dpy != nullptr; }

bool RecorderWindow::waitUntil(const std::function<bool(const std::vector<XEventRecord>&)>& done, int timeoutMs) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return done(impl_->events); });
}

std::vector<XEventRecord> RecorderWindow::events() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->events;
}

void RecorderWindow::clear() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->events.clear();
    impl_->pasted.clear();
}

std::vector<std::string> RecorderWindow::pasted() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->pasted;
}

bool RecorderWindow::waitForPaste(size_t n, int timeoutMs) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return impl_->pasted.size() >= n; });
}

}  // namespace input_test
