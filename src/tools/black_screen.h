// The black-out screen: a plain black window over the primary screen, made
// when the phone blanks the picture and destroyed when it brings it back.
#pragma once

#include "tools/overlay_window.h"
#include "tools/tools_link.h"
#include "ui/main/hub_windows.h"

#include <memory>

namespace tools {

class BlackWnd : public OverlayWindow {
public:
    BlackWnd();
    void showBlack() { cover(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

class BlackScreen : public ui::HubWindow {
public:
    explicit BlackScreen(ToolsLink link);
    ~BlackScreen() override;

    // MsgScreen: non-zero blanks the screen (again: the state is sent each
    // time), zero removes the black window.
    void run(int64_t action);

    bool isVisible() override { return window_ != nullptr; }
    void showWindow() override;
    void hideWindow() override;
    void handle(uint32_t, int64_t, int64_t, std::unique_ptr<core::HeapBlock>) override {}

    BlackWnd* window() { return window_.get(); }

private:
    ToolsLink link_;
    std::unique_ptr<BlackWnd> window_;
};

}  // namespace tools
