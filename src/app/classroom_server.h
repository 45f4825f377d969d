// The classroom server of the product family ("FarolineServer" beside the
// executable): started at a second instance or a start-up hand-over, ended
// at shutdown.
#pragma once

#include "app/app_settings.h"
#include "support/child_process.h"

#include <mutex>
#include <string>
#include <vector>

namespace app {

// The product identifier whose classroom server takes host and token from the
// command line (the other variants start it plain).
inline constexpr const char kClassroomHandOverProductId[] = "pexlo";

class ClassroomServer {
public:
    ClassroomServer(AppSettings& settings, std::string appDir, std::string productId);
    // Leaves a server that end() did not end running: it may well outlive a
    // short-lived second instance. Its child is reaped as a released child.
    ~ClassroomServer();
    ClassroomServer(const ClassroomServer&) = delete;
    ClassroomServer& operator=(const ClassroomServer&) = delete;

    // `arguments` are the interpreted command line (program path, command,
    // further parts). False when the server is not installed or could not be started.
    bool launch(const std::vector<std::string>& arguments);
    // Ends (and reaps) the server this object started.
    void end();
    // Pid of the server this object started; 0 when none runs.
    pid_t pid();

private:
    AppSettings& settings_;
    std::string appDir_;
    std::string productId_;
    std::mutex mutex_;
    support::ChildProcess child_;
};

}  // namespace app
