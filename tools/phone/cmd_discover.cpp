// discover: "hello" on UDP, prints each MsgServerInfo as one JSON line.
#include "phone/commands.h"
#include "phone/discovery.h"

#include "net/json_text.h"

#include <cstdlib>
#include <ostream>

namespace phone::cli {

namespace {

// Broadcast unless the environment names the PC (tests set it to a loopback address).
std::string defaultDiscoveryAddress() {
    const char* env = std::getenv("LUMACRO3_LISTEN_ADDRESS");
    return env && *env ? env : "255.255.255.255";
}

bool isBroadcast(const std::string& address) {
    return address.size() > 4 && address.compare(address.size() - 4, 4, ".255") == 0;
}

int run(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    const std::string address = args.value("address", defaultDiscoveryAddress());
    const uint16_t port = portFromArgs(args, protocol::kDiscoveryPort);
    const int timeoutMs = timeoutFromArgs(args, "timeout", 2000);

    std::string error;
    std::vector<ServerInfoReply> replies;
    if (isBroadcast(address)) {
        replies = discoverAll(address, port, timeoutMs, &error);
    } else if (auto reply = discover(address, port, timeoutMs, &error)) {
        replies.push_back(std::move(*reply));
    }
    if (replies.empty()) {
        err << "lumacro3-phone: " << error << "\n";
        return kExitFailure;
    }
    for (const auto& reply : replies) {
        std::string json = net::writeCompact(reply.info);
        out << json << std::flush;  // the text ends with a line feed
    }
    return kExitOk;
}

}  // namespace

Command discoverCommand() {
    return {"discover",
            "[--address IP] [--port N] [--timeout MS]",
            "find PCs with \"hello\" and print their MsgServerInfo (broadcast by default)",
            {{"address", "IP", "where to send \"hello\" (default $LUMACRO3_LISTEN_ADDRESS or 255.255.255.255)"},
             portOption(protocol::kDiscoveryPort),
             {"timeout", "MS", "how long to wait for answers (default 2000)"}},
            0, 0, run};
}

}  // namespace phone::cli
