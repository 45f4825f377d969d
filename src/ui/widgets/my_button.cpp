#include "ui/widgets/my_button.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

#include <cstdarg>
#include <cstdio>

namespace ui::widgets {

namespace {

constexpr size_t kMaxStyleLength = 1024;

// The picture scaled to fit the box with its proportions kept.
QSizeF fitted(const QImage& picture, qreal boxWidth, qreal boxHeight) {
    if (picture.isNull() || boxWidth <= 0 || boxHeight <= 0) return {};
    const qreal scale = std::min(boxWidth / picture.width(), boxHeight / picture.height());
    return {picture.width() * scale, picture.height() * scale};
}

}  // namespace

MyButton::MyButton(QWidget* parent) : QPushButton(parent) {
    const QColor face = palette().color(QPalette::Button);
    for (auto& state : states_) state.backColor = QColor(face.red(), face.green(), face.blue());
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::PointingHandCursor);
}

void MyButton::applyFormatted(State state, const char* format, va_list args) {
    char text[kMaxStyleLength + 1];
    std::vsnprintf(text, sizeof text, format, args);
    applyStyle(text, states_[state], this->text());
    update();
}

void MyButton::setStyle(const char* format, ...) {
    va_list args;
    va_start(args, format);
    applyFormatted(Normal, format, args);
    va_end(args);
    states_[Hover] = states_[Normal];
    states_[Pressed] = states_[Normal];
    states_[Disabled] = states_[Normal];
    if (!states_[Normal].icon.isNull()) states_[Disabled].icon = greyCopy(states_[Normal].icon);
}

void MyButton::setHoverStyle(const char* format, ...) {
    va_list args;
    va_start(args, format);
    applyFormatted(Hover, format, args);
    va_end(args);
}

void MyButton::setDownStyle(const char* format, ...) {
    va_list args;
    va_start(args, format);
    applyFormatted(Pressed, format, args);
    va_end(args);
}

void MyButton::copyStyleFrom(const MyButton& other, int iconId) {
    layout_ = other.layout_;
    margin_ = other.margin_;
    states_ = other.states_;
    const QImage icon = loadStylePicture(std::to_string(iconId));
    for (auto& state : states_) state.icon = icon;
    update();
}

void MyButton::setLayoutMode(int mode) {
    if (mode < TextOnly || mode > IconAbove) return;
    layout_ = mode;
    update();
}

void MyButton::setMargin(int pixels) {
    margin_ = pixels;
    update();
}

MyButton::State MyButton::currentState() const {
    if (!isEnabled()) return Disabled;
    if (pressed_) return Pressed;
    if (hovered_) return Hover;
    return Normal;
}

void MyButton::paintEvent(QPaintEvent*) {
    const State state = currentState();
    ButtonStateStyle style = states_[state];
    if (style.text.isEmpty()) style.text = text();

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setRenderHint(QPainter::TextAntialiasing);
    const int W = width(), H = height();
    const int W1 = W - 1, H1 = H - 1;
    const int m = margin_;
    p.fillRect(rect(), Qt::white);
    if (!style.backImage.isNull())
        p.drawImage(QRect(0, 0, W, H), style.backImage);
    else
        p.fillRect(rect(), style.backColor);

    QFont font(style.fontFace);
    font.setPointSize(std::max(1, style.fontSize));
    p.setFont(font);
    const bool hasIcon = !style.icon.isNull();

    QRectF textBox;
    int textFlags = 0;
    switch (layout_) {
    case TextOnly:
        textBox = QRectF(0, 4, W1, H1 - 4);
        textFlags = Qt::AlignCenter;
        break;
    case IconOnly:
        if (hasIcon) {
            const QSizeF size = fitted(style.icon, W - 2 * m, H - 2 * m);
            p.drawImage(QRectF((W - size.width()) / 2, (H - size.height()) / 2, size.width(), size.height()),
                        style.icon);
        }
        break;
    case IconLeft:
        if (!hasIcon) {
            textBox = QRectF(0, 0, W1, H1);
        } else {
            const qreal side = H - 2 * m;
            const QSizeF size = fitted(style.icon, side, side);
            p.drawImage(QRectF(m, (H - size.height()) / 2, size.width(), size.height()), style.icon);
            textBox = QRectF(size.width() + 2 * m, 4, W1 - 2 * m - size.width(), H1 - 4);
        }
        textFlags = Qt::AlignLeft | Qt::AlignVCenter;
        break;
    case IconAbove:
        if (!hasIcon) {
            textBox = QRectF(0, 0, W1, H1);
            textFlags = Qt::AlignCenter;
        } else {
            const QSizeF size = fitted(style.icon, W - 2 * m, H - 3 * m - 1.2 * style.fontSize);
            p.drawImage(QRectF((W - size.width()) / 2, m, size.width(), size.height()), style.icon);
            textBox = QRectF(0, 0, W1, H1);
            textFlags = Qt::AlignHCenter | Qt::AlignBottom;
        }
        break;
    }
    if (!textBox.isNull() && !style.text.isEmpty()) {
        if (state == Disabled) {
            p.setPen(palette().color(QPalette::Light));
            p.drawText(textBox, textFlags, style.text);
            p.setPen(palette().color(QPalette::Dark));
        } else {
            p.setPen(style.textColor);
        }
        p.drawText(textBox, textFlags, style.text);
    }

    p.setRenderHint(QPainter::Antialiasing, false);
    if (style.borderWidth < 0) {
        if (state == Hover || state == Pressed) {
            const QColor light = palette().color(QPalette::Light);
            const QColor dark = palette().color(QPalette::Dark);
            const QColor topLeft = state == Hover ? light : dark;
            const QColor bottomRight = state == Hover ? dark : light;
            p.setPen(QPen(topLeft, 1));
            p.drawLine(0, 0, W1, 0);
            p.drawLine(0, 0, 0, H1);
            p.setPen(QPen(bottomRight, 1));
            p.drawLine(0, H1, W1, H1);
            p.drawLine(W1, 0, W1, H1);
        }
    } else if (style.borderWidth > 0) {
        p.setRenderHint(QPainter::Antialiasing, style.borderRadius > 0);
        p.setPen(QPen(style.borderColor, style.borderWidth));
        p.setBrush(Qt::NoBrush);
        if (style.borderRadius > 0)
            p.drawRoundedRect(QRect(0, 0, W1, H1), style.borderRadius, style.borderRadius);
        else
            p.drawRect(QRect(0, 0, W1, H1));
    }
}

void MyButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        pressed_ = true;
        update();
    }
    QPushButton::mousePressEvent(event);
}

void MyButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        pressed_ = false;
        update();
    }
    QPushButton::mouseReleaseEvent(event);
}

void MyButton::mouseMoveEvent(QMouseEvent* event) {
    QPushButton::mouseMoveEvent(event);
    // Dragging in from elsewhere with the button held does not light it up.
    if ((event->buttons() & Qt::LeftButton) && !hovered_) return;
    setHovered(rect().contains(event->position().toPoint()));
}

void MyButton::enterEvent(QEnterEvent* event) {
    QPushButton::enterEvent(event);
    if (!(event->buttons() & Qt::LeftButton)) setHovered(true);
}

void MyButton::leaveEvent(QEvent* event) {
    QPushButton::leaveEvent(event);
    setHovered(false);
}

void MyButton::setHovered(bool on) {
    if (hovered_ == on) return;
    hovered_ = on;
    update();
}

}  // namespace ui::widgets
