// The main hub: a hidden QObject on the UI thread that receives the private
// messages (posted from any thread, or through the hub socket by other
// programs), owns the program's timers and the tray icon, and hands each
// message to the feature window that owns it.
#pragma once

#include "core/main_hub.h"
#include "ui/main/drawing_board_api.h"
#include "ui/main/hub_windows.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <json/value.h>
#include <memory>
#include <string>

class QEventLoop;

namespace core {
class Settings;
}
namespace net {
class SessionServer;
}
namespace platform {
class NetworkAdapters;
}
namespace ui {
class DrawingBoardBridge;
}

namespace app {

class TrayIcon;

struct HubDependencies {
    net::SessionServer* server = nullptr;  // may be null (no network at start)
    core::Settings* settings = nullptr;
    platform::NetworkAdapters* adapters = nullptr;
    ui::HubWindows windows;
    ui::DrawingBoardBridge* drawingBoard = nullptr;
    std::string programDir;
    std::function<std::string()> docDir;
    std::string productName;  // tray tool tip
    std::string webLink;      // "About" in the tray menu
    // Force the screen encoder closed (UM_ENCODER_CLOSE, and at destruction).
    std::function<void()> encoderClose;
    // Stop the lesson recorder (UM_RECORD_STOP).
    std::function<void()> recordStop;
    // Network watch: start the process helper that restarts the program.
    std::function<void()> restartProgram;
    // Create the slide-show bridge when a phone becomes ready (folder, time text).
    std::function<void(const std::string&, const std::string&)> slideBridge;
    // Open the settings window (tray "Settings").
    std::function<void()> openSettings;
    bool showTray = true;
};

class QtMainHub : public QObject, public core::MainHub {
    Q_OBJECT
public:
    explicit QtMainHub(HubDependencies deps, QObject* parent = nullptr);
    ~QtMainHub() override;

    // core::MainHub: safe from any thread.
    void post(uint32_t message, int64_t wParam, int64_t lParam,
              std::unique_ptr<core::HeapBlock> block = nullptr) override;
    void send(uint32_t message, int64_t wParam, int64_t lParam) override;

    // Window creation: drawing board, tray, timers, MAINWND.
    void create();
    // Stops taking messages and frees nothing: later posts are dropped and a
    // sender waiting for the UI thread is let go. destroy() starts with it.
    void stopTakingMessages();
    // Window destruction in its fixed order.
    void destroy();
    // Runs the UI loop until UM_QUIT or the tray's Exit.
    int exec();
    // Ends exec() (as UM_QUIT does).
    void quit();

    uint32_t clientAddress() const { return clientAddress_.load(); }
    bool mediaTimerActive() const { return mediaTimer_.isActive(); }
    bool connectTimerActive() const { return connectTimer_.isActive(); }
    bool networkTimerActive() const { return networkTimer_.isActive(); }
    TrayIcon* tray() const { return tray_.get(); }

    // One network-watch check (timer 105); true when it asked for a restart.
    bool checkNetwork();
    // Broadcasts MsgConfigChanged when the primary screen size differs from
    // the last one seen.
    void screenSizeChanged(int width, int height);

    // The owner record the drawing-board library posts through.
    HubOwner* hubOwner() { return &owner_; }

signals:
    void quitRequested();

protected:
    void customEvent(QEvent* event) override;

private:
    void handle(uint32_t message, int64_t wParam, int64_t lParam,
                std::unique_ptr<core::HeapBlock> block);
    void clientState(int64_t state, int64_t address);
    void mediaOpen(int64_t wParam, std::unique_ptr<core::HeapBlock> block);
    void liveOpen(int64_t wParam, int64_t lParam);
    void stopMediaAndOverlays();
    void showConnect();
    void mediaTick();
    void broadcast(const char* className, const Json::Value& message);
    static bool visible(ui::HubWindow* window);
    void trayActivated(int64_t mouseMessage);
    static void postFromLibrary(void* hub, uint32_t message, int64_t wParam, int64_t lParam);

    HubDependencies deps_;
    HubOwner owner_{};
    std::atomic<uint32_t> clientAddress_{0};
    std::atomic<bool> closing_{false};
    bool created_ = false;
    bool controllerConnected_ = false;  // UI thread only
    bool destroyed_ = false;
    QTimer mediaTimer_;    // 100
    QTimer connectTimer_;  // 101
    QTimer networkTimer_;  // 105
    std::unique_ptr<TrayIcon> tray_;
    QEventLoop* loop_ = nullptr;
    bool quitPending_ = false;
    int lastScreenWidth_ = 0;
    int lastScreenHeight_ = 0;
};

}  // namespace app
