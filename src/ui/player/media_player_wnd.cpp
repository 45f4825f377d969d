#include "ui/player/media_player_wnd.h"

#include "core/window_messages.h"
#include "protocol/fields.h"
#include "protocol/message_names.h"
#include "support/logger.h"
#include "ui/player/video_static.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QWheelEvent>

namespace ui::player {

namespace field = protocol::field;

uint32_t virtualKeyOf(int key, quint32 nativeVirtualKey) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return uint32_t('A' + (key - Qt::Key_A));
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return uint32_t('0' + (key - Qt::Key_0));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return uint32_t(0x70 + (key - Qt::Key_F1));
    switch (key) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab: case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Return: case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Shift: return 0x10;
    case Qt::Key_Control: return 0x11;
    case Qt::Key_Alt: return 0x12;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Print: return 0x2C;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_Meta: return 0x5B;
    case Qt::Key_Menu: return 0x5D;
    case Qt::Key_Plus: return 0xBB;
    case Qt::Key_Comma: return 0xBC;
    case Qt::Key_Minus: return 0xBD;
    case Qt::Key_Period: return 0xBE;
    case Qt::Key_VolumeMute: return 0xAD;
    case Qt::Key_VolumeDown: return 0xAE;
    case Qt::Key_VolumeUp: return 0xAF;
    default: break;
    }
    (void)nativeVirtualKey;
    return 0;
}

MediaPlayerWnd::MediaPlayerWnd(PlayerWindowLink link) : link_(std::move(link)) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);
    setWindowTitle("Lumacro3 player");
    auto controllerTag = link_.controllerTag;
    picture_ = new CVideoStatic(this, [controllerTag] { return controllerTag && controllerTag() == "win_mira"; });
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        displayWidth_ = screen->geometry().width();
        displayHeight_ = screen->geometry().height();
    }
    media::PlayerLink engineLink;
    engineLink.broadcast = link_.broadcast;
    engineLink.controllerTag = link_.controllerTag;
    engineLink.useSoundDevice = link_.useSoundDevice;
    engine_ = std::make_unique<media::MediaPlayer>(*this, engineLink);
    positionTimer_.setInterval(500);
    connect(&positionTimer_, &QTimer::timeout, this, [this] {
        if (!engine_->isPlaying())
            positionTimer_.stop();
        else
            engine_->reportPosition();
    });
}

MediaPlayerWnd::~MediaPlayerWnd() {
    positionTimer_.stop();
    engine_.reset();  // joins the player's threads before the picture goes
}

void MediaPlayerWnd::hideWindow() { hide(); }

void MediaPlayerWnd::handle(uint32_t message, int64_t wParam, int64_t, std::unique_ptr<core::HeapBlock> block) {
    switch (message) {
    case core::UM_PLAY_URL:
        if (auto* text = dynamic_cast<core::TextBlock*>(block.get())) {
            if (engine_->openLocal(text->text)) positionTimer_.start();
        }
        break;
    case core::UM_MEDIA_OPEN:
        if (auto* file = dynamic_cast<core::MediaFileBlock*>(block.get())) {
            engine_->openRemote(file->name, file->size, file->socket);
            positionTimer_.start();
        }
        break;
    case core::UM_MEDIA_CLOSE:
        engine_->stop();
        break;
    case core::UM_MEDIA_PAUSE:
        engine_->setPaused(wParam != 0);
        break;
    case core::UM_MEDIA_SEEK:
        if (auto* position = dynamic_cast<core::PositionBlock*>(block.get())) {
            if (!engine_->seekTo(position->position))
                LOGOUT("seek to %lld ignored", static_cast<long long>(position->position));
        }
        break;
    default:
        break;
    }
}

bool MediaPlayerWnd::openLiveView(int width, int height, int codecId, int pixelFormat) {
    return engine_->openLive(pixelFormat & 1, width, height, codecId & 3);
}

void MediaPlayerWnd::showFrame(int width, int height, const uint8_t* pixels) {
    picture_->showFrame(width, height, pixels);
}

void MediaPlayerWnd::clearFrame() { picture_->clearFrame(); }

int64_t MediaPlayerWnd::presentDelayUs() { return picture_->presentDelayUs(); }

void MediaPlayerWnd::showFullScreen() {
    if (QWidget::isVisible()) return;
    lastMouse_ = QPoint(0, 0);
    QRect area(0, 0, 1920, 1080);
    if (QScreen* screen = QGuiApplication::primaryScreen()) area = screen->geometry();
    displayWidth_ = area.width();
    displayHeight_ = area.height();
    picture_->setGeometry(0, 0, area.width(), area.height());
    setGeometry(area);
    show();
    raise();
    activateWindow();
}

media::Size MediaPlayerWnd::displaySize() { return {displayWidth_, displayHeight_}; }

void MediaPlayerWnd::runOnUi(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

// Input is forwarded while a picture plays.
bool MediaPlayerWnd::forwardsInput() { return engine_->isPlaying() && engine_->hasVideo(); }

void MediaPlayerWnd::sendPointer(int event, QPoint client, int64_t delta) {
    if (!link_.broadcast || !rect().contains(client)) return;
    const media::Size picture = media::pointerPictureSize(engine_->videoSize(), {width(), height()});
    if (picture.width <= 0 || picture.height <= 0) return;
    Json::Value m(Json::objectValue);
    m[field::type] = 0;
    m[field::event] = event;
    m[field::x] = double(client.x()) / picture.width;
    m[field::y] = double(client.y()) / picture.height;
    m[field::mouseDelta] = static_cast<Json::Int64>(delta);
    link_.broadcast(protocol::kMouseEvent, m);
}

void MediaPlayerWnd::sendKey(QKeyEvent* event, int action) {
    if (!forwardsInput() || !link_.broadcast) return;
    const uint32_t vk = virtualKeyOf(event->key(), event->nativeVirtualKey());
    if (vk == 0) return;
    Json::Value m(Json::objectValue);
    m[field::type] = 1;
    m[field::event] = action;
    m[field::vk] = Json::UInt(vk);
    link_.broadcast(protocol::kMouseEvent, m);
}

void MediaPlayerWnd::keyPressEvent(QKeyEvent* event) { sendKey(event, 0); }

void MediaPlayerWnd::keyReleaseEvent(QKeyEvent* event) {
    if (!event->isAutoRepeat()) sendKey(event, 2);
}

void MediaPlayerWnd::mouseMoveEvent(QMouseEvent* event) {
    const QPoint screen = event->globalPosition().toPoint();
    if (annotating_ && forwardsAnnotation()) link_.annotate(screen.x(), screen.y(), false, false);
    if (!forwardsInput()) return;
    if (screen == lastMouse_) return;
    lastMouse_ = screen;
    sendPointer(0x8001, event->position().toPoint());
}

void MediaPlayerWnd::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && forwardsAnnotation()) {
        annotating_ = true;
        const QPoint screen = event->globalPosition().toPoint();
        link_.annotate(screen.x(), screen.y(), true, false);
    }
    if (!forwardsInput()) return;
    if (event->button() == Qt::LeftButton) sendPointer(0x8002, event->position().toPoint());
    if (event->button() == Qt::RightButton) sendPointer(0x8008, event->position().toPoint());
}

void MediaPlayerWnd::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!forwardsInput() || event->button() != Qt::LeftButton) return;
    sendPointer(0x8002, event->position().toPoint());
    const int64_t window = link_.classroomWindow ? link_.classroomWindow() : 0;
    if (window != 0 && link_.postToWindow) link_.postToWindow(window, kClassroomPlayMessage);
}

void MediaPlayerWnd::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        if (forwardsAnnotation()) {
            const QPoint screen = event->globalPosition().toPoint();
            link_.annotate(screen.x(), screen.y(), false, true);
        }
        annotating_ = false;
    }
    if (!forwardsInput()) return;
    const QPoint client = event->position().toPoint();
    if (event->button() == Qt::RightButton) sendPointer(0x8010, client);
    if (event->button() != Qt::LeftButton) return;
    const bool close = media::inCloseSquare(client.x(), client.y(), width());
    sendPointer(0x8004, client);
    if (close) closeSquareReleased();
}

void MediaPlayerWnd::closeSquareReleased() {
    const int64_t window = link_.classroomWindow ? link_.classroomWindow() : 0;
    if (window != 0 && link_.postToWindow) link_.postToWindow(window, kClassroomPlayMessage);
    if (link_.broadcast) link_.broadcast(protocol::MsgForceStopAllMedia, Json::Value(Json::objectValue));
    runOnUi([this] { engine_->stop(); });
}

void MediaPlayerWnd::wheelEvent(QWheelEvent* event) {
    if (!forwardsInput()) return;
    const int dx = event->angleDelta().x();
    if (dx == 0) return;
    // The horizontal wheel's first message parameter: the delta in the high
    // word, the button and modifier state in the low word.
    uint32_t keys = 0;
    if (event->buttons() & Qt::LeftButton) keys |= 0x1;
    if (event->buttons() & Qt::RightButton) keys |= 0x2;
    if (event->modifiers() & Qt::ShiftModifier) keys |= 0x4;
    if (event->modifiers() & Qt::ControlModifier) keys |= 0x8;
    if (event->buttons() & Qt::MiddleButton) keys |= 0x10;
    const uint32_t wParam = (uint32_t(uint16_t(int16_t(dx))) << 16) | keys;
    sendPointer(0x8800, event->position().toPoint(), int64_t(wParam));
}

}  // namespace ui::player
