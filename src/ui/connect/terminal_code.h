// The connect payload and its QR code printed as text, so a PC without a
// screen nearby can still be joined.
#pragma once

#include <cstdio>
#include <string>

namespace ui::welcome {

// Writes the payload and the code in half blocks to `out`, black on white.
void writeConnectCode(std::FILE* out, const std::string& payload);

// At start-up: to standard output when it is a terminal; otherwise, when
// logging is on, as log lines (plain blocks); else nowhere.
void announceConnectCode(const std::string& payload);

}  // namespace ui::welcome
