#include "app/program/feature_set.h"

#include "support/logger.h"
#include "ui/main/command_context.h"

namespace app {

struct FeatureSet::Impl {
    FeatureSetDeps deps;
    ui::MainHub* hub = nullptr;
};

FeatureSet::FeatureSet(FeatureSetDeps deps) : impl_(std::make_unique<Impl>()) {
    impl_->deps = std::move(deps);
}

FeatureSet::~FeatureSet() = default;

void FeatureSet::start() {}

void FeatureSet::setHub(ui::MainHub* hub) { impl_->hub = hub; }

ui::HubWindows FeatureSet::windows() { return {}; }

void FeatureSet::forceEncoderClose() { LOGOUT("screen encoder not running"); }

void FeatureSet::stopRecording() { LOGOUT("lesson recorder not running"); }

void FeatureSet::createSlideBridge(const std::string& folder, const std::string& time) {}

void FeatureSet::destroySlideBridge() {}

void FeatureSet::stopStreaming() { LOGOUT("ScreenCaptureService destroyed"); }

void FeatureSet::stopRemaining() {}

void FeatureSet::restoreCursor() {}

}  // namespace app
