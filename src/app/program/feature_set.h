// The program's feature services (screen capture, encoder, live stream,
// recorder, remote input, presentation cursor, screenshots) and the feature
// windows, made at start-up and stopped in the shutdown order.
#pragma once

#include "ui/main/hub_windows.h"

#include <functional>
#include <memory>
#include <string>

namespace core {
struct ForwardedPointerSlot;
class Integration;
class MainHub;
struct OverlayFlags;
class Settings;
}
namespace net {
class SessionServer;
}
namespace support {
class ThreadPool;
}
namespace ui {
struct CommandContext;
}

namespace app {

struct FeatureSetDeps {
    std::string programDir;
    core::Settings* settings = nullptr;
    net::SessionServer* server = nullptr;
    bool serverStarted = false;
    support::ThreadPool* threadPool = nullptr;
    ui::CommandContext* context = nullptr;
    std::function<std::string()> docDir;
    std::string productId;
    core::Integration* integration = nullptr;
    // Owned by the program; outlive the feature set.
    core::OverlayFlags* overlay = nullptr;
    core::ForwardedPointerSlot* forwardedPointer = nullptr;
};

class FeatureSet {
public:
    explicit FeatureSet(FeatureSetDeps deps);
    ~FeatureSet();

    // Start-up: services that run for the life of the program; fills the
    // context's feature table.
    void start();
    // The hub exists: features that post to it get it now.
    void setHub(core::MainHub* hub);
    ui::HubWindows windows();

    void forceEncoderClose();
    void stopRecording();
    void createSlideBridge(const std::string& folder, const std::string& time);
    void destroySlideBridge();
    // Shutdown step (session events already refused): live stream service,
    // session live stream, recorder, encoder, capture service.
    void stopStreaming();
    // After the session server is gone and before the command context is
    // freed: remote input, and the context's table no longer names anything
    // of this set. The set does not touch the context afterwards.
    void stopRemaining();
    // Cursor scheme 9, then the platform backends.
    void restoreCursor();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace app
