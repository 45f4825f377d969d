#include "tools/black_screen.h"

#include "protocol/message_names.h"
#include "support/language.h"

#include <QPainter>

namespace tools {

BlackWnd::BlackWnd() : OverlayWindow(false) {
    setWindowTitle(QString::fromStdString(support::translate("黑屏", "BlackWnd")));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void BlackWnd::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
}

BlackScreen::BlackScreen(ToolsLink link) : link_(std::move(link)) {}

BlackScreen::~BlackScreen() = default;

void BlackScreen::run(int64_t action) {
    if (action)
        showWindow();
    else
        hideWindow();
}

void BlackScreen::showWindow() {
    if (!window_) window_ = std::make_unique<BlackWnd>();
    // Every show covers the screen as it is now (the resolution may have
    // changed since the last one).
    window_->showBlack();
    link_.sendState(protocol::MsgScreenState, true);
}

void BlackScreen::hideWindow() {
    if (!window_) return;
    window_->hide();
    window_.reset();
    link_.sendState(protocol::MsgScreenState, false);
}

}  // namespace tools
