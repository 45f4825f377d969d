// send: handshake, send one message (optionally with a tail from a file),
// optionally print the replies, then close cleanly.
#include "phone/commands.h"

#include "net/json_text.h"

#include <fstream>
#include <iterator>
#include <ostream>

namespace phone::cli {

namespace {

int run(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    const std::string className = expandClassName(args.positional().at(0));
    Json::Value message;
    if (!net::parseJson(args.positional().at(1), message) || !message.isObject())
        throw UsageError("JSON must be an object, such as '{\"action\":1}'");
    const double seconds = secondsFromArgs(args, "watch", 0);

    std::vector<uint8_t> tail;
    if (auto file = args.value("tail")) {
        std::ifstream in(*file, std::ios::binary);
        if (!in) {
            err << "lumacro3-phone: cannot read " << *file << "\n";
            return kExitFailure;
        }
        tail.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    PhoneClient client;
    const bool connected = args.flag("no-handshake")
                               ? connectOnly(client, args, protocol::kSessionPort, err)
                               : connectAndHandshake(client, args, std::nullopt, err);
    if (!connected) return kExitFailure;
    if (!client.sendMessage(className, message, tail)) {
        err << "lumacro3-phone: " << client.lastError() << "\n";
        return kExitFailure;
    }
    err << "sent " << className << (tail.empty() ? "" : " +" + std::to_string(tail.size()) + " bytes")
        << "\n";
    int code = seconds > 0 ? printFramesFor(client, seconds, out, err) : kExitOk;
    // Wait for the PC to close after our end of stream, so nothing we sent is
    // lost to a connection reset.
    client.closeGracefully(2000);
    return code;
}

}  // namespace

Command sendCommand() {
    return {"send", "--address IP CLASS JSON [--tail FILE] [--watch SECONDS] [handshake options]",
            "send one message; CLASS may be short (MsgBrush), JSON is the message object",
            sessionOptions({{"tail", "FILE", "send the file's bytes as the message's binary tail"},
                            secondsOption("watch", "print what the PC sends for this long after sending", 0),
                            {"no-handshake", "", "send without MsgClientInfo first"}}),
            2, 2, run};
}

}  // namespace phone::cli
