#include "tools/x11_desktop.h"

#include <QGuiApplication>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace tools {

namespace {

Display* qtDisplay() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

}  // namespace

bool compositorRunning() {
    Display* display = qtDisplay();
    if (!display) return false;
    const Atom selection = XInternAtom(display, "_NET_WM_CM_S0", False);
    return XGetSelectionOwner(display, selection) != None;
}

bool windowManagerRunning() {
    Display* display = qtDisplay();
    if (!display) return false;
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    if (check == None) return false;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False,
                                          XA_WINDOW, &type, &format, &count, &after, &data);
    const bool present = status == Success && type == XA_WINDOW && count == 1;
    if (data) XFree(data);
    return present;
}

void flushDisplay() {
    if (Display* display = qtDisplay()) XFlush(display);
}

void syncDisplay() {
    if (Display* display = qtDisplay()) XSync(display, False);
}

}  // namespace tools
