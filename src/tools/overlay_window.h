// Base of the full-screen classroom overlays: a frameless window over the
// primary screen, kept above every other window and out of the taskbar.
#pragma once

#include <QTimer>
#include <QWidget>

#include <functional>

namespace tools {

// Brings the screen up to date before a screenshot: an overlay hidden just
// before leaves its pixels in the windows under it until they repaint, so
// the program's own windows are repainted now and the X server is waited for.
void settleDesktop();

class OverlayWindow : public QWidget {
public:
    // `translucent`: the window gets an alpha channel (shown as per-pixel
    // alpha when a compositing manager runs).
    explicit OverlayWindow(bool translucent);

    // Re-asserting the stacking order, in milliseconds.
    static constexpr int kKeepOnTopMs = 2500;

    // Time the windows under an overlay that has just gone get to repaint
    // before the next overlay takes its screenshot, in milliseconds.
    static constexpr int kRepaintGraceMs = 80;

    // How often the window is raised again (tests shorten it).
    void setKeepOnTopInterval(int ms) { topTimer_.setInterval(ms); }

    // A show put off until the screen has repainted counts as shown.
    bool showPending() const { return pendingShow_; }

protected:
    // When an overlay went away a moment ago, the screen may still hold its
    // pixels: runs `show` a little later and returns true. Otherwise false
    // (the caller shows now).
    bool deferShow(std::function<void()> show);
    // Drops a show that was put off (hidden before it happened).
    void cancelPendingShow();
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
    bool pendingShow_ = false;
    int showGeneration_ = 0;
};

}  // namespace tools
