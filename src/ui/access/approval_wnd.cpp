#include "ui/access/approval_wnd.h"

#include "support/language.h"
#include "support/strings.h"
#include "ui/widgets/my_button.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>

namespace ui::access {

namespace {

constexpr char kContext[] = "ApprovalWnd";
constexpr QRgb kBand = 0xFF4C81D1;
constexpr QRgb kGrey = 0xFF6B727C;
constexpr QRgb kRed = 0xFFE03131;

QString translated(const char* text) { return QString::fromStdString(support::translate(text, kContext)); }

// What a phone calls itself may be anything: control characters go, and a
// long text is cut so it cannot push the buttons out of sight.
QString shown(const std::string& text, int maxChars) {
    QString out;
    for (QChar c : QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format) continue;
        out.append(c);
    }
    if (out.size() > maxChars) out = out.left(maxChars - 1) + QChar(0x2026);
    return out;
}

QString withArgument(const char* text, const QString& argument) {
    // The translated text is never used as a format: plain replacement.
    QString s = translated(text);
    const qsizetype at = s.indexOf(QStringLiteral("%s"));
    if (at >= 0) s.replace(at, 2, argument);
    return s;
}

QFont windowFont(int pixelSize, bool bold = false) {
    QFont font;
    // The translated face first (Latin quotes and letters keep their own
    // widths in English); the CJK face covers Chinese text.
    font.setFamilies({translated("微软雅黑"), QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans"),
                      QStringLiteral("DejaVu Sans")});
    font.setPixelSize(std::max(1, pixelSize));
    font.setBold(bold);
    return font;
}

}  // namespace

ApprovalWnd::ApprovalWnd(core::PhoneEntry phone, int timeoutMs, float uiScale, std::function<bool()> stillHeld,
                         std::function<void(Answer)> answered)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      phone_(std::move(phone)), timeoutMs_(std::max(0, timeoutMs)), scale_(uiScale > 0 ? uiScale : 1.0),
      stillHeld_(std::move(stillHeld)), answered_(std::move(answered)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The teacher may be typing or presenting: the window neither takes the
    // keyboard nor answers to it, so a stray key press cannot let a phone in.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(titleText());
    setFixedSize(px(440), px(232));

    allowOnce_ = new widgets::MyButton(this);
    alwaysAllow_ = new widgets::MyButton(this);
    refuse_ = new widgets::MyButton(this);
    const int size = std::max(1, px(10));
    allowOnce_->setStyle("{'text': '%s', 'background': '#4c81d1', 'textColor': '#ffffff', 'font': 'Sans %d', "
                         "'border': '#4c81d1 1 4'}",
                         translated("允许一次").toStdString().c_str(), size);
    allowOnce_->setHoverStyle("{'text': '%s', 'background': '#3b6fbd', 'textColor': '#ffffff', 'font': 'Sans %d', "
                              "'border': '#3b6fbd 1 4'}",
                              translated("允许一次").toStdString().c_str(), size);
    alwaysAllow_->setStyle("{'text': '%s', 'background': '#ffffff', 'textColor': '#2b5fae', 'font': 'Sans %d', "
                           "'border': '#4c81d1 1 4'}",
                           translated("始终允许").toStdString().c_str(), size);
    alwaysAllow_->setHoverStyle("{'text': '%s', 'background': '#eef3fb', 'textColor': '#2b5fae', "
                                "'font': 'Sans %d', 'border': '#4c81d1 1 4'}",
                                translated("始终允许").toStdString().c_str(), size);
    refuse_->setStyle("{'text': '%s', 'background': '#ffffff', 'textColor': '#d02828', 'font': 'Sans %d', "
                      "'border': '#e03131 1 4'}",
                      translated("拒绝").toStdString().c_str(), size);
    refuse_->setHoverStyle("{'text': '%s', 'background': '#fdeeee', 'textColor': '#d02828', 'font': 'Sans %d', "
                           "'border': '#e03131 1 4'}",
                           translated("拒绝").toStdString().c_str(), size);
    for (widgets::MyButton* b : {allowOnce_, alwaysAllow_, refuse_}) {
        b->setLayoutMode(widgets::MyButton::TextOnly);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        b->installEventFilter(this);
    }
    // A phone without an identity cannot be remembered.
    alwaysAllow_->setEnabled(!phone_.identity.empty());

    const int bw = px(124), bh = px(34), gap = px(12), y = height() - px(20) - bh;
    int x = width() - px(20) - bw;
    refuse_->setGeometry(x, y, bw, bh);
    x -= bw + gap;
    alwaysAllow_->setGeometry(x, y, bw, bh);
    x -= bw + gap;
    allowOnce_->setGeometry(x, y, bw, bh);

    QObject::connect(allowOnce_, &QPushButton::clicked, this, [this] { finish(Answer::AllowOnce); });
    QObject::connect(alwaysAllow_, &QPushButton::clicked, this, [this] { finish(Answer::AlwaysAllow); });
    QObject::connect(refuse_, &QPushButton::clicked, this, [this] { finish(Answer::Refuse); });

    elapsed_.start();
    ticker_.setInterval(std::clamp(timeoutMs_ / 4, 20, 200));
    QObject::connect(&ticker_, &QTimer::timeout, this, [this] { tick(); });
    ticker_.start();
}

ApprovalWnd::~ApprovalWnd() = default;

int ApprovalWnd::secondsLeft() const {
    const qint64 left = std::max<qint64>(0, timeoutMs_ - elapsed_.elapsed());
    return static_cast<int>((left + 999) / 1000);
}

QString ApprovalWnd::titleText() const { return translated("手机请求连接"); }

QString ApprovalWnd::requestText() const {
    // The quotes are part of the text: Chinese and Latin ones differ in width.
    const QString name = phone_.tag.empty() ? translated("一部手机") : withArgument("“%s”", shown(phone_.tag, 32));
    return withArgument(phone_.admin ? "%s请求控制这台电脑" : "%s请求观看这台电脑", name);
}

QString ApprovalWnd::countdownText() const {
    return withArgument("%s 秒后自动拒绝", QString::number(secondsLeft()));
}

bool ApprovalWnd::eventFilter(QObject* watched, QEvent* event) {
    // Only a pointer click answers: the buttons take no key at all.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease ||
        event->type() == QEvent::ShortcutOverride)
        return true;
    return QWidget::eventFilter(watched, event);
}

void ApprovalWnd::tick() {
    if (finished_) return;
    if (stillHeld_ && !stillHeld_()) {
        finish(Answer::Gone);
        return;
    }
    if (elapsed_.elapsed() >= timeoutMs_) {
        finish(Answer::TimedOut);
        return;
    }
    update();
}

void ApprovalWnd::finish(Answer answer) {
    if (finished_) return;
    finished_ = true;
    ticker_.stop();
    hide();
    if (answered_) answered_(answer);
}

void ApprovalWnd::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const int w = width(), h = height();
    p.fillRect(rect(), Qt::white);
    const int band = px(46);
    p.fillRect(QRect(0, 0, w, band), QColor::fromRgba(kBand));
    p.setPen(Qt::white);
    p.setFont(windowFont(px(16), true));
    p.drawText(QRect(px(20), 0, w - px(40), band), Qt::AlignLeft | Qt::AlignVCenter, titleText());

    const int left = px(20), textWidth = w - px(40);
    p.setPen(QColor(0x20, 0x24, 0x2a));
    p.setFont(windowFont(px(15), true));
    p.drawText(QRect(left, px(58), textWidth, px(26)), Qt::AlignLeft | Qt::AlignVCenter, requestText());

    p.setFont(windowFont(px(13)));
    p.setPen(QColor::fromRgba(kGrey));
    const QString address = translated("地址：") + QString::fromStdString(support::ip2string(phone_.address));
    p.drawText(QRect(left, px(90), textWidth, px(22)), Qt::AlignLeft | Qt::AlignVCenter, address);
    const QString identity =
        translated("标识：") + (phone_.identity.empty() ? translated("无") : shown(phone_.identity, 40));
    p.drawText(QRect(left, px(114), textWidth, px(22)), Qt::AlignLeft | Qt::AlignVCenter, identity);

    p.setPen(QColor::fromRgba(secondsLeft() <= 10 ? kRed : kGrey));
    p.drawText(QRect(left, px(140), textWidth, px(22)), Qt::AlignLeft | Qt::AlignVCenter, countdownText());

    // A thin frame keeps the borderless window's edge on a white desktop.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(0xb5, 0xbd, 0xc8));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(0, 0, w - 1, h - 1));
}

}  // namespace ui::access
