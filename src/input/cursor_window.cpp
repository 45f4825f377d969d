#include "input/cursor_window.h"

#include <QBitmap>
#include <QCursor>
#include <QPainter>

namespace input {
namespace {

constexpr int kTrackingMs = 10;
constexpr int kRaiseEveryTicks = 30;
// Without a compositing manager partly transparent pixels cannot be blended,
// so the window's shape keeps the pixels that are mostly opaque.
constexpr int kShapeAlpha = 96;

QBitmap shapeOf(const QImage& image) {
    QImage mask(image.size(), QImage::Format_Mono);
    mask.setColor(0, qRgb(255, 255, 255));
    mask.setColor(1, qRgb(0, 0, 0));
    mask.fill(0);
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(row[x]) >= kShapeAlpha) mask.setPixel(x, y, 1);
    }
    return QBitmap::fromImage(mask);
}

}  // namespace

CursorWindow::CursorWindow()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::X11BypassWindowManagerHint | Qt::WindowTransparentForInput |
                           Qt::WindowDoesNotAcceptFocus) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setWindowTitle(QStringLiteral("Lumacro3 cursor"));
    animation_.setSingleShot(true);
    QObject::connect(&animation_, &QTimer::timeout, this, [this] {
        showStep((step_ + 1) % int(picture_.steps.size()));
    });
    tracking_.setInterval(kTrackingMs);
    QObject::connect(&tracking_, &QTimer::timeout, this, [this] { follow(); });
}

void CursorWindow::start(CursorPicture picture) {
    animation_.stop();
    picture_ = std::move(picture);
    if (picture_.steps.empty()) return stop();
    lastPointer_ = QPoint(-100000, -100000);
    showStep(0);
    follow();
    show();
    raise();
    tracking_.start();
}

void CursorWindow::stop() {
    animation_.stop();
    tracking_.stop();
    hide();
}

void CursorWindow::showStep(int step) {
    step_ = step;
    const CursorPicture::Step& s = picture_.steps[size_t(step)];
    if (size() != s.image.size()) setFixedSize(s.image.size());
    setMask(shapeOf(s.image));
    lastPointer_ = QPoint(-100000, -100000);  // the hot spot may differ between frames
    follow();
    update();
    if (picture_.steps.size() > 1) animation_.start(std::max(10, s.delayMs));
}

void CursorWindow::follow() {
    if (picture_.steps.empty()) return;
    const QPoint pointer = QCursor::pos();
    if (pointer != lastPointer_) {
        lastPointer_ = pointer;
        move(pointer - picture_.steps[size_t(step_)].hotSpot);
    }
    // Windows mapped later would cover this one.
    if (++ticksSinceRaise_ >= kRaiseEveryTicks) {
        ticksSinceRaise_ = 0;
        raise();
    }
}

void CursorWindow::paintEvent(QPaintEvent*) {
    if (picture_.steps.empty()) return;
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, picture_.steps[size_t(step_)].image);
}

}  // namespace input
