#include "phone/commands.h"

#include "net/json_text.h"
#include "phone/socket_util.h"
#include "protocol/constants.h"

#include <cstdlib>
#include <ostream>
#include <sstream>
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

std::vector<Option> sessionOptions(std::vector<Option> own, Option port) {
    std::vector<Option> options = {addressOption(), std::move(port)};
    for (auto& o : own) options.push_back(std::move(o));
    for (auto& o : handshakeOptions()) options.push_back(std::move(o));
    return options;
}

Option secondsOption(const std::string& name, const std::string& help, double defaultSeconds) {
    std::ostringstream text;
    text << help << " (default " << defaultSeconds << ")";
    return {name, "SECONDS", text.str()};
}

double secondsFromArgs(const ParsedArgs& args, const std::string& name, double defaultSeconds) {
    return args.number(name, 0, 24 * 3600).value_or(defaultSeconds);
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

bool connectOnly(PhoneClient& client, const ParsedArgs& args, uint16_t defaultPort, std::ostream& err) {
    if (client.connect(args.value("address", defaultAddress()), portFromArgs(args, defaultPort))) return true;
    err << "lumacro3-phone: " << client.lastError() << "\n";
    return false;
}

bool connectAndHandshake(PhoneClient& client, const ParsedArgs& args,
                         std::optional<bool> defaultAdmin, std::ostream& err) {
    ClientInfoOptions info = clientInfoFromArgs(args, defaultAdmin);
    if (!connectOnly(client, args, protocol::kSessionPort, err)) return false;
    if (!client.handshake(info)) {
        err << "lumacro3-phone: handshake: " << client.lastError() << "\n";
        return false;
    }
    return true;
}

bool sendOrReport(PhoneClient& client, std::string_view className, const Json::Value& message,
                  std::ostream& err) {
    if (client.sendMessage(className, message)) return true;
    err << "lumacro3-phone: " << client.lastError() << "\n";
    return false;
}

int readFramesFor(PhoneClient& client, double seconds, std::ostream& err,
                  const std::function<bool(const ReceivedFrame&)>& onFrame) {
    const detail::Deadline deadline(int(seconds * 1000));
    while (!deadline.expired()) {
        ReceivedFrame frame;
        switch (client.readFrame(frame, deadline.remainingMs())) {
        case ReadResult::Frame:
            if (!onFrame(frame)) return kExitOk;
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
    return kExitOk;
}

int printFramesFor(PhoneClient& client, double seconds, std::ostream& out, std::ostream& err) {
    return readFramesFor(client, seconds, err, [&](const ReceivedFrame& frame) {
        out << describeFrame(frame) << "\n" << std::flush;
        return true;
    });
}

int inSession(const ParsedArgs& args, std::optional<bool> defaultAdmin, std::ostream& err,
              const std::function<int(PhoneClient&)>& body, int closeMs) {
    PhoneClient client;
    if (!connectAndHandshake(client, args, defaultAdmin, err)) return kExitFailure;
    const int code = body(client);
    client.closeGracefully(closeMs);
    return code;
}

int watchSession(const ParsedArgs& args, std::optional<bool> admin, double seconds,
                 std::ostream& out, std::ostream& err) {
    return inSession(args, admin, err, [&](PhoneClient& client) {
        const int code = printFramesFor(client, seconds, out, err);
        out << "keep-alives: " << client.keepAlives() << "\n" << std::flush;
        return code;
    });
}

}  // namespace phone::cli
