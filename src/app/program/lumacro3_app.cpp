#include "app/program/lumacro3_app.h"

#include "app/apk_share.h"
#include "app/app_settings.h"
#include "app/autostart.h"
#include "app/crash_handler.h"
#include "app/helper_servers.h"
#include "app/ini_settings.h"
#include "app/integration.h"
#include "app/process_lookup.h"
#include "app/product_descriptor.h"
#include "app/program/command_line.h"
#include "app/program/desktop_backends.h"
#include "app/program/feature_set.h"
#include "app/program/hub_link.h"
#include "app/program/hub_socket_server.h"
#include "app/program/qt_main_hub.h"
#include "app/single_instance.h"
#include "core/overlay_flags.h"
#include "core/pointer_forward.h"
#include "core/settings.h"
#include "core/window_messages.h"
#include "net/session_server.h"
#include "platform/hosted_network.h"
#include "platform/network_adapters.h"
#include "platform/screen_info.h"
#include "protocol/constants.h"
#include "support/files.h"
#include "support/language.h"
#include "support/logger.h"
#include "support/process.h"
#include "support/strings.h"
#include "support/thread_pool.h"
#include "ui/connect/connect_payload.h"
#include "ui/connect/hotspot.h"
#include "ui/access/approval_controller.h"
#include "ui/connect/session_server_link.h"
#include "ui/connect/terminal_code.h"
#include "ui/connect/welcome_hub_window.h"
#include "ui/main/command_context.h"
#include "ui/main/dispatcher.h"
#include "ui/main/drawing_board_bridge.h"
#include "ui/settings/settings_hub_window.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>

#include <SDL2/SDL.h>
extern "C" {
#include <libavformat/avformat.h>
}

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

namespace {

constexpr const char kClassroomServer[] = "FarolineServer";
constexpr const char kSiblingClient[] = "MardeckClient";
constexpr const char kFirewallName[] = "Lumacro3";

// The termination signals end the UI loop through a pipe the loop watches.
int signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Starts a process helper job the program does not wait for. It is not our
// child (init reaps it), so it may outlive the program, as "-run" must.
void startHelperJob(const std::string& programDir, std::vector<std::string> args) {
    support::SpawnOptions options;
    options.program = programDir + "/taskagent";
    options.args = std::move(args);
    options.workDir = programDir;
    std::string error;
    if (!support::startDetached(options, &error))
        LOGOUT("cannot start %s: %s", options.program.c_str(), error.c_str());
}

}  // namespace

struct Lumacro3App::State {
    std::string programDir;
    std::string programPath;
    ProductDescriptor product;
    std::vector<std::string> arguments;
    SingleInstance instance;

    std::unique_ptr<QApplication> qapp;
    std::unique_ptr<core::Settings> settings;
    std::unique_ptr<AppSettings> values;
    std::unique_ptr<platform::NetworkAdapters> adapters;
    std::unique_ptr<platform::ScreenInfo> screen;
    // Shared by the input handlers, the dispatcher and the overlay windows;
    // they outlive every one of them.
    core::OverlayFlags overlay;
    core::ForwardedPointerSlot forwardedPointer;
    float dpiScale = 1.0f;
    float uiScale = 1.0f;
    std::unique_ptr<support::ThreadPool> threadPool;
    uint16_t sessionPort = protocol::kSessionPort;
    std::string serverName;
    std::unique_ptr<net::SessionServer> server;
    bool serverStarted = false;
    std::unique_ptr<ui::CommandContext> context;
    // Asked by the session server after each handshake; freed after it.
    std::unique_ptr<ui::access::ApprovalController> approvals;
    std::unique_ptr<HelperServers> helpers;
    std::unique_ptr<Integration> integration;
    std::unique_ptr<FeatureSet> features;
    ui::DrawingBoardBridge drawingBoard;
    std::unique_ptr<platform::HostedNetwork> hostedNetwork;
    std::unique_ptr<ui::welcome::Hotspot> hotspot;
    std::unique_ptr<ui::settings::SessionSettingsServer> settingsServer;
    std::unique_ptr<ui::settings::SettingsHubWindow> settingsWindow;
    std::unique_ptr<ui::welcome::SessionServerLink> connectLink;
    std::unique_ptr<ui::welcome::WelcomeHubWindow> connectWindow;
    std::unique_ptr<QtMainHub> hub;
    std::unique_ptr<HubSocketServer> hubSocket;
    std::unique_ptr<QSocketNotifier> signalNotifier;
    bool sdlVideo = false;
};

Lumacro3App::Lumacro3App() : s_(std::make_unique<State>()) {}
Lumacro3App::~Lumacro3App() = default;

int Lumacro3App::run(int argc, char** argv) {
    State& s = *s_;
    s.programDir = support::getAppDir();
    s.programPath = s.programDir + "/lumacro3";

    // 1. Product descriptor.
    s.product = ProductDescriptor::load(s.programDir + "/qv.pd");

    // 2. Command line.
    std::vector<std::string> argvList(argv, argv + argc);
    if (argvList.empty()) argvList.push_back(s.programPath);
    s.arguments = interpretCommandLine(argvList);

    // 3. One instance per user.
    if (!s.instance.acquire()) return secondInstance();

    startUp();
    // 21. The main hub's loop: the program lives here until it quits.
    s.hub->exec();
    shutDown();
    return 0;
}

int Lumacro3App::secondInstance() {
    State& s = *s_;
    if (asksToQuit(s.arguments)) {
        if (!postToRunningInstance(core::UM_QUIT)) LOGOUT("no running instance answered");
        return 0;
    }
    IniSettings settings;
    const bool corvex = settings.getKeyInt(setting::kProgramSetKey, setting::Corvex) != 0;
    const std::string classroom = s.programDir + "/" + kClassroomServer;
    if (corvex && fileExists(classroom) && !isProcessRunning(kClassroomServer)) {
        AppSettings values(settings, s.product.tag);
        Integration integration(values, s.programDir, s.product.id);
        integration.launchClassroomServer(s.arguments);
        // The classroom server outlives this short-lived process.
        return 0;
    }
    postToRunningInstance(core::UM_SHOW_CONNECT);
    return 0;
}

void Lumacro3App::startUp() {
    State& s = *s_;
    // 4. The program folder is the current folder; the UI framework starts.
    if (::chdir(s.programDir.c_str()) != 0) { /* relative paths then resolve elsewhere */ }
    static int qtArgc = 1;
    static char qtName[] = "lumacro3";
    static char* qtArgv[] = {qtName, nullptr};
    prepareDesktopSession();
    s.qapp = std::make_unique<QApplication>(qtArgc, qtArgv);
    QApplication::setQuitOnLastWindowClosed(false);
    watchTerminationSignals();

    // 5. The sibling client, when it is installed beside the program.
    const std::string sibling = s.programDir + "/" + kSiblingClient;
    if (fileExists(sibling)) {
        support::SpawnOptions options;
        options.program = sibling;
        options.workDir = s.programDir;
        if (!support::startDetached(options)) LOGOUT("cannot start %s", sibling.c_str());
    }

    // 6. Sockets need no initialisation here.
    std::signal(SIGPIPE, SIG_IGN);

    // 7. Settings store.
    s.settings = std::make_unique<IniSettings>();
    s.values = std::make_unique<AppSettings>(*s.settings, s.product.tag);
    setDesktopSettings(s.settings.get());

    // 8. Crash handler.
    installCrashHandler(s.programDir, support::configDir() + "/Quorvel");

    // 9. Logging.
    configureLogging();
    LOGOUT("Lumacro3 starting, program folder %s", s.programDir.c_str());

    // 10. Language.
    loadLanguage();

    // 11. Not started by the classroom server (any more).
    s.values->setCorvex(0);

    // 12. Desktop Linux has no per-program inbound firewall rules.
    LOGOUT("firewall: no per-program rule needed for %s", kFirewallName);

    // 13. Scales; painting needs no set-up.
    computeScales();

    // 14. Workers and the server's name.
    s.threadPool = std::make_unique<support::ThreadPool>(4);
    s.sessionPort = protocol::kSessionPort;
    s.serverName = s.values->serverName();

    // 15. Session server and command context.
    startServer();

    // 16. Media libraries.
    avformat_network_init();
    // The program's own handlers keep SIGINT and SIGTERM.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) {
        s.sdlVideo = true;
        SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "1");
    } else {
        LOGOUT("SDL video not available: %s", SDL_GetError());
    }

    // 17. Document folder.
    prepareDocumentFolder();

    // 18. Helper servers.
    const uint32_t bound = s.server ? s.server->boundAddress() : 0;
    HelperServerOptions helperOptions;
    helperOptions.appDir = s.programDir;
    helperOptions.docDir = s.values->docDir();
    helperOptions.address = bound ? support::ip2string(bound) : "0.0.0.0";
    s.helpers = std::make_unique<HelperServers>(helperOptions);
    s.helpers->start();

    // 19. Services that run for the whole life of the program.
    startServices();

    // 20. The screen-mirroring helpers need no firewall rule either.
    for (const char* name : {"CastServ/CastServ", "CastSink"})
        if (fileExists(s.programDir + "/" + name)) LOGOUT("firewall: no rule needed for %s", name);

    // 21. Main window.
    createMainWindow();
    s.context->gate.open();
    LOGOUT("start-up complete");
}

void Lumacro3App::watchTerminationSignals() {
    State& s = *s_;
    // SIGINT and SIGTERM end the program as "quit" does. A signal that comes
    // during start-up waits in the pipe until the main hub's loop runs.
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    s.signalNotifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(s.signalNotifier.get(), &QSocketNotifier::activated, [&s] {
        char buf[16];
        while (::read(signalPipe[0], buf, sizeof buf) > 0) {
        }
        LOGOUT("termination signal, quitting");
        if (s.hub) s.hub->post(core::UM_QUIT, 0, 0);
    });
    std::signal(SIGINT, onTerminationSignal);
    std::signal(SIGTERM, onTerminationSignal);
}

void Lumacro3App::configureLogging() {
    State& s = *s_;
    const bool on = s.settings->getInt(setting::DBG, "on", 0) != 0;
    const bool toFile = s.settings->getInt(setting::DBG, "file", 0) != 0;
    const char* env = std::getenv("LUMACRO3_LOG");
    const bool forced = env && std::string(env) == "1";
    if (on && toFile) {
        std::string path = s.programDir + "/Lumacro3.log";
        if (::access(s.programDir.c_str(), W_OK) != 0) path = support::configDir() + "/Quorvel/Lumacro3.log";
        auto logger = std::make_unique<support::Logger>(path, true);
        if (!logger->ok()) logger = std::make_unique<support::Logger>("", true);
        support::setLogger(std::move(logger));
    } else {
        // "on" without "file" logs to standard output (the terminal stands in
        // for the console window); LUMACRO3_LOG=1 does the same.
        support::setLogger(std::make_unique<support::Logger>("", on || forced));
    }
}

void Lumacro3App::loadLanguage() {
    State& s = *s_;
    const std::string name = support::getCompatibleLanguageName(s.values->language());
    const std::string file = s.programDir + "/language/Lumacro3." + name + ".xml";
    if (!support::loadLanguage(file)) LOGOUT("language file not loaded: %s", file.c_str());
}

void Lumacro3App::computeScales() {
    State& s = *s_;
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const double dpi = screen->logicalDotsPerInchX();
    if (dpi > 0) {
        s.dpiScale = static_cast<float>(96.0 / dpi);
        // Half of the excess over 100 %.
        s.uiScale = static_cast<float>((dpi / 96.0 - 1.0) * 0.5 + 1.0);
    }
    LOGOUT("dpiScale %.3f, uiScale %.3f", s.dpiScale, s.uiScale);
}

void Lumacro3App::startServer() {
    State& s = *s_;
    s.adapters = platform::makeSystemNetworkAdapters();
    s.screen = platform::makeSystemScreenInfo();
    s.server = std::make_unique<net::SessionServer>(*s.adapters, *s.screen);
    s.server->setServerName(s.serverName);
    s.context = std::make_unique<ui::CommandContext>();
    s.context->server = s.server.get();
    s.context->settings = s.settings.get();
    s.context->overlay = &s.overlay;
    s.context->screenshotsToDrawingBoard = ui::screenshotsGoToDrawingBoard(s.product.id);
    AppSettings* values = s.values.get();
    s.context->docDir = [values] { return values->docDir(); };
    // Sessions may start before the features and the main window exist;
    // their messages wait until start-up has put everything in place.
    s.context->gate.hold();
    // Phones not approved before wait for the teacher when approval is on.
    s.approvals = std::make_unique<ui::access::ApprovalController>(*s.server, *s.settings, s.uiScale);
    s.server->setAdmission(s.approvals.get());

    uint32_t address = support::string2ip(s.settings->getString(setting::NET, "bindIp", "0.0.0.0"));
    s.serverStarted = s.server->start(address, s.sessionPort, ui::onSessionEvent, s.context.get());
    if (s.serverStarted) {
        s.settings->setString(setting::NET, "bindIp", support::ip2string(address));
        LOGOUT("listening on %s:%u", support::ip2string(address).c_str(), s.sessionPort);
    } else {
        LOGOUT("running without a session server");
    }
}

void Lumacro3App::prepareDocumentFolder() {
    State& s = *s_;
    const std::string doc = s.values->prepareDocDir();
    LOGOUT("document folder %s", doc.c_str());
}

void Lumacro3App::startServices() {
    State& s = *s_;
    s.integration = std::make_unique<Integration>(*s.values, s.programDir, s.product.id);
    s.context->features.integration = s.integration.get();
    FeatureSetDeps deps;
    deps.programDir = s.programDir;
    deps.settings = s.settings.get();
    deps.server = s.server.get();
    deps.serverStarted = s.serverStarted;
    deps.threadPool = s.threadPool.get();
    deps.context = s.context.get();
    deps.docDir = s.context->docDir;
    deps.productId = s.product.id;
    deps.integration = s.integration.get();
    deps.overlay = &s.overlay;
    deps.forwardedPointer = &s.forwardedPointer;
    s.features = std::make_unique<FeatureSet>(std::move(deps));
    s.features->start();
    s.context->features.drawingBoard = &s.drawingBoard;
}

void Lumacro3App::createMainWindow() {
    State& s = *s_;
    HubDependencies deps;
    // The server is handed over even when it is not listening yet: the
    // connect window can start it later on a hotspot's address.
    deps.server = s.server.get();
    deps.settings = s.settings.get();
    deps.adapters = s.adapters.get();
    deps.windows = s.features->windows();
    createSettingsWindow();
    createConnectWindow();
    deps.windows.connect = s.connectWindow.get();
    deps.windows.settings = s.settingsWindow.get();
    ui::settings::SettingsHubWindow* settingsWindow = s.settingsWindow.get();
    deps.openSettings = [settingsWindow] { settingsWindow->open(); };
    deps.drawingBoard = &s.drawingBoard;
    deps.programDir = s.programDir;
    deps.docDir = s.context->docDir;
    deps.productName = s.product.displayName();
    deps.webLink = s.product.web;
    FeatureSet* features = s.features.get();
    deps.encoderClose = [features] { features->forceEncoderClose(); };
    deps.recordStop = [features] { features->stopRecording(); };
    const std::string programDir = s.programDir;
    deps.restartProgram = [programDir] {
        startHelperJob(programDir, {"-run", std::to_string(::getpid())});
    };
    deps.slideBridge = [features](const std::string& folder, const std::string& time) {
        features->createSlideBridge(folder, time);
    };
    s.hub = std::make_unique<QtMainHub>(std::move(deps));
    s.context->hub = s.hub.get();
    s.features->setHub(s.hub.get());

    s.hubSocket = std::make_unique<HubSocketServer>(*s.hub);
    s.hubSocket->listen(hubSocketPath());

    // Display changes reach the phones as MsgConfigChanged.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QtMainHub* hub = s.hub.get();
        hub->screenSizeChanged(screen->geometry().width(), screen->geometry().height());
        QObject::connect(screen, &QScreen::geometryChanged, hub, [hub](const QRect& r) {
            hub->screenSizeChanged(r.width(), r.height());
        });
    }
    s.hub->create();
    s.drawingBoard.setLanguage(s.values->language());
}

void Lumacro3App::createConnectWindow() {
    State& s = *s_;
    // Starting on a new address goes the start-up way and remembers it.
    s.connectLink = std::make_unique<ui::welcome::SessionServerLink>(*s.server, [&s](uint32_t address) {
        if (!s.server->start(address, s.sessionPort, ui::onSessionEvent, s.context.get())) return false;
        s.serverStarted = true;
        s.settings->setString(setting::NET, "bindIp", support::ip2string(address));
        ui::welcome::announceConnectCode(ui::welcome::connectPayload(address));
        return true;
    });
    ui::welcome::WelcomeDeps deps;
    deps.server = s.connectLink.get();
    deps.hotspot = s.hotspot.get();
    deps.uiScale = s.uiScale;
    deps.programDir = s.programDir;
    deps.productId = s.product.id;
    deps.productName = s.product.product.empty() ? s.product.displayName() : s.product.product;
    AppSettings* values = s.values.get();
    deps.serverName = [values] { return values->serverName(); };
    ui::settings::SettingsHubWindow* settingsWindow = s.settingsWindow.get();
    deps.openSettings = [settingsWindow] { settingsWindow->open(); };
    deps.phones = s.server.get();
    s.connectWindow = std::make_unique<ui::welcome::WelcomeHubWindow>(std::move(deps));
    // The desktop portal's consent dialogs are named in the status line.
    ui::welcome::WelcomeWnd* welcome = &s.connectWindow->window();
    watchDesktopConsent([welcome](bool waiting) {
        QMetaObject::invokeMethod(welcome, [welcome, waiting] { welcome->setConsentWaiting(waiting); },
                                  Qt::QueuedConnection);
    });
    if (s.serverStarted) ui::welcome::announceConnectCode(ui::welcome::connectPayload(s.server->boundAddress()));
}

void Lumacro3App::createSettingsWindow() {
    State& s = *s_;
    // The hotspot is shared by the connect window and the settings window.
    s.hostedNetwork = platform::makeNetworkManagerHotspot();
    AppSettings* values = s.values.get();
    s.hotspot = ui::welcome::makeHotspot(*s.hostedNetwork, [values] { return values->serverName(); });
    s.settingsServer = std::make_unique<ui::settings::SessionSettingsServer>(*s.server, *s.adapters);

    ui::settings::SettingsDeps deps;
    deps.settings = s.settings.get();
    deps.server = s.settingsServer.get();
    deps.hotspot = s.hotspot.get();
    deps.cursors = s.context->features.cursors;
    deps.threadPool = s.threadPool.get();
    ui::settings::ProductInfo& info = deps.product;
    info.product = s.product.product;
    info.displayName = s.product.displayName();
    info.id = s.product.id;
    info.tag = s.product.tag;
    info.comment = s.product.comment;
    info.copyright = s.product.copyright;
    info.help = s.product.help;
    info.web = s.product.web;
    info.update = s.product.update;
    info.androidUrl = s.product.androidUrl;
    info.iosUrl = s.product.iosUrl;
    info.hideQR = s.product.hideQR;
    deps.programDir = s.programDir;
    std::error_code ec;
    deps.currentDir = std::filesystem::current_path(ec).string();
    deps.uiScale = s.uiScale;
    deps.desktopSession = desktopSessionName();
    const std::string programDir = s.programDir;
    // The helper starts the program again once this one has ended.
    deps.restartProgram = [&s, programDir] {
        startHelperJob(programDir, {"-run", std::to_string(::getpid())});
        if (s.hub) s.hub->post(core::UM_QUIT, 0, 0);
    };
    deps.quitProgram = [&s] {
        if (s.hub) s.hub->post(core::UM_QUIT, 0, 0);
    };
    deps.serverName = [values] { return values->serverName(); };
    deps.setServerName = [&s, values](const std::string& name) {
        values->setServerName(name);
        s.serverName = name;
        if (s.server) s.server->setServerName(name);
    };
    deps.computerName = [] { return computerName(); };
    core::Settings* store = s.settings.get();
    deps.setAutoRun = [store, programDir](bool on) { return setAutoRun(*store, on, programDir); };
    deps.documentsDir = [] { return userDocumentsDir(); };
    deps.docDir = [values] { return values->docDir(); };
    deps.apkShareUrl = [&s, values, programDir] {
        const uint32_t bound = s.server && s.server->isRunning() ? s.server->boundAddress() : 0;
        return apkShareUrl(programDir, values->docDir(), support::ip2string(bound));
    };
    s.settingsWindow = std::make_unique<ui::settings::SettingsHubWindow>(std::move(deps));
}

void Lumacro3App::shutDown() {
    State& s = *s_;
    // Session threads may still be inside a feature. Before anything is freed
    // (the drawing board goes with the main window) no further session event
    // is let in, and the ones inside are waited for; the hub first lets go of
    // any of them that waits for the UI thread.
    s.hub->stopTakingMessages();
    s.context->gate.close();
    // The main window is destroyed as its loop ends, then:
    s.hub->destroy();
    watchDesktopConsent(nullptr);
    setDesktopSettings(nullptr);
    s.connectWindow.reset();
    // Ends a running update download and the wait for a hotspot address
    // before the thread pool and the settings store go.
    s.settingsWindow.reset();
    s.hubSocket->close();
    // 1.
    LOGOUT("Main Dialog End");
    // 2.
    s.helpers->stop();
    // 3.
    s.features->destroySlideBridge();
    // 4.
    ui::releasePhoneResources(*s.context);
    LOGOUT("actHandler cleared");
    // 5. Related programs and the helpers that are left.
    const std::string taskagent = s.programDir + "/taskagent";
    if (fileExists(taskagent)) {
        startHelperJob(s.programDir, {"-kill-one", "farolineserver"});
        startHelperJob(s.programDir, {"-kill"});
    }
    // 6. Live stream service, screen encoder, screen capture.
    s.features->stopStreaming();
    // 7.
    s.server->shutdown();
    s.context->server = nullptr;
    s.server.reset();
    s.approvals.reset();
    LOGOUT("netSrv freed");
    // 8. The feature set lets go of the context before it is freed.
    s.features->stopRemaining();
    s.context.reset();
    avformat_network_deinit();
    // 9. The system pointer comes back.
    s.features->restoreCursor();
    // 10.
    s.threadPool->shutdown();
    s.threadPool.reset();
    LOGOUT("threadpool freed");
    // 11.
    s.values->setCorvex(0);
    // 12.
    if (s.integration) s.integration->endClassroomServer();
    // 13.
    LOGOUT("Lumacro3 ended");
    s.features.reset();
    if (s.sdlVideo) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    SDL_Quit();
    s.instance.release();
    s.hub.reset();
    s.signalNotifier.reset();
    s.qapp.reset();
}

}  // namespace app
