#include "ui/widgets/artwork.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace ui::widgets {

namespace {

// Icons are drawn large and scaled down by the controls, so they stay sharp
// at every interface scale.
constexpr int kIconSide = 96;

QImage blank(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QPen whitePen(qreal width) {
    return QPen(Qt::white, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// What is drawn next is filled white, without an outline.
void fillWhite(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
}

// A transparent icon square painted by `draw` with antialiasing.
QImage paintIcon(void (*draw)(QPainter&)) {
    QImage image = blank(kIconSide, kIconSide);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    return image;
}

void drawCloseIcon(QPainter& p) {
    p.setPen(whitePen(9));
    p.drawLine(QPointF(22, 22), QPointF(74, 74));
    p.drawLine(QPointF(74, 22), QPointF(22, 74));
}

void drawHelpIcon(QPainter& p) {
    p.setPen(whitePen(8));
    p.drawEllipse(QRectF(8, 8, 80, 80));
    QPainterPath hook;
    hook.moveTo(35, 38);
    hook.cubicTo(35, 22, 61, 22, 61, 38);
    hook.cubicTo(61, 48, 48, 49, 48, 60);
    p.setBrush(Qt::NoBrush);
    p.drawPath(hook);
    fillWhite(p);
    p.drawEllipse(QPointF(48, 72), 5.5, 5.5);
}

void drawSettingsIcon(QPainter& p) {
    const QPointF centre(48, 48);
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 4; ++i) {
        // Each tooth: two points on the outer radius, two on the inner one.
        const qreal angle = (i - 0.5) * M_PI * 2 / (teeth * 4);
        const qreal radius = (i % 4 == 0 || i % 4 == 1) ? 44 : 34;
        const QPointF point = centre + QPointF(qCos(angle) * radius, qSin(angle) * radius);
        if (i == 0)
            gear.moveTo(point);
        else
            gear.lineTo(point);
    }
    gear.closeSubpath();
    gear.addEllipse(centre, 14, 14);  // the hole (odd-even fill)
    fillWhite(p);
    p.drawPath(gear);
}

void drawMirrorIcon(QPainter& p) {
    p.setPen(whitePen(7));
    // Screen outline open at the lower left, where the cast waves sit.
    QPainterPath screen;
    screen.moveTo(10, 40);
    screen.lineTo(10, 16);
    screen.lineTo(86, 16);
    screen.lineTo(86, 74);
    screen.lineTo(52, 74);
    p.drawPath(screen);
    p.drawArc(QRectF(-8, 46, 56, 56), 0, 90 * 16);
    p.drawArc(QRectF(-8, 64, 20, 20), 0, 90 * 16);
    fillWhite(p);
    p.drawEllipse(QPointF(10, 84), 5, 5);
}

void drawDeviceIcon(QPainter& p) {
    const QColor grey(0x5b, 0x64, 0x72);
    p.setPen(QPen(grey, 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(8, 12, 80, 54), 6, 6);
    p.drawLine(QPointF(48, 66), QPointF(48, 82));
    p.drawLine(QPointF(28, 84), QPointF(68, 84));
}

void drawLogo(QPainter& p) {
    // A white rounded tile with a presentation arrow cut out of it, so the
    // title band's colour shows through.
    fillWhite(p);
    p.drawRoundedRect(QRectF(2, 2, 92, 92), 22, 22);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    QPainterPath arrow;
    arrow.moveTo(36, 24);
    arrow.lineTo(74, 48);
    arrow.lineTo(36, 72);
    arrow.closeSubpath();
    p.drawPath(arrow);
    p.drawRoundedRect(QRectF(20, 24, 9, 48), 4, 4);
}

void drawNoNetwork(QPainter& p) {
    const QColor grey(0xb8, 0xbe, 0xc7);
    p.setPen(QPen(grey, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    // Three arcs above a dot, centred at (48, 74).
    for (int r : {16, 32, 48}) p.drawArc(QRectF(48 - r, 74 - r, 2 * r, 2 * r), 45 * 16, 90 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(grey);
    p.drawEllipse(QPointF(48, 76), 6, 6);
    p.setPen(QPen(QColor(0xff, 0x31, 0x31), 7, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(18, 18), QPointF(80, 86));
}

}  // namespace

QImage noNetworkPicture() {
    return paintIcon(drawNoNetwork);
}

QImage artworkPicture(int id) {
    switch (id) {
    case kArtCloseIcon: return paintIcon(drawCloseIcon);
    case kArtDeviceIcon: return paintIcon(drawDeviceIcon);
    case kArtHelpIcon: return paintIcon(drawHelpIcon);
    case kArtLogo: return paintIcon(drawLogo);
    case kArtSettingsIcon: return paintIcon(drawSettingsIcon);
    case kArtMirrorIcon: return paintIcon(drawMirrorIcon);
    default: return {};
    }
}

}  // namespace ui::widgets
