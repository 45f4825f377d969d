#include "ui/connect/welcome_wnd.h"

#include "support/language.h"
#include "support/logger.h"
#include "support/strings.h"
#include "ui/connect/connect_payload.h"
#include "ui/connect/connect_server.h"
#include "ui/connect/hotspot.h"
#include "ui/connect/phone_list.h"
#include "ui/widgets/artwork.h"
#include "ui/widgets/my_button.h"
#include "ui/widgets/qr_static.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QUrl>

#include <algorithm>

namespace ui::welcome {

namespace {

constexpr char kContext[] = "WelcomeWnd";
constexpr QRgb kGrey = 0xFF8B929C;
constexpr QRgb kRed = 0xFFFF3131;

bool isFile(const std::string& path) { return QFileInfo(QString::fromStdString(path)).isFile(); }

}  // namespace

WelcomeWnd::WelcomeWnd(WelcomeDeps deps, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), deps_(std::move(deps)) {
    scale_ = deps_.uiScale > 0 ? deps_.uiScale : 1.0;
    variant_ = connectVariant(deps_.productId);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setWindowTitle(QString::fromStdString(deps_.productName));

    settingsButton_ = new widgets::MyButton(this);
    helpButton_ = new widgets::MyButton(this);
    hideButton_ = new widgets::MyButton(this);
    mirrorButton_ = new widgets::MyButton(this);
    mirrorButton_->hide();
    qr_ = new widgets::CQRStatic(this);
    const std::pair<widgets::MyButton*, int> buttons[] = {{settingsButton_, kSettingsButton},
                                                          {helpButton_, kHelpButton},
                                                          {hideButton_, kHideButton},
                                                          {mirrorButton_, kMirrorButton}};
    for (auto [b, id] : buttons)
        QObject::connect(b, &QPushButton::clicked, this, [this, id = id] { onButton(id); });

    hotspotTimer_.setInterval(kHotspotPollMs);
    QObject::connect(&hotspotTimer_, &QTimer::timeout, this, [this] { pollHotspotAddress(); });
    initialise();
}

WelcomeWnd::~WelcomeWnd() = default;

std::string WelcomeWnd::tr(const char* text) const { return support::translate(text, kContext); }

QFont WelcomeWnd::windowFont(int pixelSize) const {
    QFont font;
    // The translated face first; the CJK face covers Chinese text wherever
    // the named face is not installed.
    font.setFamilies({QString::fromStdString(tr("微软雅黑")), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("Noto Sans"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(std::max(1, pixelSize));
    return font;
}

void WelcomeWnd::initialise() {
    // Logo: the program's own file when there is one, else the built-in mark.
    const std::string logoFile = deps_.programDir + "/data/logo.png";
    if (!isFile(logoFile) || !logo_.load(QString::fromStdString(logoFile)))
        logo_ = widgets::artworkPicture(widgets::kArtLogo);
    deviceIcon_ = widgets::artworkPicture(widgets::kArtDeviceIcon);

    char style[160];
    std::snprintf(style, sizeof style, "{'background': '#%06x', 'border': '#000000 0 0', 'icon': '%%d'}",
                  static_cast<unsigned>(variant_.colour & 0xFFFFFF));
    settingsButton_->setStyle(style, static_cast<int>(widgets::kArtSettingsIcon));
    settingsButton_->setDownStyle("{}");
    settingsButton_->setLayoutMode(widgets::MyButton::IconOnly);
    settingsButton_->setMargin(1);
    helpButton_->copyStyleFrom(*settingsButton_, widgets::kArtHelpIcon);
    helpButton_->setMargin(1);
    hideButton_->copyStyleFrom(*settingsButton_, widgets::kArtCloseIcon);
    hideButton_->setMargin(2);
    mirrorButton_->copyStyleFrom(*settingsButton_, widgets::kArtMirrorIcon);
    mirrorButton_->setMargin(1);
    mirrorButton_->setVisible(variant_.mirroringButton);
    settingsButton_->setToolTip(QString::fromStdString(tr("设置")));
    helpButton_->setToolTip(QString::fromStdString(tr("帮助")));
    hideButton_->setToolTip(QString::fromStdString(tr("隐藏")));
    mirrorButton_->setToolTip(QString::fromStdString(tr("屏幕镜像")));

    helpAvailable_ = isFile(deps_.programDir + "/data/index.html");

    ConnectServer* server = deps_.server;
    if (server && server->isListening()) {
        const uint32_t bound = server->boundAddress();
        qr_->setText(connectPayload(bound));
        if (deps_.hotspot && deps_.hotspot->isHostedNetworkAddress(support::ip2string(bound)))
            showHotspotMessage();
    } else {
        qr_->hide();
    }
    if (!helpAvailable_) helpButton_->hide();

    if (deps_.phones) {
        // The window grows by the list's height; the rest keeps its place.
        phoneList_ = new PhoneListView(*deps_.phones, scale_, [this](int listHeight) {
            setFixedSize(px(440), baseHeight() + listHeight);
        }, this);
    }

    initialised_ = true;
    setFixedSize(px(440), baseHeight());
    layoutButtons(width());
}

void WelcomeWnd::showHotspotMessage() {
    std::string message = tr("开启虚拟AP: \"%s\", 密码: \"73915264\"");
    const std::string ssid = deps_.hotspot ? deps_.hotspot->hotspotSsid() : std::string();
    // Plain replacement: the translated text is never used as a format.
    if (const size_t at = message.find("%s"); at != std::string::npos) message.replace(at, 2, ssid);
    statusText_ = QString::fromStdString(message);
    statusIsError_ = false;
}

void WelcomeWnd::setConsentWaiting(bool waiting) {
    if (waiting) {
        statusText_ = QString::fromStdString(tr("正在等待老师在桌面上允许屏幕共享和远程控制"));
        statusIsError_ = false;
        consentShown_ = true;
        // Behind the desktop's consent dialog, which the teacher must reach.
        if (isVisible()) lower();
    } else if (consentShown_) {
        statusText_.clear();
        consentShown_ = false;
    }
    update();
}

widgets::MyButton* WelcomeWnd::button(int id) const {
    switch (id) {
    case kSettingsButton: return settingsButton_;
    case kHelpButton: return helpButton_;
    case kHideButton: return hideButton_;
    case kMirrorButton: return mirrorButton_;
    default: return nullptr;
    }
}

void WelcomeWnd::layoutButtons(int cx) {
    if (!initialised_) return;
    const int b = px(16);
    const int y = px(24);
    int x = cx - px(20) - b;
    hideButton_->setGeometry(x, y, b, b);
    if (helpAvailable_) {
        x -= b + px(12);
        helpButton_->setGeometry(x, y, b, b);
    }
    x -= b + px(14);
    settingsButton_->setGeometry(x, y, b, b);
    x -= b + px(14);
    mirrorButton_->setGeometry(x, y, b, b);
    qr_->setGeometry(px(104), px(107), px(234), px(234));
    if (phoneList_) phoneList_->setGeometry(0, baseHeight(), cx, std::max(0, height() - baseHeight()));
}

void WelcomeWnd::resizeEvent(QResizeEvent*) { layoutButtons(width()); }

void WelcomeWnd::show(bool flag) {
    if (!flag) {
        if (isVisible()) hide();
        return;
    }
    if (!placed_) {
        // First appearance: the middle of the primary screen.
        placed_ = true;
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
        }
    }
    if (phoneList_) phoneList_->refresh();
    // The desktop's consent dialog must stay in front of this window.
    if (!isVisible()) {
        QWidget::show();
        if (!consentShown_) activateWindow();
    }
    if (consentShown_)
        lower();
    else
        raise();
}

void WelcomeWnd::setConnectedPeer(uint32_t address) {
    connectedPeer_ = address;
    if (phoneList_) phoneList_->refresh();
    update();
}

void WelcomeWnd::onButton(int id) {
    switch (id) {
    case kSettingsButton:
        if (deps_.openSettings)
            deps_.openSettings();
        else
            LOGOUT("settings window not available");
        break;
    case kHelpButton: {
        const std::string help = deps_.programDir + "/data/index.html";
        if (deps_.openFile)
            deps_.openFile(help);
        else
            QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(help)));
        break;
    }
    case kMirrorButton: {
        const std::string program = deps_.programDir + "/CastSink";
        if (deps_.startProgram)
            deps_.startProgram(program, deps_.programDir);
        else if (!QProcess::startDetached(QString::fromStdString(program), {},
                                          QString::fromStdString(deps_.programDir)))
            LOGOUT("cannot start %s", program.c_str());
        break;
    }
    case kHideButton:
        show(false);
        break;
    }
}

void WelcomeWnd::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const int w = width(), h = baseHeight();
    p.fillRect(rect(), Qt::white);
    p.fillRect(QRect(0, 0, w, px(62)), QColor::fromRgba(variant_.colour));

    int logoWidth = 0;
    if (!logo_.isNull() && logo_.height() > 0) {
        logoWidth = 24 * logo_.width() / logo_.height();
        p.drawImage(QRectF(px(20), px(19), logoWidth * scale_, px(24)), logo_);
    }
    p.setFont(windowFont(px(18)));
    p.setPen(Qt::white);
    p.drawText(QRect(px(logoWidth + 30), px(19), w, px(24)), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromStdString(deps_.productName));

    ConnectServer* server = deps_.server;
    const bool listening = server && server->isListening();
    hotspotLinkArea_ = {};
    disconnectLinkArea_ = {};
    if (listening) {
        p.setFont(windowFont(px(14)));
        p.setPen(QColor::fromRgba(kGrey));
        p.drawText(QRect(0, px(365), w, px(24)), Qt::AlignCenter,
                   QString::fromStdString(tr("客户端扫描二维码连接")));

        // Device icon and name, centred as a pair.
        const QString device = QString::fromStdString(tr("设备名称: ") +
                                                      (deps_.serverName ? deps_.serverName() : std::string()));
        const QSize iconSize(px(16), px(16));
        const int gap = px(6);
        const int textWidth = p.fontMetrics().horizontalAdvance(device);
        const int left = (w - iconSize.width() - gap - textWidth) / 2;
        p.drawImage(QRect(QPoint(left, px(413)), iconSize), deviceIcon_);
        p.setPen(Qt::black);
        p.drawText(QRect(left + iconSize.width() + gap, px(409), textWidth + 1, px(24)),
                   Qt::AlignLeft | Qt::AlignVCenter, device);

        if (variant_.connectionNumber) {
            const std::string number = tr("連接號碼：") + connectionNumber(server->boundAddress());
            p.drawText(QRect(0, px(436), w, px(24)), Qt::AlignCenter, QString::fromStdString(number));
        }

        const QRect line(0, h - px(54), w, px(24));
        const std::string state = connectedPeer_ != 0
                                      ? support::ip2string(connectedPeer_) + " " + tr("已连接")
                                      : tr("等待连接");
        p.setPen(QColor::fromRgba(kGrey));
        const QString stateText = QString::fromStdString(state);
        if (connectedPeer_ == 0) {
            p.drawText(line, Qt::AlignCenter, stateText);
        } else {
            // The line and the red link 10 pixels after it, centred together.
            const QString link = QString::fromStdString(tr("断开"));
            const int textWidth = p.fontMetrics().horizontalAdvance(stateText);
            const int linkWidth = p.fontMetrics().horizontalAdvance(link);
            const int left = std::max(0, (w - textWidth - 10 - linkWidth) / 2);
            p.drawText(QRect(left, line.top(), textWidth + 1, line.height()), Qt::AlignLeft | Qt::AlignVCenter,
                       stateText);
            p.setPen(QColor::fromRgba(kRed));
            p.drawText(QRect(left + textWidth + 10, line.top(), linkWidth + 1, line.height()),
                       Qt::AlignLeft | Qt::AlignVCenter, link, &disconnectLinkArea_);
        }
    } else {
        const int side = px(72);
        p.drawImage(QRect((w - side) / 2, px(150), side, side), widgets::noNetworkPicture());
        p.setFont(windowFont(px(14)));
        p.setPen(QColor::fromRgba(kGrey));
        p.drawText(QRect(0, px(240), w, px(24)), Qt::AlignCenter,
                   QString::fromStdString(tr("电脑没有连接任何网络")));
        p.setPen(QColor::fromRgba(kRed));
        p.drawText(QRect(0, px(365), w, px(24)), Qt::AlignCenter, QString::fromStdString(tr("尝试打开虚拟AP")),
                   &hotspotLinkArea_);
    }

    // A thin frame, so the borderless window keeps its edge on a white desktop.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(0xd5, 0xd9, 0xdf));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(0, px(62), w - 1, h - px(62) - 1));

    if (!statusText_.isEmpty()) {
        p.setFont(windowFont(px(12)));
        p.setPen(statusIsError_ ? QColor::fromRgba(kRed) : QColor::fromRgba(kGrey));
        p.drawText(QRect(px(10), 0, w - px(20), h - px(9)), Qt::AlignLeft | Qt::AlignBottom | Qt::TextWordWrap,
                   statusText_);
    }
}

void WelcomeWnd::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint at = event->position().toPoint();
    ConnectServer* server = deps_.server;
    const bool listening = server && server->isListening();
    if (!listening && hotspotLinkArea_.contains(at)) {
        if (deps_.hotspot && deps_.hotspot->openHotspot()) {
            hotspotTimer_.start();
        } else {
            statusIsError_ = true;
            statusText_ = QString::fromStdString(tr("打开虚拟AP失败"));
        }
        update();
        return;
    }
    if (listening && connectedPeer_ != 0 && disconnectLinkArea_.contains(at)) {
        server->disconnectAll();
        return;
    }
    if (at.y() < captionHeight() && at.x() >= 0 && at.x() < width()) {
        dragging_ = true;
        dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
    }
}

void WelcomeWnd::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - dragOffset_);
        return;
    }
    const bool overLink = hotspotLinkArea_.contains(at) || disconnectLinkArea_.contains(at);
    setCursor(overLink ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void WelcomeWnd::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) dragging_ = false;
}

bool WelcomeWnd::pollHotspotAddress() {
    if (!deps_.hotspot || !deps_.server) return false;
    const std::string address = deps_.hotspot->hostedNetworkAddress();
    if (!isUsableHotspotAddress(address)) return false;
    if (!deps_.server->startOn(support::string2ip(address))) {
        LOGOUT("hotspot %s: session server did not start", address.c_str());
        return false;
    }
    showHotspotMessage();
    qr_->setText(connectPayload(deps_.server->boundAddress()));
    qr_->show();
    hotspotTimer_.stop();
    update();
    return true;
}

}  // namespace ui::welcome
