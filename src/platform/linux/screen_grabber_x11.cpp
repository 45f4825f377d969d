#include "platform/screen_grabber.h"
#include "platform/linux/x11_display.h"

#include "support/logger.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <poll.h>

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

// Rows [begin, end) of the picture.
struct RowBand {
    int begin = 0, end = 0;
};

// Sorts and joins bands that overlap or lie within `gap` rows of each other:
// one grab of a few extra rows costs less than another request.
void mergeBands(std::vector<RowBand>& bands, int gap) {
    std::sort(bands.begin(), bands.end(),
              [](const RowBand& a, const RowBand& b) { return a.begin < b.begin; });
    std::vector<RowBand> merged;
    for (const RowBand& band : bands) {
        if (band.end <= band.begin) continue;
        if (!merged.empty() && band.begin <= merged.back().end + gap)
            merged.back().end = std::max(merged.back().end, band.end);
        else
            merged.push_back(band);
    }
    bands.swap(merged);
}

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
    explicit X11ScreenGrabber(bool trackChanges) : wantTracking_(trackChanges) {}
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
        if (wantTracking_) openTracking();
        return true;
    }

    bool tracksChanges() override { return tracking_; }

    bool waitForChanges(bool drawCursor, int timeoutMs) override {
        if (!tracking_) return true;
        const int64_t deadline = nowMs() + std::max(0, timeoutMs);
        for (;;) {
            readEvents();
            if (changePending(drawCursor)) return true;
            // A reply read meanwhile may have brought events along.
            if (XEventsQueued(display_, QueuedAlready) > 0) continue;
            const int64_t left = deadline - nowMs();
            if (left <= 0) return false;
            // The pointer sends no events of its own: look at it again every
            // few milliseconds while it is painted into the picture.
            pollfd fd{ConnectionNumber(display_), POLLIN, 0};
            ::poll(&fd, 1, int(drawCursor ? std::min<int64_t>(left, kPointerPollMs) : left));
        }
    }

    bool captureChanges(bool drawCursor, std::vector<ScreenRect>& updated) override {
        updated.clear();
        if (!tracking_ || fullPending_) {
            if (!capture(drawCursor)) return false;
            updated.push_back(ScreenRect{0, 0, area_.width, area_.height});
            return true;
        }
        readEvents();
        std::vector<RowBand> bands;
        if (damagePending_) {
            damagePending_ = false;
            XDamageSubtract(display_, damage_, None, region_);
            int count = 0;
            XRectangle* rects = XFixesFetchRegion(display_, region_, &count);
            for (int i = 0; i < count; ++i) {
                // Root coordinates to rows of the primary area.
                const int top = std::max(0, rects[i].y - area_.y);
                const int bottom = std::min(area_.height, rects[i].y + int(rects[i].height) - area_.y);
                const int left = std::max(0, rects[i].x - area_.x);
                const int right = std::min(area_.width, rects[i].x + int(rects[i].width) - area_.x);
                if (top < bottom && left < right) bands.push_back({top, bottom});
            }
            if (rects) XFree(rects);
            if (takeError(display_)) return failTracking();
        }

        // The pointer: where it is now and whether it looks different.
        bool cursorMoved = false;
        int pointerX = cursorX_, pointerY = cursorY_;
        if (drawCursor) {
            if (cursorShapeChanged_ || cursor_.empty()) {
                cursorShapeChanged_ = false;
                fetchCursor(pointerX, pointerY);
                cursorMoved = true;
            } else if (queryPointer(pointerX, pointerY)) {
                cursorMoved = pointerX != cursorX_ || pointerY != cursorY_;
            }
            if (!cursorPainted_) cursorMoved = true;
        }
        const RowBand oldCursor{std::max(0, cursorRect_.y),
                                std::min(area_.height, cursorRect_.y + cursorRect_.height)};
        bool repaint = drawCursor && cursorMoved;
        if (cursorPainted_) {
            // The painted cursor sits in the picture: a grab over any of its
            // rows must take all of them, or part of the old drawing stays.
            bool touched = cursorMoved || !drawCursor;
            for (const RowBand& band : bands)
                if (band.begin < oldCursor.end && oldCursor.begin < band.end) touched = true;
            if (touched) {
                bands.push_back(oldCursor);
                if (drawCursor) repaint = true;
            }
        }
        mergeBands(bands, kBandGap);
        if (bands.size() > kMaxBands) bands = {{bands.front().begin, bands.back().end}};
        for (const RowBand& band : bands) {
            if (!grabRows(band.begin, band.end)) return failTracking();
            updated.push_back(ScreenRect{0, band.begin, area_.width, band.end - band.begin});
        }
        if (!drawCursor) {
            cursorPainted_ = false;
        } else if (repaint) {
            cursorX_ = pointerX;
            cursorY_ = pointerY;
            paintCachedCursor();
            const int top = std::max(0, cursorRect_.y);
            const int bottom = std::min(area_.height, cursorRect_.y + cursorRect_.height);
            const int left = std::max(0, cursorRect_.x);
            const int right = std::min(area_.width, cursorRect_.x + cursorRect_.width);
            if (top < bottom && left < right)
                updated.push_back(ScreenRect{left, top, right - left, bottom - top});
        }
        return true;
    }

    int width() override { return display_ ? area_.width : 0; }
    uint8_t* picture() override { return picture_; }
    int pictureStride() override { return pictureStride_; }
    int height() override { return display_ ? area_.height : 0; }

    bool capture(bool drawCursor) override {
        if (!display_) return false;
        if (tracking_) {
            // Everything is grabbed now: what was damaged before is in it.
            readEvents();
            XDamageSubtract(display_, damage_, None, None);
            damagePending_ = false;
            // Stays set when this grab fails: the damage taken is lost.
            fullPending_ = true;
        }
        cursorPainted_ = false;
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
        fullPending_ = false;
        if (drawCursor) {
            int x = 0, y = 0;
            if (fetchCursor(x, y)) {
                cursorShapeChanged_ = false;
                cursorX_ = x;
                cursorY_ = y;
                paintCachedCursor();
            }
        }
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
        closeTracking();
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

    static int64_t nowMs() {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
    }

    // DAMAGE on the root window (its children's drawing included) and
    // XFixes cursor-shape events; without either, every capture is whole.
    void openTracking() {
        int damageEvent = 0, damageError = 0;
        if (!hasFixes_ || !XDamageQueryExtension(display_, &damageEvent, &damageError)) {
            LOGOUT("capture: no DAMAGE extension, every frame is grabbed whole");
            return;
        }
        int fixesEvent = 0, fixesError = 0;
        XFixesQueryExtension(display_, &fixesEvent, &fixesError);
        damageEvent_ = damageEvent;
        fixesEvent_ = fixesEvent;
        takeError(display_);
        damage_ = XDamageCreate(display_, root_, XDamageReportNonEmpty);
        region_ = XFixesCreateRegion(display_, nullptr, 0);
        XFixesSelectCursorInput(display_, root_, XFixesDisplayCursorNotifyMask);
        XSync(display_, False);
        if (takeError(display_)) {
            closeTracking();
            LOGOUT("capture: DAMAGE refused, every frame is grabbed whole");
            return;
        }
        tracking_ = true;
        fullPending_ = true;
        cursorShapeChanged_ = true;
    }

    void closeTracking() {
        if (damage_) XDamageDestroy(display_, damage_);
        if (region_) XFixesDestroyRegion(display_, region_);
        if (damage_ || region_) {
            XSync(display_, False);
            takeError(display_);
        }
        damage_ = 0;
        region_ = 0;
        tracking_ = false;
        damagePending_ = false;
        cursorPainted_ = false;
    }

    // An X error in the middle of tracking: the next capture is whole.
    bool failTracking() {
        fullPending_ = true;
        return false;
    }

    // Takes the events that have arrived without waiting for more.
    void readEvents() {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type == damageEvent_ + XDamageNotify)
                damagePending_ = true;
            else if (event.type == fixesEvent_ + XFixesCursorNotify)
                cursorShapeChanged_ = true;
        }
    }

    bool changePending(bool drawCursor) {
        if (fullPending_ || damagePending_) return true;
        if (!drawCursor) return cursorPainted_;  // the old drawing has to go
        if (!cursorPainted_ || cursorShapeChanged_) return true;
        int x = 0, y = 0;
        return queryPointer(x, y) && (x != cursorX_ || y != cursorY_);
    }

    bool queryPointer(int& x, int& y) {
        Window rootReturn = 0, child = 0;
        int winX = 0, winY = 0;
        unsigned int mask = 0;
        return XQueryPointer(display_, root_, &rootReturn, &child, &x, &y, &winX, &winY, &mask);
    }

    // Grabs rows [top, bottom) of the primary area into the picture.
    bool grabRows(int top, int bottom) {
        const int rows = bottom - top;
        if (rows <= 0) return true;
        if (shmImage_) {
            // The server writes `rows` full rows at the image's data offset
            // in the segment: point the image at the band for this request.
            char* const base = shmImage_->data;
            const int fullHeight = shmImage_->height;
            shmImage_->data = base + size_t(top) * shmImage_->bytes_per_line;
            shmImage_->height = rows;
            const Status ok = XShmGetImage(display_, root_, shmImage_, area_.x, area_.y + top, AllPlanes);
            shmImage_->data = base;
            shmImage_->height = fullHeight;
            return ok && !takeError(display_);
        }
        XImage* plain = XGetImage(display_, root_, area_.x, area_.y + top, unsigned(area_.width),
                                  unsigned(rows), AllPlanes, ZPixmap);
        if (!plain || takeError(display_) || plain->bits_per_pixel != 32) {
            if (plain) XDestroyImage(plain);
            return false;
        }
        const size_t row = size_t(area_.width) * 4;
        for (int y = 0; y < rows; ++y)
            std::memcpy(pixels_.data() + size_t(top + y) * row,
                        plain->data + size_t(y) * plain->bytes_per_line, row);
        XDestroyImage(plain);
        return true;
    }

    // Reads the cursor's image and the pointer position into the cache.
    bool fetchCursor(int& x, int& y) {
        if (!hasFixes_) return false;
        XFixesCursorImage* image = XFixesGetCursorImage(display_);
        if (!image || takeError(display_)) {
            if (image) XFree(image);
            return false;
        }
        cursorW_ = image->width;
        cursorH_ = image->height;
        cursor_.resize(size_t(cursorW_) * cursorH_);
        // XFixes hands out one pixel per unsigned long; ARGB in the low 32 bits.
        for (size_t i = 0; i < cursor_.size(); ++i) cursor_[i] = uint32_t(image->pixels[i]);
        x = image->x;
        y = image->y;
        XFree(image);
        return true;
    }

    // The cursor's top-left corner goes to the pointer position.
    void paintCachedCursor() {
        if (cursor_.empty()) return;
        cursorRect_ = Rect{cursorX_ - area_.x, cursorY_ - area_.y, cursorW_, cursorH_};
        blendCursor(picture_, pictureStride_, area_.width, area_.height, cursor_.data(), cursorW_,
                    cursorH_, cursorRect_.x, cursorRect_.y);
        cursorPainted_ = true;
    }

    static constexpr int kPointerPollMs = 8;
    static constexpr int kBandGap = 16;
    static constexpr size_t kMaxBands = 8;

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
    std::vector<uint32_t> cursor_;  // the cursor's image, cached between shape changes
    int cursorW_ = 0, cursorH_ = 0;

    const bool wantTracking_;
    bool tracking_ = false;
    Damage damage_ = 0;
    XserverRegion region_ = 0;
    int damageEvent_ = -1000, fixesEvent_ = -1000;
    bool damagePending_ = false;
    bool fullPending_ = false;
    bool cursorShapeChanged_ = false;
    bool cursorPainted_ = false;  // the cursor is drawn into the picture at cursorRect_
    Rect cursorRect_;
    int cursorX_ = 0, cursorY_ = 0;  // pointer position of that drawing (root coordinates)
};

}  // namespace

std::unique_ptr<ScreenGrabber> makeX11ScreenGrabber(bool trackChanges) {
    return std::make_unique<X11ScreenGrabber>(trackChanges);
}

}  // namespace platform
