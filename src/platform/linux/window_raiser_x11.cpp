#include "platform/window_raiser.h"

#include "platform/linux/x11_display.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <thread>

namespace platform {

namespace {

// Windows may go away while they are walked: X errors on our connections are
// swallowed instead of ending the process; others go to the earlier handler.
std::mutex gErrorMutex;
std::set<Display*> gOwnDisplays;
XErrorHandler gPreviousHandler = nullptr;
bool gHandlerInstalled = false;

int onXError(Display* display, XErrorEvent* event) {
    {
        std::lock_guard<std::mutex> lock(gErrorMutex);
        if (gOwnDisplays.count(display)) return 0;
    }
    return gPreviousHandler ? gPreviousHandler(display, event) : 0;
}

void ownDisplay(Display* display, bool own) {
    std::lock_guard<std::mutex> lock(gErrorMutex);
    if (own && !gHandlerInstalled) {
        gPreviousHandler = XSetErrorHandler(onXError);
        gHandlerInstalled = true;
    }
    if (own)
        gOwnDisplays.insert(display);
    else
        gOwnDisplays.erase(display);
}

long cardinalProperty(Display* display, Window window, Atom property, long fallback) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long value = fallback;
    if (XGetWindowProperty(display, window, property, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                           &after, &data) == Success &&
        data && format == 32 && count == 1)
        value = reinterpret_cast<long*>(data)[0];
    if (data) XFree(data);
    return value;
}

// The client window of a top-level window: itself when it carries WM_STATE
// or a pid, else the first child that does (window managers reparent clients
// into frames).
Window clientWindow(Display* display, Window window, Atom wmState, Atom wmPid) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, wmState, 0, 0, False, AnyPropertyType, &type, &format, &count,
                           &after, &data) == Success && data)
        XFree(data);
    if (type != None || cardinalProperty(display, window, wmPid, -1) >= 0) return window;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int n = 0;
    Window found = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &n)) {
        for (unsigned int i = n; i-- > 0 && !found;)
            if (cardinalProperty(display, children[i], wmPid, -1) >= 0) found = children[i];
        if (children) XFree(children);
    }
    return found;
}

class X11WindowRaiser : public WindowRaiser {
public:
    bool raiseFullScreenWindowOf(const std::vector<pid_t>& pids) override {
        if (pids.empty()) return false;
        Display* display = openX11Display();
        if (!display) return false;
        ownDisplay(display, true);
        const bool raised = raise(display, pids);
        XSync(display, False);
        ownDisplay(display, false);
        closeX11Display(display);
        return raised;
    }

private:
    static bool raise(Display* display, const std::vector<pid_t>& pids) {
        const Window root = DefaultRootWindow(display);
        const int screenWidth = DisplayWidth(display, DefaultScreen(display));
        const int screenHeight = DisplayHeight(display, DefaultScreen(display));
        const Atom wmPid = XInternAtom(display, "_NET_WM_PID", False);
        const Atom wmState = XInternAtom(display, "WM_STATE", False);

        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned int n = 0;
        if (!XQueryTree(display, root, &rootReturn, &parent, &children, &n)) return false;
        // XQueryTree lists the children bottom to top.
        Window frame = 0, client = 0;
        bool topmost = true;
        for (unsigned int i = n; i-- > 0;) {
            XWindowAttributes a;
            if (!XGetWindowAttributes(display, children[i], &a) || a.map_state != IsViewable ||
                a.c_class == InputOnly)
                continue;
            const Window c = clientWindow(display, children[i], wmState, wmPid);
            const long pid = c ? cardinalProperty(display, c, wmPid, -1) : -1;
            const bool ours = pid > 0 && std::find(pids.begin(), pids.end(), static_cast<pid_t>(pid)) != pids.end();
            if (ours && a.width >= screenWidth && a.height >= screenHeight) {
                frame = children[i];
                client = c;
                break;
            }
            topmost = false;
        }
        if (children) XFree(children);
        if (!frame) return false;
        if (topmost) return true;

        // Ask the window manager; on a bare X server restack directly.
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = client;
        event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2;  // source: a pager-like tool acting for the user
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
        XRaiseWindow(display, frame);
        XFlush(display);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        XSetInputFocus(display, client, RevertToParent, CurrentTime);
        XSync(display, False);
        return true;
    }
};

}  // namespace

std::unique_ptr<WindowRaiser> makeX11WindowRaiser() { return std::make_unique<X11WindowRaiser>(); }

}  // namespace platform
