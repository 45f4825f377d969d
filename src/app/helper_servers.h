// The helper file servers phones use: Debian's nginx (HTTP, default port
// 27272) and pyftpdlib (FTP, default port 17171, user "ftpd"), both serving
// the document folder. Their configuration is written by `taskagent -cfg`
// under $XDG_CONFIG_HOME/Quorvel/helpers; both run as children of the program,
// are recorded in the helper registry (so `taskagent -kill` can end them after
// a crash) and are stopped and reaped by stop().
//
// A missing server program, a busy port or a server that ends at once is
// logged and that server stays off; nothing else fails. start() waits at most
// `readyWaitMs` for the ports to answer.
#pragma once

#include "support/process.h"
#include "support/proc_table.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace app {

struct HelperServerOptions {
    std::string appDir;       // program folder: taskagent is there; identifies this copy
    std::string docDir;       // served folder (DOC_DIR)
    std::string address;      // listen address; "" or "0.0.0.0": every address
    int httpPort = 27272;
    int ftpPort = 17171;
    std::string taskagent;    // "" = appDir + "/taskagent"
    std::string nginx = "/usr/sbin/nginx";
    std::string python = "/usr/bin/python3";  // Debian's, which has pyftpdlib
    int readyWaitMs = 1500;
};

// An FTP server of ours found running on the port we want.
struct FtpHolder {
    pid_t pid = 0;
    support::ProcessId id;  // for ending exactly this process later
    std::string owner;    // program folder of the copy that started it ("" when unknown)
    std::string root;     // its -d folder
    std::string address;  // its -i address
};

class HelperServers {
public:
    explicit HelperServers(HelperServerOptions options);
    ~HelperServers();  // stop()
    HelperServers(const HelperServers&) = delete;
    HelperServers& operator=(const HelperServers&) = delete;

    // Writes the configuration (taskagent -cfg, waited for), replaces an FTP
    // server another copy left on the port, starts both servers.
    void start();
    // Stops the FTP server, then nginx (-s quit), reaps both, drops their
    // records; logs "myftp & nginx closed". Safe to call twice.
    void stop();

    bool httpRunning() const { return bool(http_); }
    bool ftpRunning() const { return bool(ftp_); }
    pid_t httpPid() const { return http_.pid(); }
    pid_t ftpPid() const { return ftp_.pid(); }

    // nginx prefix and FTP configuration file that taskagent -cfg writes.
    static std::string nginxPrefix();
    static std::string ftpdConfigPath();
    // Our (own uid) pyftpdlib processes serving `port` on an address that
    // overlaps `address`. Exposed for the tests.
    static std::vector<FtpHolder> findFtpHolders(int port, const std::string& address);

    // Environment variable naming the program folder of the copy that started a helper.
    static constexpr const char kOwnerVariable[] = "LUMACRO3_HELPER_OWNER";

private:
    bool writeConfig();
    void startFtp();
    void startHttp();
    void waitReady();
    void stopFtp();
    void stopHttp();
    std::string listenAddress() const;

    HelperServerOptions options_;
    support::ChildProcess http_, ftp_;
};

}  // namespace app
