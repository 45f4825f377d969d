#include "ui/widgets/qr_symbol.h"

#include <qrencode.h>

#include <algorithm>

namespace ui::widgets {

std::optional<QrSymbol> encodeQr(const std::string& text) {
    if (text.empty()) return std::nullopt;
    // Version 1 is the minimum; the library raises it as far as the text needs.
    QRcode* code = QRcode_encodeString(text.c_str(), 1, QR_ECLEVEL_L, QR_MODE_8, 1);
    if (!code) return std::nullopt;
    QrSymbol symbol;
    symbol.version = code->version;
    symbol.width = code->width;
    symbol.modules.assign(code->data, code->data + static_cast<size_t>(code->width) * code->width);
    QRcode_free(code);
    return symbol;
}

QrPlacement placeQr(int modules, int boxWidth, int boxHeight) {
    QrPlacement p;
    if (modules <= 0 || boxWidth <= 0 || boxHeight <= 0) return p;
    const double scale = std::min(static_cast<double>(boxWidth) / modules,
                                  static_cast<double>(boxHeight) / modules);
    p.module = static_cast<int>(modules * scale) / modules;
    p.x0 = (boxWidth - modules * p.module) / 2;
    p.y0 = (boxHeight - modules * p.module) / 2;
    return p;
}

}  // namespace ui::widgets
