// Bringing another program's full-screen window to the front: the slide-show
// bridge raises the presentation program's show window this way.
#pragma once

#include <memory>
#include <sys/types.h>
#include <vector>

namespace platform {

class WindowRaiser {
public:
    virtual ~WindowRaiser() = default;
    // Finds the top-most visible top-level window of one of `pids` that covers
    // the whole screen and raises it through the window manager, giving it
    // the input focus. False when there is none; a window that already is
    // the top-most one counts as raised.
    virtual bool raiseFullScreenWindowOf(const std::vector<pid_t>& pids) = 0;
};

// X11: windows are matched by _NET_WM_PID; raising asks the window manager
// (_NET_ACTIVE_WINDOW) and also restacks directly for a bare X server.
std::unique_ptr<WindowRaiser> makeX11WindowRaiser();

}  // namespace platform
