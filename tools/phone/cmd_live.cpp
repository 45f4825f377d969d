// lumacro3-phone live: receive the PC's screen stream into an Annex-B file,
// over the session (MsgLive) or from the live stream service on 37374.
#include "phone/commands.h"

#include "protocol/fields.h"
#include "protocol/message_names.h"

#include <chrono>
#include <fstream>
#include <ostream>

namespace phone::cli {

namespace {

namespace f = protocol::field;

int run(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    const std::string path = args.value("out", "");
    if (path.empty()) throw UsageError("--out FILE is required");
    const double seconds = args.number("seconds", 0, 24 * 3600).value_or(5.0);
    const bool service = args.flag("port37374");

    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        err << "lumacro3-phone: cannot write " << path << "\n";
        return kExitFailure;
    }

    PhoneClient client;
    if (service) {
        const std::string address = args.value("address", defaultAddress());
        if (!client.connect(address, portFromArgs(args, protocol::kLiveStreamPort))) {
            err << "lumacro3-phone: " << client.lastError() << "\n";
            return kExitFailure;
        }
    } else {
        if (!connectAndHandshake(client, args, std::nullopt, err)) return kExitFailure;
        Json::Value request(Json::objectValue);
        request[f::action] = 1;
        if (!client.sendMessage(protocol::MsgLive, request)) {
            err << "lumacro3-phone: " << client.lastError() << "\n";
            return kExitFailure;
        }
    }

    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(long(seconds * 1000));
    bool opened = false, started = false, closedByPc = false;
    uint64_t pictures = 0, keyFrames = 0, written = 0, bytes = 0;
    int code = kExitOk;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) break;
        ReceivedFrame frame;
        const ReadResult result = client.readFrame(frame, int(left));
        if (result == ReadResult::Timeout) break;
        if (result != ReadResult::Frame) {
            err << "lumacro3-phone: " << (result == ReadResult::Closed ? "connection closed by the PC"
                                                                       : client.lastError())
                << "\n";
            code = kExitFailure;
            break;
        }
        if (frame.className == protocol::MsgLiveOpen) {
            opened = true;
            out << "MsgLiveOpen width=" << frame.message[f::width].asInt()
                << " height=" << frame.message[f::height].asInt()
                << " frameRate=" << frame.message[f::frameRate].asInt()
                << " bitrate=" << frame.message[f::bitrate].asInt() << "\n"
                << std::flush;
        } else if (frame.className == protocol::MsgLiveData) {
            ++pictures;
            const bool key = frame.message[f::keyFrame].asBool();
            if (key) ++keyFrames;
            // A decoder can only begin at a key frame.
            if (key) started = true;
            if (started) {
                file.write(reinterpret_cast<const char*>(frame.data.data()),
                           std::streamsize(frame.data.size()));
                ++written;
                bytes += frame.data.size();
            }
        } else if (frame.className == protocol::MsgLiveClose) {
            out << "MsgLiveClose\n" << std::flush;
            closedByPc = true;
            break;
        }
    }

    if (!service && client.isOpen() && !closedByPc) {
        Json::Value request(Json::objectValue);
        request[f::action] = 0;
        client.sendMessage(protocol::MsgLive, request);
    }
    client.closeGracefully(service ? 0 : 2000);
    file.close();
    out << "pictures: " << pictures << " key frames: " << keyFrames << " written: " << written
        << " bytes: " << bytes << "\n"
        << std::flush;
    if (!file) {
        err << "lumacro3-phone: writing " << path << " failed\n";
        return kExitFailure;
    }
    if (code == kExitOk && (!opened || written == 0)) {
        err << "lumacro3-phone: " << (opened ? "no key frame arrived" : "no MsgLiveOpen arrived")
            << "\n";
        code = kExitFailure;
    }
    return code;
}

}  // namespace

Command liveCommand() {
    std::vector<Option> options = {
        addressOption(),
        portOption(protocol::kSessionPort),
        {"out", "FILE", "the Annex-B file to write (from the first key frame on)"},
        {"seconds", "N", "how long to receive (default 5)"},
        {"port37374", "", "read from the live stream service (port 37374 unless --port) instead of the session"}};
    for (auto& o : handshakeOptions()) options.push_back(o);
    return {"live",
            "--out FILE.h264 [--address IP] [--seconds N] [--port37374] [handshake options]",
            "Receive the PC's screen stream and write it as an H.264 Annex-B file",
            options, 0, 0, run};
}

}  // namespace phone::cli
