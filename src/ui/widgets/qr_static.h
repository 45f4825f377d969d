// A box that shows a text as a QR code: whole-pixel modules, centred, on
// white; all black while it holds no code.
#pragma once

#include "ui/widgets/qr_symbol.h"

#include <QWidget>

#include <optional>
#include <string>

namespace ui::widgets {

class CQRStatic : public QWidget {
public:
    explicit CQRStatic(QWidget* parent = nullptr);

    // Encodes the text unless a code is held already (the first one stays
    // until clear()). Empty text, or text too long for a QR code, leaves
    // the box without a code.
    void setText(const std::string& utf8);
    // Drops the code so that the next setText shows its text.
    void clear();

    bool hasSymbol() const { return symbol_.has_value(); }
    const std::optional<QrSymbol>& symbol() const { return symbol_; }
    const std::string& text() const { return text_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<QrSymbol> symbol_;
    std::string text_;
};

}  // namespace ui::widgets
