#include "tools/spotlight_wnd.h"

#include "core/overlay_flags.h"
#include "core/window_messages.h"
#include "protocol/message_names.h"
#include "support/language.h"
#include "support/logger.h"
#include "tools/x11_desktop.h"

#include <QMouseEvent>
#include <QPainter>

namespace tools {

SpotlightWnd::SpotlightWnd(ToolsLink link) : ToolWindow(true, std::move(link)) {
    setWindowTitle(QString::fromStdString(support::translate("聚光灯", "SpotlightWnd")));
    setCursor(Qt::BlankCursor);
}

SpotlightWnd::~SpotlightWnd() {
    if (QWidget::isVisible()) link_.flags().spotlightActive = false;
}

void SpotlightWnd::handle(uint32_t message, int64_t wParam, int64_t lParam,
                          std::unique_ptr<core::HeapBlock>) {
    if (message != core::UM_SPOT) return;
    switch (wParam) {
    case 0: hideSpot(); break;
    case 1: showSpot(); break;
    case 2:
        if (!QWidget::isVisible()) break;
        model_.magnify = !model_.magnify;
        redraw();
        break;
    case 3:
        if (!QWidget::isVisible()) break;
        model_.nextShape();
        redraw();
        break;
    case 4:
        if (!QWidget::isVisible()) break;
        model_.resize(lParam != 0);
        redraw();
        break;
    case 5:
        // Moves only come while the spotlight is shown; one that overtook
        // the hide has nothing to move.
        if (QWidget::isVisible() && model_.movePacked(lParam)) redraw();
        break;
    default: LOGOUT("spotlight: unknown command %lld", static_cast<long long>(wParam)); break;
    }
}

void SpotlightWnd::showSpot() {
    showOnce([this] { showNow(); });
}

void SpotlightWnd::showNow() {
    const QRect screen = screenRect();
    layered_ = compositorRunning();
    screenshot_ = (settleDesktop(), link_.takeScreenshot());
    if (!screenshot_.isNull() && screenshot_.size() != screen.size())
        screenshot_ = screenshot_.scaled(screen.size());
    model_.start(screen.width(), screen.height());
    cover();
    redraw();
    link_.flags().spotlightActive = true;
    // After the flag: the phone's next moves must already steer the light.
    link_.sendState(protocol::MsgSpotState, true);
}

void SpotlightWnd::hideSpot() {
    if (!beginHide()) return;
    uncover();
    stopDrag();
    link_.flags().spotlightActive = false;
    screenshot_ = QImage();
    link_.sendState(protocol::MsgSpotState, false);
}

void SpotlightWnd::redraw() { update(); }

void SpotlightWnd::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    // Without a compositing manager the window cannot be see-through: it
    // shows the screen as it was at show time under the shade instead.
    if (layered_ || screenshot_.isNull())
        p.fillRect(rect(), Qt::transparent);
    else
        p.drawImage(0, 0, screenshot_);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);

    const QPainterPath lit = model_.litArea();
    QPainterPath outside;
    outside.addRect(rect());
    p.fillPath(outside.subtracted(lit), QColor::fromRgba(kShade));
    if (model_.magnify && !screenshot_.isNull()) {
        p.save();
        p.setClipPath(lit);
        p.setRenderHint(QPainter::SmoothPixmapTransform, true);
        p.drawImage(model_.magnifyTarget(), screenshot_, model_.magnifySource());
        p.restore();
    } else {
        p.fillPath(lit, QColor::fromRgba(kLit));
    }
    p.setPen(QPen(QColor::fromRgba(kOutline), kOutlineWidth));
    p.setBrush(Qt::NoBrush);
    p.drawPath(lit);
}

void SpotlightWnd::dragTo(QPoint at) {
    model_.moveTo(at);
    redraw();
}

}  // namespace tools
