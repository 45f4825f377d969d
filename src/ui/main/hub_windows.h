// The feature windows the main hub owns and hands its messages to. Each is
// built by the subsystem that owns the feature; until then its slot is empty
// and the hub treats the window as hidden.
#pragma once

#include "core/heap_blocks.h"

#include <cstdint>
#include <memory>

namespace ui {

class HubWindow {
public:
    virtual ~HubWindow() = default;
    virtual bool isVisible() = 0;
    virtual void showWindow() = 0;
    virtual void hideWindow() = 0;
    // A hub message for this window with its heap block, if any (the window
    // owns the block from now on).
    virtual void handle(uint32_t message, int64_t wParam, int64_t lParam,
                        std::unique_ptr<core::HeapBlock> block) = 0;
};

// The media player also plays the phone's live view and reports its clock.
class MediaPlayerWindow : public HubWindow {
public:
    // False when the live view cannot be opened.
    virtual bool openLiveView(int width, int height, int codecId, int pixelFormat) = 0;
    virtual bool isPlaying() = 0;
    // A phone's file is still being probed: nothing plays yet.
    virtual bool isOpening() { return false; }
    // Position in the unit the phones expect for MsgMediaPlayInfo "position".
    virtual int64_t position() = 0;
    virtual int64_t duration() = 0;
    virtual void closeMedia() = 0;
};

// The connect window shows the address of the ready phone.
class ConnectWindow : public HubWindow {
public:
    virtual void setClientAddress(uint32_t address) = 0;
};

// The PC camera window: stops its capture and waits for its thread.
class CameraWindow : public HubWindow {
public:
    virtual void stopCapture() = 0;
};

struct HubWindows {
    MediaPlayerWindow* mediaPlayer = nullptr;
    HubWindow* annotation = nullptr;   // core::UM_BRUSH
    HubWindow* spotlight = nullptr;    // core::UM_SPOT
    ConnectWindow* connect = nullptr;
    CameraWindow* camera = nullptr;    // core::UM_PC_CAMERA
    HubWindow* magnifier = nullptr;    // core::UM_GLASS
    HubWindow* photoWall = nullptr;
    HubWindow* blackScreen = nullptr;
    HubWindow* settings = nullptr;     // settings window, closed on quit
};

}  // namespace ui
