// The spotlight: the screen darkened except a circle, square or band that the
// teacher moves from the phone or drags with the mouse, optionally showing
// the screen under it enlarged twice.
#pragma once

#include "tools/overlay_window.h"
#include "tools/spotlight_model.h"
#include "tools/tools_link.h"
#include "ui/main/hub_windows.h"

#include <QImage>

namespace tools {

class SpotlightWnd : public OverlayWindow, public ui::HubWindow {
public:
    explicit SpotlightWnd(ToolsLink link);
    ~SpotlightWnd() override;

    // Hub messages (UM_SPOT).
    bool isVisible() override { return QWidget::isVisible() || showPending(); }
    void showWindow() override { showSpot(); }
    void hideWindow() override { hideSpot(); }
    void handle(uint32_t message, int64_t wParam, int64_t lParam,
                std::unique_ptr<core::HeapBlock> block) override;

    void showSpot();
    void hideSpot();
    const SpotlightModel& model() const { return model_; }
    bool layered() const { return layered_; }

    static constexpr QRgb kShade = 0xFA000000;
    static constexpr QRgb kLit = 0x14FFFFFF;
    static constexpr QRgb kOutline = 0xFFFFFF00;
    static constexpr int kOutlineWidth = 16;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void showNow();
    void redraw();

    ToolsLink link_;
    SpotlightModel model_;
    QImage screenshot_;
    bool layered_ = true;
    bool dragging_ = false;
};

}  // namespace tools
