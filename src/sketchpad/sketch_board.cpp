#include "sketchpad/sketch_board.h"

#include "support/language.h"

#include <QDateTime>
#include <QImageReader>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace sketchpad {

namespace {

constexpr int kButton = 48;
constexpr int kGap = 8;
constexpr int kLabelWidth = 96;
constexpr int kBarBottom = 24;
constexpr int kMaxPictureSide = 4096;
const QColor kRed(0xE5, 0x39, 0x35);
const QColor kBlue(0x1E, 0x63, 0xD6);
const QColor kBlack(0x20, 0x20, 0x20);

// Left edge of each item of the bar, relative to the bar: previous, label,
// next, (gap) three colours, (gap) clear, close.
struct BarLayout {
    int previous, label, next, black, red, blue, clear, close, width;
};

BarLayout barLayout() {
    BarLayout l{};
    int x = kGap;
    l.previous = x; x += kButton + kGap;
    l.label = x; x += kLabelWidth + kGap;
    l.next = x; x += kButton + 3 * kGap;
    l.black = x; x += kButton + kGap;
    l.red = x; x += kButton + kGap;
    l.blue = x; x += kButton + 3 * kGap;
    l.clear = x; x += kButton + kGap;
    l.close = x; x += kButton + kGap;
    l.width = x;
    return l;
}

double ease(double t) { return 1.0 - std::pow(1.0 - std::clamp(t, 0.0, 1.0), 3.0); }

}  // namespace

SketchBoard::SketchBoard(BoardEvents events) : OverlayWindow(false), events_(std::move(events)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    setWindowTitle(QString::fromStdString(support::translate("画板", "Sketchpad")));
    pages_.push_back(newPage());
    animTimer_.setInterval(16);
    connect(&animTimer_, &QTimer::timeout, this, [this] {
        anim_ = std::min(1.0, (QDateTime::currentMSecsSinceEpoch() - animStart_) / double(kAnimMs));
        if (anim_ >= 1.0) animTimer_.stop();
        update();
    });
}

SketchBoard::~SketchBoard() = default;

BoardPage SketchBoard::newPage() const {
    BoardPage page;
    page.size = QSizeF(screenRect().size());
    return page;
}

void SketchBoard::open() {
    if (opened_) return;
    opened_ = true;
    cover();
    setFocus();
    if (events_.stateChanged) events_.stateChanged(true);
}

void SketchBoard::close() {
    if (!opened_) return;
    endText();
    opened_ = false;
    drawing_ = false;
    animTimer_.stop();
    anim_ = 1.0;
    uncover();
    if (events_.stateChanged) events_.stateChanged(false);
}

bool SketchBoard::insertImage(const QString& path, int anim) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > kMaxPictureSide || size.height() > kMaxPictureSide))
        reader.setScaledSize(size.scaled(kMaxPictureSide, kMaxPictureSide, Qt::KeepAspectRatio));
    QImage picture = reader.read();
    if (picture.isNull()) return false;
    endText();
    // A blank last page takes the picture; otherwise it goes on a new page.
    if (!pages_.back().blank()) pages_.push_back(newPage());
    BoardPage& page = pages_.back();
    page.picture = std::move(picture);
    // Clear of the tool bar at the bottom.
    const double bar = kButton + 2 * kGap + kBarBottom + 16;
    page.fitPicture(QMarginsF(48, 48, 48, bar));
    current_ = static_cast<int>(pages_.size()) - 1;
    open();
    if (anim) {
        anim_ = 0.0;
        animStart_ = QDateTime::currentMSecsSinceEpoch();
        animTimer_.start();
    } else {
        anim_ = 1.0;
    }
    update();
    return true;
}

void SketchBoard::goTo(int page) {
    if (page == current_) return;
    endText();
    drawing_ = false;
    current_ = page;
    anim_ = 1.0;
    animTimer_.stop();
    update();
}

void SketchBoard::nextPage(bool forward) {
    if (!forward) {
        if (current_ > 0) goTo(current_ - 1);
        return;
    }
    // Past the last page a new blank page begins, unless that page is blank already.
    if (current_ + 1 == pageCount()) {
        if (pages_.back().blank()) return;
        pages_.push_back(newPage());
    }
    goTo(current_ + 1);
}

void SketchBoard::zoom(bool in) {
    pages_[current_].zoomBy(in);
    update();
}

void SketchBoard::turn(double degrees) {
    pages_[current_].turnBy(degrees);
    update();
}

void SketchBoard::setInputText(const QString& text) {
    BoardPage& page = pages_[current_];
    if (typing_ < 0 || typing_ >= static_cast<int>(page.texts.size())) {
        // A new box a little above the middle of what is on the screen.
        const QPointF middle = page.view().inverted().map(QPointF(width() / 2.0 - 200, height() / 3.0));
        page.texts.push_back(TextBox{middle, QString()});
        typing_ = static_cast<int>(page.texts.size()) - 1;
    }
    page.texts[typing_].text = text;
    update();
}

void SketchBoard::endText() {
    if (typing_ < 0) return;
    BoardPage& page = pages_[current_];
    if (typing_ < static_cast<int>(page.texts.size()) && page.texts[typing_].text.isEmpty())
        page.texts.erase(page.texts.begin() + typing_);
    typing_ = -1;
    update();
    if (events_.textEnded) events_.textEnded();
}

void SketchBoard::clear() {
    endText();
    drawing_ = false;
    pages_.clear();
    pages_.push_back(newPage());
    current_ = 0;
    anim_ = 1.0;
    animTimer_.stop();
    update();
}

QRect SketchBoard::toolBarRect() const {
    const BarLayout l = barLayout();
    const int h = kButton + 2 * kGap;
    return QRect((width() - l.width) / 2, height() - h - kBarBottom, l.width, h);
}

QRect SketchBoard::buttonRect(Button button) const {
    const BarLayout l = barLayout();
    const QRect bar = toolBarRect();
    int x = -1;
    switch (button) {
    case Button::Previous: x = l.previous; break;
    case Button::Next: x = l.next; break;
    case Button::Black: x = l.black; break;
    case Button::Red: x = l.red; break;
    case Button::Blue: x = l.blue; break;
    case Button::Clear: x = l.clear; break;
    case Button::Close: x = l.close; break;
    case Button::None: return {};
    }
    return QRect(bar.x() + x, bar.y() + kGap, kButton, kButton);
}

SketchBoard::Button SketchBoard::buttonAt(QPoint at) const {
    for (Button b : {Button::Previous, Button::Next, Button::Black, Button::Red, Button::Blue,
                     Button::Clear, Button::Close})
        if (buttonRect(b).contains(at)) return b;
    return Button::None;
}

void SketchBoard::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint at = event->position().toPoint();
    if (toolBarRect().contains(at)) {
        switch (buttonAt(at)) {
        case Button::Previous: nextPage(false); break;
        case Button::Next: nextPage(true); break;
        case Button::Black: pen_ = kBlack; break;
        case Button::Red: pen_ = kRed; break;
        case Button::Blue: pen_ = kBlue; break;
        case Button::Clear: clear(); break;
        case Button::Close: close(); break;
        case Button::None: break;
        }
        update();
        return;
    }
    endText();
    BoardPage& page = pages_[current_];
    Stroke stroke;
    stroke.color = pen_;
    // The pen keeps its width on screen whatever the zoom.
    stroke.width = 4.0 / page.zoom;
    stroke.points << page.view().inverted().map(event->position());
    page.strokes.push_back(std::move(stroke));
    drawing_ = true;
    update();
}

void SketchBoard::mouseMoveEvent(QMouseEvent* event) {
    if (!drawing_) return;
    BoardPage& page = pages_[current_];
    if (page.strokes.empty()) return;
    page.strokes.back().points << page.view().inverted().map(event->position());
    update();
}

void SketchBoard::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) drawing_ = false;
}

void SketchBoard::keyPressEvent(QKeyEvent* event) {
    // Page keys are not taken here: the phone's page keys reach the board
    // through nextPage and are also pressed on the desktop.
    if (event->key() == Qt::Key_Escape)
        close();
    else
        QWidget::keyPressEvent(event);
}

void SketchBoard::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const BoardPage& page = pages_[current_];
    p.setTransform(page.view());
    if (!page.picture.isNull()) {
        QRectF r = page.pictureRect;
        if (anim_ < 1.0) {
            const double e = ease(anim_);
            const double s = 0.6 + 0.4 * e;
            const QPointF c = r.center();
            r = QRectF(c.x() - r.width() * s / 2, c.y() - r.height() * s / 2, r.width() * s, r.height() * s);
            p.setOpacity(e);
        }
        p.drawImage(r, page.picture);
        p.setOpacity(1.0);
    }
    for (const Stroke& stroke : page.strokes) {
        p.setPen(QPen(stroke.color, stroke.width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        if (stroke.points.size() == 1)
            p.drawPoint(stroke.points.front());
        else
            p.drawPolyline(stroke.points);
    }
    QFont font;
    font.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans")});
    font.setPixelSize(40);
    p.setFont(font);
    for (size_t i = 0; i < page.texts.size(); ++i) {
        const TextBox& box = page.texts[i];
        const QRectF room(box.at, QSizeF(page.size.width() - box.at.x() - 24, page.size.height()));
        QRectF used = p.boundingRect(room, Qt::TextWordWrap, box.text);
        p.setPen(kBlack);
        p.drawText(room, Qt::TextWordWrap, box.text);
        if (static_cast<int>(i) == typing_) {
            used = used.adjusted(-10, -6, 10, 6);
            if (used.width() < 120) used.setWidth(120);
            p.setPen(QPen(kBlue, 2, Qt::DashLine));
            p.setBrush(Qt::NoBrush);
            p.drawRect(used);
        }
    }
    p.resetTransform();
    paintToolBar(p);
}

void SketchBoard::paintToolBar(QPainter& p) {
    const QRect bar = toolBarRect();
    p.setPen(QPen(QColor(0, 0, 0, 40), 1));
    p.setBrush(QColor(245, 246, 248));
    p.drawRoundedRect(QRectF(bar).adjusted(0.5, 0.5, -0.5, -0.5), 14, 14);

    const QColor ink(0x44, 0x4B, 0x55);
    auto arrow = [&](QRect r, bool right) {
        const QPointF c = r.center();
        QPainterPath path;
        const double d = right ? 1 : -1;
        path.moveTo(c.x() - 6 * d, c.y() - 12);
        path.lineTo(c.x() + 8 * d, c.y());
        path.lineTo(c.x() - 6 * d, c.y() + 12);
        p.setPen(QPen(ink, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    };
    const bool canGoBack = current_ > 0;
    p.setOpacity(canGoBack ? 1.0 : 0.35);
    arrow(buttonRect(Button::Previous), false);
    p.setOpacity(1.0);
    arrow(buttonRect(Button::Next), true);

    const BarLayout l = barLayout();
    const QRect label(bar.x() + l.label, bar.y() + kGap, kLabelWidth, kButton);
    QFont font;
    font.setFamilies({QStringLiteral("Noto Sans"), QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(20);
    p.setFont(font);
    p.setPen(ink);
    p.drawText(label, Qt::AlignCenter, QStringLiteral("%1 / %2").arg(current_ + 1).arg(pageCount()));

    auto swatch = [&](Button b, const QColor& colour) {
        const QRectF r = QRectF(buttonRect(b)).adjusted(10, 10, -10, -10);
        p.setPen(Qt::NoPen);
        if (pen_ == colour) {
            p.setBrush(QColor(0, 0, 0, 30));
            p.drawEllipse(r.adjusted(-6, -6, 6, 6));
        }
        p.setBrush(colour);
        p.drawEllipse(r);
    };
    swatch(Button::Black, kBlack);
    swatch(Button::Red, kRed);
    swatch(Button::Blue, kBlue);

    // Clear: a waste bin.
    {
        const QRectF r = QRectF(buttonRect(Button::Clear)).adjusted(14, 10, -14, -10);
        p.setPen(QPen(ink, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawLine(QPointF(r.left() - 3, r.top() + 4), QPointF(r.right() + 3, r.top() + 4));
        p.drawLine(QPointF(r.center().x() - 4, r.top()), QPointF(r.center().x() + 4, r.top()));
        QPainterPath bin;
        bin.moveTo(r.left(), r.top() + 8);
        bin.lineTo(r.left() + 2, r.bottom());
        bin.lineTo(r.right() - 2, r.bottom());
        bin.lineTo(r.right(), r.top() + 8);
        p.drawPath(bin);
    }
    // Close: a cross on a red disc.
    {
        const QRectF r = QRectF(buttonRect(Button::Close)).adjusted(6, 6, -6, -6);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xD9, 0x3B, 0x30));
        p.drawEllipse(r);
        p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
        const QRectF c = r.adjusted(11, 11, -11, -11);
        p.drawLine(c.topLeft(), c.bottomRight());
        p.drawLine(c.topRight(), c.bottomLeft());
    }
}

}  // namespace sketchpad
