#include "tools/brush_wnd.h"

#include "core/overlay_flags.h"
#include "core/round_delta.h"
#include "core/settings.h"
#include "core/window_messages.h"
#include "protocol/fields.h"
#include "protocol/message_names.h"
#include "support/language.h"
#include "support/logger.h"
#include "tools/close_button_art.h"
#include "tools/x11_desktop.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QTouchEvent>

#include <algorithm>
#include <cmath>

namespace tools {

namespace f = protocol::field;

namespace {

constexpr char kBrushSize[] = "BRUSH_SIZE";
constexpr int kDefaultBrushSize = 5;
constexpr int kFadeTickMs = 16;
constexpr int kTouchQuietMs = 200;
constexpr int kTapDistance = 8;
constexpr int kTapGapMs = 20;

// Win32 mouse flags the mirroring client replays: absolute move, absolute
// left down, absolute left up.
constexpr int kTapEvents[] = {32769, 32770, 32772};

QRgb opaque(QRgb color) { return color | 0xFF000000u; }

}  // namespace

BrushWnd::BrushWnd(ToolsLink link) : ToolWindow(true, std::move(link)) {
    setWindowTitle(QString::fromStdString(support::translate("批注", "BrushWnd")));
    setAttribute(Qt::WA_AcceptTouchEvents);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    closeButton_ = closeButtonPicture();
    current_.color = 0xFFFF0000;
    current_.width = kDefaultBrushSize;
    if (link_.settings)
        current_.width = static_cast<int>(
            link_.settings->getInt(core::setting::SET, kBrushSize, kDefaultBrushSize));
    fadeTimer_.setInterval(kFadeTickMs);
    connect(&fadeTimer_, &QTimer::timeout, this, [this] { fadeTick(); });
    touchTimer_.setInterval(kTouchQuietMs);
    touchTimer_.setSingleShot(true);
    connect(&touchTimer_, &QTimer::timeout, this, [this] { touchActive_ = false; });
    presentTimer_.setSingleShot(true);
    connect(&presentTimer_, &QTimer::timeout, this, [this] {
        lastPresent_ = link_.now();
        presentTail();
    });
}

BrushWnd::~BrushWnd() {
    if (QWidget::isVisible()) link_.flags().annotationForwarding = false;
}

void BrushWnd::handle(uint32_t message, int64_t wParam, int64_t lParam,
                      std::unique_ptr<core::HeapBlock> block) {
    if (message != core::UM_BRUSH) return;
    switch (wParam) {
    case 0: hideOverlay(); break;
    case 1: showOverlay(); break;
    case 2: setColor(lParam); break;
    case 3: clearInk(); break;
    case 4: forwardedPointer(link_.forwarded->record); break;
    case 5:
        if (auto* stroke = dynamic_cast<core::StrokeBlock*>(block.get())) erasePath(*stroke);
        break;
    case 6: setSize(lParam); break;
    default: LOGOUT("annotation: unknown command %lld", static_cast<long long>(wParam)); break;
    }
}

QRect BrushWnd::closeButtonRect() const {
    const QRect screen = QWidget::isVisible() ? rect() : QRect(QPoint(0, 0), screenRect().size());
    return QRect(screen.width() - closeButton_.width() - 2, 2, closeButton_.width(),
                 closeButton_.height());
}

void BrushWnd::showOverlay() {
    if (showPending()) return;
    // Per-pixel alpha needs a compositing manager; on very wide screens, and
    // without one, the ink goes over a picture of the screen taken now,
    // which must not show the overlay this one replaces.
    const bool layered = compositorRunning() && screenRect().width() <= 2048;
    if (!layered && deferShow([this, layered] { showNow(layered); })) return;
    showNow(layered);
}

void BrushWnd::showNow(bool layered) {
    const QSize size = screenRect().size();
    layered_ = layered;
    QImage frozen;
    if (!layered_) {
        frozen = (settleDesktop(), link_.takeScreenshot());
        if (frozen.isNull()) LOGOUT("annotation: no screenshot, drawing over black");
        if (frozen.isNull()) frozen = QImage(size, QImage::Format_RGB32), frozen.fill(Qt::black);
    }
    canvas_.setCloseButton(closeButton_, closeButtonRect().topLeft());
    canvas_.setCloseButtonShown(!link_.mirroring());
    canvas_.reset(size, frozen);
    current_.points.clear();
    pressing_ = false;
    presentTimer_.stop();
    cover();
    update();
    int width = kDefaultBrushSize;
    if (link_.settings)
        width = static_cast<int>(std::clamp<int64_t>(
            link_.settings->getInt(core::setting::SET, kBrushSize, kDefaultBrushSize), kMinWidth,
            kMaxWidth));
    current_.width = width;
    link_.flags().annotationForwarding = true;
    resetTransient();
    // Last: the phone draws as soon as it hears of the overlay, and its first
    // pen-down must already be forwarded here.
    link_.sendState(protocol::MsgBrushState, true);
}

void BrushWnd::hideOverlay() {
    if (!beginHide()) return;
    uncover();
    presentTimer_.stop();
    pressing_ = false;
    link_.flags().annotationForwarding = false;
    link_.flags().remoteButtonHeld = false;
    resetTransient();
    link_.sendState(protocol::MsgBrushState, false);
}

void BrushWnd::resetTransient() {
    fadeTimer_.stop();
    touchTimer_.stop();
    fadeAngle_ = 0;
    current_.color = opaque(current_.color);
    touchActive_ = false;
}

void BrushWnd::setColor(int64_t color) {
    const uint32_t c = static_cast<uint32_t>(color);
    if (link_.mirroring())
        current_.color = 0xFF000000u | (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
    else
        current_.color = 0xFF000000u | (c & 0x00FFFFFF);
}

void BrushWnd::setSize(int64_t size) {
    const int height = screenRect().height();
    const int controllerHeight = link_.controllerHeight ? link_.controllerHeight() : 0;
    int64_t width = size;
    if (link_.mirroring() && controllerHeight > 0) {
        width = std::max<int64_t>(1, size * height / controllerHeight);
    } else if (link_.settings) {
        link_.settings->setInt(core::setting::SET, kBrushSize, size);
    }
    // A phone may ask for any size; a pen wider than the screen or of no
    // width at all draws nothing useful.
    current_.width = static_cast<int>(std::clamp<int64_t>(width, kMinWidth, std::max(height, 1)));
}

void BrushWnd::clearInk() {
    current_.points.clear();
    canvas_.setCloseButtonShown(!link_.mirroring());
    canvas_.clear();
    present();
}

void BrushWnd::present(const QRect& area) {
    if (!QWidget::isVisible()) return;
    if (area.isNull())
        update();
    else
        update(area);
}

// Redraws the end of the current stroke, where the last points changed it.
void BrushWnd::presentTail() {
    const size_t n = current_.points.size();
    Stroke tail = current_;
    if (n > 4) tail.points.assign(current_.points.end() - 4, current_.points.end());
    present(strokeBounds(tail));
}

void BrushWnd::beginStroke(QPoint at) {
    current_.id = ++nextId_;
    current_.points.clear();
    current_.points.push_back(at);
}

void BrushWnd::addPoint(QPoint at) { current_.points.push_back(at); }

void BrushWnd::commitCurrent() {
    canvas_.commit(current_);
    const QRect area = strokeBounds(current_);
    current_.points.clear();
    present(area);
}

// The phone's points are in the screen's pixels; the window draws in Qt's
// device-independent pixels, which differ on a scaled desktop.
QPoint BrushWnd::fromScreenPixels(int x, int y) const {
    const qreal ratio = devicePixelRatioF();
    if (ratio <= 0 || ratio == 1.0) return {x, y};
    return {qRound(x / ratio), qRound(y / ratio)};
}

void BrushWnd::forwardedPointer(const core::ForwardedPointer& pointer) {
    if (!QWidget::isVisible()) return;
    const QPoint at = fromScreenPixels(pointer.x, pointer.y);
    if (pointer.isDown) {
        fadeTimer_.stop();
        current_.color = opaque(current_.color);
        beginStroke(at);
        presentTail();
        pressing_ = true;
        lastPresent_ = link_.now();
    } else if (pointer.isUp) {
        presentTimer_.stop();
        addPoint(at);
        commitCurrent();
        pressing_ = false;
    } else if (pressing_) {
        addPoint(at);
        const int64_t now = link_.now();
        const int64_t since = now - lastPresent_;
        if (since > kForwardPresentMs) {
            presentTimer_.stop();
            presentTail();
            lastPresent_ = now;
        } else if (!presentTimer_.isActive()) {
            // The last points of a pause still reach the screen.
            presentTimer_.start(static_cast<int>(kForwardPresentMs - since + 1));
        }
    }
}

void BrushWnd::erasePath(const core::StrokeBlock& block) {
    const size_t count = block.points.size() / 2;
    if (count == 0) return;
    std::vector<QPoint> path;
    path.reserve(count);
    for (size_t i = 0; i < count; ++i)
        path.push_back(fromScreenPixels(core::roundDelta(static_cast<float>(block.points[2 * i])),
                                        core::roundDelta(static_cast<float>(block.points[2 * i + 1]))));
    const double width = std::clamp(2.0 * block.pointRadius, 0.0, 4096.0);
    canvas_.setCloseButtonShown(!link_.mirroring());
    canvas_.erase(path, static_cast<int>(width));
    Stroke area{0, path, 0, static_cast<int>(width)};
    present(strokeBounds(area).united(closeButtonRect()));
}

bool BrushWnd::undo() {
    if (pressing_ || !canvas_.undo()) return false;
    present();
    return true;
}

bool BrushWnd::redo() {
    if (pressing_ || !canvas_.redo()) return false;
    present();
    return true;
}

void BrushWnd::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const Stroke* current = current_.points.size() >= 2 ? &current_ : nullptr;
    for (const QRect& area : event->region()) canvas_.compose(painter, area, current);
}

void BrushWnd::sendPoint(QPoint at, bool start, bool fin) {
    Json::Value body(Json::objectValue);
    body[f::x] = width() > 0 ? static_cast<double>(at.x()) / width() : 0.0;
    body[f::y] = height() > 0 ? static_cast<double>(at.y()) / height() : 0.0;
    body[f::start] = start;
    body[f::fin] = fin;
    link_.send(protocol::kAddPoint, body);
}

void BrushWnd::sendTap(QPoint at) {
    auto click = [this, at](int event) {
        Json::Value body(Json::objectValue);
        body[f::type] = 0;
        body[f::x] = width() > 0 ? static_cast<double>(at.x()) / width() : 0.0;
        body[f::y] = height() > 0 ? static_cast<double>(at.y()) / height() : 0.0;
        body[f::mouseDelta] = 0;
        body[f::event] = event;
        link_.send(protocol::kMouseEvent, body);
    };
    // The client replays them as one click: a short gap between the steps,
    // without holding up the UI thread.
    click(kTapEvents[0]);
    QTimer::singleShot(kTapGapMs, this, [click] { click(kTapEvents[1]); });
    QTimer::singleShot(2 * kTapGapMs, this, [click] { click(kTapEvents[2]); });
}

void BrushWnd::dragBegin(QPoint at) {
    const bool mirroring = link_.mirroring();
    if (!link_.flags().remoteButtonHeld.load()) {
        pressing_ = true;
        if (!touchActive_) {
            beginStroke(at);
            if (mirroring) {
                fadeTimer_.stop();
                fadeAngle_ = 0;
                sendPoint(at, true, false);
                current_.color = opaque(current_.color);
            }
            presentTail();
        }
    }
    downPoint_ = at;
}

void BrushWnd::mouseMoveEvent(QMouseEvent* event) {
    if (link_.flags().remoteButtonHeld.load()) return;
    if (!pressing_ || touchActive_) return;
    const QPoint at = event->position().toPoint();
    addPoint(at);
    presentTail();
    if (link_.mirroring()) sendPoint(at, false, false);
}

void BrushWnd::dragEnd(QPoint at) {
    const bool mirroring = link_.mirroring();
    if (!link_.flags().remoteButtonHeld.load()) {
        pressing_ = false;
        if (!touchActive_) addPoint(at);
        if (mirroring) {
            fadeTimer_.start();
            if (!touchActive_) sendPoint(at, false, true);
            const QPoint d = at - downPoint_;
            if (std::hypot(d.x(), d.y()) < kTapDistance) sendTap(at);
            presentTail();
        } else if (!touchActive_) {
            commitCurrent();
        }
    }
    // A press on the close button closes, wherever the button is released.
    if (closeButtonRect().contains(downPoint_)) {
        hideOverlay();
        if (mirroring) link_.send(protocol::kCloseBrush, Json::Value());
    }
}

void BrushWnd::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier);
    if (event->key() == Qt::Key_Z && (mods & Qt::ControlModifier)) {
        if (mods & Qt::ShiftModifier)
            redo();
        else
            undo();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void BrushWnd::fadeTick() {
    if (fadeAngle_ < 90) {
        const int alpha = static_cast<int>(std::cos(fadeAngle_ * 3.1415926 / 180) * 255);
        current_.color = (current_.color & 0x00FFFFFFu) | (static_cast<QRgb>(alpha) << 24);
        fadeAngle_ += 2;
    } else {
        fadeTimer_.stop();
        fadeAngle_ = 0;
        present(strokeBounds(current_));
        current_.points.clear();
        current_.color = opaque(current_.color);  // the next stroke starts solid
        return;
    }
    present(strokeBounds(current_));
}

bool BrushWnd::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
        touch(static_cast<QTouchEvent*>(event));
        event->accept();
        return true;
    default:
        return OverlayWindow::event(event);
    }
}

// Only the first finger on the screen draws; the others are ignored.
void BrushWnd::touch(QTouchEvent* event) {
    for (const QEventPoint& point : event->points()) {
        const QPoint at = point.position().toPoint();
        if (point.state() == QEventPoint::Pressed && touchId_ < 0) {
            touchId_ = point.id();
            sendPoint(at, true, false);
            fadeTimer_.stop();
            touchTimer_.stop();
            touchActive_ = true;
            beginStroke(at);
            current_.color = opaque(current_.color);
            presentTail();
            pressing_ = true;
        } else if (point.id() != touchId_) {
            continue;
        } else if (point.state() == QEventPoint::Released ||
                   event->type() == QEvent::TouchCancel) {
            touchId_ = -1;
            sendPoint(at, false, true);
            addPoint(at);
            pressing_ = false;
            if (link_.mirroring()) {
                fadeTimer_.start();
                presentTail();
            } else {
                commitCurrent();
            }
            touchTimer_.start();
        } else if (point.state() == QEventPoint::Updated) {
            sendPoint(at, false, false);
            addPoint(at);
            presentTail();
        }
    }
    if (event->type() == QEvent::TouchCancel) touchId_ = -1;
}

}  // namespace tools
