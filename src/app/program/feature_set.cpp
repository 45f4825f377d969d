#include "app/program/feature_set.h"

#include "app/program/desktop_backends.h"
#include "app/program/gated_record_control.h"
#include "app/program/screenshot_saver.h"
#include "capture/screen_capture_service.h"
#include "core/overlay_flags.h"
#include "core/pointer_forward.h"
#include "core/window_messages.h"
#include "input/presentation_cursor.h"
#include "input/qt_clipboard.h"
#include "input/remote_input.h"
#include "net/session_server.h"
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
#include "ui/main/command_context.h"
#include "transfer/file_receiver.h"
#include "platform/window_raiser.h"
#include "protocol/message_names.h"
#include "slides/slide_bridge.h"
#include "support/child_process.h"

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
    }
    i.remoteInput.reset();
    i.remoteRecord.reset();
    i.tools.reset();
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
