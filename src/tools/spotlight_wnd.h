// The spotlight: the screen darkened except a circle, square or band that the
// teacher moves from the phone or drags with the mouse, optionally showing
// the screen under it enlarged twice.
#pragma once

#include "tools/spotlight_model.h"
#include "tools/tool_window.h"

#include <QImage>

namespace tools {

class SpotlightWnd : public ToolWindow {
public:
    explicit SpotlightWnd(ToolsLink link);
    ~SpotlightWnd() override;

    // Hub messages (UM_SPOT).
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
    // The lit area follows the mouse while the left button is down.
    void dragBegin(QPoint at) override { model_.moveTo(at); }
    void dragTo(QPoint at) override;
    void dragEnd(QPoint at) override { dragTo(at); }

private:
    void showNow();
    void redraw();

    SpotlightModel model_;
    QImage screenshot_;
    bool layered_ = true;
};

}  // namespace tools
