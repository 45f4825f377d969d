// Opening and closing Xlib connections from any thread. XOpenDisplay reads
// the authority file name through libXau, which keeps it in one static
// buffer, so two threads opening a connection at once can corrupt it; every
// backend opens and closes its connections through here, one at a time.
#pragma once

#include <X11/Xlib.h>

#include <mutex>

namespace platform {

inline std::mutex& x11ConnectionMutex() {
    static std::mutex mutex;
    return mutex;
}

inline Display* openX11Display(const char* name = nullptr) {
    std::lock_guard<std::mutex> lock(x11ConnectionMutex());
    return XOpenDisplay(name);
}

inline void closeX11Display(Display* display) {
    if (!display) return;
    std::lock_guard<std::mutex> lock(x11ConnectionMutex());
    XCloseDisplay(display);
}

}  // namespace platform
