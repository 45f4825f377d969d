// connect: handshake, then print the frames the PC sends for a while.
#include "phone/commands.h"

#include <ostream>

namespace phone::cli {

namespace {

int run(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    const double seconds = secondsFromArgs(args, "watch", 3);
    return watchSession(args, std::nullopt, seconds, out, err);
}

}  // namespace

Command connectCommand() {
    return {"connect",
            "--address IP [--port N] [--admin|--no-admin] [--unique-id S] [--mac S] [--tag S] "
            "[--width N] [--height N] [--ftp-url S] [--watch SECONDS]",
            "open a session, send MsgClientInfo and print what the PC sends",
            sessionOptions({secondsOption("watch", "how long to print frames", 3)}), 0, 0, run};
}

}  // namespace phone::cli
