#include "tools/magnifier_wnd.h"

#include "core/overlay_flags.h"
#include "protocol/message_names.h"
#include "support/language.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace tools {

MagniferWnd::MagniferWnd(ToolsLink link) : ToolWindow(false, std::move(link)) {
    setWindowTitle(QString::fromStdString(support::translate("放大镜", "MagniferWnd")));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::BlankCursor);
    setFocusPolicy(Qt::StrongFocus);
}

MagniferWnd::~MagniferWnd() {
    if (shown_) link_.flags().magnifierActive = false;
}

void MagniferWnd::showGlass() {
    showOnce([this] { showNow(); });
}

void MagniferWnd::showNow() {
    const QRect screen = screenRect();
    screenshot_ = (settleDesktop(), link_.takeScreenshot());
    if (screenshot_.isNull()) {
        screenshot_ = QImage(screen.size(), QImage::Format_RGB32);
        screenshot_.fill(Qt::black);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        width_ = screen.width();
        height_ = screen.height();
        viewX_ = width_ / 2;
        viewY_ = height_ / 2;
        clampView();
    }
    cover();
    shown_ = true;
    link_.flags().magnifierActive = true;
    // After the flag: the phone's next moves must already steer the glass.
    link_.sendState(protocol::MsgGlassState, true);
}

void MagniferWnd::hideGlass() {
    if (!beginHide()) return;
    shown_ = false;
    uncover();
    stopDrag();
    link_.flags().magnifierActive = false;
    link_.flags().annotationForwarding = false;
    screenshot_ = QImage();
    link_.sendState(protocol::MsgGlassState, false);
}

float MagniferWnd::factor() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return factor_;
}

QPoint MagniferWnd::view() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {viewX_, viewY_};
}

void MagniferWnd::clampView() {
    if (width_ <= 0 || height_ <= 0) return;
    const int halfW = static_cast<int>(width_ / factor_) / 2;
    const int halfH = static_cast<int>(height_ / factor_) / 2;
    viewX_ = std::clamp(viewX_, halfW, std::max(halfW, width_ - halfW));
    viewY_ = std::clamp(viewY_, halfH, std::max(halfH, height_ - halfH));
}

void MagniferWnd::zoom(float delta) {
    if (!shown_) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        factor_ = std::clamp(factor_ + delta, kMinFactor, kMaxFactor);
        clampView();
    }
    QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection);
}

void MagniferWnd::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (screenshot_.isNull()) return;
    float f;
    int vx, vy;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        f = factor_;
        vx = viewX_;
        vy = viewY_;
    }
    const int sw = static_cast<int>(width() / f);
    const int sh = static_cast<int>(height() / f);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.drawImage(rect(), screenshot_, QRect(vx - sw / 2, vy - sh / 2, sw, sh));
}

void MagniferWnd::dragBegin(QPoint at) {
    dragStart_ = at;
    savedView_ = view();
}

void MagniferWnd::dragTo(QPoint at) {
    {
        // The picture follows the hand.
        std::lock_guard<std::mutex> lock(mutex_);
        viewX_ = static_cast<int>((dragStart_.x() - at.x()) / factor_ + savedView_.x());
        viewY_ = static_cast<int>((dragStart_.y() - at.y()) / factor_ + savedView_.y());
        clampView();
    }
    update();
}

}  // namespace tools
