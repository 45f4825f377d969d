// watch: join as a watching phone and print every frame and the keep-alive count.
#include "phone/commands.h"

#include <ostream>

namespace phone::cli {

namespace {

int run(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    const double seconds = secondsFromArgs(args, "seconds", 10);
    return watchSession(args, false, seconds, out, err);
}

}  // namespace

Command watchCommand() {
    return {"watch", "--address IP [--seconds SECONDS] [--admin] [handshake options]",
            "join as a watching phone (admin false unless --admin) and print every frame",
            sessionOptions({secondsOption("seconds", "how long to watch", 10)}), 0, 0, run};
}

}  // namespace phone::cli
