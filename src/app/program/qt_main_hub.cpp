#include "app/program/qt_main_hub.h"

#include "app/program/tray_icon.h"
#include "core/settings.h"
#include "net/session_server.h"
#include "platform/network_adapters.h"
#include "protocol/fields.h"
#include "protocol/message_names.h"
#include "support/clock.h"
#include "support/logger.h"
#include "ui/main/drawing_board_bridge.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unistd.h>

namespace app {

namespace {

namespace f = protocol::field;

const QEvent::Type kHubEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Waiter of a synchronous send().
struct SendWaiter {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
};

struct HubEvent : QEvent {
    HubEvent(uint32_t m, int64_t w, int64_t l, std::unique_ptr<core::HeapBlock> b,
             std::shared_ptr<SendWaiter> waiter = nullptr)
        : QEvent(kHubEvent), message(m), wParam(w), lParam(l), block(std::move(b)),
          waiter(std::move(waiter)) {}
    // A send() whose event is dropped (hub gone) must not leave its caller waiting.
    ~HubEvent() override { release(); }
    void release() {
        // The local reference keeps the waiter (and its mutex) alive until the
        // lock is released: the sender may already have given up and dropped its own.
        std::shared_ptr<SendWaiter> w = std::move(waiter);
        if (!w) return;
        std::lock_guard<std::mutex> lock(w->mutex);
        w->finished = true;
        w->done.notify_all();
    }
    uint32_t message;
    int64_t wParam;
    int64_t lParam;
    std::unique_ptr<core::HeapBlock> block;
    std::shared_ptr<SendWaiter> waiter;
};

// Mouse messages the tray callback carries (UM_TRAY lParam).
constexpr int64_t kLeftDown = 0x201;
constexpr int64_t kLeftDoubleClick = 0x203;
constexpr int64_t kRightDown = 0x204;

}  // namespace

QtMainHub::QtMainHub(HubDependencies deps, QObject* parent) : QObject(parent), deps_(std::move(deps)) {
    owner_.hub = this;
    owner_.post = &QtMainHub::postFromLibrary;
    mediaTimer_.setInterval(500);
    connectTimer_.setInterval(200);
    connectTimer_.setSingleShot(true);
    networkTimer_.setInterval(10000);
    connect(&mediaTimer_, &QTimer::timeout, this, [this] { mediaTick(); });
    // A controlling phone may connect before the start-up delay ends; its
    // session must not be covered by the connect window it no longer needs.
    connect(&connectTimer_, &QTimer::timeout, this, [this] {
        if (!controllerConnected_) showConnect();
    });
    connect(&networkTimer_, &QTimer::timeout, this, [this] { checkNetwork(); });
}

QtMainHub::~QtMainHub() {
    closing_ = true;
    destroy();
}

void QtMainHub::postFromLibrary(void* hub, uint32_t message, int64_t wParam, int64_t lParam) {
    if (hub) static_cast<QtMainHub*>(hub)->post(message, wParam, lParam);
}

void QtMainHub::post(uint32_t message, int64_t wParam, int64_t lParam,
                     std::unique_ptr<core::HeapBlock> block) {
    if (closing_) return;  // the block is freed here
    QCoreApplication::postEvent(this, new HubEvent(message, wParam, lParam, std::move(block)));
}

void QtMainHub::send(uint32_t message, int64_t wParam, int64_t lParam) {
    if (QThread::currentThread() == thread()) {
        handle(message, wParam, lParam, nullptr);
        return;
    }
    if (closing_) return;
    auto waiter = std::make_shared<SendWaiter>();
    QCoreApplication::postEvent(this, new HubEvent(message, wParam, lParam, nullptr, waiter));
    std::unique_lock<std::mutex> lock(waiter->mutex);
    // The UI thread runs it or drops it; during shutdown nobody may wait for long.
    while (!waiter->finished) {
        if (waiter->done.wait_for(lock, std::chrono::milliseconds(200)) ==
                std::cv_status::timeout &&
            closing_)
            break;
    }
}

void QtMainHub::customEvent(QEvent* event) {
    if (event->type() != kHubEvent) return;
    auto* e = static_cast<HubEvent*>(event);
    handle(e->message, e->wParam, e->lParam, std::move(e->block));
    e->release();
}

bool QtMainHub::visible(ui::HubWindow* window) { return window && window->isVisible(); }

void QtMainHub::broadcast(const char* className, const Json::Value& message) {
    if (deps_.server) deps_.server->send(className, message, nullptr, 0, -1);
}

void QtMainHub::handle(uint32_t message, int64_t wParam, int64_t lParam,
                       std::unique_ptr<core::HeapBlock> block) {
    ui::HubWindows& w = deps_.windows;
    switch (message) {
    case core::UM_RUN_ON_UI:
        if (auto* run = dynamic_cast<core::RunOnUiBlock*>(block.get()); run && run->callable)
            run->callable(run->first, run->second);
        break;
    case core::UM_QUIT:
        quit();
        break;
    case core::UM_TRAY:
        trayActivated(lParam);
        break;
    case core::UM_PLAY_URL:
    case core::UM_MEDIA_CLOSE:
    case core::UM_MEDIA_SEEK:
        if (w.mediaPlayer)
            w.mediaPlayer->handle(message, wParam, lParam, std::move(block));
        else
            LOGOUT("media player not available: %s", core::windowMessageName(message));
        // A local file or URL that plays takes the screen from the drawing board.
        if (message == core::UM_PLAY_URL && w.mediaPlayer && w.mediaPlayer->isPlaying() && deps_.drawingBoard)
            deps_.drawingBoard->closePainter();
        break;
    case core::UM_MEDIA_PAUSE:
        if (!w.mediaPlayer) {
            LOGOUT("media player not available: UM_MEDIA_PAUSE");
            break;
        }
        // Phones would show a paused or playing state for nothing.
        if (!w.mediaPlayer->isPlaying() || w.mediaPlayer->isOpening()) {
            LOGOUT("%s ignored: nothing plays", wParam ? "pause" : "resume");
            break;
        }
        w.mediaPlayer->handle(message, wParam, lParam, nullptr);
        {
            Json::Value state(Json::objectValue);
            state[f::state] = wParam ? 2 : 3;
            broadcast(protocol::MsgMediaPlayState, state);
        }
        break;
    case core::UM_PAINTER:
        if (!deps_.drawingBoard) break;
        if (auto* path = dynamic_cast<core::TextBlock*>(block.get()))
            deps_.drawingBoard->insertImage(path->text);
        else
            deps_.drawingBoard->closePainter();
        break;
    case core::UM_LIVE_OPEN:
        liveOpen(wParam, lParam);
        break;
    case core::UM_BRUSH:
        if (wParam == 1 && visible(w.spotlight)) w.spotlight->handle(core::UM_SPOT, 0, 0, nullptr);
        if (w.annotation)
            w.annotation->handle(message, wParam, lParam, std::move(block));
        else if (wParam != 4)
            LOGOUT("annotation overlay not available: %lld", static_cast<long long>(wParam));
        break;
    case core::UM_SPOT:
        if (wParam == 1 && visible(w.annotation)) w.annotation->handle(core::UM_BRUSH, 0, 0, nullptr);
        if (w.spotlight)
            w.spotlight->handle(message, wParam, lParam, std::move(block));
        else
            LOGOUT("spotlight not available: %lld", static_cast<long long>(wParam));
        break;
    case core::UM_MEDIA_OPEN:
        mediaOpen(wParam, std::move(block));
        break;
    case core::UM_SHOW_CONNECT:
        LOGOUT("UM_SHOW_CONNECT");
        QTimer::singleShot(50, this, [this] { showConnect(); });
        break;
    case core::UM_CLIENT_STATE:
        clientState(wParam, lParam);
        break;
    case core::UM_PC_CAMERA:
        if (w.camera)
            w.camera->handle(message, wParam, lParam, nullptr);
        else
            LOGOUT("PC camera not available");
        break;
    case core::UM_GLASS:
        if (wParam && visible(w.spotlight)) w.spotlight->handle(core::UM_SPOT, 0, 0, nullptr);
        if (!w.magnifier) {
            LOGOUT("magnifier not available");
        } else if (wParam) {
            w.magnifier->showWindow();
        } else {
            w.magnifier->hideWindow();
        }
        break;
    case core::UM_ENCODER_CLOSE:
        if (deps_.encoderClose) deps_.encoderClose();
        break;
    case core::UM_EDIT_TEXT_END: {
        Json::Value text(Json::objectValue);
        text[f::content] = "";
        broadcast(protocol::MsgEditText, text);
        break;
    }
    case core::UM_DRAWING_BOARD:
        if (wParam == 1) {
            if (deps_.drawingBoard) {
                if (lParam)
                    deps_.drawingBoard->openPainter();
                else
                    deps_.drawingBoard->closePainter();
            }
        } else if (wParam == 2) {
            if (deps_.drawingBoard) deps_.drawingBoard->clearPainter();
        } else {
            Json::Value state(Json::objectValue);
            state[f::state] = static_cast<Json::Int64>(lParam);
            broadcast(protocol::MsgDrawingBoardState, state);
        }
        break;
    case core::UM_RECORD_STOP:
        if (deps_.recordStop) deps_.recordStop();
        break;
    default:
        LOGOUT("hub: unhandled message %s", core::windowMessageName(message));
        break;
    }
}

void QtMainHub::stopMediaAndOverlays() {
    ui::HubWindows& w = deps_.windows;
    if (w.mediaPlayer) w.mediaPlayer->closeMedia();
    if (deps_.drawingBoard) deps_.drawingBoard->closePainter();
    if (visible(w.annotation)) w.annotation->hideWindow();
    if (visible(w.spotlight)) w.spotlight->hideWindow();
}

void QtMainHub::mediaOpen(int64_t wParam, std::unique_ptr<core::HeapBlock> block) {
    if (wParam != 0) return;
    stopMediaAndOverlays();
    ui::MediaPlayerWindow* player = deps_.windows.mediaPlayer;
    if (!player) {
        LOGOUT("media player not available: UM_MEDIA_OPEN");
        return;
    }
    // The player reports the outcome (state 1 with the info, or -1) when
    // the phone's file has been probed, and sends the positions itself.
    player->handle(core::UM_MEDIA_OPEN, 0, 0, std::move(block));
}

void QtMainHub::liveOpen(int64_t wParam, int64_t lParam) {
    stopMediaAndOverlays();
    const int width = static_cast<int>(wParam & 0xffff);
    const int height = static_cast<int>((wParam >> 16) & 0xffff);
    const int codecId = static_cast<int>((lParam >> 1) & 3);
    const int pixelFormat = static_cast<int>(lParam & 1);
    ui::MediaPlayerWindow* player = deps_.windows.mediaPlayer;
    if (!player || !player->openLiveView(width, height, codecId, pixelFormat))
        LOGOUT("open player failed");
}

void QtMainHub::mediaTick() {
    ui::MediaPlayerWindow* player = deps_.windows.mediaPlayer;
    if (!player || !player->isPlaying()) {
        mediaTimer_.stop();
        return;
    }
    Json::Value info(Json::objectValue);
    info[f::position] = static_cast<Json::Int64>(player->position());
    broadcast(protocol::MsgMediaPlayInfo, info);
}

void QtMainHub::showConnect() {
    if (deps_.windows.connect)
        deps_.windows.connect->showWindow();
    else
        LOGOUT("connect window not available");
}

void QtMainHub::clientState(int64_t state, int64_t address) {
    ui::HubWindows& w = deps_.windows;
    if (state == 0) {
        controllerConnected_ = false;
        clientAddress_ = 0;
        if (w.connect) w.connect->setClientAddress(0);
        if (w.magnifier) w.magnifier->hideWindow();
        if (w.camera) w.camera->stopCapture();
        if (visible(w.annotation)) w.annotation->hideWindow();
        if (w.photoWall) w.photoWall->hideWindow();
        showConnect();
        if (visible(w.blackScreen)) w.blackScreen->hideWindow();
        return;
    }
    clientAddress_ = static_cast<uint32_t>(address);
    // A phone became ready: the settings window closes.
    if (visible(w.settings)) w.settings->hideWindow();
    if (w.connect) w.connect->setClientAddress(static_cast<uint32_t>(address));
    if (state == 1) controllerConnected_ = true;
    if (state == 1 && w.connect) w.connect->hideWindow();
    if (deps_.slideBridge && deps_.docDir)
        deps_.slideBridge(deps_.docDir() + "/.temp", std::to_string(support::gettime()));

    auto sendState = [this](const char* className, bool on) {
        Json::Value m(Json::objectValue);
        m[f::state] = on ? 1 : 0;
        broadcast(className, m);
    };
    sendState(protocol::MsgDrawingBoardState, deps_.drawingBoard && deps_.drawingBoard->isOpened());
    sendState(protocol::MsgBrushState, visible(w.annotation));
    sendState(protocol::MsgSpotState, visible(w.spotlight));
    sendState(protocol::MsgGlassState, visible(w.magnifier));
    Json::Value photos(Json::objectValue);
    photos[f::action] = 2;
    photos[f::isOpened] = visible(w.photoWall);
    broadcast(protocol::MsgPhotos, photos);
}

void QtMainHub::trayActivated(int64_t mouseMessage) {
    if (mouseMessage == kLeftDown || mouseMessage == kLeftDoubleClick) {
        showConnect();
    } else if (mouseMessage == kRightDown) {
        if (tray_) tray_->showMenuAtCursor();
    }
}

bool QtMainHub::checkNetwork() {
    net::SessionServer* server = deps_.server;
    if (!server || !server->isRunning() || !deps_.adapters) return false;
    const uint32_t bound = server->boundAddress();
    for (uint32_t address : deps_.adapters->localIPv4())
        if (address == bound) return false;
    LOGOUT("network address lost, restarting");
    if (deps_.restartProgram) deps_.restartProgram();
    post(core::UM_QUIT, 0, 0);
    return true;
}

void QtMainHub::screenSizeChanged(int width, int height) {
    if (width == lastScreenWidth_ && height == lastScreenHeight_) return;
    const bool first = lastScreenWidth_ == 0 && lastScreenHeight_ == 0;
    lastScreenWidth_ = width;
    lastScreenHeight_ = height;
    if (first) return;  // the size at start-up is no change
    Json::Value m(Json::objectValue);
    m[f::screenWidth] = width;
    m[f::screenHeight] = height;
    broadcast(protocol::MsgConfigChanged, m);
}

void QtMainHub::create() {
    if (created_) return;
    created_ = true;
    if (deps_.drawingBoard && !deps_.programDir.empty())
        deps_.drawingBoard->load(deps_.programDir + "/" + ui::DrawingBoardBridge::kLibraryName,
                                 &owner_, deps_.docDir ? deps_.docDir() : std::string(), 27272);
    if (deps_.showTray) {
        TrayActions actions;
        actions.about = [this] { TrayIcon::openLink(deps_.webLink); };
        actions.settings = [this] {
            if (deps_.openSettings)
                deps_.openSettings();
            else
                LOGOUT("settings window not available");
        };
        actions.disconnect = [this] {
            if (deps_.server) deps_.server->disconnectAll();
        };
        actions.exit = [this] { quit(); };
        actions.activated = [this](int64_t mouseMessage) { post(core::UM_TRAY, 128, mouseMessage); };
        tray_ = std::make_unique<TrayIcon>(deps_.productName, std::move(actions));
    }
    if (!deps_.settings || deps_.settings->getInt(core::setting::SET, "AUTO_HIDE", 0) == 0)
        connectTimer_.start();
    networkTimer_.start();
    // No window handles here: the process id stands for the running main window.
    if (deps_.settings) deps_.settings->setInt(core::setting::SET, "MAINWND", ::getpid());
    LOGOUT("main window created");
}

void QtMainHub::stopTakingMessages() {
    closing_ = true;
    QCoreApplication::removePostedEvents(this, kHubEvent);
}

void QtMainHub::destroy() {
    stopTakingMessages();
    if (!created_ || destroyed_) return;
    destroyed_ = true;
    if (deps_.settings) deps_.settings->setInt(core::setting::SET, "MAINWND", 0);
    if (deps_.encoderClose) deps_.encoderClose();
    tray_.reset();
    if (deps_.server) deps_.server->halt();
    QThread::msleep(100);
    mediaTimer_.stop();
    connectTimer_.stop();
    networkTimer_.stop();
    ui::HubWindows& w = deps_.windows;
    if (w.mediaPlayer) w.mediaPlayer->closeMedia();
    for (ui::HubWindow* window : {static_cast<ui::HubWindow*>(w.mediaPlayer), w.annotation,
                                  w.spotlight, static_cast<ui::HubWindow*>(w.connect),
                                  static_cast<ui::HubWindow*>(w.camera), w.magnifier, w.photoWall})
        if (window) window->hideWindow();
    if (deps_.drawingBoard) deps_.drawingBoard->unload();
    // The session server is freed later in the shutdown; the hub no longer
    // reaches it (a late screen change or tray call then finds no server).
    deps_.server = nullptr;
    LOGOUT("main window destroyed");
}

int QtMainHub::exec() {
    if (quitPending_) return 0;
    QEventLoop loop;
    loop_ = &loop;
    const int result = loop.exec();
    loop_ = nullptr;
    return result;
}

void QtMainHub::quit() {
    if (deps_.windows.settings && deps_.windows.settings->isVisible())
        deps_.windows.settings->hideWindow();
    quitPending_ = true;
    if (loop_) loop_->quit();
    emit quitRequested();
}

}  // namespace app
