// Base of the full-screen classroom overlays: a frameless window over the
// primary screen, kept above every other window and out of the taskbar.
#pragma once

#include <QTimer>
#include <QWidget>

namespace tools {

class OverlayWindow : public QWidget {
public:
    // `translucent`: the window gets an alpha channel (shown as per-pixel
    // alpha when a compositing manager runs).
    explicit OverlayWindow(bool translucent);

    // Re-asserting the stacking order, in milliseconds.
    static constexpr int kKeepOnTopMs = 2500;

protected:
    // Covers the primary screen, raises the window and keeps it on top.
    void cover();
    // Hides the window and stops keeping it on top.
    void uncover();
    QRect screenRect() const;

private:
    void applyFlags();
    void keepOnTop();

    QTimer topTimer_;
    bool bypassWm_ = false;
    bool flagsSet_ = false;
};

}  // namespace tools
