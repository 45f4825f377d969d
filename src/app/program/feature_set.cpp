#include "app/program/feature_set.h"

#include "app/program/desktop_backends.h"
#include "app/program/gated_record_control.h"
#include "app/program/screenshot_saver.h"
#include "camera/camera_engine.h"
#include "capture/screen_capture_service.h"
#include "core/main_hub.h"
#include "core/overlay_flags.h"
#include "core/pointer_forward.h"
#include "core/window_messages.h"
#include "input/presentation_cursor.h"
#include "input/qt_clipboard.h"
#include "input/remote_input.h"
#include "media/phone_audio_player.h"
#include "net/session_server.h"
#include "platform/camera_device.h"
#include "platform/fakes/fake_camera.h"
#include "platform/input_injector.h"
#include "platform/network_adapters.h"
#include "platform/screen_grabber.h"
#include "platform/screen_info.h"
#include "platform/volume_control.h"
#include "protocol/constants.h"
#include "record/lesson_recorder.h"
#include "stream/live_service.h"
#include "stream/screen_encode_service.h"
#include "stream/session_live_stream.h"
#include "support/logger.h"
#include "support/strings.h"
#include "tools/classroom_tools.h"
#include "ui/camera/camera_dlg.h"
#include "ui/main/command_context.h"
#include "ui/player/media_player_wnd.h"
#include "transfer/file_receiver.h"
#include "platform/window_raiser.h"
#include "protocol/message_names.h"
#include "slides/slide_bridge.h"
#include "support/child_process.h"
#include "ui/photo/photo_wall_wnd.h"

#include <cstdlib>
#include <shared_mutex>

namespace app {

namespace {

// The overlays reach the phones through the session server and take their
// screenshots with the screen grabber the live stream uses.
tools::ToolsLink classroomToolsLink(net::SessionServer* server, core::Settings* settings,
                                    core::OverlayFlags* overlay, core::ForwardedPointerSlot* forwarded) {
    tools::ToolsLink link;
    link.settings = settings;
    link.overlay = overlay;
    link.forwarded = forwarded;
    if (server) {
        link.broadcast = [server](const std::string& name, const Json::Value& body) {
            server->send(name, body, nullptr, 0, -1);
        };
        link.controllerTag = [server] { return server->controllerTag(); };
        link.controllerHeight = [server] { return server->controllerHeight(); };
    }
    link.screenshot = [] {
        auto grabber = makeDesktopScreenGrabber();
        if (!grabber->open()) return QImage();
        QImage image(grabber->width(), grabber->height(), QImage::Format_RGB32);
        const bool ok = grabber->grab(image.bits(), static_cast<int>(image.bytesPerLine()), false);
        grabber->close();
        return ok ? image : QImage();
    };
    return link;
}

constexpr const char kSlideHelperVariable[] = "LUMACRO3_SLIDE_HELPER";

// What the dispatcher and file receive see of the slide-show bridge. The
// bridge can go while file-receive jobs on the pool may still call in: calls
// hold a shared lock, taking the bridge away waits for them (a waiting open
// ends early because the bridge wakes it as it stops).
class SlidesLink : public core::SlideShow, public transfer::PresentationOpener {
public:
    void set(std::unique_ptr<slides::SlideBridge> bridge) {
        std::unique_lock lock(mutex_);
        bridge_ = std::move(bridge);
    }
    void reset() {
        // Stop first, so that an open waiting for the helper returns at once
        // and lets go of its shared lock.
        {
            std::shared_lock lock(mutex_);
            if (bridge_) bridge_->requestStop();
        }
        std::unique_ptr<slides::SlideBridge> gone;
        {
            std::unique_lock lock(mutex_);
            gone = std::move(bridge_);
        }
    }
    bool exists() {
        std::shared_lock lock(mutex_);
        return bridge_ != nullptr;
    }
    void attach() override { with([](auto& b) { b.startShow(); }); }
    void gotoSlide(int slideIndex) override { with([&](auto& b) { b.gotoSlide(slideIndex); }); }
    void openPresentation(const std::string& path) override {
        with([&](auto& b) { b.openPresentation(path); });
    }
    void publishSlides(const std::string& folder, const std::string& key) override {
        with([&](auto& b) { b.publishSlides(folder, key); });
    }

private:
    template <class F>
    void with(F&& f) {
        std::shared_lock lock(mutex_);
        if (bridge_)
            f(*bridge_);
        else
            LOGOUT("slide-show bridge not available");
    }
    std::shared_mutex mutex_;
    std::unique_ptr<slides::SlideBridge> bridge_;
};
// The PC's cameras (V4L2). A video file named in LUMACRO3_DEMO_CAMERA_FILE
// comes first, as a camera named for what it is, for demonstrations.
std::unique_ptr<platform::CameraSystem> makeCameraSystem() {
    const char* demo = std::getenv(platform::kDemoCameraVariable);
    if (!demo || !*demo) return platform::makeV4l2CameraSystem();
    std::vector<std::unique_ptr<platform::CameraSystem>> systems;
    if (auto file = platform::makeDemoCameraSystem(demo)) {
        LOGOUT("demo camera: video file %s shown as \"%s\"", demo, platform::kDemoCameraName);
        systems.push_back(std::move(file));
    } else {
        LOGOUT("demo camera: %s has no video to show", demo);
    }
    systems.push_back(platform::makeV4l2CameraSystem());
    return platform::joinCameraSystems(std::move(systems));
}

}  // namespace

struct FeatureSet::Impl {
    FeatureSetDeps deps;
    core::MainHub* hub = nullptr;

    std::unique_ptr<platform::CursorControl> cursorControl;
    std::unique_ptr<platform::ScreenInfo> screenInfo;
    std::unique_ptr<capture::ScreenCaptureService> capture;
    std::unique_ptr<stream::ScreenEncodeService> encoder;
    std::unique_ptr<stream::SessionLiveStream> sessionLive;
    std::unique_ptr<stream::LiveService> liveService;
    std::unique_ptr<record::LessonRecorder> recorder;
    std::unique_ptr<GatedRecordControl> remoteRecord;

    std::unique_ptr<platform::InputInjector> injector;
    std::unique_ptr<platform::VolumeControl> volume;
    std::unique_ptr<input::QtClipboardWriter> clipboard;
    std::unique_ptr<input::RemoteInputHandler> remoteInput;
    std::unique_ptr<input::PresentationCursor> cursors;
    JpegScreenshotSaver screenshot;
    std::unique_ptr<transfer::FileOpener> fileOpener;
    std::unique_ptr<transfer::FileReceiver> files;
    std::unique_ptr<tools::ClassroomTools> tools;
    std::unique_ptr<platform::WindowRaiser> windowRaiser;
    SlidesLink slides;
    std::unique_ptr<platform::CameraSystem> cameras;
    std::unique_ptr<camera::CameraEngine> cameraEngine;
    std::unique_ptr<ui::CameraDlg> cameraWindow;
    std::unique_ptr<ui::player::MediaPlayerWnd> player;
    std::unique_ptr<media::PhoneAudioPlayer> phoneAudio;
    std::unique_ptr<photo::PhotoWallWnd> photoWall;
    bool streamingStopped = false;
};

FeatureSet::FeatureSet(FeatureSetDeps deps) : impl_(std::make_unique<Impl>()) {
    impl_->deps = std::move(deps);
}

FeatureSet::~FeatureSet() { stopRemaining(); }

void FeatureSet::start() {
    Impl& i = *impl_;
    ui::CommandContext& context = *i.deps.context;

    // Screen capture, encoder and the live stream to phones.
    i.cursorControl = makeDesktopCursorControl();
    i.capture = std::make_unique<capture::ScreenCaptureService>(
        makeDesktopScreenGrabber(), i.cursorControl.get(), i.deps.threadPool);
    i.screenInfo = platform::makeSystemScreenInfo();
    i.encoder = std::make_unique<stream::ScreenEncodeService>(*i.deps.settings, *i.capture,
                                                              *i.screenInfo, i.deps.productId);
    if (i.deps.server) {
        i.sessionLive = std::make_unique<stream::SessionLiveStream>(*i.deps.server, *i.encoder);
        context.features.liveStream = i.sessionLive.get();
    }
    i.liveService = std::make_unique<stream::LiveService>(*i.encoder);
    // Phones may reach the PC on any of its addresses, so the live stream
    // service listens on all of them. Only a listen address forced through
    // the environment (trying it on one machine, tests) confines it, as it
    // does the sessions, so that instances can run side by side.
    const char* forced = std::getenv(platform::kListenAddressVariable);
    if (!i.liveService->start(forced && *forced ? forced : "0.0.0.0", protocol::kLiveStreamPort))
        LOGOUT("live stream service not available");

    // Lesson recorder.
    core::Integration* integration = i.deps.integration;
    i.recorder = std::make_unique<record::LessonRecorder>(
        *i.deps.settings, i.deps.docDir, i.deps.server, i.capture.get(),
        [integration](int64_t window, bool finished) {
            if (integration) integration->postToWindow(window, core::UM_RECORD_STOP, finished ? 1 : 0, 0);
        });
    context.features.recorder = i.recorder.get();
    if (i.deps.server) {
        i.remoteRecord = std::make_unique<GatedRecordControl>(context.gate, *i.recorder);
        i.deps.server->setRecorder(i.remoteRecord.get());
    }

    // Remote input, text paste, volume and the presentation cursor.
    i.injector = makeDesktopInputInjector();
    i.volume = platform::makePulseVolumeControl();
    i.clipboard = std::make_unique<input::QtClipboardWriter>();
    context.features.screenshot = &i.screenshot;

    // Files from the phones.
    i.fileOpener = transfer::makeXdgOpener();
    i.files = std::make_unique<transfer::FileReceiver>(transfer::FileReceiverDeps{
        i.deps.server, i.deps.threadPool, i.deps.docDir, i.fileOpener.get(), &i.slides, &context.features, {}});
    context.features.files = i.files.get();

    // The classroom overlays, hidden until a phone asks for them.
    i.tools = std::make_unique<tools::ClassroomTools>(classroomToolsLink(i.deps.server, i.deps.settings,
                                                                                   i.deps.overlay, i.deps.forwardedPointer));
    i.tools->fill(context);

    // The slide-show bridge runs from the start so that its helper does.
    createSlideBridge(std::string(), std::string());
    // The PC camera window, hidden until a phone asks for a camera.
    i.cameras = makeCameraSystem();
    i.cameraEngine = std::make_unique<camera::CameraEngine>(*i.cameras);
    i.cameraWindow = std::make_unique<ui::CameraDlg>(*i.cameraEngine, i.deps.settings);
    // The media player (local files, phone files, the phone's live picture)
    // and the phone's sound.
    ui::player::PlayerWindowLink playerLink;
    if (net::SessionServer* server = i.deps.server) {
        playerLink.broadcast = [server](const std::string& name, const Json::Value& body) {
            server->send(name, body, nullptr, 0, -1);
        };
        playerLink.controllerTag = [server] { return server->controllerTag(); };
    }
    core::Settings* settings = i.deps.settings;
    playerLink.classroomWindow = [settings] {
        return settings ? settings->getInt(core::setting::Interop, "FSHWND", 0) : 0;
    };
    playerLink.postToWindow = [integration](int64_t window, uint32_t message) {
        if (integration) integration->postToWindow(window, message, 0, 0);
    };
    // Strokes drawn over the picture go to the annotation overlay the way
    // forwarded phone pointers do.
    if (core::OverlayFlags* overlay = i.deps.overlay)
        playerLink.annotationForwarding = [overlay] { return overlay->annotationForwarding.load(); };
    if (core::ForwardedPointerSlot* slot = i.deps.forwardedPointer) {
        Impl* impl = &i;
        playerLink.annotate = [impl, slot](int x, int y, bool down, bool up) {
            if (!impl->hub) return;
            std::lock_guard<std::mutex> lock(slot->mutex);
            slot->record = core::ForwardedPointer{x, y, up, down};
            impl->hub->send(core::UM_BRUSH, 4, 0);
        };
    }
    i.player = std::make_unique<ui::player::MediaPlayerWnd>(std::move(playerLink));
    context.features.remoteMedia = &i.player->engine();
    context.features.liveView = &i.player->engine();
    i.phoneAudio = std::make_unique<media::PhoneAudioPlayer>();
    context.features.phoneAudio = i.phoneAudio.get();
    // The photo wall, hidden until a phone sends photos.
    photo::PhotoWallLink photoLink;
    if (net::SessionServer* server = i.deps.server)
        photoLink.broadcast = [server](const std::string& name, const Json::Value& body) {
            server->send(name, body, nullptr, 0, -1);
        };
    photoLink.overlay = i.deps.overlay;
    photoLink.threadPool = i.deps.threadPool;
    photoLink.docDir = i.deps.docDir;
    // The page keys go to an open drawing board first: it closes when the wall comes up.
    photoLink.showing = [&context] {
        core::DrawingBoard* board = context.features.drawingBoard;
        if (board && board->isOpened() && context.hub) context.hub->post(core::UM_PAINTER, 0, 0);
    };
    i.photoWall = std::make_unique<photo::PhotoWallWnd>(std::move(photoLink));
    context.features.photoWall = i.photoWall.get();
}

void FeatureSet::setHub(core::MainHub* hub) {
    Impl& i = *impl_;
    i.hub = hub;
    ui::CommandContext& context = *i.deps.context;
    if (i.injector) {
        i.remoteInput = std::make_unique<input::RemoteInputHandler>(
            *i.injector, hub, context.features, *i.deps.overlay, *i.deps.forwardedPointer,
            i.clipboard.get(), i.volume.get());
        context.features.input = i.remoteInput.get();
    } else {
        LOGOUT("remote input not available: no XTest");
    }
    i.cursors = std::make_unique<input::PresentationCursor>(i.deps.settings, i.deps.programDir,
                                                            i.injector.get());
    context.features.cursors = i.cursors.get();
    if (i.files) i.files->setHub(hub);
}

ui::HubWindows FeatureSet::windows() {
    ui::HubWindows windows;
    if (impl_->tools) impl_->tools->fill(windows);
    windows.camera = impl_->cameraWindow.get();
    windows.mediaPlayer = impl_->player.get();
    windows.photoWall = impl_->photoWall.get();
    return windows;
}

void FeatureSet::forceEncoderClose() {
    if (impl_->encoder) impl_->encoder->forceClose();
}

void FeatureSet::stopRecording() {
    if (impl_->recorder) impl_->recorder->stop();
}

void FeatureSet::createSlideBridge(const std::string& folder, const std::string& time) {
    Impl& i = *impl_;
    if (!i.slides.exists() && i.deps.context) {
        slides::SlideBridgeDeps deps;
        net::SessionServer* server = i.deps.server;
        if (server) {
            deps.broadcast = [server](const Json::Value& body) { server->send(protocol::MsgPPT, body, nullptr, 0, -1); };
            deps.serverAddress = [server] { return support::ip2string(server->boundAddress()); };
        }
        deps.settings = i.deps.settings;
        deps.cacheDir = (i.deps.docDir ? i.deps.docDir() : std::string()) + "/.temp";
        // A listen address forced for trying it on one machine confines the
        // bridge and its helper to it, so copies can run side by side.
        const char* forced = std::getenv(platform::kListenAddressVariable);
        if (forced && std::string(forced).rfind("127.", 0) == 0) deps.address = forced;
        deps.helperProgram = i.deps.programDir + "/ppt/slidebridge";
        deps.helperInterpreter = "/usr/bin/python3";  // Debian's, which has the UNO bridge
        // Another helper program, or "none" when one runs already (tests).
        if (const char* helper = std::getenv(kSlideHelperVariable); helper && *helper) {
            deps.helperProgram = std::string(helper) == "none" ? std::string() : helper;
            deps.helperInterpreter.clear();
        }
        deps.helperDir = i.deps.programDir + "/ppt";
        if (!i.windowRaiser) i.windowRaiser = platform::makeX11WindowRaiser();
        deps.raiser = i.windowRaiser.get();
        transfer::FileOpener* opener = i.fileOpener.get();
        deps.shellOpen = [opener](const std::string& path) {
            if (opener) opener->open(path);
        };
        const std::string taskagent = i.deps.programDir + "/taskagent";
        deps.repair = [taskagent] {
            support::SpawnOptions options;
            options.program = taskagent;
            options.args = {"-fix-ppt"};
            support::ChildProcess child = support::spawn(options);
            if (child) child.wait(std::chrono::milliseconds(30000));
        };
        i.slides.set(std::make_unique<slides::SlideBridge>(std::move(deps)));
        i.deps.context->features.slides = &i.slides;
    }
    if (!folder.empty() && !time.empty()) i.slides.publishSlides(folder, time);
}

void FeatureSet::destroySlideBridge() {
    Impl& i = *impl_;
    if (i.deps.context) i.deps.context->features.slides = nullptr;
    i.slides.reset();
}

void FeatureSet::stopStreaming() {
    Impl& i = *impl_;
    if (i.streamingStopped) return;
    i.streamingStopped = true;
    // Media end while the session server they report through still exists.
    if (i.deps.context) {
        i.deps.context->features.remoteMedia = nullptr;
        i.deps.context->features.liveView = nullptr;
        i.deps.context->features.phoneAudio = nullptr;
    }
    if (i.player) i.player->closeMedia();
    if (i.phoneAudio) i.phoneAudio->stop();
    if (i.liveService) i.liveService->shutdown();
    i.liveService.reset();
    if (i.deps.context) i.deps.context->features.liveStream = nullptr;
    i.sessionLive.reset();
    if (i.deps.server) i.deps.server->setRecorder(nullptr);
    if (i.deps.context) i.deps.context->features.recorder = nullptr;
    i.recorder.reset();
    // File receive ends while the session server it answers through still exists.
    if (i.deps.context) i.deps.context->features.files = nullptr;
    i.files.reset();
    i.encoder.reset();
    if (i.capture) {
        i.capture.reset();
        LOGOUT("ScreenCaptureService destroyed");
    }
}

void FeatureSet::stopRemaining() {
    Impl& i = *impl_;
    stopStreaming();
    destroySlideBridge();
    if (ui::CommandContext* context = i.deps.context) {
        context->features.input = nullptr;
        context->features.screenshot = nullptr;
        context->features.cursors = nullptr;
        if (i.tools) i.tools->clear(*context);
        context->features.photoWall = nullptr;
    }
    i.remoteInput.reset();
    i.remoteRecord.reset();
    i.tools.reset();
    // The window stops its capture thread before the engine and the devices go.
    i.cameraWindow.reset();
    i.cameraEngine.reset();
    i.cameras.reset();
    i.player.reset();
    i.phoneAudio.reset();
    i.photoWall.reset();
    // The context is freed next; nothing here may reach it from now on.
    i.deps.context = nullptr;
    i.deps.server = nullptr;
    i.deps.threadPool = nullptr;
}

void FeatureSet::restoreCursor() {
    Impl& i = *impl_;
    if (i.cursors) {
        i.cursors->apply(9);
        i.cursors.reset();
    }
    i.volume.reset();
    i.clipboard.reset();
    i.injector.reset();
    i.cursorControl.reset();
}

}  // namespace app
