// Reading and placing the mouse pointer (the capture service nudges it so that
// the first frames show a fresh cursor).
#pragma once

namespace platform {

class CursorControl {
public:
    virtual ~CursorControl() = default;
    // Pointer position in primary-screen pixels; false when it cannot be read.
    virtual bool cursorPosition(int& x, int& y) = 0;
    virtual void moveCursorTo(int x, int y) = 0;
};

}  // namespace platform
