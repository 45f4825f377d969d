#include "platform/window_raiser.h"

#include "platform/linux/x11_display.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <thread>

#include <X11/Xlibint.h>  // the connection's resource id mask
#undef min
#undef max

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
        // Every X client gets its own range of resource ids; windows without
        // a pid (LibreOffice's show window has none) are matched by the range
        // of windows that do carry one of the pids.
        const XID mask = display->resource_mask;

        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned int n = 0;
        if (!XQueryTree(display, root, &rootReturn, &parent, &children, &n)) return false;
        struct Top {
            Window frame;
            Window client;
            XWindowAttributes attributes;
        };
        std::vector<Top> tops;  // viewable, top of the stacking order first
        std::set<XID> bases;
        for (unsigned int i = n; i-- > 0;) {
            Top t{children[i], 0, {}};
            if (!XGetWindowAttributes(display, t.frame, &t.attributes) || t.attributes.map_state != IsViewable ||
                t.attributes.c_class == InputOnly)
                continue;
            t.client = clientWindow(display, t.frame, wmState, wmPid);
            const long pid = t.client ? cardinalProperty(display, t.client, wmPid, -1) : -1;
            if (pid > 0 && std::find(pids.begin(), pids.end(), static_cast<pid_t>(pid)) != pids.end())
                bases.insert(t.client & ~mask);
            tops.push_back(t);
        }
        if (children) XFree(children);

        Window frame = 0, client = 0;
        bool topmost = true;
        for (const Top& t : tops) {
            const Window w = t.client ? t.client : t.frame;
            const bool ours = bases.count(w & ~mask) != 0;
            // The show window covers the screen and, unlike a document
            // window, bypasses the window manager or carries no class.
            XClassHint hint{};
            bool hasClass = false;
            if (ours && XGetClassHint(display, w, &hint)) {
                hasClass = hint.res_class != nullptr;
                if (hint.res_name) XFree(hint.res_name);
                if (hint.res_class) XFree(hint.res_class);
            }
            if (ours && t.attributes.width >= screenWidth && t.attributes.height >= screenHeight &&
                (t.attributes.override_redirect || !hasClass)) {
                frame = t.frame;
                client = w;
                break;
            }
            topmost = false;
        }
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
