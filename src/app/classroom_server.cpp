#include "app/classroom_server.h"

#include "app/process_lookup.h"
#include "support/files.h"
#include "support/logger.h"
#include "support/process.h"
#include "support/strings.h"

#include <unistd.h>

namespace app {

namespace {

constexpr std::chrono::milliseconds kKillOneWait{10000};

bool isExecutable(const std::string& path) {
    return support::getFileType(path) == 0 && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

ClassroomServer::ClassroomServer(AppSettings& settings, std::string appDir, std::string productId)
    : settings_(settings), appDir_(std::move(appDir)), productId_(std::move(productId)) {}

ClassroomServer::~ClassroomServer() {
    std::lock_guard<std::mutex> lock(mutex_);
    child_.release();
}

bool ClassroomServer::launch(const std::vector<std::string>& arguments) {
    const std::string path = appDir_ + "/FarolineServer";
    if (!isExecutable(path)) {
        LOGOUT("classroom server not installed (%s)", path.c_str());
        return false;
    }
    std::vector<std::string> params;
    const bool handOver = productId_ == kClassroomHandOverProductId && arguments.size() >= 4 &&
                          support::toLower(arguments[1]).find("start") != std::string::npos;
    if (handOver) {
        if (isProcessRunning("FarolineServer")) {
            const int64_t window =
                settings_.store().getKeyInt(setting::kClassroomServerInteropKey, setting::FSHWND.name);
            // Its window would take host and token directly; without one the
            // running server is ended and started again with them.
            LOGOUT("classroom server running (window %lld): no window hand-over here; restarting it "
                   "with host and token",
                   static_cast<long long>(window));
            support::ChildProcess kill = support::spawnProcess(
                appDir_ + "/taskagent", {"-kill-one", "farolineserver.exe"}, appDir_, false);
            if (kill && !kill.wait(kKillOneWait))
                kill.terminate(std::chrono::milliseconds(0));
        }
        params = {arguments[2], arguments[3]};
    }
    std::lock_guard<std::mutex> lock(mutex_);
    child_.tryReap();  // the one we started before may have ended
    support::ChildProcess child = support::spawnProcess(path, params, appDir_, true);
    if (!child) {
        LOGOUT("classroom server: cannot start %s", path.c_str());
        return false;
    }
    LOGOUT("classroom server started (pid %d)", static_cast<int>(child.pid()));
    // An earlier one that is still ours is ended and reaped: the newest stays.
    child_ = std::move(child);
    return true;
}

void ClassroomServer::end() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (child_ && !child_.terminate())
        LOGOUT("classroom server (pid %d) could not be ended", static_cast<int>(child_.pid()));
}

pid_t ClassroomServer::pid() {
    std::lock_guard<std::mutex> lock(mutex_);
    return child_.pid();
}

}  // namespace app
