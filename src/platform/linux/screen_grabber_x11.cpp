#include "platform/screen_grabber.h"
#include "platform/linux/x11_display.h"

#include "support/logger.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

namespace platform {

void blendCursor(uint8_t* dst, int stride, int width, int height, const uint32_t* cursor,
                 int cursorW, int cursorH, int x, int y) {
    const int x0 = std::max(0, x), y0 = std::max(0, y);
    const int x1 = std::min(width, x + cursorW), y1 = std::min(height, y + cursorH);
    for (int row = y0; row < y1; ++row) {
        const uint32_t* src = cursor + size_t(row - y) * cursorW + (x0 - x);
        uint8_t* out = dst + size_t(row) * stride + size_t(x0) * 4;
        for (int col = x0; col < x1; ++col, ++src, out += 4) {
            const uint32_t p = *src;
            const uint32_t a = p >> 24;
            if (a == 0) continue;
            const uint32_t inv = 255 - a;
            // Premultiplied source over the picture.
            out[0] = uint8_t(std::min<uint32_t>(255, (p & 0xff) + (out[0] * inv + 127) / 255));
            out[1] = uint8_t(std::min<uint32_t>(255, ((p >> 8) & 0xff) + (out[1] * inv + 127) / 255));
            out[2] = uint8_t(std::min<uint32_t>(255, ((p >> 16) & 0xff) + (out[2] * inv + 127) / 255));
        }
    }
}

namespace {

// X errors on our own connections (a failed shared-memory attach, a picture
// request outside a shrunken root) are recorded instead of ending the
// process; errors on other connections go to the handler that was there.
std::mutex gErrorMutex;
std::set<Display*> gOwnDisplays;
std::set<Display*> gFailedDisplays;
XErrorHandler gPreviousHandler = nullptr;
bool gHandlerInstalled = false;

int onXError(Display* display, XErrorEvent* event) {
    {
        std::lock_guard<std::mutex> lock(gErrorMutex);
        if (gOwnDisplays.count(display)) {
            gFailedDisplays.insert(display);
            return 0;
        }
    }
    return gPreviousHandler ? gPreviousHandler(display, event) : 0;
}

void registerDisplay(Display* display) {
    std::lock_guard<std::mutex> lock(gErrorMutex);
    if (!gHandlerInstalled) {
        gPreviousHandler = XSetErrorHandler(onXError);
        gHandlerInstalled = true;
    }
    gOwnDisplays.insert(display);
}

void unregisterDisplay(Display* display) {
    std::lock_guard<std::mutex> lock(gErrorMutex);
    gOwnDisplays.erase(display);
    gFailedDisplays.erase(display);
}

// True (and cleared) when an error arrived on `display` since the last call.
bool takeError(Display* display) {
    std::lock_guard<std::mutex> lock(gErrorMutex);
    return gFailedDisplays.erase(display) != 0;
}

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

// The primary RandR output's area of the root window, else the whole root.
Rect primaryArea(Display* display, Window root) {
    const int screen = DefaultScreen(display);
    Rect area{0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
    int eventBase = 0, errorBase = 0;
    if (!XRRQueryExtension(display, &eventBase, &errorBase)) return area;
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(display, root);
    if (!res) return area;
    if (RROutput primary = XRRGetOutputPrimary(display, root)) {
        if (XRROutputInfo* out = XRRGetOutputInfo(display, res, primary)) {
            if (out->crtc) {
                if (XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, res, out->crtc)) {
                    if (crtc->width > 0 && crtc->height > 0 &&
                        crtc->x + int(crtc->width) <= area.width &&
                        crtc->y + int(crtc->height) <= area.height)
                        area = {crtc->x, crtc->y, int(crtc->width), int(crtc->height)};
                    XRRFreeCrtcInfo(crtc);
                }
            }
            XRRFreeOutputInfo(out);
        }
    }
    XRRFreeScreenResources(res);
    return area;
}

class X11ScreenGrabber : public ScreenGrabber {
public:
    ~X11ScreenGrabber() override { close(); }

    bool open() override {
        close();
        display_ = platform::openX11Display(nullptr);
        if (!display_) {
            LOGOUT("capture: cannot open display %s", XDisplayName(nullptr));
            return false;
        }
        registerDisplay(display_);
        root_ = DefaultRootWindow(display_);
        area_ = primaryArea(display_, root_);
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_, root_, &attributes);
        visual_ = attributes.visual;
        depth_ = attributes.depth;
        int fixesEvent = 0, fixesError = 0;
        hasFixes_ = XFixesQueryExtension(display_, &fixesEvent, &fixesError);

        if (openShm()) {
            picture_ = reinterpret_cast<uint8_t*>(shmImage_->data);
            pictureStride_ = shmImage_->bytes_per_line;
        } else {
            LOGOUT("capture: MIT-SHM not available, using XGetImage");
            pixels_.assign(size_t(area_.width) * area_.height * 4, 0);
            picture_ = pixels_.data();
            pictureStride_ = area_.width * 4;
        }
        return true;
    }

    int width() override { return display_ ? area_.width : 0; }
    uint8_t* picture() override { return picture_; }
    int pictureStride() override { return pictureStride_; }
    int height() override { return display_ ? area_.height : 0; }

    bool capture(bool drawCursor) override {
        if (!display_) return false;
        if (shmImage_) {
            if (!XShmGetImage(display_, root_, shmImage_, area_.x, area_.y, AllPlanes) ||
                takeError(display_))
                return false;
        } else {
            XImage* plain = XGetImage(display_, root_, area_.x, area_.y, unsigned(area_.width),
                                      unsigned(area_.height), AllPlanes, ZPixmap);
            if (!plain || takeError(display_)) {
                if (plain) XDestroyImage(plain);
                return false;
            }
            const int bits = plain->bits_per_pixel;
            if (bits != 32) {
                XDestroyImage(plain);
                LOGOUT("capture: unsupported %d bits per pixel", bits);
                return false;
            }
            const size_t row = size_t(area_.width) * 4;
            for (int y = 0; y < area_.height; ++y)
                std::memcpy(pixels_.data() + y * row, plain->data + size_t(y) * plain->bytes_per_line,
                            row);
            XDestroyImage(plain);
        }
        if (drawCursor) paintCursor();
        return true;
    }

    void copyTo(uint8_t* dst, int stride) override {
        if (!picture_) return;
        const size_t row = size_t(area_.width) * 4;
        if (size_t(stride) == row && size_t(pictureStride_) == row) {
            std::memcpy(dst, picture_, row * area_.height);
            return;
        }
        for (int y = 0; y < area_.height; ++y)
            std::memcpy(dst + size_t(y) * stride, picture_ + size_t(y) * pictureStride_, row);
    }

    void close() override {
        if (!display_) return;
        closeShm();
        unregisterDisplay(display_);
        platform::closeX11Display(display_);
        display_ = nullptr;
        picture_ = nullptr;
        pictureStride_ = 0;
        pixels_.clear();
        pixels_.shrink_to_fit();
    }

private:
    bool openShm() {
        if (!XShmQueryExtension(display_)) return false;
        if (depth_ < 24) return false;
        shmImage_ = XShmCreateImage(display_, visual_, unsigned(depth_), ZPixmap, nullptr, &shm_,
                                    unsigned(area_.width), unsigned(area_.height));
        if (!shmImage_) return false;
        if (shmImage_->bits_per_pixel != 32) {
            closeShm();
            return false;
        }
        shm_.shmid = shmget(IPC_PRIVATE, size_t(shmImage_->bytes_per_line) * shmImage_->height,
                            IPC_CREAT | 0600);
        if (shm_.shmid < 0) {
            closeShm();
            return false;
        }
        shm_.shmaddr = shmImage_->data = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
        if (shm_.shmaddr == reinterpret_cast<char*>(-1)) {
            shm_.shmaddr = shmImage_->data = nullptr;
            closeShm();
            return false;
        }
        shm_.readOnly = False;
        takeError(display_);
        const bool attached = XShmAttach(display_, &shm_);
        XSync(display_, False);
        // Marked for removal now: the segment goes away with the last detach,
        // even if the process dies.
        shmctl(shm_.shmid, IPC_RMID, nullptr);
        if (!attached || takeError(display_)) {
            closeShm();
            return false;
        }
        shmAttached_ = true;
        return true;
    }

    void closeShm() {
        if (shmAttached_) {
            XShmDetach(display_, &shm_);
            XSync(display_, False);
            takeError(display_);
            shmAttached_ = false;
        }
        if (shmImage_) {
            shmImage_->data = nullptr;
            XDestroyImage(shmImage_);
            shmImage_ = nullptr;
        }
        if (shm_.shmaddr) {
            shmdt(shm_.shmaddr);
            shm_.shmaddr = nullptr;
        }
        if (shm_.shmid >= 0) {
            shmctl(shm_.shmid, IPC_RMID, nullptr);
            shm_.shmid = -1;
        }
    }

    // The cursor's top-left corner goes to the pointer position.
    void paintCursor() {
        if (!hasFixes_) return;
        XFixesCursorImage* image = XFixesGetCursorImage(display_);
        if (!image || takeError(display_)) {
            if (image) XFree(image);
            return;
        }
        const int w = image->width, h = image->height;
        cursor_.resize(size_t(w) * h);
        // XFixes hands out one pixel per unsigned long; ARGB in the low 32 bits.
        for (size_t i = 0; i < cursor_.size(); ++i) cursor_[i] = uint32_t(image->pixels[i]);
        blendCursor(picture_, pictureStride_, area_.width, area_.height, cursor_.data(), w,
                    h, image->x - area_.x, image->y - area_.y);
        XFree(image);
    }

    Display* display_ = nullptr;
    Window root_ = 0;
    Rect area_;
    Visual* visual_ = nullptr;
    int depth_ = 0;
    bool hasFixes_ = false;
    XShmSegmentInfo shm_{0, -1, nullptr, False};
    XImage* shmImage_ = nullptr;
    bool shmAttached_ = false;
    uint8_t* picture_ = nullptr;  // where pictures land: shared memory or pixels_
    int pictureStride_ = 0;
    std::vector<uint8_t> pixels_;  // copy of the last XGetImage picture (no shared memory)
    std::vector<uint32_t> cursor_;
};

}  // namespace

std::unique_ptr<ScreenGrabber> makeX11ScreenGrabber() { return std::make_unique<X11ScreenGrabber>(); }

}  // namespace platform
