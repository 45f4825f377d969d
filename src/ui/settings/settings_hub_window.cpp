#include "ui/settings/settings_hub_window.h"

#include "core/settings.h"
#include "net/session_server.h"
#include "platform/network_adapters.h"
#include "support/child_process.h"
#include "support/files.h"
#include "support/language.h"
#include "support/logger.h"
#include "ui/settings/hotspot_wait.h"
#include "ui/settings/set_wnd.h"
#include "ui/settings/update_check.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>

namespace ui::settings {

SettingsHubWindow::SettingsHubWindow(SettingsDeps deps)
    : deps_(std::move(deps)), downloader_(std::make_unique<UpdateDownloader>()) {
    if (deps_.hotspot) {
        core::Settings* store = deps_.settings;
        std::function<void()> restart = deps_.restartProgram;
        hotspotWait_ = std::make_unique<HotspotAddressWait>(*deps_.hotspot, [store, restart](const std::string& a) {
            if (store) store->setString(core::setting::NET, "bindIp", a);
            if (restart) restart();
        });
    }
    deps_.waitForHotspotAddress = [this] {
        if (hotspotWait_ && deps_.threadPool && !hotspotWait_->start(*deps_.threadPool))
            LOGOUT("hotspot: address wait already running");
    };
    deps_.updateDownloading = [this] { return downloader_->downloading(); };
    deps_.startUpdateDownload = [this](const std::string& url) {
        support::mkdir(updateFolder());
        const std::string path = updateFolder() + "/install.deb";
        downloader_->start(url, path, [this, path](bool ok) {
            // Back on the UI thread; dropped when this object is gone first.
            QMetaObject::invokeMethod(this, [this, ok, path] { updateDownloaded(ok, path); }, Qt::QueuedConnection);
        });
    };
}

SettingsHubWindow::~SettingsHubWindow() {
    delete failureBox_.data();
    if (window_) delete window_.data();
    downloader_.reset();
    hotspotWait_.reset();
}

void SettingsHubWindow::open() {
    // A window that was closed is on its way out (deleted later): a new one
    // is made then.
    if (window_ && window_->isVisible()) {
        window_->show();
        window_->raise();
        window_->activateWindow();
        return;
    }
    window_ = new SetWnd(deps_);
    window_->setModal(true);
    window_->setAttribute(Qt::WA_DeleteOnClose, true);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

bool SettingsHubWindow::isVisible() { return window_ && window_->isVisible(); }

void SettingsHubWindow::hideWindow() {
    if (window_) window_->closeSafely();  // deletes it
}

void SettingsHubWindow::updateDownloaded(bool ok, const std::string& path) {
    if (ok) {
        // The desktop's package installer takes the package over; this
        // program ends so that the package can replace it.
        support::SpawnOptions options;
        options.program = "xdg-open";
        options.args = {path};
        std::string error;
        if (!support::startDetached(options, &error)) LOGOUT("update: cannot open %s: %s", path.c_str(), error.c_str());
        if (deps_.quitProgram) deps_.quitProgram();
        return;
    }
    const std::string text = support::translate("无法下载更新", "Lumacro3");
    if (deps_.tell) return deps_.tell("Lumacro3", text);
    // Not modal: a quit that comes while it shows is not held up by it.
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Lumacro3"), QString::fromStdString(text));
    box->addButton(QString::fromStdString(support::translate("确定", "SetWnd")), QMessageBox::AcceptRole);
    box->setAttribute(Qt::WA_DeleteOnClose, true);
    delete failureBox_.data();
    failureBox_ = box;
    box->show();
}

uint32_t SessionSettingsServer::boundAddress() { return server_.isRunning() ? server_.boundAddress() : 0; }

std::vector<uint32_t> SessionSettingsServer::adapterAddresses() { return adapters_.localIPv4(); }

std::vector<uint32_t> SessionSettingsServer::identifiedAddresses() {
    std::vector<uint32_t> out;
    server_.identifiedAddresses(out);
    return out;
}

bool SessionSettingsServer::anyIdentified() { return server_.anyIdentified(); }

void SessionSettingsServer::disconnectAll() { server_.disconnectAll(); }

}  // namespace ui::settings
