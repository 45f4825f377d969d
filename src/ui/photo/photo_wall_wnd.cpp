#include "ui/photo/photo_wall_wnd.h"

#include "protocol/fields.h"
#include "protocol/message_names.h"
#include "support/files.h"
#include "support/language.h"
#include "support/logger.h"
#include "support/thread_pool.h"
#include "tools/overlay_window.h"
#include "transfer/download.h"
#include "transfer/safe_path.h"
#include "ui/photo/rotate_button_art.h"

#include <QImageReader>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QTransform>

#include <SDL2/SDL.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sys/stat.h>

namespace photo {

namespace f = protocol::field;

namespace {

// Decoded pictures are kept for the current photo and this many on each
// side; the others are read again from the cache when the teacher returns.
constexpr int kKeepAround = 3;
// Larger pictures are decoded at a reduced size (texture limits, memory).
constexpr int kMaxSide = 8192;

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

QImage decode(const std::string& path) {
    QImageReader reader(QString::fromStdString(path));
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > kMaxSide || size.height() > kMaxSide))
        reader.setScaledSize(size.scaled(kMaxSide, kMaxSide, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull()) return image;
    return image.convertToFormat(QImage::Format_ARGB32);
}

QImage turned(const QImage& image, int rotation) {
    if (rotation == 0 || image.isNull()) return image;
    return image.transformed(QTransform().rotate(rotation)).convertToFormat(QImage::Format_ARGB32);
}

void storeImage(PhotoItem& item, QImage image) {
    item.image = std::move(image);
    item.shown = turned(item.image, item.rotation);
    item.width = item.shown.width();
    item.height = item.shown.height();
    ++item.version;
}

void dropImage(PhotoItem& item) {
    item.image = QImage();
    item.shown = QImage();
    item.width = item.height = 0;
    ++item.version;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string cacheFileName(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    const size_t scheme = path.find("://");
    if (scheme != std::string::npos) {
        const size_t slash = path.find('/', scheme + 3);
        path = slash == std::string::npos ? std::string() : path.substr(slash);
    }
    const size_t last = path.find_last_of('/');
    std::string name = last == std::string::npos ? path : path.substr(last + 1);
    std::string decoded;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '%' && i + 2 < name.size() &&
            hexValue(name[i + 1]) >= 0 && hexValue(name[i + 2]) >= 0) {
            decoded += static_cast<char>(hexValue(name[i + 1]) * 16 + hexValue(name[i + 2]));
            i += 2;
        } else {
            decoded += name[i];
        }
    }
    // A decoded name may hold separators or be "..": only its last safe part counts.
    return transfer::safeFileName(decoded);
}

struct PhotoWallWnd::Shared {
    std::mutex mutex;
    std::vector<std::shared_ptr<PhotoItem>> items;
    int current = 0;
    double zoom = -1.0;
    double centerX = 0.5, centerY = 0.5;
    // Items a load task is working on (so two tasks never write one file).
    std::vector<const PhotoItem*> loading;
    // Asks the window to repaint a photo that finished loading; emptied when
    // the wall goes, so late load tasks reach nothing.
    std::function<void(int)> ready;
    std::atomic<bool> abort{false};
    // The window's size as the UI thread last saw it (the zoom keys run on
    // session threads and must not ask the window).
    int windowWidth = 0, windowHeight = 0;
};

// The Qt window SDL draws into: full screen, on top, no cursor.
class PhotoSurface : public tools::OverlayWindow {
public:
    explicit PhotoSurface(PhotoWallWnd& wall) : OverlayWindow(false), wall_(wall) {
        setAttribute(Qt::WA_NativeWindow);
        setAttribute(Qt::WA_PaintOnScreen);
        setAttribute(Qt::WA_NoSystemBackground);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setCursor(Qt::BlankCursor);
        setFocusPolicy(Qt::StrongFocus);
        setWindowTitle(QString::fromStdString(support::translate("照片墙", "PhotoWallWnd")));
    }
    QPaintEngine* paintEngine() const override { return nullptr; }
    void coverScreen() {
        cover();
        setFocus();
    }
    void uncoverScreen() { uncover(); }

protected:
    void paintEvent(QPaintEvent*) override { wall_.render(); }
    void resizeEvent(QResizeEvent*) override { update(); }
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton)
            wall_.pointerDown(e->position().toPoint().x(), e->position().toPoint().y());
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        wall_.pointerMove(e->position().toPoint().x(), e->position().toPoint().y());
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) wall_.pointerUp();
    }
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Escape)
            wall_.hideWindow();
        else
            QWidget::keyPressEvent(e);
    }

private:
    PhotoWallWnd& wall_;
};

struct PhotoWallWnd::Sdl {
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* button = nullptr;
    SDL_Texture* photo = nullptr;
    std::shared_ptr<PhotoItem> photoItem;  // what `photo` was made from
    int photoVersion = -1;
    bool failed = false;
};

PhotoWallWnd::PhotoWallWnd(PhotoWallLink link)
    : link_(std::move(link)), shared_(std::make_shared<Shared>()) {
    surface_ = std::make_unique<PhotoSurface>(*this);
    shared_->ready = [this](int index) { postRepaint(index); };
}

PhotoWallWnd::~PhotoWallWnd() {
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->ready = nullptr;
    }
    shared_->abort = true;
    if (visible_ && link_.overlay) link_.overlay->photoWallOpen = false;
    releaseSdl();
    surface_.reset();
}

QWidget* PhotoWallWnd::window() { return surface_.get(); }

Rect PhotoWallWnd::rotateButton() const {
    return {8, surface_->height() - 80, kRotateButtonSize, kRotateButtonSize};
}

void PhotoWallWnd::show(const std::vector<std::string>& urls, int index) {
    if (urls.empty()) {
        // Nothing to show: the wall stays as it is.
        LOGOUT("photo wall: empty list ignored");
        return;
    }
    const int count = static_cast<int>(urls.size());
    const int start = std::clamp(index, 0, count - 1);
    if (start != index) LOGOUT("photo wall: index %d outside %d photos, showing %d", index, count, start);
    std::vector<std::string> load;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->items.clear();
        for (int i = 0; i < count; ++i) {
            auto item = std::make_shared<PhotoItem>();
            item->url = urls[i];
            item->index = i;
            shared_->items.push_back(std::move(item));
        }
        for (int i : {start, start + 1, start - 1})
            if (i >= 0 && i < count) load.push_back(urls[i]);
        shared_->current = start;
        shared_->zoom = -1.0;
        shared_->centerX = shared_->centerY = 0.5;
    }
    queueLoads(load);
    QMetaObject::invokeMethod(surface_.get(), [this, start] {
        if (visible_)
            postRepaint(start);
        else
            showWindow();
    }, Qt::QueuedConnection);
}

void PhotoWallWnd::step(bool forward) {
    std::vector<std::string> load;
    int next = 0;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        const int count = static_cast<int>(shared_->items.size());
        if (count == 0) return;
        next = std::clamp(shared_->current + (forward ? 1 : -1), 0, count - 1);
        if (next == shared_->current) return;
        shared_->zoom = -1.0;
        shared_->centerX = shared_->centerY = 0.5;
        for (int k = 0; k < 3; ++k) {
            const int i = forward ? next + k : next - k;
            if (i < 0 || i >= count) continue;
            if (shared_->items[i]->image.isNull()) load.push_back(shared_->items[i]->url);
        }
        shared_->current = next;
        for (auto& item : shared_->items)
            if (std::abs(item->index - next) > kKeepAround && !item->image.isNull()) dropImage(*item);
    }
    postRepaint(next);
    queueLoads(load);
}

void PhotoWallWnd::zoom(bool in) {
    int current = 0;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        Shared& s = *shared_;
        if (s.current < 0 || s.current >= static_cast<int>(s.items.size())) return;
        const PhotoItem& item = *s.items[s.current];
        if (item.width <= 0 || item.height <= 0) return;  // not loaded: stays fitted
        const int W = s.windowWidth, H = s.windowHeight;
        const double fit = fitScale(item.width, item.height, W, H);
        if (s.zoom < 0) s.zoom = fit;
        s.zoom += in ? 0.05 : -0.05;
        // Smaller than the window is the fitted picture: the next zoom in starts from there.
        if (!in && s.zoom < fit) s.zoom = -1.0;
        current = s.current;
    }
    postRepaint(current);
}

void PhotoWallWnd::close() {
    QMetaObject::invokeMethod(surface_.get(), [this] { hideWindow(); }, Qt::QueuedConnection);
}

bool PhotoWallWnd::isVisible() { return visible_; }

void PhotoWallWnd::showWindow() {
    if (visible_) return;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->zoom = -1.0;
        shared_->centerX = shared_->centerY = 0.5;
    }
    visible_ = true;
    if (link_.showing) link_.showing();
    surface_->coverScreen();
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->windowWidth = surface_->width();
        shared_->windowHeight = surface_->height();
    }
    if (link_.overlay) link_.overlay->photoWallOpen = true;
    Json::Value state(Json::objectValue);
    state[f::action] = 2;
    state[f::isOpened] = true;
    if (link_.broadcast) link_.broadcast(protocol::MsgPhotos, state);
}

void PhotoWallWnd::hideWindow() {
    if (!visible_) return;
    visible_ = false;
    dragging_ = false;
    surface_->uncoverScreen();
    if (link_.overlay) link_.overlay->photoWallOpen = false;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->zoom = -1.0;
        shared_->items.clear();
        shared_->current = 0;
    }
    releaseSdl();
    Json::Value state(Json::objectValue);
    state[f::action] = 2;
    state[f::isOpened] = false;
    if (link_.broadcast) link_.broadcast(protocol::MsgPhotos, state);
}

void PhotoWallWnd::handle(uint32_t message, int64_t, int64_t, std::unique_ptr<core::HeapBlock>) {
    if (message == core::UM_PHOTO_CLOSE) hideWindow();
}

PhotoWallWnd::View PhotoWallWnd::view() {
    View v;
    std::lock_guard<std::mutex> lock(shared_->mutex);
    const Shared& s = *shared_;
    v.count = static_cast<int>(s.items.size());
    v.current = s.current;
    v.zoom = s.zoom;
    v.centerX = s.centerX;
    v.centerY = s.centerY;
    if (s.current >= 0 && s.current < v.count) {
        const PhotoItem& item = *s.items[s.current];
        v.width = item.width;
        v.height = item.height;
        v.rotation = item.rotation;
        v.layout = layoutPhoto(item.width, item.height, s.windowWidth, s.windowHeight, s.zoom, s.centerX,
                               s.centerY);
    }
    return v;
}

void PhotoWallWnd::pointerDown(int x, int y) {
    const Rect b = rotateButton();
    if (x >= b.x && x <= b.x + b.w && y >= b.y && y <= b.y + b.h) {
        int current = 0;
        {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            Shared& s = *shared_;
            if (s.current < 0 || s.current >= static_cast<int>(s.items.size())) return;
            PhotoItem& item = *s.items[s.current];
            item.rotation = (item.rotation + 90) % 360;
            if (!item.image.isNull()) storeImage(item, item.image);
            s.zoom = -1.0;
            s.centerX = s.centerY = 0.5;
            current = s.current;
        }
        postRepaint(current);
        return;
    }
    std::lock_guard<std::mutex> lock(shared_->mutex);
    dragging_ = true;
    dragStartX_ = x;
    dragStartY_ = y;
    dragCenterX_ = shared_->centerX;
    dragCenterY_ = shared_->centerY;
}

void PhotoWallWnd::pointerMove(int x, int y) {
    if (!dragging_) return;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        Shared& s = *shared_;
        if (s.current < 0 || s.current >= static_cast<int>(s.items.size())) return;
        const PhotoItem& item = *s.items[s.current];
        if (item.width <= 0 || s.zoom <= 0) return;
        panCentre(item.width, item.height, s.zoom, dragStartX_, dragStartY_, x, y, dragCenterX_,
                  dragCenterY_, &s.centerX, &s.centerY);
    }
    surface_->update();
}

void PhotoWallWnd::pointerUp() { dragging_ = false; }

void PhotoWallWnd::postRepaint(int index) {
    QMetaObject::invokeMethod(surface_.get(), [this, index] {
        if (!visible_) return;
        bool current = false;
        {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            current = index == shared_->current;
        }
        if (current) surface_->update();
    }, Qt::QueuedConnection);
}

void PhotoWallWnd::queueLoads(const std::vector<std::string>& urls) {
    if (urls.empty()) return;
    const std::string cacheDir = (link_.docDir ? link_.docDir() : std::string(".")) + "/.temp";
    support::mkdir(cacheDir);
    for (const std::string& url : urls) {
        std::shared_ptr<Shared> shared = shared_;
        auto task = [shared, url, cacheDir] {
            std::shared_ptr<PhotoItem> item;
            {
                std::lock_guard<std::mutex> lock(shared->mutex);
                for (auto& candidate : shared->items)
                    if (candidate->url == url) {
                        item = candidate;
                        break;
                    }
                if (!item || !item->image.isNull()) return;
                if (std::find(shared->loading.begin(), shared->loading.end(), item.get()) !=
                    shared->loading.end())
                    return;
                shared->loading.push_back(item.get());
            }
            std::string name = cacheFileName(url);
            if (name.empty()) name = "photo-" + std::to_string(std::hash<std::string>{}(url));
            const std::string file = cacheDir + "/" + name;
            QImage image;
            if (fileExists(file)) image = decode(file);
            if (image.isNull()) {
                // Not cached, or a cached file that does not decode: fetch it again.
                transfer::DownloadLimits limits;
                limits.abort = &shared->abort;
                const transfer::DownloadResult result = transfer::fetchToFile(url, file, limits);
                if (result.curlCode != 0)
                    LOGOUT("download %s failed: %d", url.c_str(), result.curlCode);
                else
                    image = decode(file);
            }
            std::lock_guard<std::mutex> lock(shared->mutex);
            shared->loading.erase(std::remove(shared->loading.begin(), shared->loading.end(), item.get()),
                                  shared->loading.end());
            if (image.isNull()) return;  // the photo stays black
            // Stepped far away meanwhile: keep only the cached file.
            if (std::abs(item->index - shared->current) > kKeepAround) return;
            storeImage(*item, std::move(image));
            if (shared->ready) shared->ready(item->index);
        };
        if (!link_.threadPool || !link_.threadPool->submit(task)) LOGOUT("photo wall: %s not queued", url.c_str());
    }
}

void PhotoWallWnd::releaseSdl() {
    if (!sdl_) return;
    if (sdl_->photo) SDL_DestroyTexture(sdl_->photo);
    if (sdl_->button) SDL_DestroyTexture(sdl_->button);
    if (sdl_->renderer) SDL_DestroyRenderer(sdl_->renderer);
    if (sdl_->window) SDL_DestroyWindow(sdl_->window);
    sdl_.reset();
}

namespace {

SDL_Texture* textureFrom(SDL_Renderer* renderer, const QImage& image, bool blend) {
    SDL_Texture* texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888,
                                             SDL_TEXTUREACCESS_STREAMING, image.width(), image.height());
    if (!texture) {
        LOGOUT("photo wall: texture %dx%d not made: %s", image.width(), image.height(), SDL_GetError());
        return nullptr;
    }
    SDL_UpdateTexture(texture, nullptr, image.constBits(), static_cast<int>(image.bytesPerLine()));
    SDL_SetTextureBlendMode(texture, blend ? SDL_BLENDMODE_BLEND : SDL_BLENDMODE_NONE);
    return texture;
}

}  // namespace

void PhotoWallWnd::render() {
    if (!visible_) return;
    if (!sdl_) {
        sdl_ = std::make_unique<Sdl>();
        sdl_->window = SDL_CreateWindowFrom(reinterpret_cast<void*>(surface_->winId()));
        if (sdl_->window) {
            // The first accelerated driver (SDL_RENDER_DRIVER may name another), else software.
            sdl_->renderer = SDL_CreateRenderer(sdl_->window, -1, SDL_RENDERER_ACCELERATED);
            if (!sdl_->renderer) sdl_->renderer = SDL_CreateRenderer(sdl_->window, -1, SDL_RENDERER_SOFTWARE);
        }
        if (!sdl_->renderer) {
            LOGOUT("photo wall: SDL not available: %s", SDL_GetError());
            sdl_->failed = true;
        } else {
            sdl_->button = textureFrom(sdl_->renderer, rotateButtonPicture(), true);
        }
    }
    if (sdl_->failed) return;
    SDL_Renderer* r = sdl_->renderer;
    int W = 0, H = 0;
    if (SDL_GetRendererOutputSize(r, &W, &H) != 0 || W <= 0 || H <= 0) {
        W = surface_->width();
        H = surface_->height();
    }
    PhotoLayout layout;
    bool havePhoto = false;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        Shared& s = *shared_;
        s.windowWidth = W;
        s.windowHeight = H;
        std::shared_ptr<PhotoItem> item;
        if (s.current >= 0 && s.current < static_cast<int>(s.items.size())) item = s.items[s.current];
        if (item && !item->shown.isNull()) {
            if (item != sdl_->photoItem || item->version != sdl_->photoVersion) {
                if (sdl_->photo) SDL_DestroyTexture(sdl_->photo);
                sdl_->photo = textureFrom(r, item->shown, false);
                sdl_->photoItem = item;
                sdl_->photoVersion = item->version;
            }
            havePhoto = sdl_->photo != nullptr;
            layout = layoutPhoto(item->width, item->height, W, H, s.zoom, s.centerX, s.centerY);
        }
    }
    SDL_SetRenderDrawColor(r, 0, 0, 0, 255);
    SDL_RenderClear(r);
    if (havePhoto) {
        const SDL_Rect src{layout.source.x, layout.source.y, layout.source.w, layout.source.h};
        const SDL_Rect dst{layout.destination.x, layout.destination.y, layout.destination.w,
                           layout.destination.h};
        SDL_RenderCopy(r, sdl_->photo, &src, &dst);
    }
    if (sdl_->button) {
        const SDL_Rect where{8, H - 80, kRotateButtonSize, kRotateButtonSize};
        SDL_RenderCopy(r, sdl_->button, nullptr, &where);
    }
    SDL_RenderPresent(r);
}

}  // namespace photo
