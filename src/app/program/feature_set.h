// The program's feature services (screen capture, encoder, live stream,
// recorder, remote input, presentation cursor, screenshots) and the feature
// windows, made at start-up and stopped in the shutdown order.
#pragma once

#include "ui/main/hub_windows.h"

#include <functional>
#include <memory>
#include <string>

namespace core {
class Integration;
class MainHub;
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
    // Shutdown step: live stream service, encoder, capture service.
    void stopStreaming();
    // After the session server is gone: everything else.
    void stopRemaining();
    void restoreCursor();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace app
