// Copying the primary display into a BGRA buffer (blue, green, red, fourth
// byte per pixel), optionally with the mouse cursor painted in.
#pragma once

#include "platform/cursor_control.h"

#include <cstdint>
#include <memory>

namespace platform {

class ScreenGrabber {
public:
    virtual ~ScreenGrabber() = default;

    // Opens the source and fixes the picture size for this run. False when
    // there is no display to capture.
    virtual bool open() = 0;
    // Size fixed by open(); 0 x 0 when not open.
    virtual int width() = 0;
    virtual int height() = 0;

    // Captures one picture into the grabber's own buffer and, when
    // `drawCursor` is set, paints the cursor into it. False when nothing was
    // captured (the previous picture stays).
    virtual bool capture(bool drawCursor) = 0;
    // Copies the last captured picture (width x height) into `dst`, whose rows
    // are `stride` bytes apart.
    virtual void copyTo(uint8_t* dst, int stride) = 0;

    // The buffer capture() writes into, when the grabber keeps one that stays
    // in place from open() to close() (its rows `pictureStride()` apart);
    // null otherwise. A caller may use it as its picture and skip copyTo().
    virtual uint8_t* picture() { return nullptr; }
    virtual int pictureStride() { return 0; }

    // capture() then copyTo().
    bool grab(uint8_t* dst, int stride, bool drawCursor) {
        if (!capture(drawCursor)) return false;
        copyTo(dst, stride);
        return true;
    }

    virtual void close() = 0;
};

// X11: MIT-SHM image of the root window's primary-output area (plain
// XGetImage when shared memory is not available), cursor from XFixes.
// Reads $DISPLAY at open().
std::unique_ptr<ScreenGrabber> makeX11ScreenGrabber();

// X11 pointer position and warping through XQueryPointer / XWarpPointer.
std::unique_ptr<CursorControl> makeX11CursorControl();

// Paints a premultiplied ARGB cursor image (`cursorW` x `cursorH`, one
// 32-bit pixel each, rows `cursorW` apart) with its top-left corner at
// (x, y) into a BGRA picture, clipped to the picture.
void blendCursor(uint8_t* dst, int stride, int width, int height, const uint32_t* cursor,
                 int cursorW, int cursorH, int x, int y);

}  // namespace platform
