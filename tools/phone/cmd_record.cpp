// record start|stop|pause|resume: drives the lesson recorder over the session
// with MsgMediaRecord and prints the state the PC answers; --voice streams an
// AAC file as the phone's voice while recording. --udp sends the classroom
// server's "start-record" / "stop-record" datagrams instead.
#include "phone/commands.h"
#include "phone/discovery.h"

#include "protocol/fields.h"
#include "protocol/message_names.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <ostream>
#include <thread>

namespace phone::cli {

namespace {

using Clock = std::chrono::steady_clock;

int runUdp(const ParsedArgs& args, const std::string& what, std::ostream& out, std::ostream& err) {
    std::string text;
    if (what == "start") text = protocol::kStartRecord;
    else if (what == "stop") text = protocol::kStopRecord;
    else throw UsageError("--udp knows only \"start\" and \"stop\"");

    std::string error;
    auto reply = sendDatagram(args.value("address", defaultAddress()),
                              portFromArgs(args, protocol::kDiscoveryPort), text,
                              timeoutFromArgs(args, "timeout", 2000), &error);
    if (!reply) {
        err << "lumacro3-phone: " << error << "\n";
        return kExitFailure;
    }
    out << *reply << "\n" << std::flush;
    return kExitOk;
}

// One ADTS frame of an AAC file.
struct AdtsFrame {
    size_t offset;
    size_t length;
    size_t header;
};

struct AacFile {
    std::vector<uint8_t> bytes;
    std::vector<AdtsFrame> frames;
    int sampleRate = 44100;
    uint8_t config[2] = {0, 0};  // AudioSpecificConfig of the stream
};

bool readAdts(const std::string& path, AacFile& file, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    file.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    static const int rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                22050, 16000, 12000, 11025, 8000,  7350};
    const auto& b = file.bytes;
    size_t pos = 0;
    while (pos + 7 <= b.size()) {
        if (b[pos] != 0xff || (b[pos + 1] & 0xf6) != 0xf0) {
            error = "not an ADTS stream at byte " + std::to_string(pos);
            return false;
        }
        const size_t length = (size_t(b[pos + 3] & 3) << 11) | (size_t(b[pos + 4]) << 3) | (b[pos + 5] >> 5);
        const size_t header = (b[pos + 1] & 1) ? 7 : 9;
        if (length <= header || pos + length > b.size()) break;
        if (file.frames.empty()) {
            const int profile = (b[pos + 2] >> 6) + 1;
            const int rateIndex = (b[pos + 2] >> 2) & 0xf;
            const int channels = ((b[pos + 2] & 1) << 2) | (b[pos + 3] >> 6);
            file.sampleRate = rateIndex < 13 ? rates[rateIndex] : 44100;
            file.config[0] = uint8_t((profile << 3) | (rateIndex >> 1));
            file.config[1] = uint8_t(((rateIndex & 1) << 7) | (channels << 3));
        }
        file.frames.push_back({pos, length, header});
        pos += length;
    }
    if (file.frames.empty()) {
        error = path + " holds no AAC frames";
        return false;
    }
    return true;
}

// Waits for MsgMediaRecordState and prints it; true when it is `expected`.
bool awaitState(PhoneClient& client, int expected, int timeoutMs, std::ostream& out, std::ostream& err) {
    ReceivedFrame frame;
    const ReadResult r = client.waitFor(protocol::MsgMediaRecordState, frame, timeoutMs);
    if (r != ReadResult::Frame) {
        err << "lumacro3-phone: no record state: " << toString(r) << "\n";
        return false;
    }
    out << describeFrame(frame) << "\n" << std::flush;
    return frame.message[protocol::field::state].asInt() == expected;
}

// Sends the frames at the pace they play (1024 samples each), as ADTS or,
// with `raw`, as the configuration followed by bare frames.
bool streamVoice(PhoneClient& client, const AacFile& file, bool raw, std::ostream& err) {
    if (raw && !client.sendMessage(protocol::MsgVoiceData, Json::Value(Json::objectValue), file.config, 2))
        return false;
    const auto begin = Clock::now();
    for (size_t i = 0; i < file.frames.size(); ++i) {
        const AdtsFrame& f = file.frames[i];
        const uint8_t* data = file.bytes.data() + f.offset + (raw ? f.header : 0);
        const size_t length = f.length - (raw ? f.header : 0);
        if (!client.sendMessage(protocol::MsgVoiceData, Json::Value(Json::objectValue), data, length)) {
            err << "lumacro3-phone: " << client.lastError() << "\n";
            return false;
        }
        std::this_thread::sleep_until(begin + std::chrono::microseconds(int64_t(i + 1) * 1024 * 1000000 /
                                                                         file.sampleRate));
    }
    return true;
}

int runSession(const ParsedArgs& args, const std::string& what, std::ostream& out, std::ostream& err) {
    int action, expected;
    if (what == "start") action = 1, expected = 1;
    else if (what == "stop") action = 0, expected = 0;
    else if (what == "pause") action = 2, expected = 2;
    else if (what == "resume") action = 3, expected = 3;
    else throw UsageError("record needs start, stop, pause or resume, not \"" + what + "\"");

    const auto voicePath = args.value("voice");
    const bool raw = args.flag("raw");
    const double duration = secondsFromArgs(args, "duration", 0);
    if ((voicePath || args.has("duration")) && action != 1)
        throw UsageError("--voice and --duration go with \"start\"");
    AacFile voice;
    std::string error;
    if (voicePath && !readAdts(*voicePath, voice, error)) {
        err << "lumacro3-phone: " << error << "\n";
        return kExitFailure;
    }
    const int timeout = timeoutFromArgs(args, "timeout", 10000);

    // When this command ends the recording itself (voice or duration), it is
    // the controlling phone. Otherwise the recording must outlive it, and the
    // controlling phone's leaving would end it: a watching phone then, which
    // the PC obeys only while its WATCH_ONLY setting is 0 (--udp always works).
    const bool selfContained = voicePath || args.has("duration");
    return inSession(
        args, selfContained, err,
        [&](PhoneClient& client) {
            Json::Value message(Json::objectValue);
            message[protocol::field::action] = action;
            if (action == 1) message[protocol::field::enableClientVoice] = voicePath || args.flag("client-voice");
            if (!sendOrReport(client, protocol::MsgMediaRecord, message, err) ||
                !awaitState(client, expected, timeout, out, err))
                return kExitFailure;

            if (action == 1 && (voicePath || duration > 0)) {
                const auto begin = Clock::now();
                if (voicePath && !streamVoice(client, voice, raw, err)) return kExitFailure;
                std::this_thread::sleep_until(begin + std::chrono::milliseconds(int64_t(duration * 1000)));
                Json::Value stop(Json::objectValue);
                stop[protocol::field::action] = 0;
                if (!sendOrReport(client, protocol::MsgMediaRecord, stop, err) ||
                    !awaitState(client, 0, timeout, out, err))
                    return kExitFailure;
            }
            return kExitOk;
        },
        500);
}

int run(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    const std::string& what = args.positional().at(0);
    return args.flag("udp") ? runUdp(args, what, out, err) : runSession(args, what, out, err);
}

}  // namespace

Command recordCommand() {
    return {"record",
            "start|stop|pause|resume [--udp] [--address IP] [--port N] [--timeout MS] "
            "[--voice FILE.aac [--raw]] [--client-voice] [--duration SECONDS] [handshake options]",
            "drive the lesson recorder over the session (or over UDP) and print the PC's answer",
            sessionOptions(
                {
                    {"timeout", "MS", "how long to wait for the PC's answer (default 10000, with --udp 2000)"},
                    {"udp", "", "send the classroom server's datagram instead (start and stop only)"},
                    {"voice", "FILE", "with start: record the phone's voice, streaming this ADTS AAC file, then stop"},
                    {"raw", "", "with --voice: send the decoder configuration, then frames without ADTS headers"},
                    {"client-voice", "", "with start: ask for the phone's voice without sending any"},
                    {"duration", "SECONDS", "with start: keep recording this long (at least), then stop"},
                },
                {"port", "N", "session port (default 49873), with --udp the discovery port (default 49872)"}),
            1, 1, run};
}

}  // namespace phone::cli
