// lumacro3-phone live: receive the PC's screen stream into an Annex-B file.
#include "phone/commands.h"

namespace phone::cli {

Command liveCommand() {
    Command c;
    c.name = "live";
    c.synopsis = "--out FILE.h264 [options]";
    c.summary = "Receive the PC's screen stream and write it as an H.264 Annex-B file";
    c.run = [](const ParsedArgs&, std::ostream&, std::ostream& err) {
        err << "live: not built yet\n";
        return kExitFailure;
    };
    return c;
}

}  // namespace phone::cli
