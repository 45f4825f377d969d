// A QR symbol as the QR library encodes it, and where its modules go in a box.
// Qt-free so the terminal print and the tests can use it too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ui::widgets {

struct QrSymbol {
    int version = 0;
    int width = 0;                 // modules per side
    std::vector<uint8_t> modules;  // width * width, lowest bit set = dark

    bool dark(int row, int column) const { return modules[row * width + column] & 1; }
};

// Encodes the text as given (8-bit mode, level L, smallest version that
// holds it, never upper-cased). Empty text or text too long for any
// version gives nothing.
std::optional<QrSymbol> encodeQr(const std::string& text);

// Whole-pixel modules centred in a box: module size g and the top-left
// corner of the symbol. g is 0 when the box is smaller than the symbol.
struct QrPlacement {
    int module = 0;
    int x0 = 0;
    int y0 = 0;
};
QrPlacement placeQr(int modules, int boxWidth, int boxHeight);

}  // namespace ui::widgets
