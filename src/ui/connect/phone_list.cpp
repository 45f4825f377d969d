#include "ui/connect/phone_list.h"

#include "support/language.h"
#include "support/strings.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace ui::welcome {

namespace {

constexpr char kContext[] = "WelcomeWnd";
constexpr QRgb kGrey = 0xFF8B929C;
constexpr QRgb kRed = 0xFFFF3131;
constexpr QRgb kBlue = 0xFF2B6CD1;
constexpr QRgb kAmber = 0xFFD08A00;
constexpr int kHeader = 30;
constexpr int kRow = 28;

QString translated(const char* text) { return QString::fromStdString(support::translate(text, kContext)); }

QFont listFont(int pixelSize, bool bold = false) {
    QFont font;
    font.setFamilies({QString::fromStdString(support::translate("微软雅黑", kContext)),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(std::max(1, pixelSize));
    font.setBold(bold);
    return font;
}

// A phone's own name may hold anything: control characters are left out.
QString printableTag(const std::string& tag) {
    QString out;
    for (QChar c : QString::fromUtf8(tag.data(), static_cast<qsizetype>(tag.size())))
        if (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format) out.append(c);
    return out.isEmpty() ? QStringLiteral("-") : out;
}

}  // namespace

PhoneListView::PhoneListView(core::PhoneDirectory& directory, double scale, std::function<void(int)> resized,
                             QWidget* parent)
    : QWidget(parent), directory_(directory), scale_(scale), resized_(std::move(resized)) {
    setMouseTracking(true);
    timer_.setInterval(kRefreshMs);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { refresh(); });
}

int PhoneListView::wantedHeight() const {
    if (entries_.empty()) return 0;
    const size_t rows = std::min<size_t>(entries_.size(), kMaxRows) + (entries_.size() > kMaxRows ? 1 : 0);
    return px(kHeader + kRow * static_cast<double>(rows) + 8);
}

void PhoneListView::refresh() {
    std::vector<core::PhoneEntry> now = directory_.phones();
    const int before = wantedHeight();
    entries_ = std::move(now);
    if (wantedHeight() != before && resized_) resized_(wantedHeight());
    update();
}

QRect PhoneListView::disconnectArea(size_t index) const { return index < links_.size() ? links_[index] : QRect(); }

QStringList PhoneListView::rowTexts(size_t index) const {
    if (index >= entries_.size()) return {};
    const core::PhoneEntry& e = entries_[index];
    const QString role = e.held ? translated("等待批准") : e.admin ? translated("控制") : translated("观看");
    return {role, QString::fromStdString(support::ip2string(e.address)), printableTag(e.tag)};
}

void PhoneListView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    const int w = width();
    p.fillRect(rect(), Qt::white);
    links_.clear();
    if (entries_.empty()) return;
    // The connect window's thin frame goes on around the list.
    p.setPen(QColor(0xd5, 0xd9, 0xdf));
    p.drawLine(0, 0, 0, height() - 1);
    p.drawLine(w - 1, 0, w - 1, height() - 1);
    p.drawLine(0, height() - 1, w - 1, height() - 1);

    p.setPen(QColor(0xe3, 0xe6, 0xea));
    p.drawLine(px(20), 0, w - px(20), 0);
    p.setFont(listFont(px(13), true));
    p.setPen(QColor(0x30, 0x34, 0x3a));
    p.drawText(QRect(px(20), px(4), w - px(40), px(kHeader - 4)), Qt::AlignLeft | Qt::AlignVCenter,
               translated("已连接的手机"));

    p.setFont(listFont(px(13)));
    const QFontMetrics metrics = p.fontMetrics();
    const QString link = translated("断开");
    const int linkWidth = metrics.horizontalAdvance(link);
    const size_t shownRows = std::min<size_t>(entries_.size(), kMaxRows);
    // Columns as wide as this language's texts need: role, address, then the
    // tag takes what is left before the link.
    const int gap = px(12);
    int roleWidth = 0;
    for (const char* role : {"控制", "观看", "等待批准"})
        roleWidth = std::max(roleWidth, metrics.horizontalAdvance(translated(role)));
    const int addressWidth = metrics.horizontalAdvance(QStringLiteral("255.255.255.255"));
    const int roleLeft = px(20);
    const int addressLeft = roleLeft + roleWidth + gap;
    const int tagLeft = addressLeft + addressWidth + gap;
    const int linkLeft = w - px(20) - linkWidth;
    const int tagWidth = std::max(0, linkLeft - gap - tagLeft);
    for (size_t i = 0; i < shownRows; ++i) {
        const core::PhoneEntry& e = entries_[i];
        const QStringList texts = rowTexts(i);
        const int y = px(kHeader + kRow * static_cast<double>(i));
        const int h = px(kRow);
        p.setPen(QColor::fromRgba(e.held ? kAmber : e.admin ? kBlue : kGrey));
        p.drawText(QRect(roleLeft, y, roleWidth + 1, h), Qt::AlignLeft | Qt::AlignVCenter, texts[0]);
        p.setPen(Qt::black);
        p.drawText(QRect(addressLeft, y, addressWidth + 1, h), Qt::AlignLeft | Qt::AlignVCenter, texts[1]);
        p.setPen(QColor(0x50, 0x55, 0x5c));
        p.drawText(QRect(tagLeft, y, tagWidth, h), Qt::AlignLeft | Qt::AlignVCenter,
                   metrics.elidedText(texts[2], Qt::ElideRight, tagWidth));
        QRect area;
        p.setPen(QColor::fromRgba(kRed));
        p.drawText(QRect(linkLeft, y, linkWidth + 1, h), Qt::AlignLeft | Qt::AlignVCenter, link, &area);
        links_.push_back(area);
    }
    if (entries_.size() > shownRows) {
        p.setPen(QColor::fromRgba(kGrey));
        const int y = px(kHeader + kRow * static_cast<double>(shownRows));
        QString more = translated("还有 %s 部手机");
        more.replace(QStringLiteral("%s"), QString::number(entries_.size() - shownRows));
        p.drawText(QRect(px(20), y, w - px(40), px(kRow)), Qt::AlignLeft | Qt::AlignVCenter, more);
    }
}

void PhoneListView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint at = event->position().toPoint();
    for (size_t i = 0; i < links_.size() && i < entries_.size(); ++i) {
        if (!links_[i].contains(at)) continue;
        directory_.disconnect(entries_[i].id);
        refresh();
        return;
    }
}

void PhoneListView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const bool overLink = std::any_of(links_.begin(), links_.end(), [&](const QRect& r) { return r.contains(at); });
    setCursor(overLink ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void PhoneListView::showEvent(QShowEvent*) { timer_.start(); }

void PhoneListView::hideEvent(QHideEvent*) { timer_.stop(); }

}  // namespace ui::welcome
