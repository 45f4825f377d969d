// Facts about the X desktop the overlays run on, read through Qt's own
// display connection.
#pragma once

namespace tools {

// A compositing manager owns the _NET_WM_CM_S0 selection: windows may then
// use per-pixel alpha.
bool compositorRunning();
// A window manager announces itself through _NET_SUPPORTING_WM_CHECK.
bool windowManagerRunning();
// Sends queued requests to the X server now (restacking must not wait for
// the next event-loop round).
void flushDisplay();
// Waits until the X server has carried out every request sent so far (a
// screenshot taken next must not show a window just hidden).
void syncDisplay();

}  // namespace tools
