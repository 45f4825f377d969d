#include "ui/widgets/image_static.h"

#include <QPainter>

namespace ui::widgets {

CImageStatic::CImageStatic(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

bool CImageStatic::setImage(const std::string& path) {
    QImage loaded;
    const bool ok = loaded.load(QString::fromStdString(path));
    image_ = ok ? loaded : QImage();
    update();
    return ok;
}

void CImageStatic::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), Qt::white);
    if (image_.isNull()) return;
    const QRect target((width() - image_.width()) / 2, (height() - image_.height()) / 2,
                       image_.width(), image_.height());
    p.drawImage(target, image_);
}

}  // namespace ui::widgets
