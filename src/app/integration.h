// Hand-overs to related programs of the product family. They are looked for
// beside the executable under their Linux names ("FarolineServer", "Zintra",
// "CastSink"); a missing program only loses that hand-over.
// There are no foreign windows on Linux, so messages for other programs'
// windows are logged, not posted.
#pragma once

#include "app/app_settings.h"
#include "app/classroom_server.h"
#include "core/features.h"

#include <string>
#include <vector>

namespace app {

class Integration : public core::Integration {
public:
    Integration(AppSettings& settings, std::string appDir, std::string productId);
    ~Integration() override;

    // core::Integration. The e-book reader and the screen-mirroring receiver
    // are started detached: they are not our children and outlive us.
    void openEbook() override;
    void miracastDisplay() override;
    void postToWindow(int64_t handle, uint32_t message, int64_t wParam, int64_t lParam) override;

    // Second instance or start-up hand-over (see ClassroomServer::launch).
    bool launchClassroomServer(const std::vector<std::string>& arguments) {
        return classroom_.launch(arguments);
    }
    // Shutdown: ends (and reaps) the classroom server this process started.
    void endClassroomServer() { classroom_.end(); }
    pid_t relatedProcess() { return classroom_.pid(); }

private:
    // Starts `name` from the program folder, detached and hidden, when it is installed.
    void startBeside(const char* name, const char* what);

    std::string appDir_;
    ClassroomServer classroom_;
};

}  // namespace app
