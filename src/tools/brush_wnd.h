// The annotation overlay: freehand ink over the whole primary screen from the
// PC's mouse and touch screen, from the phone's pointer (forwarded by the
// input handlers) and erase paths from the phone.
#pragma once

#include "core/pointer_forward.h"
#include "tools/ink_canvas.h"
#include "tools/tool_window.h"

#include <QTimer>

class QTouchEvent;

namespace tools {

class BrushWnd : public ToolWindow {
public:
    explicit BrushWnd(ToolsLink link);
    ~BrushWnd() override;

    // Hub messages (UM_BRUSH).
    void showWindow() override { showOverlay(); }
    void hideWindow() override { hideOverlay(); }
    void handle(uint32_t message, int64_t wParam, int64_t lParam,
                std::unique_ptr<core::HeapBlock> block) override;

    void showOverlay();
    void hideOverlay();
    void setColor(int64_t color);
    void setSize(int64_t size);
    void clearInk();
    void forwardedPointer(const core::ForwardedPointer& pointer);
    void erasePath(const core::StrokeBlock& block);
    bool undo();
    bool redo();

    QRgb penColor() const { return current_.color; }
    int penWidth() const { return current_.width; }
    bool layered() const { return layered_; }
    const InkCanvas& canvas() const { return canvas_; }
    QRect closeButtonRect() const;

    // Pen width limits of the stored setting.
    static constexpr int kMinWidth = 1;
    static constexpr int kMaxWidth = 64;
    // Forwarded moves are drawn on screen at most this often.
    static constexpr int kForwardPresentMs = 60;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Mouse ink; moves are taken straight from the event, since a stroke
    // begun by the phone's pointer also follows them.
    void dragBegin(QPoint at) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnd(QPoint at) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    void showNow(bool layered);
    QPoint fromScreenPixels(int x, int y) const;
    void present(const QRect& area = QRect());
    void presentTail();
    void beginStroke(QPoint at);
    void addPoint(QPoint at);
    void commitCurrent();
    void resetTransient();
    void fadeTick();
    void sendPoint(QPoint at, bool start, bool fin);
    void sendTap(QPoint at);
    void touch(QTouchEvent* event);

    InkCanvas canvas_;
    QImage closeButton_;
    Stroke current_;
    int nextId_ = 0;
    bool pressing_ = false;
    bool touchActive_ = false;
    int touchId_ = -1;
    QPoint downPoint_;
    int64_t lastPresent_ = 0;
    int fadeAngle_ = 0;
    bool layered_ = true;
    QTimer fadeTimer_;
    QTimer touchTimer_;
    QTimer presentTimer_;
};

}  // namespace tools
