// lumacro3-phone live: receive the PC's screen stream into an Annex-B file,
// over the session (MsgLive) or from the live stream service on 37374.
#include "phone/commands.h"

#include "protocol/fields.h"
#include "protocol/message_names.h"

#include <fstream>
#include <ostream>

namespace phone::cli {

namespace {

namespace f = protocol::field;

int run(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    const std::string path = args.value("out", "");
    if (path.empty()) throw UsageError("--out FILE is required");
    const double seconds = secondsFromArgs(args, "seconds", 5);
    const bool service = args.flag("port37374");

    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        err << "lumacro3-phone: cannot write " << path << "\n";
        return kExitFailure;
    }

    PhoneClient client;
    if (service) {
        if (!connectOnly(client, args, protocol::kLiveStreamPort, err)) return kExitFailure;
    } else {
        Json::Value request(Json::objectValue);
        request[f::action] = 1;
        if (!connectAndHandshake(client, args, std::nullopt, err) ||
            !sendOrReport(client, protocol::MsgLive, request, err))
            return kExitFailure;
    }

    bool opened = false, started = false, closedByPc = false;
    uint64_t pictures = 0, keyFrames = 0, written = 0, bytes = 0;
    int code = readFramesFor(client, seconds, err, [&](const ReceivedFrame& frame) {
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
            return false;
        }
        return true;
    });

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
    return {"live", "--out FILE.h264 [--address IP] [--seconds SECONDS] [--port37374] [handshake options]",
            "Receive the PC's screen stream and write it as an H.264 Annex-B file",
            sessionOptions({{"out", "FILE", "the Annex-B file to write (from the first key frame on)"},
                            secondsOption("seconds", "how long to receive", 5),
                            {"port37374", "", "read from the live stream service (port 37374 unless --port) "
                                              "instead of the session"}}),
            0, 0, run};
}

}  // namespace phone::cli
