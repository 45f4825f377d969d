// send: handshake, send one message (optionally with a tail from a file) or
// several in order on the one session, and with --lines more read from
// standard input as they come (so a script can pace them and watch the PC
// between them on one session); optionally print the replies, then close
// cleanly.
#include "phone/commands.h"

#include "net/json_text.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <ostream>

namespace phone::cli {

namespace {

bool parseMessage(const std::string& className, const std::string& json,
                  std::vector<std::pair<std::string, Json::Value>>& messages) {
    Json::Value message;
    if (!net::parseJson(json, message) || !message.isObject()) return false;
    messages.emplace_back(expandClassName(className), std::move(message));
    return true;
}

int run(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    const auto& words = args.positional();
    const bool lines = args.flag("lines");
    if (words.size() % 2 != 0) throw UsageError("each CLASS needs its JSON");
    if (words.empty() && !lines) throw UsageError("nothing to send: CLASS JSON, or --lines");
    std::vector<std::pair<std::string, Json::Value>> messages;
    for (size_t i = 0; i < words.size(); i += 2)
        if (!parseMessage(words[i], words[i + 1], messages))
            throw UsageError("JSON must be an object, such as '{\"action\":1}'");
    if ((messages.size() > 1 || lines) && args.value("tail"))
        throw UsageError("--tail goes with one message only");
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
    for (const auto& [className, message] : messages) {
        if (!client.sendMessage(className, message, tail)) {
            err << "lumacro3-phone: " << client.lastError() << "\n";
            return kExitFailure;
        }
        err << "sent " << className << (tail.empty() ? "" : " +" + std::to_string(tail.size()) + " bytes")
            << "\n";
    }
    // Each line is CLASS JSON; the input's end ends the session.
    for (std::string line; lines && std::getline(std::cin, line);) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        const size_t gap = line.find_first_of(" \t");
        std::vector<std::pair<std::string, Json::Value>> one;
        if (gap == std::string::npos || !parseMessage(line.substr(0, gap), line.substr(gap + 1), one)) {
            err << "lumacro3-phone: not CLASS JSON: " << line << "\n";
            client.closeGracefully(2000);
            return kExitFailure;
        }
        if (!client.sendMessage(one[0].first, one[0].second)) {
            err << "lumacro3-phone: " << client.lastError() << "\n";
            return kExitFailure;
        }
        err << "sent " << one[0].first << "\n";
    }
    int code = seconds > 0 ? printFramesFor(client, seconds, out, err) : kExitOk;
    // Wait for the PC to close after our end of stream, so nothing we sent is
    // lost to a connection reset.
    client.closeGracefully(2000);
    return code;
}

}  // namespace

Command sendCommand() {
    return {"send",
            "--address IP CLASS JSON [CLASS JSON ...] [--lines] [--tail FILE] [--watch SECONDS] [handshake options]",
            "send messages in order on one session; CLASS may be short (MsgBrush), JSON is the message object",
            sessionOptions({{"tail", "FILE", "send the file's bytes as the message's binary tail"},
                            secondsOption("watch", "print what the PC sends for this long after sending", 0),
                            {"no-handshake", "", "send without MsgClientInfo first"},
                            {"lines", "", "then send a message for each CLASS JSON line read from standard input"}}),
            0, 512, run};
}

}  // namespace phone::cli
