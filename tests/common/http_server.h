// A python3 http.server serving a folder on a loopback address, on a port
// the system picks.
#pragma once

#include "support/child_process.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace testing_support {

// Serves `folder` over HTTP on `address`, on a port the system picks.
class HttpServer {
    static std::string readText(const std::string& path) {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

public:
    HttpServer(const std::string& address, const std::string& folder) {
        const std::string portFile = folder + "/../http.port";
        const std::string script =
            "import http.server, functools, os, sys\n"
            "handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[2])\n"
            "handler.func.log_message = lambda *a: None\n"
            "server = http.server.ThreadingHTTPServer((sys.argv[1], 0), handler)\n"
            "open(sys.argv[3] + '.tmp', 'w').write(str(server.server_address[1]))\n"
            "os.rename(sys.argv[3] + '.tmp', sys.argv[3])\n"
            "server.serve_forever()\n";
        support::SpawnOptions options;
        options.program = "python3";
        options.args = {"-c", script, address, folder, portFile};
        child_ = support::spawn(options);
        for (int i = 0; i < 500 && port_ == 0; ++i) {
            const std::string text = readText(portFile);
            if (!text.empty()) port_ = std::stoi(text);
            else std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        base_ = "http://" + address + ":" + std::to_string(port_) + "/";
    }
    ~HttpServer() { child_.terminate(std::chrono::milliseconds(500)); }
    bool ok() const { return port_ != 0; }
    const std::string& base() const { return base_; }

private:
    support::ChildProcess child_;
    int port_ = 0;
    std::string base_;
};

}  // namespace testing_support
