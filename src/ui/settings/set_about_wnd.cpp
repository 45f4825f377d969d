#include "support/language.h"
#include "ui/settings/set_pages.h"
#include "ui/settings/set_wnd.h"
#include "ui/settings/update_check.h"
#include "ui/widgets/image_static.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QVBoxLayout>

namespace ui::settings {

namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

SetAboutWnd::SetAboutWnd(SettingsDeps& deps, SetWnd* window) : SettingsPage(deps, window, "SetAboutWnd") {
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    const ProductInfo& info = deps_.product;

    productLabel = new QLabel(q(info.displayName), this);
    QFont big = productLabel->font();
    big.setPixelSize(big.pixelSize() > 0 ? big.pixelSize() * 3 / 2 : 18);
    big.setBold(true);
    productLabel->setFont(big);
    commentLabel = new QLabel(q(info.comment), this);
    copyrightLabel = new QLabel(q(info.copyright), this);
    helpLabel = new QLabel(q(info.help), this);
    versionLabel = new QLabel(q(programVersion()), this);
    for (QLabel* l : {commentLabel, copyrightLabel, helpLabel}) l->setWordWrap(true);
    webLink = link("<a>" + info.web + "</a>");
    updateLink = link(tr("<a>检查更新</a>"));
    followLabel = new QLabel(qtr("关注我们"), this);
    picture = new widgets::CImageStatic(this);

    auto* grid = new QGridLayout;
    grid->addWidget(label("版本："), 0, 0);
    grid->addWidget(versionLabel, 0, 1);
    grid->addWidget(updateLink, 0, 2);
    if (!deps_.desktopSession.empty()) {
        grid->addWidget(label("桌面会话："), 1, 0);
        grid->addWidget(new QLabel(q(deps_.desktopSession), this), 1, 1);
    }
    grid->setColumnStretch(3, 1);

    page->addWidget(productLabel);
    page->addWidget(commentLabel);
    page->addSpacing(8);
    page->addLayout(grid);
    page->addWidget(copyrightLabel);
    page->addWidget(helpLabel);
    page->addWidget(webLink);
    page->addSpacing(8);
    page->addWidget(followLabel);
    page->addWidget(picture, 1);

    webLink->setVisible(!info.web.empty());
    updateLink->setVisible(!info.update.empty() && info.update != "about:blank");
    const std::string pictureFile = deps_.programDir + "/data/wechat_qr.jpg";
    const bool hasPicture = QFileInfo(q(pictureFile)).isFile() && picture->setImage(pictureFile);
    followLabel->setVisible(hasPicture);
    picture->setVisible(hasPicture);
    if (!hasPicture) page->addStretch(1);

    QObject::connect(webLink, &QLabel::linkActivated, this, [this] { open(deps_.product.web); });
    QObject::connect(updateLink, &QLabel::linkActivated, this, [this] { checkUpdate(); });
}

void SetAboutWnd::checkUpdate() {
    if (deps_.updateDownloading && deps_.updateDownloading()) {
        tellPlain(tr("正在下载"));
        return;
    }
    const UpdateCheck check = checkForUpdate(deps_.product.update, programVersion(), deps_.product.id);
    if (check.outcome == UpdateCheck::NoInformation) {
        tell(tr("无法获取更新信息"));
        return;
    }
    if (check.outcome == UpdateCheck::NoUpdate) {
        tell(tr("无可用更新"));
        return;
    }
    if (!ask(tr("确认更新?"))) return;
    tell(tr("已经开始在后台下载，完成后将升级到") + " " + check.versionName);
    if (deps_.startUpdateDownload) deps_.startUpdateDownload(check.installerUrl);
}

}  // namespace ui::settings
