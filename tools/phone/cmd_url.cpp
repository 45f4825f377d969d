// url: ask the PC to fetch and open a file (or play media) named by a URL.
#include "phone/commands.h"

#include "protocol/fields.h"
#include "protocol/message_names.h"

#include <ostream>

namespace phone::cli {

namespace {

namespace field = protocol::field;

int run(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    Json::Value m(Json::objectValue);
    m[field::resType] = static_cast<int>(args.integer("res-type", -1000, 1000).value_or(0));
    m[field::url] = args.positional().at(0);
    if (auto anim = args.integer("anim", -1000000, 1000000))
        m[field::anim] = static_cast<int>(*anim);

    return inSession(args, std::nullopt, err, [&](PhoneClient& client) {
        if (!sendOrReport(client, protocol::MsgOpenURL, m, err))
            return kExitFailure;
        out << "sent " << protocol::MsgOpenURL << " " << args.positional().at(0) << "\n";
        return kExitOk;
    });
}

}  // namespace

Command urlCommand() {
    return {"url", "--address IP URL [--res-type N] [--anim N] [handshake options]",
            "ask the PC to open a file or play media named by a URL",
            sessionOptions({{"res-type", "N", "0 or 1 a file to fetch and open, 2 media to play (default 0)"},
                            {"anim", "N", "drawing-board effect for a picture (default: not sent)"}}),
            1, 1, run};
}

}  // namespace phone::cli
