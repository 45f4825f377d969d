// The magnifier: a picture of the screen taken when it opens, shown two to
// four times enlarged; the teacher pans it with the mouse and zooms it with
// the phone's zoom keys.
#pragma once

#include "core/features.h"
#include "tools/tool_window.h"

#include <QImage>

#include <atomic>
#include <mutex>

namespace tools {

class MagniferWnd : public ToolWindow, public core::Magnifier {
public:
    explicit MagniferWnd(ToolsLink link);
    ~MagniferWnd() override;

    // Hub (UM_GLASS: the hub calls show or hide).
    void showWindow() override { showGlass(); }
    void hideWindow() override { hideGlass(); }
    void handle(uint32_t, int64_t wParam, int64_t, std::unique_ptr<core::HeapBlock>) override {
        wParam ? showGlass() : hideGlass();
    }

    void showGlass();
    void hideGlass();
    // Zoom keys, from the session's receive thread: changes the factor and
    // the view, then asks the UI thread to repaint. Nothing while hidden.
    void zoom(float delta) override;

    float factor() const;
    QPoint view() const;

    static constexpr float kMinFactor = 2.0f;
    static constexpr float kMaxFactor = 4.0f;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Dragging pans the picture.
    void dragBegin(QPoint at) override;
    void dragTo(QPoint at) override;

private:
    void showNow();
    void clampView();  // with mutex_ held

    QImage screenshot_;
    std::atomic<bool> shown_{false};
    mutable std::mutex mutex_;  // factor, view and size, shared with zoom()
    float factor_ = kMinFactor;
    int viewX_ = 0, viewY_ = 0;
    int width_ = 0, height_ = 0;
    QPoint dragStart_;
    QPoint savedView_;
};

}  // namespace tools
