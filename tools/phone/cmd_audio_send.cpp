// lumacro3-phone audio-send: act as a phone that plays its sound on the PC:
// MsgAudioPlayStart with the AAC configuration, the frames of an ADTS file
// as MsgAudioPlayData in real time, then MsgAudioPlayStop.
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

int run(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    AdtsFile adts;
    std::string error;
    if (!readAdts(args.positional().at(0), adts, error)) {
        err << "lumacro3-phone: " << error << "\n";
        return kExitFailure;
    }
    return inSession(args, std::nullopt, err, [&](PhoneClient& client) {
        Json::Value start(Json::objectValue);
        start[f::channels] = adts.channels;
        start[f::sampleRate] = adts.sampleRate;
        if (!client.sendMessage(protocol::MsgAudioPlayStart, start, adts.config.data(), adts.config.size())) {
            err << "lumacro3-phone: " << client.lastError() << "\n";
            return kExitFailure;
        }
        const Json::Value data(Json::objectValue);
        const auto begin = std::chrono::steady_clock::now();
        // An AAC frame holds 1024 samples.
        const double frameUs = 1024.0 * 1e6 / adts.sampleRate;
        for (size_t i = 0; i < adts.frames.size(); ++i) {
            std::this_thread::sleep_until(begin + std::chrono::microseconds(int64_t(double(i) * frameUs)));
            if (!client.sendMessage(protocol::MsgAudioPlayData, data, adts.frames[i].data(), adts.frames[i].size())) {
                err << "lumacro3-phone: " << client.lastError() << "\n";
                return kExitFailure;
            }
        }
        if (!args.flag("no-stop")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            client.sendMessage(protocol::MsgAudioPlayStop, Json::Value(Json::objectValue));
        }
        out << "sent " << adts.frames.size() << " AAC frames (" << adts.channels << " channels, "
            << adts.sampleRate << " Hz)\n" << std::flush;
        return kExitOk;
    });
}

}  // namespace

Command audioSendCommand() {
    return {"audio-send", "FILE.aac [--no-stop] [handshake options]",
            "Play an ADTS AAC file on the PC as the phone's sound, in real time",
            sessionOptions({{"no-stop", "", "do not send MsgAudioPlayStop at the end"}}), 1, 1, run};
}

}  // namespace phone::cli
