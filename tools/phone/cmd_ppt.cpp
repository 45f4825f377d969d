// ppt: the slide-show commands of MsgPPT: "start" (action 0) or "goto N"
// (action 1 with slideIndex N, slides counted from 1); then prints what the
// PC sends for --watch seconds (MsgPPT answers: 2 slide images, 3 show ended,
// 4 slide changed).
#include "phone/commands.h"

#include "protocol/message_names.h"

#include <ostream>

namespace phone::cli {

namespace {

int run(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    const std::string& what = args.positional().at(0);
    Json::Value message(Json::objectValue);
    if (what == "start") {
        if (args.positional().size() != 1) throw UsageError("start takes no slide number");
        message["action"] = 0;
    } else if (what == "goto") {
        if (args.positional().size() != 2) throw UsageError("goto needs a slide number");
        int slide = 0;
        try {
            slide = std::stoi(args.positional()[1]);
        } catch (const std::exception&) {
            throw UsageError("slide number must be a whole number");
        }
        message["action"] = 1;
        message["slideIndex"] = slide;
    } else {
        throw UsageError("expected start or goto N");
    }
    const double seconds = secondsFromArgs(args, "watch", 0);
    return inSession(args, std::nullopt, err, [&](PhoneClient& client) {
        if (!sendOrReport(client, protocol::MsgPPT, message, err)) return kExitFailure;
        err << "sent MsgPPT " << message["action"].asInt() << "\n";
        return seconds > 0 ? printFramesFor(client, seconds, out, err) : kExitOk;
    });
}

}  // namespace

Command pptCommand() {
    return {"ppt", "--address IP start|goto N [--watch SECONDS] [handshake options]",
            "start the slide show or go to slide N (from 1); print the PC's answers",
            sessionOptions({secondsOption("watch", "print what the PC sends for this long", 0)}), 1, 2, run};
}

}  // namespace phone::cli
