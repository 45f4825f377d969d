// push: put a file on the PC through the session (MsgFile start, data frames,
// end, open), optionally asking first whether the PC already holds it.
#include "phone/commands.h"
#include "phone/socket_util.h"

#include "protocol/fields.h"
#include "protocol/message_names.h"
#include "support/files.h"

#include <chrono>
#include <climits>
#include <fstream>
#include <ostream>

namespace phone::cli {

namespace {

namespace field = protocol::field;

constexpr long kDefaultChunk = 256 * 1024;

Json::Value fileMessage(int action, int64_t fileId) {
    Json::Value m(Json::objectValue);
    m[field::action] = action;
    m[field::fileId] = static_cast<Json::Int64>(fileId);
    return m;
}

// Sends the query and waits for the PC's answer: true when it answered that
// it holds no identical copy (action -1 for our fileId).
bool pcNeedsUpload(PhoneClient& client, int64_t fileId, const std::string& name, const std::string& md5,
                   int anim, int waitMs, std::ostream& err) {
    Json::Value query = fileMessage(4, fileId);
    query[field::fileName] = name;
    query[field::md5] = md5;
    query[field::anim] = anim;
    if (!sendOrReport(client, protocol::MsgFile, query, err))
        return true;
    const detail::Deadline deadline(waitMs);
    ReceivedFrame frame;
    while (!deadline.expired() &&
           client.waitFor(protocol::MsgFile, frame, deadline.remainingMs()) == ReadResult::Frame) {
        if (frame.message[field::action].asInt() == -1 && frame.message[field::fileId].asInt64() == fileId)
            return true;
    }
    return false;
}

int run(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    const std::string file = args.positional().at(0);
    const size_t chunk = static_cast<size_t>(args.integer("chunk", 1, 8 * 1024 * 1024).value_or(kDefaultChunk));
    const int anim = static_cast<int>(args.integer("anim", -1000000, 1000000).value_or(0));
    const int waitMs = timeoutFromArgs(args, "wait", 2000);
    const std::string name = args.value("name", support::getFileName(file, "name"));
    const int64_t fileId = args.value("file-id")
        ? static_cast<int64_t>(*args.integer("file-id", LONG_MIN, LONG_MAX))
        : std::chrono::duration_cast<std::chrono::milliseconds>(
              std::chrono::system_clock::now().time_since_epoch()).count();

    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in) {
        err << "lumacro3-phone: cannot read " << file << "\n";
        return kExitFailure;
    }
    const int64_t size = static_cast<int64_t>(in.tellg());
    in.seekg(0);

    return inSession(args, std::nullopt, err, [&](PhoneClient& client) {
        if (args.flag("query")) {
            std::string md5;
            if (!support::getMd5(file, md5)) {
                err << "lumacro3-phone: cannot read " << file << "\n";
                return kExitFailure;
            }
            if (!pcNeedsUpload(client, fileId, name, md5, anim, waitMs, err)) {
                out << "the PC holds an identical copy of " << name << "\n";
                return kExitOk;
            }
            out << "the PC has no copy of " << name << "\n";
        }

        Json::Value start = fileMessage(1, fileId);
        start[field::fileName] = name;
        start[field::fileSize] = static_cast<Json::Int64>(size);
        bool ok = client.sendMessage(protocol::MsgFile, start);
        const Json::Value data = fileMessage(2, fileId);
        std::vector<uint8_t> buffer(chunk);
        size_t frames = 0;
        int64_t sent = 0;
        while (ok && in) {
            in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
            const size_t got = static_cast<size_t>(in.gcount());
            if (got == 0)
                break;
            ok = client.sendMessage(protocol::MsgFile, data, buffer.data(), got);
            sent += static_cast<int64_t>(got);
            ++frames;
        }
        ok = ok && client.sendMessage(protocol::MsgFile, fileMessage(3, fileId));
        if (ok && !args.flag("no-open"))
            ok = client.sendMessage(protocol::MsgFile, fileMessage(0, fileId));
        if (!ok) {
            err << "lumacro3-phone: " << client.lastError() << "\n";
            return kExitFailure;
        }
        if (sent != size) {
            err << "lumacro3-phone: " << file << " changed while it was sent\n";
            return kExitFailure;
        }
        out << "pushed " << name << ": " << sent << " bytes in " << frames << " data frames\n";
        return kExitOk;
    });
}

}  // namespace

Command pushCommand() {
    return {"push", "--address IP FILE [--query] [--chunk BYTES] [handshake options]",
            "put a file on the PC through the session and open it there",
            sessionOptions({
                {"query", "", "ask first whether the PC holds an identical copy (by MD5); skip the upload if so"},
                {"name", "NAME", "file name on the PC (default: the file's own name)"},
                {"file-id", "N", "fileId of the transfer (default: the time in milliseconds)"},
                {"chunk", "BYTES", "bytes per data frame (default 262144)"},
                {"anim", "N", "drawing-board effect sent with the query (default 0)"},
                {"wait", "MS", "how long to wait for the answer to the query (default 2000)"},
                {"no-open", "", "do not ask the PC to open the file afterwards"}}),
            1, 1, run};
}

}  // namespace phone::cli
