#include "app/program/feature_set.h"

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
#include "ui/photo/photo_wall_wnd.h"

#include <cstdlib>

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
        auto grabber = platform::makeX11ScreenGrabber();
        if (!grabber->open()) return QImage();
        QImage image(grabber->width(), grabber->height(), QImage::Format_RGB32);
        const bool ok = grabber->grab(image.bits(), static_cast<int>(image.bytesPerLine()), false);
        grabber->close();
        return ok ? image : QImage();
    };
    return link;
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
    i.cursorControl = platform::makeX11CursorControl();
    i.capture = std::make_unique<capture::ScreenCaptureService>(
        platform::makeX11ScreenGrabber(), i.cursorControl.get(), i.deps.threadPool);
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
    i.injector = platform::makeXTestInjector();
    i.volume = platform::makePulseVolumeControl();
    i.clipboard = std::make_unique<input::QtClipboardWriter>();
    context.features.screenshot = &i.screenshot;

    // Files from the phones.
    i.fileOpener = transfer::makeXdgOpener();
    i.files = std::make_unique<transfer::FileReceiver>(transfer::FileReceiverDeps{
        i.deps.server, i.deps.threadPool, i.deps.docDir, i.fileOpener.get(), nullptr, &context.features, {}});
    context.features.files = i.files.get();

    // The classroom overlays, hidden until a phone asks for them.
    i.tools = std::make_unique<tools::ClassroomTools>(classroomToolsLink(i.deps.server, i.deps.settings,
                                                                                   i.deps.overlay, i.deps.forwardedPointer));
    i.tools->fill(context);

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
    windows.photoWall = impl_->photoWall.get();
    return windows;
}

void FeatureSet::forceEncoderClose() {
    if (impl_->encoder) impl_->encoder->forceClose();
}

void FeatureSet::stopRecording() {
    if (impl_->recorder) impl_->recorder->stop();
}

void FeatureSet::createSlideBridge(const std::string& folder, const std::string& time) {}

void FeatureSet::destroySlideBridge() {}

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
