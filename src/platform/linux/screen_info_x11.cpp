#include "platform/screen_info.h"
#include "platform/linux/x11_display.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace platform {
namespace {

class X11ScreenInfo : public ScreenInfo {
public:
    ScreenSize primaryScreenSize() override {
        ScreenSize size;
        Display* display = platform::openX11Display(nullptr);
        if (!display) return size;
        const int screen = DefaultScreen(display);
        size.width = DisplayWidth(display, screen);
        size.height = DisplayHeight(display, screen);
        Window root = RootWindow(display, screen);
        int eventBase = 0, errorBase = 0;
        if (XRRQueryExtension(display, &eventBase, &errorBase)) {
            if (XRRScreenResources* res = XRRGetScreenResourcesCurrent(display, root)) {
                RROutput primary = XRRGetOutputPrimary(display, root);
                if (primary) {
                    if (XRROutputInfo* out = XRRGetOutputInfo(display, res, primary)) {
                        if (out->crtc) {
                            if (XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, res, out->crtc)) {
                                if (crtc->width > 0 && crtc->height > 0) {
                                    size.width = int(crtc->width);
                                    size.height = int(crtc->height);
                                }
                                XRRFreeCrtcInfo(crtc);
                            }
                        }
                        XRRFreeOutputInfo(out);
                    }
                }
                XRRFreeScreenResources(res);
            }
        }
        platform::closeX11Display(display);
        return size;
    }
};

}  // namespace

std::unique_ptr<ScreenInfo> makeSystemScreenInfo() { return std::make_unique<X11ScreenInfo>(); }

}  // namespace platform
