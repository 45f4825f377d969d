#include "ui/connect/terminal_code.h"

#include "support/logger.h"
#include "ui/widgets/qr_symbol.h"
#include "ui/widgets/terminal_qr.h"

#include <unistd.h>

namespace ui::welcome {

namespace {

constexpr int kQuietModules = 2;

std::string printable(const std::string& payload) {
    std::string line = payload;
    while (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
}

}  // namespace

void writeConnectCode(std::FILE* out, const std::string& payload) {
    const auto symbol = widgets::encodeQr(payload);
    std::fprintf(out, "Connect a phone by scanning this code (payload %s):\n", printable(payload).c_str());
    if (!symbol) return;
    for (const std::string& line : widgets::halfBlockLines(*symbol, kQuietModules, true))
        std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
}

void announceConnectCode(const std::string& payload) {
    if (::isatty(STDOUT_FILENO)) {
        writeConnectCode(stdout, payload);
        return;
    }
    if (!support::log().isOn()) return;
    LOGOUT("connect payload %s", printable(payload).c_str());
    if (const auto symbol = widgets::encodeQr(payload))
        for (const std::string& line : widgets::halfBlockLines(*symbol, kQuietModules, false))
            LOGOUT("%s", line.c_str());
}

}  // namespace ui::welcome
