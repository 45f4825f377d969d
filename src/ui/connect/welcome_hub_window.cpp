#include "ui/connect/welcome_hub_window.h"

namespace ui::welcome {

WelcomeHubWindow::WelcomeHubWindow(WelcomeDeps deps) : window_(std::make_unique<WelcomeWnd>(std::move(deps))) {}

WelcomeHubWindow::~WelcomeHubWindow() = default;

bool WelcomeHubWindow::isVisible() { return window_->isVisible(); }

void WelcomeHubWindow::showWindow() { window_->show(true); }

void WelcomeHubWindow::hideWindow() { window_->show(false); }

// The hub routes no messages of its own to this window.
void WelcomeHubWindow::handle(uint32_t, int64_t, int64_t, std::unique_ptr<core::HeapBlock>) {}

void WelcomeHubWindow::setClientAddress(uint32_t address) { window_->setConnectedPeer(address); }

}  // namespace ui::welcome
