// lumacro3-phone live-send: act as a phone that shows its screen on the PC:
// MsgLiveOpen, then one MsgLiveData per access unit of an H.264 or HEVC
// Annex-B file or a VP8 IVF file at the file's rate, then MsgLiveClose.
#include "phone/commands.h"
#include "phone/media_units.h"

#include "protocol/fields.h"
#include "protocol/message_names.h"

#include <chrono>
#include <ostream>
#include <thread>

namespace phone::cli {

namespace {

namespace f = protocol::field;
using Clock = std::chrono::steady_clock;

int64_t wallUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

int run(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    AccessUnitReader reader;
    if (!reader.open(args.positional().at(0))) {
        err << "lumacro3-phone: " << reader.error() << "\n";
        return kExitFailure;
    }
    const long codecId = args.integer("codec-id", 0, 255).value_or(reader.codecId());
    const double rate = args.number("rate", 0.1, 1000).value_or(reader.frameRate());
    const double keep = secondsFromArgs(args, "keep", 0);
    const bool timestamps = args.flag("print-times");
    return inSession(args, std::nullopt, err, [&](PhoneClient& client) {
        Json::Value open(Json::objectValue);
        open[f::width] = reader.width();
        open[f::height] = reader.height();
        open[f::codecId] = int(codecId);
        if (auto pf = args.integer("pixel-format", 0, 255)) open[f::pixelFormat] = int(*pf);
        if (!sendOrReport(client, protocol::MsgLiveOpen, open, err)) return kExitFailure;
        const Json::Value data(Json::objectValue);
        std::vector<uint8_t> unit;
        bool key = false;
        uint64_t sent = 0;
        const auto start = Clock::now();
        while (reader.next(unit, key)) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(int64_t(sent * 1e6 / rate)));
            if (!client.sendMessage(protocol::MsgLiveData, data, unit.data(), unit.size())) {
                err << "lumacro3-phone: " << client.lastError() << "\n";
                return kExitFailure;
            }
            if (timestamps) out << "sent " << sent << " at " << wallUs() << "\n" << std::flush;
            ++sent;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(int64_t(keep * 1000)));
        if (!args.flag("no-close")) client.sendMessage(protocol::MsgLiveClose, Json::Value(Json::objectValue));
        out << "sent " << sent << " pictures (" << reader.width() << "x" << reader.height() << ", codecId "
            << codecId << ")\n" << std::flush;
        return kExitOk;
    });
}

}  // namespace

Command liveSendCommand() {
    return {"live-send", "FILE [--pixel-format N] [--codec-id N] [--rate FPS] [--keep S] [--no-close] [handshake options]",
            "Show a video file on the PC as the phone's live picture (H.264/HEVC Annex-B or VP8 in IVF)",
            sessionOptions({{"pixel-format", "N", "MsgLiveOpen pixelFormat (1 BGRA, 0 RGBA; left out by default)"},
                            {"codec-id", "N", "MsgLiveOpen codecId (default: the file's codec)"},
                            {"rate", "FPS", "pictures per second (default: the file's rate)"},
                            secondsOption("keep", "wait this long after the last picture", 0),
                            {"no-close", "", "do not send MsgLiveClose at the end"},
                            {"print-times", "", "print when each picture was sent (wall clock, microseconds)"}}),
            1, 1, run};
}

}  // namespace phone::cli
