// The connect window in the main hub's window slot.
#pragma once

#include "ui/connect/welcome_wnd.h"
#include "ui/main/hub_windows.h"

#include <memory>

namespace ui::welcome {

class WelcomeHubWindow : public ui::ConnectWindow {
public:
    explicit WelcomeHubWindow(WelcomeDeps deps);
    ~WelcomeHubWindow() override;

    bool isVisible() override;
    void showWindow() override;
    void hideWindow() override;
    void handle(uint32_t message, int64_t wParam, int64_t lParam, std::unique_ptr<core::HeapBlock> block) override;
    void setClientAddress(uint32_t address) override;

    WelcomeWnd& window() { return *window_; }

private:
    std::unique_ptr<WelcomeWnd> window_;
};

}  // namespace ui::welcome
