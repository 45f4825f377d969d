#include "tools/tool_window.h"

#include <QMouseEvent>

namespace tools {

ToolWindow::ToolWindow(bool translucent, ToolsLink link)
    : OverlayWindow(translucent), link_(std::move(link)) {}

void ToolWindow::showOnce(const std::function<void()>& showNow) {
    if (QWidget::isVisible() || showPending()) return;
    // Its screenshot must not show the overlay it replaces.
    if (!deferShow(showNow)) showNow();
}

bool ToolWindow::beginHide() {
    if (showPending()) {
        cancelPendingShow();
        return false;
    }
    return QWidget::isVisible();
}

void ToolWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    dragging_ = true;
    dragBegin(event->position().toPoint());
}

void ToolWindow::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) dragTo(event->position().toPoint());
}

void ToolWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    dragging_ = false;
    dragEnd(event->position().toPoint());
}

}  // namespace tools
