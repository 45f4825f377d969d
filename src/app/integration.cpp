#include "app/integration.h"

#include "app/process_lookup.h"
#include "support/child_process.h"
#include "support/files.h"
#include "support/logger.h"

#include <unistd.h>

namespace app {

Integration::Integration(AppSettings& settings, std::string appDir, std::string productId)
    : appDir_(appDir), classroom_(settings, std::move(appDir), std::move(productId)) {}

Integration::~Integration() = default;

void Integration::startBeside(const char* name, const char* what) {
    const std::string path = appDir_ + "/" + name;
    if (support::getFileType(path) != 0 || ::access(path.c_str(), X_OK) != 0) {
        LOGOUT("%s not installed (%s)", what, path.c_str());
        return;
    }
    support::SpawnOptions options;
    options.program = path;
    options.workDir = appDir_;
    std::string error;
    if (!support::startDetached(options, &error))
        LOGOUT("%s: cannot start %s: %s", what, path.c_str(), error.c_str());
}

void Integration::openEbook() {
    startBeside("Zintra", "e-book reader");
}

void Integration::miracastDisplay() {
    if (isProcessRunning("CastSink")) {
        // Its window would be told to come forward; there is no such window here.
        LOGOUT("screen-mirroring receiver already running");
        return;
    }
    startBeside("CastSink", "screen-mirroring receiver");
}

void Integration::postToWindow(int64_t handle, uint32_t message, int64_t wParam, int64_t lParam) {
    LOGOUT("no foreign windows on this system: message 0x%x (%lld, %lld) for window %lld not posted",
           message, static_cast<long long>(wParam), static_cast<long long>(lParam),
           static_cast<long long>(handle));
}

}  // namespace app
