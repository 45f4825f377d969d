#include "platform/linux/hosted_network_nm.h"

#include "platform/hosted_network.h"
#include "support/child_process.h"
#include "support/files.h"
#include "support/logger.h"
#include "support/strings.h"

#include <chrono>
#include <cstdlib>
#include <unistd.h>
#include <sstream>

namespace platform {

namespace nm {

std::vector<std::string> hotspotUpArgs(const std::string& ssid, const std::string& key) {
    return {"device", "wifi", "hotspot", "con-name", kHotspotConnectionName,
            "ssid", ssid, "password", key};
}

std::vector<std::string> hotspotDownArgs() { return {"connection", "down", "id", kHotspotConnectionName}; }

std::vector<std::string> activeConnectionsArgs() {
    return {"-t", "-f", "NAME,DEVICE", "connection", "show", "--active"};
}

std::vector<std::string> deviceAddressArgs(const std::string& device) {
    return {"-g", "IP4.ADDRESS", "device", "show", device};
}

std::vector<std::string> splitTerse(const std::string& line) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\' && i + 1 < line.size()) {
            fields.back() += line[++i];
        } else if (c == ':') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::string hotspotDevice(const std::string& activeConnections) {
    std::istringstream in(activeConnections);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::vector<std::string> f = splitTerse(line);
        if (f.size() >= 2 && f[0] == kHotspotConnectionName && !f[1].empty()) return f[1];
    }
    return {};
}

std::string firstAddress(const std::string& addressList) {
    std::istringstream in(addressList);
    std::string line;
    while (std::getline(in, line)) {
        // "-g" with several values separates them by " | " on one line.
        const size_t bar = line.find(" | ");
        if (bar != std::string::npos) line.resize(bar);
        const size_t slash = line.find('/');
        if (slash != std::string::npos) line.resize(slash);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
        if (support::isDottedIPv4(line)) return line;
    }
    return {};
}

}  // namespace nm

namespace {

struct NmcliResult {
    bool ran = false;
    int exitCode = -1;
    std::string output;
};

// Runs nmcli and collects its standard output (through a file, so that a
// client that does not answer in time can be ended: NetworkManager may be
// busy with the Wi-Fi device).
NmcliResult nmcli(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
    NmcliResult r;
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/lumacro3-nmcli-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0) return r;
    ::close(fd);
    support::SpawnOptions options;
    options.program = "nmcli";
    options.args = args;
    options.out = support::SpawnOptions::Stream::File;
    options.file = path;
    // Terse output in English whatever the desktop's locale.
    options.env = {"LC_ALL=C", "LANG=C"};
    std::string error;
    support::ChildProcess child = support::spawn(options, &error);
    if (!child) {
        LOGOUT("hotspot: nmcli not available: %s", error.c_str());
    } else if (!child.wait(timeout)) {
        LOGOUT("hotspot: nmcli %s did not end in time", args.empty() ? "" : args[0].c_str());
        child.terminate(std::chrono::milliseconds(500));
    } else {
        r.ran = true;
        r.exitCode = child.exitCode();
        support::readFile(path, r.output);
    }
    ::unlink(path.c_str());
    return r;
}

class NetworkManagerHotspot : public HostedNetwork {
public:
    bool start(const std::string& ssid, const std::string& key) override {
        const NmcliResult r = nmcli(nm::hotspotUpArgs(ssid, key), std::chrono::seconds(45));
        if (!r.ran || r.exitCode != 0) {
            LOGOUT("hotspot: nmcli could not start the hotspot (exit %d)", r.exitCode);
            return false;
        }
        LOGOUT("hotspot %s started", ssid.c_str());
        return true;
    }

    void stop() override {
        // Exit code 10 means the connection was not active: nothing to stop.
        const NmcliResult r = nmcli(nm::hotspotDownArgs(), std::chrono::seconds(20));
        if (r.ran && r.exitCode == 0) LOGOUT("hotspot stopped");
    }

    std::string address() override {
        const NmcliResult active = nmcli(nm::activeConnectionsArgs(), std::chrono::seconds(10));
        if (!active.ran || active.exitCode != 0) return {};
        const std::string device = nm::hotspotDevice(active.output);
        if (device.empty()) return {};
        const NmcliResult shown = nmcli(nm::deviceAddressArgs(device), std::chrono::seconds(10));
        if (!shown.ran || shown.exitCode != 0) return {};
        return nm::firstAddress(shown.output);
    }
};

}  // namespace

std::unique_ptr<HostedNetwork> makeNetworkManagerHotspot() {
    return std::make_unique<NetworkManagerHotspot>();
}

}  // namespace platform
