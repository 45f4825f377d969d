// The photo wall: photos from the phone, one at a time over the whole
// screen, drawn with SDL2 into a Qt window. Photos are fetched when they are
// about to be needed (on the worker pool), cached in the document folder's
// ".temp" and decoded with Qt's image reader. The phone steps, zooms and
// closes through its keys; the teacher pans with the mouse and turns a photo
// with the rotate button.
#pragma once

#include "core/features.h"
#include "core/window_messages.h"
#include "core/overlay_flags.h"
#include "ui/main/hub_windows.h"
#include "ui/photo/photo_layout.h"

#include <QImage>

#include <json/value.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace support {
class ThreadPool;
}

namespace photo {

struct PhotoWallLink {
    // Sends a message to every phone.
    std::function<void(const std::string& className, const Json::Value& body)> broadcast;
    // Read by the input handlers: page and close keys go to the wall while set.
    core::OverlayFlags* overlay = nullptr;
    support::ThreadPool* threadPool = nullptr;
    // The document folder; the cache is its ".temp".
    std::function<std::string()> docDir;
    // Runs on the UI thread as the wall comes up (the program closes the
    // drawing board there, which would otherwise take the page keys).
    std::function<void()> showing;
};

// One photo of the list. `image` and `shown` are written by the load task or
// by a rotation, always under the wall's mutex.
struct PhotoItem {
    std::string url;
    int index = 0;
    int rotation = 0;     // 0, 90, 180 or 270, clockwise
    int width = 0;        // size of `shown`, 0 until loaded
    int height = 0;
    QImage image;         // as decoded
    QImage shown;         // `image` turned by `rotation` (ARGB32)
    int version = 0;      // changes whenever `shown` changes
};

// Cache file name for a photo URL: its last path component without query or
// fragment, %XX decoded; empty when nothing safe remains.
std::string cacheFileName(const std::string& url);

class PhotoSurface;

class PhotoWallWnd : public core::PhotoWall, public ui::HubWindow {
public:
    explicit PhotoWallWnd(PhotoWallLink link);
    ~PhotoWallWnd() override;
    PhotoWallWnd(const PhotoWallWnd&) = delete;
    PhotoWallWnd& operator=(const PhotoWallWnd&) = delete;

    // core::PhotoWall (any thread).
    void show(const std::vector<std::string>& urls, int index) override;
    void step(bool forward) override;
    void zoom(bool in) override;
    void close() override;

    // ui::HubWindow (UI thread).
    bool isVisible() override;
    void showWindow() override;
    void hideWindow() override;
    void handle(uint32_t message, int64_t wParam, int64_t lParam,
                std::unique_ptr<core::HeapBlock> block) override;

    // What the window shows now (for the phones' state and for tests).
    struct View {
        int count = 0;
        int current = 0;
        double zoom = -1.0;
        double centerX = 0.5, centerY = 0.5;
        int width = 0, height = 0;  // of the current photo, 0 while not loaded
        int rotation = 0;
        PhotoLayout layout;         // in the window as it is now
    };
    View view();
    QWidget* window();
    // The rotate button's rectangle in window pixels.
    Rect rotateButton() const;
    // Pointer input in window pixels (the window's own mouse handlers call these).
    void pointerDown(int x, int y);
    void pointerMove(int x, int y);
    void pointerUp();

    // Draws the current photo (UI thread; the window's paint event).
    void render();

private:
    struct Shared;
    void queueLoads(const std::vector<std::string>& urls);
    void postRepaint(int index);
    void releaseSdl();

    PhotoWallLink link_;
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<PhotoSurface> surface_;
    bool visible_ = false;

    // Pan drag (UI thread).
    bool dragging_ = false;
    int dragStartX_ = 0, dragStartY_ = 0;
    double dragCenterX_ = 0.5, dragCenterY_ = 0.5;

    // SDL (UI thread): made on the first paint, freed on hide.
    struct Sdl;
    std::unique_ptr<Sdl> sdl_;
};

}  // namespace photo
