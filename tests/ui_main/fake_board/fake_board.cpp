// A stand-in drawing-board library exporting only part of the interface, so
// the bridge meets both present and missing exports. The test reads what it
// was called with through fakeBoardState.
#include "ui/main/drawing_board_api.h"

namespace {

struct State {
    int opened = 0;
    int closed = 0;
    const char* docDir = nullptr;
    int httpPort = 0;
    HubOwner* owner = nullptr;
};
State state;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void openPainter() { ++state.opened; }
__attribute__((visibility("default"))) void closePainter() { ++state.closed; }
__attribute__((visibility("default"))) int isPainterOpened() {
    return state.opened > state.closed ? 1 : 0;
}
__attribute__((visibility("default"))) void setOwner(HubOwner* owner, int, const char* docDir,
                                                     int httpPort) {
    state.owner = owner;
    state.docDir = docDir;
    state.httpPort = httpPort;
}
__attribute__((visibility("default"))) void fakeBoardState(int* opened, int* closed, int* port,
                                                           HubOwner** owner) {
    *opened = state.opened;
    *closed = state.closed;
    *port = state.httpPort;
    *owner = state.owner;
}
}
