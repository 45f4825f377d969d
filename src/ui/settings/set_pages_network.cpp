#include "core/settings.h"
#include "support/logger.h"
#include "support/strings.h"
#include "transfer/file_share.h"
#include "ui/connect/hotspot.h"
#include "ui/settings/set_pages.h"
#include "ui/settings/set_wnd.h"
#include "ui/widgets/qr_static.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <filesystem>

namespace ui::settings {

namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }

// A code and the white frame around it.
void showCode(widgets::CQRStatic* code, bool visible) {
    code->setVisible(visible);
    code->parentWidget()->setVisible(visible);
}

int scaled(const SettingsDeps& deps, int value) {
    return static_cast<int>(value * (deps.uiScale > 0 ? deps.uiScale : 1.0));
}

}  // namespace

// ---------------------------------------------------------------- hotspot

SetVAPWnd::SetVAPWnd(SettingsDeps& deps, SetWnd* window) : SettingsPage(deps, window, "SetVAPWnd") {
    // A white page with labels on it, as the hotspot page has always looked.
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);

    auto* page = new QVBoxLayout(this);
    auto* buttons = new QHBoxLayout;
    openButton = new QPushButton(qtr("打开虚拟AP"), this);
    closeButton = new QPushButton(qtr("关闭虚拟AP"), this);
    buttons->addWidget(openButton);
    buttons->addWidget(closeButton);
    buttons->addStretch(1);
    networkLabel = new QLabel(this);
    networkLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    hintLabel = new QLabel(qtr("手机连接此网络后，本软件将重启并在该网络上等待连接。"), this);
    hintLabel->setWordWrap(true);
    networkLabel->hide();
    hintLabel->hide();
    page->addLayout(buttons);
    page->addSpacing(scaled(deps_, 12));
    page->addWidget(networkLabel);
    page->addWidget(hintLabel);
    page->addStretch(1);

    QObject::connect(openButton, &QPushButton::clicked, this, [this] { openHotspot(); });
    QObject::connect(closeButton, &QPushButton::clicked, this, [this] { closeHotspot(); });
}

void SetVAPWnd::openHotspot() {
    if (!deps_.hotspot || !deps_.hotspot->openHotspot()) {
        tellPlain(tr("打开虚拟AP失败"));
        return;
    }
    // Plain replacement: the translated text is never used as a format.
    std::string text = tr("网络名称：%s，密码： 73915264");
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, deps_.hotspot->hotspotSsid());
    networkLabel->setText(q(text));
    networkLabel->show();
    hintLabel->show();
    if (deps_.waitForHotspotAddress)
        deps_.waitForHotspotAddress();
    else
        LOGOUT("hotspot: nobody waits for the address");
}

void SetVAPWnd::closeHotspot() {
    if (deps_.hotspot) deps_.hotspot->closeHotspot();
    hintLabel->hide();
    networkLabel->hide();
    if (SetMainWnd* basic = window_->page<SetMainWnd>()) basic->refillBindList();
}

// ---------------------------------------------------------------- download

SetDownWnd::SetDownWnd(SettingsDeps& deps, SetWnd* window) : SettingsPage(deps, window, "SetDownWnd") {
    auto* row = new QHBoxLayout(this);
    const int side = scaled(deps_, 180);
    auto column = [&](widgets::CQRStatic*& code, QLabel*& caption, const char* name) {
        auto* box = new QVBoxLayout;
        code = new widgets::CQRStatic(this);
        code->setFixedSize(side, side);
        caption = new QLabel(QString::fromLatin1(name), this);
        caption->setAlignment(Qt::AlignHCenter);
        box->addWidget(framed(code), 0, Qt::AlignHCenter);
        box->addWidget(caption);
        box->addStretch(1);
        row->addLayout(box);
    };
    column(androidCode, androidLabel, "Android");
    column(iosCode, iosLabel, "iOS");
    row->addStretch(1);

    std::string android = deps_.product.androidUrl;
    if (android.empty() && deps_.apkShareUrl) android = deps_.apkShareUrl();
    if (android.empty()) {
        showCode(androidCode, false);
        androidLabel->hide();
    } else {
        androidCode->setText(android);
    }
    if (deps_.product.iosUrl.empty()) {
        showCode(iosCode, false);
        iosLabel->hide();
    } else {
        iosCode->setText(deps_.product.iosUrl);
    }
}

// ---------------------------------------------------------------- file share

SetShareWnd::SetShareWnd(SettingsDeps& deps, SetWnd* window) : SettingsPage(deps, window, "SetShareWnd") {
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    hint = new QLabel(qtr("请先确认平板电脑的网络与本机连通！再使用平板的浏览器扫描下载。"), this);
    hint->setWordWrap(true);
    fileBox = new BrowseBox(BrowseBox::File, QString(), this);
    code = new widgets::CQRStatic(this);
    const int side = scaled(deps_, 200);
    code->setFixedSize(side, side);
    addressLabel = new QLabel(this);
    addressLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    addressLabel->setAlignment(Qt::AlignHCenter);
    page->addWidget(hint);
    page->addWidget(fileBox);
    page->addSpacing(scaled(deps_, 8));
    page->addWidget(framed(code), 0, Qt::AlignHCenter);
    page->addWidget(addressLabel);
    page->addStretch(1);

    const std::string docDir = deps_.docDir ? deps_.docDir() : std::string();
    const transfer::SharePreparation share = transfer::prepareShare(store(), deps_.currentDir, docDir);
    if (share.shared.empty() || !share.publish) {
        showCode(code, false);
    } else {
        fileBox->setText(q(share.shared));
        publishShare(share.shared);
    }
    // A completed choice (picked in the dialog, or typed and confirmed) is
    // shared; the keystrokes in between are not.
    QObject::connect(fileBox->edit(), &QLineEdit::editingFinished, this, [this] {
        const std::string path = fileBox->text().toStdString();
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec) &&
            path != store().getString(core::setting::SET, "ShareFile", ""))
            filePicked(path);
    });
}

void SetShareWnd::filePicked(const std::string& path) {
    transfer::copyToPublished(path, deps_.docDir ? deps_.docDir() : std::string());
    store().setString(core::setting::SET, "ShareFile", path);
    publishShare(path);
}

void SetShareWnd::publishShare(const std::string& path) {
    const uint32_t bound = deps_.server ? deps_.server->boundAddress() : 0;
    const std::string url = transfer::shareDownloadUrl(support::ip2string(bound), path);
    code->clear();
    code->setText(url);
    addressLabel->setText(q(url));
    showCode(code, true);
    code->update();
}

}  // namespace ui::settings
