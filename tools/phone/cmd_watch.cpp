// watch: join as a watching phone and print every frame and the keep-alive count.
#include "phone/commands.h"

#include <ostream>

namespace phone::cli {

namespace {

int run(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    const double seconds = args.number("seconds", 0, 24 * 3600).value_or(10.0);
    return watchSession(args, false, seconds, out, err);
}

}  // namespace

Command watchCommand() {
    return {"watch", "--address IP [--seconds N] [--admin] [handshake options]",
            "join as a watching phone (admin false unless --admin) and print every frame",
            sessionOptions({{"seconds", "N", "how long to watch (default 10)"}}), 0, 0, run};
}

}  // namespace phone::cli
