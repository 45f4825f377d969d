// Hand-overs to related programs of the product family and small system
// helpers. Related programs are looked for beside the executable under their
// Linux names ("FarolineServer", "Zintra", "CastSink", "MardeckClient"); a
// missing program only loses that hand-over. There are no foreign windows on
// Linux, so messages for other programs' windows are logged, not posted.
#pragma once

#include "app/app_settings.h"
#include "core/features.h"
#include "support/process.h"

#include <mutex>
#include <string>
#include <vector>

namespace app {

// The product identifier whose classroom server takes host and token from the
// command line (the other variants start it plain).
inline constexpr const char kClassroomHandOverProductId[] = "pexlo";

// True when a running process (not a zombie) of any user has a name that
// contains `name`, compared case-insensitively; a trailing ".exe" of `name` is
// ignored. The process name is its comm, the base name of its executable or
// of its first argument.
bool isProcessRunning(const std::string& name);

// Starts a command line (first word the program, double quotes group) in the
// program's folder, hidden. There is no elevation to drop on Linux, so this is
// a plain start; the caller owns (waits for or ends) the returned child.
support::ProcessHandle launchUnelevated(const std::string& commandLine);

// Starts a program not as our child (it is not reaped by us and outlives us).
bool startDetached(const std::string& path, const std::vector<std::string>& args,
                   const std::string& folder);

// Firewall exception for a program under a rule name. Desktop Linux has no
// per-program inbound rules, so this only logs what would have been allowed.
void allowThroughFirewall(const std::string& programPath, const std::string& ruleName);

// Percent-encoding of UTF-8 text for a URL path segment (RFC 3986 unreserved kept).
std::string urlEncode(const std::string& text);

class Integration : public core::Integration {
public:
    Integration(AppSettings& settings, std::string appDir, std::string productId);
    ~Integration() override;

    // core::Integration
    void openEbook() override;
    void miracastDisplay() override;
    void postToWindow(int64_t handle, uint32_t message, int64_t wParam, int64_t lParam) override;

    // Start-up: the sibling client, hidden, when it is installed.
    void startSiblingClient();

    // Second instance or start-up hand-over: `arguments` are the interpreted
    // command line (program path, command, further parts). False when the
    // classroom server is not installed or could not be started.
    bool launchClassroomServer(const std::vector<std::string>& arguments);
    // Shutdown: ends (and reaps) the classroom server this process started.
    void endClassroomServer();
    pid_t relatedProcess();

    // Copies the first *.apk of the program folder into DOC_DIR/Recv and
    // returns its address on the helper web server; "" when there is none.
    std::string apkShareUrl(const std::string& boundAddress, int httpPort = 27272);

private:
    std::string beside(const char* name) const { return appDir_ + "/" + name; }

    AppSettings& settings_;
    std::string appDir_;
    std::string productId_;
    std::mutex mutex_;
    support::ProcessHandle related_;
};

}  // namespace app
