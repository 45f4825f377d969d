#include "ui/player/video_static.h"

#include "media/picture_fit.h"
#include "support/logger.h"

#include <QPainter>
#include <QPainterPath>

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace ui::player {

namespace {

int64_t steadyUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

bool sdlVideoReady() {
    static bool tried = false;
    static bool ready = false;
    if (!tried) {
        tried = true;
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        // The accelerated renderer needs the foreign window to be usable with OpenGL.
        SDL_SetHint(SDL_HINT_VIDEO_FOREIGN_WINDOW_OPENGL, "1");
        SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
        ready = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
        if (!ready) LOGOUT("SDL video unavailable: %s", SDL_GetError());
    }
    return ready;
}

}  // namespace

QImage CVideoStatic::closeIcon() {
    QImage image(48, 48, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 255, 255, 200), 2));
    p.setBrush(QColor(20, 20, 20, 170));
    p.drawRoundedRect(QRectF(5, 5, 38, 38), 8, 8);
    p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(16, 16), QPointF(32, 32));
    p.drawLine(QPointF(32, 16), QPointF(16, 32));
    p.end();
    return image;
}

CVideoStatic::CVideoStatic(QWidget* parent, std::function<bool()> mirroring)
    : QWidget(parent), mirroring_(std::move(mirroring)), icon_(closeIcon()) {
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_PaintOnScreen);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Pointer input over the picture belongs to the player window.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

CVideoStatic::~CVideoStatic() {
    if (frameTexture_) SDL_DestroyTexture(frameTexture_);
    if (iconTexture_) SDL_DestroyTexture(iconTexture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (sdlWindow_) SDL_DestroyWindow(sdlWindow_);
}

void CVideoStatic::showFrame(int width, int height, const uint8_t* pixels) {
    if (!pixels || width <= 0 || height <= 0) return;
    {
        std::lock_guard<std::mutex> lock(lock_);
        frameWidth_ = width;
        frameHeight_ = height;
        pixels_.assign(pixels, pixels + size_t(width) * height * 4);
        pixelsChanged_ = true;
        ++pictureNumber_;
        handedUs_ = steadyUs();
    }
    // One pending draw at a time: a slow UI thread shows the latest picture.
    if (!drawPosted_.exchange(true))
        QMetaObject::invokeMethod(this, [this] {
            drawPosted_ = false;
            redraw();
        }, Qt::QueuedConnection);
}

void CVideoStatic::clearFrame() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        frameWidth_ = frameHeight_ = 0;
        pixels_.clear();
        pixels_.shrink_to_fit();
        pixelsChanged_ = false;
    }
    if (frameTexture_) SDL_DestroyTexture(frameTexture_);
    frameTexture_ = nullptr;
    textureWidth_ = textureHeight_ = 0;
    if (iconTexture_) SDL_DestroyTexture(iconTexture_);
    iconTexture_ = nullptr;
    if (isVisible()) redraw();
}

int CVideoStatic::frameWidth() {
    std::lock_guard<std::mutex> lock(lock_);
    return frameWidth_;
}

int CVideoStatic::frameHeight() {
    std::lock_guard<std::mutex> lock(lock_);
    return frameHeight_;
}

bool CVideoStatic::ensureRenderer() {
    if (renderer_) return true;
    if (!sdlVideoReady()) return false;
    if (!sdlWindow_) {
        sdlWindow_ = SDL_CreateWindowFrom(reinterpret_cast<void*>(winId()));
        if (!sdlWindow_) {
            LOGOUT("SDL_CreateWindowFrom failed: %s", SDL_GetError());
            return false;
        }
    }
    const char* forced = std::getenv("LUMACRO3_SDL_RENDERER");
    if (!(forced && std::strcmp(forced, "software") == 0))
        // -1: the first accelerated driver, or the one SDL_RENDER_DRIVER names.
        renderer_ = SDL_CreateRenderer(sdlWindow_, -1, SDL_RENDERER_ACCELERATED);
    if (!renderer_) renderer_ = SDL_CreateRenderer(sdlWindow_, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer_) {
        LOGOUT("SDL renderer not made: %s", SDL_GetError());
        return false;
    }
    SDL_RendererInfo info{};
    if (SDL_GetRendererInfo(renderer_, &info) == 0 && info.name) rendererName_ = info.name;
    LOGOUT("picture renderer: %s", rendererName_);
    return true;
}

void CVideoStatic::redraw() {
    if (!isVisible() || !ensureRenderer()) return;
    const bool mirroring = mirroring_ && mirroring_();
    const media::Size area{width(), height()};
    int frameW = 0, frameH = 0;
    uint64_t number = 0;
    int64_t handed = 0;
    {
        std::lock_guard<std::mutex> lock(lock_);
        number = pictureNumber_;
        handed = handedUs_;
        frameW = frameWidth_;
        frameH = frameHeight_;
        if (frameW > 0 && (!frameTexture_ || textureWidth_ != frameW || textureHeight_ != frameH)) {
            // Also the first picture that arrived before the renderer existed.
            if (frameTexture_) SDL_DestroyTexture(frameTexture_);
            frameTexture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                              frameW, frameH);
            textureWidth_ = frameTexture_ ? frameW : 0;
            textureHeight_ = frameTexture_ ? frameH : 0;
            pixelsChanged_ = true;
        }
        if (frameTexture_ && pixelsChanged_ && !pixels_.empty()) {
            SDL_UpdateTexture(frameTexture_, nullptr, pixels_.data(), frameW * 4);
            pixelsChanged_ = false;
        }
    }
    if (!iconTexture_ && !mirroring) {
        iconTexture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC,
                                         icon_.width(), icon_.height());
        if (iconTexture_) {
            SDL_UpdateTexture(iconTexture_, nullptr, icon_.constBits(), int(icon_.bytesPerLine()));
            SDL_SetTextureBlendMode(iconTexture_, SDL_BLENDMODE_BLEND);
        }
    }
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
    if (frameW > 0 && frameTexture_) {
        const media::Rect r = media::pictureTarget({frameW, frameH}, area, mirroring);
        const SDL_Rect target{r.x, r.y, r.width, r.height};
        SDL_RenderCopy(renderer_, frameTexture_, nullptr, &target);
        if (iconTexture_ && !mirroring) {
            const SDL_Rect iconRect{area.width - icon_.width(), 0, icon_.width(), icon_.height()};
            SDL_RenderCopy(renderer_, iconTexture_, nullptr, &iconRect);
        }
        ++drawn_;
    }
    SDL_RenderPresent(renderer_);
    if (frameW > 0 && number != shownNumber_) {
        shownNumber_ = number;
        // The player shows each picture this much ahead of its time.
        recentDelays_.push_back(steadyUs() - handed);
        if (recentDelays_.size() > 9) recentDelays_.erase(recentDelays_.begin());
        std::vector<int64_t> sorted = recentDelays_;
        std::nth_element(sorted.begin(), sorted.begin() + (sorted.size() - 1) / 2, sorted.end());
        presentDelayUs_ = sorted[(sorted.size() - 1) / 2];
        if (presented_) presented_(number);
    }
}

void CVideoStatic::paintEvent(QPaintEvent*) { redraw(); }

void CVideoStatic::showEvent(QShowEvent*) {
    // After hide and show the last picture is drawn again.
    QMetaObject::invokeMethod(this, [this] { redraw(); }, Qt::QueuedConnection);
}

void CVideoStatic::resizeEvent(QResizeEvent*) {
    if (isVisible()) QMetaObject::invokeMethod(this, [this] { redraw(); }, Qt::QueuedConnection);
}

}  // namespace ui::player
