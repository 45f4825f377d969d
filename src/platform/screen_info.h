// Size of the primary screen in pixels.
#pragma once

#include <memory>

namespace platform {

struct ScreenSize {
    int width = 0;
    int height = 0;
};

class ScreenInfo {
public:
    virtual ~ScreenInfo() = default;
    virtual ScreenSize primaryScreenSize() = 0;
};

// X11 implementation: the primary RandR output of $DISPLAY, else the default
// screen; 0 x 0 when no display can be opened.
std::unique_ptr<ScreenInfo> makeSystemScreenInfo();

}  // namespace platform
