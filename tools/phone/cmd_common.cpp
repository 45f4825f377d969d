#include "phone/commands.h"

#include "net/json_text.h"
#include "protocol/constants.h"

#include <chrono>
#include <cstdlib>
#include <ostream>
#include <unistd.h>

namespace phone::cli {

std::string defaultAddress() {
    const char* env = std::getenv("LUMACRO3_LISTEN_ADDRESS");
    return env && *env ? env : "127.0.0.1";
}

Option addressOption() {
    return {"address", "IP", "the PC's IPv4 address (default $LUMACRO3_LISTEN_ADDRESS or 127.0.0.1)"};
}

Option portOption(uint16_t defaultPort) {
    return {"port", "N", "port (default " + std::to_string(defaultPort) + ")"};
}

std::vector<Option> handshakeOptions() {
    return {
        {"admin", "", "ask to be the controlling phone"},
        {"no-admin", "", "connect as a watching phone"},
        {"unique-id", "S", "the phone's identity (default: one per process)"},
        {"mac", "S", "identity used by the PC when there is no unique id"},
        {"tag", "S", "product tag of the phone"},
        {"width", "N", "phone screen width"},
        {"height", "N", "phone screen height"},
        {"ftp-url", "S", "URL of the phone's FTP server"},
    };
}

ClientInfoOptions clientInfoFromArgs(const ParsedArgs& args, std::optional<bool> defaultAdmin) {
    if (args.flag("admin") && args.flag("no-admin"))
        throw UsageError("--admin and --no-admin exclude each other");
    ClientInfoOptions o;
    o.uniqueId = args.value("unique-id");
    o.mac = args.value("mac");
    if (!o.uniqueId && !o.mac) {
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        o.uniqueId = std::string("lumacro3-phone-") + host + "-" + std::to_string(::getpid());
    }
    o.admin = args.flag("admin") ? std::optional<bool>(true)
              : args.flag("no-admin") ? std::optional<bool>(false)
                                      : defaultAdmin;
    o.tag = args.value("tag");
    if (auto w = args.integer("width", INT32_MIN, INT32_MAX)) o.width = int(*w);
    if (auto h = args.integer("height", INT32_MIN, INT32_MAX)) o.height = int(*h);
    o.ftpUrl = args.value("ftp-url");
    return o;
}

uint16_t portFromArgs(const ParsedArgs& args, uint16_t defaultPort) {
    return uint16_t(args.integer("port", 1, 65535).value_or(defaultPort));
}

int timeoutFromArgs(const ParsedArgs& args, const std::string& name, int defaultMs) {
    return int(args.integer(name, 0, 3600 * 1000).value_or(defaultMs));
}

std::string describeFrame(const ReceivedFrame& frame) {
    std::string json = net::writeCompact(frame.message);
    if (!json.empty() && json.back() == '\n') json.pop_back();
    std::string line = frame.className + " " + json;
    if (!frame.data.empty()) line += " +" + std::to_string(frame.data.size()) + " bytes";
    return line;
}

bool connectAndHandshake(PhoneClient& client, const ParsedArgs& args,
                         std::optional<bool> defaultAdmin, std::ostream& err) {
    ClientInfoOptions info = clientInfoFromArgs(args, defaultAdmin);
    const std::string address = args.value("address", defaultAddress());
    if (!client.connect(address, portFromArgs(args, protocol::kSessionPort))) {
        err << "lumacro3-phone: " << client.lastError() << "\n";
        return false;
    }
    if (!client.handshake(info)) {
        err << "lumacro3-phone: handshake: " << client.lastError() << "\n";
        return false;
    }
    return true;
}

int printFramesFor(PhoneClient& client, double seconds, std::ostream& out, std::ostream& err) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(long(seconds * 1000));
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) return kExitOk;
        ReceivedFrame frame;
        switch (client.readFrame(frame, int(left))) {
        case ReadResult::Frame:
            out << describeFrame(frame) << "\n" << std::flush;
            break;
        case ReadResult::Timeout:
            return kExitOk;
        case ReadResult::Closed:
            err << "lumacro3-phone: connection closed by the PC\n";
            return kExitFailure;
        case ReadResult::Invalid:
            err << "lumacro3-phone: invalid frame: " << client.lastError() << "\n";
            return kExitFailure;
        }
    }
}

}  // namespace phone::cli

namespace phone::cli {

int watchSession(const ParsedArgs& args, std::optional<bool> admin, double seconds,
                 std::ostream& out, std::ostream& err) {
    PhoneClient client;
    if (!connectAndHandshake(client, args, admin, err)) return kExitFailure;
    int code = printFramesFor(client, seconds, out, err);
    out << "keep-alives: " << client.keepAlives() << "\n" << std::flush;
    client.closeGracefully(2000);
    return code;
}

}  // namespace phone::cli
