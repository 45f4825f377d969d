// The PC camera window: a small frameless, resizable, top-most tool window
// that shows the picture of a camera attached to the PC (typically a
// document camera), drawn with SDL2. Each camera request from the phone
// switches to the next real camera; after the last one the window hides.
// Virtual cameras (screen grabbers, virtual webcam drivers) are skipped.
// The window keeps its place and size in the settings.
#pragma once

#include "ui/main/hub_windows.h"

#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct SDL_Renderer;
struct SDL_Texture;
struct SDL_Window;

namespace camera {
class CameraEngine;
}
namespace core {
class Settings;
}

namespace ui {

// True for names of virtual cameras (matched on the lower-cased name).
bool isVirtualCamera(const std::string& utf8Name);

class CameraDlg : public QWidget, public CameraWindow {
public:
    static constexpr int kMinWidth = 200;
    static constexpr int kMinHeight = 150;
    // Moves this soon after a full-screen toggle are the toggle's own.
    static constexpr int64_t kToggleGuardMs = 500;

    // `nowMs`: monotonic milliseconds (the steady clock when empty).
    CameraDlg(camera::CameraEngine& engine, core::Settings* settings,
              std::function<int64_t()> nowMs = {});
    ~CameraDlg() override;

    // The hub's slot.
    bool isVisible() override { return QWidget::isVisible(); }
    // Shows the current camera again, if one is on.
    void showWindow() override;
    // Stops the capture and hides the window.
    void hideWindow() override;
    void handle(uint32_t message, int64_t wParam, int64_t lParam,
                std::unique_ptr<core::HeapBlock> block) override;
    // The controlling phone left: the capture stops and the window goes.
    void stopCapture() override;

    // The next real camera, or hidden after the last one.
    void nextCamera();

    int cameraIndex() const { return cameraIndex_; }
    bool fullScreen() const { return fullScreen_; }
    void toggleFullScreen();
    // Pictures drawn so far (for tests and measurements).
    int framesDrawn() const { return framesDrawn_.load(); }
    bool capturing() const { return captureThread_.joinable(); }

    QPaintEngine* paintEngine() const override { return nullptr; }

protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void moveEvent(QMoveEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;

private:
    void initSdl();
    // (Re)creates the SDL window and renderer over this window at its size.
    void createRenderer();
    void showCamera();
    // The stored geometry, clamped to the screen.
    QRect storedGeometry() const;
    QRect screenRect() const;
    void stopThread();
    void captureLoop(int index);
    void requestDraw();
    void draw();
    int64_t now() const;
    Qt::Edges edgesAt(QPoint local) const;

    camera::CameraEngine& engine_;
    core::Settings* settings_;
    std::function<int64_t()> nowMs_;

    int cameraIndex_ = -1;
    std::atomic<bool> stopCapture_{true};
    std::thread captureThread_;

    // The converted picture the capture thread publishes and draw() shows.
    std::mutex frameMutex_;
    const uint8_t* frame_ = nullptr;
    int frameWidth_ = 0;
    int frameHeight_ = 0;
    std::atomic<bool> drawQueued_{false};
    // The window's size in pixels, for the capture thread.
    std::atomic<int> viewWidth_{kMinWidth};
    std::atomic<int> viewHeight_{kMinHeight};
    std::atomic<int> framesDrawn_{0};

    SDL_Window* sdlWindow_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    int textureWidth_ = 0;
    int textureHeight_ = 0;
    bool sdlVideo_ = false;
    bool rendererLogged_ = false;
    bool sdlFailed_ = false;

    bool fullScreen_ = false;
    int64_t lastToggle_ = -1000000;

    // Left-button drags: a move or an edge resize once the pointer travelled.
    bool pressed_ = false;
    bool dragging_ = false;
    Qt::Edges pressEdges_;
    QPoint pressGlobal_;
    QRect pressGeometry_;
};

}  // namespace ui
