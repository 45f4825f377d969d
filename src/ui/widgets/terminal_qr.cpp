#include "ui/widgets/terminal_qr.h"

namespace ui::widgets {

std::vector<std::string> halfBlockLines(const QrSymbol& symbol, int quiet, bool ansi) {
    const int n = symbol.width;
    const int side = n + 2 * quiet;
    auto dark = [&](int row, int column) {
        row -= quiet;
        column -= quiet;
        return row >= 0 && row < n && column >= 0 && column < n && symbol.dark(row, column);
    };
    std::vector<std::string> lines;
    for (int row = 0; row < side; row += 2) {
        std::string line = ansi ? "\x1b[30;47m" : "";
        for (int column = 0; column < side; ++column) {
            const bool top = dark(row, column);
            const bool bottom = row + 1 < side && dark(row + 1, column);
            if (top && bottom)
                line += "\u2588";
            else if (top)
                line += "\u2580";
            else if (bottom)
                line += "\u2584";
            else
                line += ' ';
        }
        if (ansi) line += "\x1b[0m";
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace ui::widgets
