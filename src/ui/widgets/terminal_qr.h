// A QR symbol as text for a terminal: two module rows per line with the
// Unicode half blocks, so a headless PC can still be joined by a phone.
#pragma once

#include "ui/widgets/qr_symbol.h"

#include <string>
#include <vector>

namespace ui::widgets {

// One string per text line, with `quiet` light modules around the symbol.
// With `ansi` every line is drawn black on white so the code reads on dark
// and light terminals alike; without it dark modules are the blocks and
// light ones blanks (for log files).
std::vector<std::string> halfBlockLines(const QrSymbol& symbol, int quiet, bool ansi);

}  // namespace ui::widgets
