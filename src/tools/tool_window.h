// Base of the classroom overlays the hub shows and hides (annotation,
// spotlight, magnifier): the overlay window, the hub interface and the link
// to the rest of the program, plus left-button drag tracking for the
// overlays that move something with the mouse.
#pragma once

#include "tools/overlay_window.h"
#include "tools/tools_link.h"
#include "ui/main/hub_windows.h"

#include <functional>

namespace tools {

class ToolWindow : public OverlayWindow, public ui::HubWindow {
public:
    // A show put off until the screen has repainted counts as shown.
    bool isVisible() override { return QWidget::isVisible() || showPending(); }

protected:
    ToolWindow(bool translucent, ToolsLink link);

    // Shows through `showNow` unless shown or about to be; a show is put
    // off while the screen may still hold an overlay that just went.
    void showOnce(const std::function<void()>& showNow);
    // True when the caller goes on to hide a shown window; a show still
    // pending is dropped instead (false).
    bool beginHide();

    // Left-button drags in window coordinates. The end comes with every
    // left release, with or without a press seen before it.
    virtual void dragBegin(QPoint) {}
    virtual void dragTo(QPoint) {}
    virtual void dragEnd(QPoint) {}
    void stopDrag() { dragging_ = false; }

    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

    ToolsLink link_;

private:
    bool dragging_ = false;
};

}  // namespace tools
