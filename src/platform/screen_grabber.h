// Copying the primary display into a BGRA buffer (blue, green, red, fourth
// byte per pixel), optionally with the mouse cursor painted in.
#pragma once

#include "platform/cursor_control.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

// An area of the picture, in picture pixels.
struct ScreenRect {
    int x = 0, y = 0, width = 0, height = 0;
};

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

    // True when the source learns what changed on the screen, so that
    // captureChanges() grabs only that; decided by open().
    virtual bool tracksChanges() { return false; }
    // Waits up to `timeoutMs` for a change of the screen (or of the pointer
    // when `drawCursor` is set); true when one is pending. Sources that do not
    // track changes always have one.
    virtual bool waitForChanges(bool drawCursor, int timeoutMs) {
        (void)drawCursor;
        (void)timeoutMs;
        return true;
    }
    // Brings the picture up to date with what changed since the last
    // capture, grabbing only that, and lists the areas of the picture that
    // were rewritten in `updated` (empty: nothing changed, nothing grabbed).
    // False when a grab failed. Sources that do not track changes grab the
    // whole picture.
    virtual bool captureChanges(bool drawCursor, std::vector<ScreenRect>& updated) {
        updated.clear();
        if (!capture(drawCursor)) return false;
        updated.push_back(ScreenRect{0, 0, width(), height()});
        return true;
    }

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
// Reads $DISPLAY at open(). With `trackChanges` (and the DAMAGE extension
// present) it follows the screen's damage and the pointer, and
// captureChanges() grabs only the rows that changed.
std::unique_ptr<ScreenGrabber> makeX11ScreenGrabber(bool trackChanges = true);

// X11 pointer position and warping through XQueryPointer / XWarpPointer.
std::unique_ptr<CursorControl> makeX11CursorControl();

// Paints a premultiplied ARGB cursor image (`cursorW` x `cursorH`, one
// 32-bit pixel each, rows `cursorW` apart) with its top-left corner at
// (x, y) into a BGRA picture, clipped to the picture.
void blendCursor(uint8_t* dst, int stride, int width, int height, const uint32_t* cursor,
                 int cursorW, int cursorH, int x, int y);

}  // namespace platform
