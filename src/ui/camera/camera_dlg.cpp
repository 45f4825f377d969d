#include "ui/camera/camera_dlg.h"

#include "camera/camera_engine.h"
#include "core/settings.h"
#include "core/window_messages.h"
#include "support/language.h"
#include "support/logger.h"
#include "tools/x11_desktop.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

#include <SDL2/SDL.h>
#include <boost/regex.hpp>

#include <algorithm>
#include <chrono>
#include <pthread.h>

namespace ui {

namespace {

constexpr const char kContext[] = "CameraDlg";
// Width of the band along the edges that resizes the window.
constexpr int kBorder = 6;

int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

bool isVirtualCamera(const std::string& utf8Name) {
    static const boost::regex pattern("virtual|screen|corel|v-cam|pgm", boost::regex::perl);
    // Lower-cased through Qt so that non-ASCII names compare as text.
    const std::string lower = QString::fromStdString(utf8Name).toLower().toStdString();
    return boost::regex_search(lower, pattern);
}

CameraDlg::CameraDlg(camera::CameraEngine& engine, core::Settings* settings, std::function<int64_t()> nowMs)
    : QWidget(nullptr), engine_(engine), settings_(settings), nowMs_(std::move(nowMs)) {
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
    // Without a window manager nothing would stack or place the window but
    // the program itself.
    if (!tools::windowManagerRunning()) flags |= Qt::X11BypassWindowManagerHint;
    setWindowFlags(flags);
    setWindowTitle(QString::fromStdString(support::translate("电脑摄像头", kContext)));
    setMinimumSize(kMinWidth, kMinHeight);
    setMouseTracking(true);
    // SDL draws into this window's own X window; Qt never paints it.
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_PaintOnScreen);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_OpaquePaintEvent);
    initSdl();
}

CameraDlg::~CameraDlg() {
    stopThread();
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (sdlWindow_) SDL_DestroyWindow(sdlWindow_);
    if (sdlVideo_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

void CameraDlg::initSdl() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        LOGOUT("camera window: SDL video not available: %s", SDL_GetError());
        return;
    }
    sdlVideo_ = true;
    // The SDL window and renderer are made when the first picture is drawn:
    // a program whose camera is never asked for does not make them.
}

void CameraDlg::createRenderer() {
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (sdlWindow_) SDL_DestroyWindow(sdlWindow_);  // the X window itself stays: it is Qt's
    texture_ = nullptr;
    renderer_ = nullptr;
    textureWidth_ = textureHeight_ = 0;
    // SDL reads the window's size when it takes the window over and does not
    // watch it afterwards.
    sdlWindow_ = SDL_CreateWindowFrom(reinterpret_cast<void*>(winId()));
    if (!sdlWindow_) {
        LOGOUT("camera window: SDL_CreateWindowFrom failed: %s", SDL_GetError());
        sdlFailed_ = true;  // not tried again for every frame
        return;
    }
    // -1: the first accelerated driver, or the one SDL_RENDER_DRIVER names.
    renderer_ = SDL_CreateRenderer(sdlWindow_, -1, SDL_RENDERER_ACCELERATED);
    if (!renderer_) renderer_ = SDL_CreateRenderer(sdlWindow_, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer_) {
        LOGOUT("camera window: no SDL renderer: %s", SDL_GetError());
        sdlFailed_ = true;
        return;
    }
    SDL_RendererInfo info{};
    if (!rendererLogged_ && SDL_GetRendererInfo(renderer_, &info) == 0) {
        LOGOUT("camera window: SDL renderer %s", info.name);
        rendererLogged_ = true;
    }
}

int64_t CameraDlg::now() const { return nowMs_ ? nowMs_() : steadyMs(); }

QRect CameraDlg::screenRect() const {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect(0, 0, 1024, 768);
}

QRect CameraDlg::storedGeometry() const {
    const QRect screen = screenRect();
    auto get = [this](const char* name, int64_t def) {
        return settings_ ? settings_->getInt(core::setting::SET, name, def) : def;
    };
    // The size stays within the minimum and the screen, then the corner is
    // clamped so that the window lies on the screen (10000 puts it in the
    // bottom-right corner).
    const int w = int(std::clamp<int64_t>(get("CAMERAWIDTH", 400), kMinWidth, std::max(kMinWidth, screen.width())));
    const int h = int(std::clamp<int64_t>(get("CAMERAHEIGHT", 300), kMinHeight, std::max(kMinHeight, screen.height())));
    const int64_t x = std::clamp<int64_t>(get("CAMERAX", 10000), 0, std::max(0, screen.width() - w));
    const int64_t y = std::clamp<int64_t>(get("CAMERAY", 10000), 0, std::max(0, screen.height() - h));
    return QRect(screen.x() + int(x), screen.y() + int(y), w, h);
}

void CameraDlg::handle(uint32_t message, int64_t, int64_t, std::unique_ptr<core::HeapBlock>) {
    if (message == core::UM_PC_CAMERA) nextCamera();
}

void CameraDlg::nextCamera() {
    if (engine_.enumerateCameras() <= 0) return;
    stopThread();
    for (;;) {
        ++cameraIndex_;
        if (cameraIndex_ >= engine_.enumerateCameras()) break;
        // Names exist for the first 20 devices only; the engine refuses the rest.
        if (cameraIndex_ >= camera::kMaxDevices) break;
        const std::string name = engine_.cameraName(cameraIndex_);
        if (isVirtualCamera(name)) {
            LOGOUT("virtual camera: %s", name.c_str());
            continue;
        }
        // A camera that fails to open ends this request; the next request
        // tries the device after it.
        if (!engine_.openCamera(cameraIndex_)) {
            LOGOUT("camera %d (%s) could not be opened", cameraIndex_, name.c_str());
            return;
        }
        stopCapture_ = false;
        showCamera();
        const int index = cameraIndex_;
        captureThread_ = std::thread([this, index] { captureLoop(index); });
        return;
    }
    stopThread();
    cameraIndex_ = -1;
    fullScreen_ = false;
    hide();
}

void CameraDlg::showCamera() {
    if (QWidget::isVisible()) return;
    fullScreen_ = false;
    setGeometry(storedGeometry());
    show();
    raise();
    activateWindow();
    tools::flushDisplay();
}

void CameraDlg::showWindow() {
    if (cameraIndex_ >= 0) showCamera();
}

void CameraDlg::hideWindow() { stopCapture(); }

void CameraDlg::stopCapture() {
    // The picture would stand still in a window nobody can close: the
    // window goes with the capture, and the next request starts over.
    stopThread();
    cameraIndex_ = -1;
    fullScreen_ = false;
    hide();
}

void CameraDlg::stopThread() {
    stopCapture_ = true;
    if (captureThread_.joinable()) captureThread_.join();
}

void CameraDlg::captureLoop(int index) {
    pthread_setname_np(pthread_self(), "camera-capture");
    const int w = engine_.width(index), h = engine_.height(index);
    // The picture shown, in BGRA and no larger than the window (SDL would
    // only shrink it again, after a far larger upload), made by the engine
    // straight from the device's frame. It is made in `back`, then swapped
    // in under the mutex, so drawing never waits for a conversion.
    std::vector<uint8_t> picture, back;
    while (w > 0 && h > 0 && !stopCapture_.load()) {
        // While the last picture waits to be drawn a newer one would only
        // replace it unseen: the frame stays with the engine, which drops
        // what the device sends meanwhile before copying it.
        if (drawQueued_.load() || !engine_.hasNewFrame(index)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        const int tw = std::clamp(viewWidth_.load(), 1, w), th = std::clamp(viewHeight_.load(), 1, h);
        back.resize(size_t(tw) * th * 4);
        if (!engine_.GetPicture(index, back.data(), tw, th, tw * 4)) continue;
        std::lock_guard<std::mutex> lock(frameMutex_);
        picture.swap(back);
        frame_ = picture.data();
        frameWidth_ = tw;
        frameHeight_ = th;
        requestDraw();
    }
    engine_.closeCamera(index);
    std::lock_guard<std::mutex> lock(frameMutex_);
    frame_ = nullptr;
    requestDraw();
}

void CameraDlg::requestDraw() {
    // One draw queued at a time: a slow UI thread sees the newest picture
    // instead of a backlog.
    if (drawQueued_.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            drawQueued_ = false;
            draw();
        },
        Qt::QueuedConnection);
}

void CameraDlg::draw() {
    if (!sdlVideo_ || sdlFailed_ || !QWidget::isVisible()) return;
    int w = 0, h = 0;
    if (sdlWindow_) SDL_GetWindowSize(sdlWindow_, &w, &h);
    const qreal ratio = devicePixelRatioF();
    if (!renderer_ || w != int(width() * ratio) || h != int(height() * ratio)) createRenderer();
    if (!renderer_) return;
    bool drawn = false;
    {
        std::lock_guard<std::mutex> lock(frameMutex_);
        if (frame_ && frameWidth_ > 0 && frameHeight_ > 0) {
            if (!texture_ || textureWidth_ != frameWidth_ || textureHeight_ != frameHeight_) {
                if (texture_) SDL_DestroyTexture(texture_);
                texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                             frameWidth_, frameHeight_);
                textureWidth_ = texture_ ? frameWidth_ : 0;
                textureHeight_ = texture_ ? frameHeight_ : 0;
            }
            if (texture_) drawn = SDL_UpdateTexture(texture_, nullptr, frame_, frameWidth_ * 4) == 0;
        }
    }
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
    if (drawn) SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    SDL_RenderPresent(renderer_);
    if (drawn) framesDrawn_.fetch_add(1);
}

void CameraDlg::paintEvent(QPaintEvent*) { draw(); }

void CameraDlg::showEvent(QShowEvent*) {
    // Hidden and shown again, the window has lost its pixels.
    requestDraw();
}

void CameraDlg::resizeEvent(QResizeEvent*) {
    const qreal ratio = devicePixelRatioF();
    viewWidth_ = int(width() * ratio);
    viewHeight_ = int(height() * ratio);
    if (cameraIndex_ >= 0 && !fullScreen_ && settings_) {
        settings_->setInt(core::setting::SET, "CAMERAWIDTH", width());
        settings_->setInt(core::setting::SET, "CAMERAHEIGHT", height());
    }
    requestDraw();
}

void CameraDlg::moveEvent(QMoveEvent*) {
    if (cameraIndex_ < 0 || fullScreen_ || !settings_) return;
    if (now() - lastToggle_ <= kToggleGuardMs) return;
    const QRect screen = screenRect();
    settings_->setInt(core::setting::SET, "CAMERAX", x() - screen.x());
    settings_->setInt(core::setting::SET, "CAMERAY", y() - screen.y());
}

void CameraDlg::toggleFullScreen() {
    if (fullScreen_) {
        setGeometry(storedGeometry());
        fullScreen_ = false;
    } else {
        fullScreen_ = true;
        setGeometry(screenRect());
    }
    raise();
    activateWindow();
    tools::flushDisplay();
    lastToggle_ = now();
}

Qt::Edges CameraDlg::edgesAt(QPoint p) const {
    Qt::Edges edges;
    if (fullScreen_) return edges;
    if (p.x() < kBorder) edges |= Qt::LeftEdge;
    if (p.x() >= width() - kBorder) edges |= Qt::RightEdge;
    if (p.y() < kBorder) edges |= Qt::TopEdge;
    if (p.y() >= height() - kBorder) edges |= Qt::BottomEdge;
    return edges;
}

void CameraDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    pressed_ = true;
    dragging_ = false;
    pressEdges_ = edgesAt(event->position().toPoint());
    pressGlobal_ = event->globalPosition().toPoint();
    pressGeometry_ = geometry();
}

void CameraDlg::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_) {
        // The pointer shows where the window can be resized.
        const Qt::Edges e = edgesAt(event->position().toPoint());
        const bool horizontal = e & (Qt::LeftEdge | Qt::RightEdge), vertical = e & (Qt::TopEdge | Qt::BottomEdge);
        if (horizontal && vertical)
            setCursor(((e & Qt::LeftEdge) != 0) == ((e & Qt::TopEdge) != 0) ? Qt::SizeFDiagCursor
                                                                              : Qt::SizeBDiagCursor);
        else if (horizontal)
            setCursor(Qt::SizeHorCursor);
        else if (vertical)
            setCursor(Qt::SizeVerCursor);
        else
            unsetCursor();
        return;
    }
    if (fullScreen_) return;
    const QPoint delta = event->globalPosition().toPoint() - pressGlobal_;
    if (!dragging_) {
        if (delta.manhattanLength() < 3) return;
        dragging_ = true;
        // A window manager moves and resizes better than we can (it keeps
        // the window on its desktop); without one the window follows the hand.
        QWindow* handle = windowHandle();
        const bool system = handle && (pressEdges_ ? handle->startSystemResize(pressEdges_)
                                                   : handle->startSystemMove());
        if (system) {
            pressed_ = false;
            dragging_ = false;
            return;
        }
    }
    QRect g = pressGeometry_;
    if (!pressEdges_) {
        g.moveTopLeft(pressGeometry_.topLeft() + delta);
    } else {
        if (pressEdges_ & Qt::LeftEdge) g.setLeft(std::min(g.right() - kMinWidth + 1, g.left() + delta.x()));
        if (pressEdges_ & Qt::RightEdge) g.setRight(std::max(g.left() + kMinWidth - 1, g.right() + delta.x()));
        if (pressEdges_ & Qt::TopEdge) g.setTop(std::min(g.bottom() - kMinHeight + 1, g.top() + delta.y()));
        if (pressEdges_ & Qt::BottomEdge) g.setBottom(std::max(g.top() + kMinHeight - 1, g.bottom() + delta.y()));
    }
    setGeometry(g);
}

void CameraDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    pressed_ = false;
    dragging_ = false;
}

void CameraDlg::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    pressed_ = false;
    dragging_ = false;
    toggleFullScreen();
}

}  // namespace ui
