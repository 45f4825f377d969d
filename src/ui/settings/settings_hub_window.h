// The settings window in the main hub's window slot: the settings command
// opens it (or raises the open one), a phone that becomes ready and the
// program's quit close it. It also owns what outlives one settings window:
// the update download and the wait for the hotspot's address.
#pragma once

#include "ui/main/hub_windows.h"
#include "ui/settings/set_wnd.h"
#include "ui/settings/settings_deps.h"

#include <QObject>
#include <QPointer>

#include <memory>

namespace net {
class SessionServer;
}
namespace platform {
class NetworkAdapters;
}

namespace ui::settings {

class HotspotAddressWait;
class UpdateDownloader;

class SettingsHubWindow : public QObject, public ui::HubWindow {
public:
    explicit SettingsHubWindow(SettingsDeps deps);
    // Stops a running update download and the hotspot wait, closes the window.
    ~SettingsHubWindow() override;

    // The settings command: a modal settings window, or the open one raised.
    void open();
    SetWnd* window() const { return window_.data(); }

    bool isVisible() override;
    void showWindow() override { open(); }
    void hideWindow() override;
    void handle(uint32_t message, int64_t wParam, int64_t lParam,
                std::unique_ptr<core::HeapBlock> block) override {}

private:
    void updateDownloaded(bool ok, const std::string& path);

    SettingsDeps deps_;
    std::unique_ptr<UpdateDownloader> downloader_;
    std::unique_ptr<HotspotAddressWait> hotspotWait_;
    QPointer<SetWnd> window_;
    QPointer<QWidget> failureBox_;
};

// The session server and the adapter list as the basic page sees them.
class SessionSettingsServer : public SettingsServer {
public:
    SessionSettingsServer(net::SessionServer& server, platform::NetworkAdapters& adapters)
        : server_(server), adapters_(adapters) {}
    uint32_t boundAddress() override;
    std::vector<uint32_t> adapterAddresses() override;
    std::vector<uint32_t> identifiedAddresses() override;
    bool anyIdentified() override;
    void disconnectAll() override;

private:
    net::SessionServer& server_;
    platform::NetworkAdapters& adapters_;
};

}  // namespace ui::settings
