#include "app/program/tray_icon.h"

#include "support/language.h"
#include "support/logger.h"

#include <QAction>
#include <QCursor>
#include <QDesktopServices>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QUrl>

namespace app {

namespace {

// Menu texts in their source language, in menu order ("" = separator).
const char* const kMenuTexts[] = {"关于(&A)", "设置", "断开连接", "", "退出(&X)"};
const char kContext[] = "CLumacro3Dlg";

// The program's icon, drawn rather than shipped so it scales to any tray size.
QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x1e, 0x88, 0xe5));
        p.drawRoundedRect(QRectF(0, 0, size, size), size * 0.2, size * 0.2);
        p.setBrush(Qt::white);
        const qreal u = size / 8.0;
        p.drawRect(QRectF(2.2 * u, 1.6 * u, 1.3 * u, 4.8 * u));
        p.drawRect(QRectF(2.2 * u, 5.1 * u, 3.8 * u, 1.3 * u));
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

TrayIcon::TrayIcon(const std::string& toolTip, TrayActions actions)
    : actions_(std::move(actions)) {
    menu_ = std::make_unique<QMenu>();
    const std::function<void()>* handlers[] = {&actions_.about, &actions_.settings,
                                               &actions_.disconnect, nullptr, &actions_.exit};
    for (int i = 0; i < 5; ++i) {
        if (!handlers[i]) {
            menu_->addSeparator();
            continue;
        }
        QAction* action = menu_->addAction(QString());
        const std::function<void()>* handler = handlers[i];
        connect(action, &QAction::triggered, this, [handler] {
            if (*handler) (*handler)();
        });
    }
    connect(menu_.get(), &QMenu::aboutToShow, this, [this] { retranslate(); });
    retranslate();

    icon_ = std::make_unique<QSystemTrayIcon>(programIcon());
    icon_->setToolTip(QString::fromStdString(toolTip));
    icon_->setContextMenu(menu_.get());
    connect(icon_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (!actions_.activated) return;
                if (reason == QSystemTrayIcon::Trigger) actions_.activated(0x201);
                if (reason == QSystemTrayIcon::DoubleClick) actions_.activated(0x203);
            });
    hostAvailable_ = QSystemTrayIcon::isSystemTrayAvailable();
    icon_->show();
    if (!hostAvailable_) LOGOUT("no system tray: running without a tray icon");
    hostWatch_.setInterval(2000);
    connect(&hostWatch_, &QTimer::timeout, this, [this] { watchHost(); });
    hostWatch_.start();
}

TrayIcon::~TrayIcon() {
    hostWatch_.stop();
    if (icon_) icon_->hide();
}

void TrayIcon::retranslate() {
    const QList<QAction*> entries = menu_->actions();
    for (int i = 0; i < entries.size() && i < 5; ++i) {
        if (kMenuTexts[i][0] == '\0') continue;
        entries[i]->setText(QString::fromStdString(support::translate(kMenuTexts[i], kContext)));
    }
}

void TrayIcon::watchHost() {
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    if (available && !hostAvailable_) {
        // A tray host came (back): show the icon in it again.
        icon_->hide();
        icon_->show();
        LOGOUT("tray icon added again");
    }
    hostAvailable_ = available;
}

bool TrayIcon::shown() const { return icon_ && icon_->isVisible() && hostAvailable_; }

std::vector<std::string> TrayIcon::menuTexts() const {
    std::vector<std::string> texts;
    for (QAction* a : menu_->actions()) texts.push_back(a->isSeparator() ? "" : a->text().toStdString());
    return texts;
}

void TrayIcon::trigger(int position) {
    const QList<QAction*> entries = menu_->actions();
    if (position >= 0 && position < entries.size() && !entries[position]->isSeparator())
        entries[position]->trigger();
}

void TrayIcon::showMenuAtCursor() {
    retranslate();
    menu_->popup(QCursor::pos());
}

void TrayIcon::openLink(const std::string& url) {
    if (url.empty()) {
        LOGOUT("about: no web link");
        return;
    }
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

}  // namespace app
