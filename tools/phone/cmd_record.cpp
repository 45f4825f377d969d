// record start|stop: the remote record datagrams, prints the PC's reply.
#include "phone/commands.h"
#include "phone/discovery.h"

#include <ostream>

namespace phone::cli {

namespace {

int run(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    const std::string& what = args.positional().at(0);
    std::string text;
    if (what == "start") text = protocol::kStartRecord;
    else if (what == "stop") text = protocol::kStopRecord;
    else throw UsageError("record needs \"start\" or \"stop\", not \"" + what + "\"");

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

}  // namespace

Command recordCommand() {
    return {"record",
            "start|stop --address IP [--port N] [--timeout MS]",
            "start or stop the lesson recorder over UDP and print the reply",
            {addressOption(), portOption(protocol::kDiscoveryPort),
             {"timeout", "MS", "how long to wait for the reply (default 2000)"}},
            1, 1, run};
}

}  // namespace phone::cli
