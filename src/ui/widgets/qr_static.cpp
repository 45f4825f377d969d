#include "ui/widgets/qr_static.h"

#include "support/logger.h"

#include <QPainter>

namespace ui::widgets {

CQRStatic::CQRStatic(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CQRStatic::setText(const std::string& utf8) {
    if (symbol_) return;
    symbol_ = encodeQr(utf8);
    if (symbol_)
        text_ = utf8;
    else if (!utf8.empty())
        LOGOUT("QR code: text of %zu bytes does not fit", utf8.size());
    update();
}

void CQRStatic::clear() {
    symbol_.reset();
    text_.clear();
    update();
}

void CQRStatic::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!symbol_) {
        p.fillRect(rect(), Qt::black);
        return;
    }
    p.fillRect(rect(), Qt::white);
    const int n = symbol_->width;
    const QrPlacement at = placeQr(n, width(), height());
    if (at.module <= 0) return;
    for (int row = 0; row < n; ++row)
        for (int column = 0; column < n; ++column)
            if (symbol_->dark(row, column))
                p.fillRect(at.x0 + column * at.module, at.y0 + row * at.module, at.module, at.module,
                           Qt::black);
}

}  // namespace ui::widgets
