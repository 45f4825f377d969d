// lumacro3-phone play: act as the phone that owns a media file. The PC plays
// it by asking for its bytes (MsgMediaPlayer reads and seeks, answered from
// the file); the state and position messages are printed. Words on standard
// input (pause, resume, seek US, stop) control the playback, as do the
// one-shot forms "play pause|resume|stop|seek US" from another session.
#include "phone/commands.h"
#include "phone/socket_util.h"

#include "protocol/fields.h"
#include "protocol/message_names.h"
#include "support/files.h"

#include <poll.h>
#include <unistd.h>

#include <fstream>
#include <ostream>
#include <sstream>
#include <iterator>
#include <algorithm>

namespace phone::cli {

namespace {

namespace f = protocol::field;

// MsgMediaPlay for a control word; false when the word is not one.
bool controlMessage(const std::vector<std::string>& words, Json::Value& m) {
    if (words.empty()) return false;
    m = Json::Value(Json::objectValue);
    if (words[0] == "stop") {
        m[f::action] = 0;
    } else if (words[0] == "pause") {
        m[f::action] = 2;
    } else if (words[0] == "resume") {
        m[f::action] = 3;
    } else if (words[0] == "seek" && words.size() == 2) {
        char* end = nullptr;
        const long long us = std::strtoll(words[1].c_str(), &end, 10);
        if (!end || *end) throw UsageError("seek needs microseconds: " + words[1]);
        m[f::action] = 4;
        m[f::position] = static_cast<Json::Int64>(us);
    } else {
        return false;
    }
    return true;
}

// A control line waiting on standard input, if any.
bool readStdinLine(std::string& buffer, std::string& line, bool& closed) {
    if (closed) return false;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0) {
        char chunk[256];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0)
            closed = true;
        else
            buffer.append(chunk, size_t(n));
    }
    const size_t nl = buffer.find('\n');
    if (nl == std::string::npos) return false;
    line = buffer.substr(0, nl);
    buffer.erase(0, nl + 1);
    return true;
}

int serve(const ParsedArgs& args, const std::string& path, std::ostream& out, std::ostream& err) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        err << "lumacro3-phone: cannot read " << path << "\n";
        return kExitFailure;
    }
    const int64_t size = static_cast<int64_t>(file.tellg());
    file.seekg(0);
    const std::string name = args.value("name", support::getFileName(path, "name"));
    const double seconds = secondsFromArgs(args, "seconds", 3600);
    const bool mute = args.flag("mute");  // never answer (a phone gone silent)

    return inSession(args, std::nullopt, err, [&](PhoneClient& client) {
        Json::Value open(Json::objectValue);
        open[f::action] = 0;
        open[f::fileName] = name;
        open[f::fileSize] = static_cast<Json::Int64>(size);
        if (!sendOrReport(client, protocol::MsgMediaPlayer, open, err)) return kExitFailure;

        std::vector<uint8_t> buffer;
        bool started = false, ended = false, failed = false, stdinClosed = false;
        std::string pending, line;
        uint64_t reads = 0, seeks = 0;
        const detail::Deadline deadline(int(seconds * 1000));
        while (!deadline.expired() && !ended && !failed) {
            while (readStdinLine(pending, line, stdinClosed)) {
                std::istringstream words(line);
                const std::vector<std::string> w{std::istream_iterator<std::string>(words),
                                                 std::istream_iterator<std::string>()};
                Json::Value m;
                if (controlMessage(w, m)) {
                    client.sendMessage(protocol::MsgMediaPlay, m);
                    out << "sent " << line << "\n" << std::flush;
                } else if (!w.empty()) {
                    err << "lumacro3-phone: unknown control: " << line << "\n";
                }
            }
            ReceivedFrame frame;
            const ReadResult r = client.readFrame(frame, std::min(deadline.remainingMs() < 0 ? 50 : deadline.remainingMs(), 50));
            if (r == ReadResult::Timeout) continue;
            if (r != ReadResult::Frame) {
                err << "lumacro3-phone: " << (r == ReadResult::Closed ? "connection closed by the PC" : client.lastError())
                    << "\n";
                return kExitFailure;
            }
            const Json::Value& m = frame.message;
            if (frame.className == protocol::MsgMediaPlayer && !mute) {
                const int action = m[f::action].asInt();
                if (action == 1) {
                    ++reads;
                    const int64_t want = std::clamp<int64_t>(m[f::bytes].asInt64(), 0, 1 << 20);
                    buffer.resize(size_t(want));
                    file.read(reinterpret_cast<char*>(buffer.data()), std::streamsize(want));
                    const size_t got = size_t(file.gcount());
                    file.clear();
                    Json::Value answer(Json::objectValue);
                    answer[f::action] = 2;
                    client.sendMessage(protocol::MsgMediaPlayer, answer, buffer.data(), got);
                } else if (action == 4) {
                    ++seeks;
                    file.clear();
                    file.seekg(std::clamp<int64_t>(m[f::offset].asInt64(), 0, size));
                    Json::Value answer(Json::objectValue);
                    answer[f::action] = 5;
                    client.sendMessage(protocol::MsgMediaPlayer, answer);
                }
            } else if (frame.className == protocol::MsgMediaPlayState) {
                const int state = m[f::state].asInt();
                out << "state " << state << "\n" << std::flush;
                if (state == 1) started = true;
                if (state == -1) failed = true;
                if (state == 0 && started) ended = true;
            } else if (frame.className == protocol::MsgMediaPlayInfo) {
                if (m.isMember(f::duration))
                    out << "duration " << m[f::duration].asInt64() << "\n";
                out << "position " << m[f::position].asInt64() << "\n" << std::flush;
            }
        }
        out << "reads: " << reads << " seeks: " << seeks << "\n" << std::flush;
        if (failed) {
            err << "lumacro3-phone: the PC could not play " << name << "\n";
            return kExitFailure;
        }
        return kExitOk;
    });
}

int run(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    Json::Value control;
    if (controlMessage(args.positional(), control))
        return inSession(args, std::nullopt, err, [&](PhoneClient& client) {
            return sendOrReport(client, protocol::MsgMediaPlay, control, err) ? kExitOk : kExitFailure;
        });
    if (args.positional().size() != 1) throw UsageError("play FILE, or play pause|resume|stop|seek US");
    return serve(args, args.positional()[0], out, err);
}

}  // namespace

Command playCommand() {
    return {"play", "FILE | pause | resume | stop | seek US [--address IP] [--seconds S] [handshake options]",
            "Let the PC play FILE from this phone (reads and seeks answered from the file; states and "
            "positions printed; pause, resume, seek US and stop read from standard input), or control "
            "the playback",
            sessionOptions({{"name", "NAME", "the file name told to the PC (default: FILE's name)"},
                            secondsOption("seconds", "serve at most this long", 3600),
                            {"mute", "", "never answer the PC's requests (a phone that went silent)"}}),
            1, 2, run};
}

}  // namespace phone::cli
