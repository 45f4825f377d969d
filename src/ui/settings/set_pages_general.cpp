#include "core/features.h"
#include "core/phone_access.h"
#include "core/settings.h"
#include "support/language.h"
#include "support/logger.h"
#include "support/strings.h"
#include "ui/connect/connect_payload.h"
#include "ui/settings/set_pages.h"
#include "ui/settings/set_wnd.h"
#include "ui/settings/settings_rules.h"
#include "ui/widgets/qr_static.h"

#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>

namespace ui::settings {

namespace {

using core::setting::NET;
using core::setting::SET;

constexpr char kClassroomClientKey[] = "Quorvel\\MardeckClient\\SET";
constexpr char kDefaultClassroomServer[] = "192.168.1.105";

QString q(const std::string& text) { return QString::fromStdString(text); }
std::string s(const QString& text) { return text.toStdString(); }

void setTextColour(QLabel* label, const QColor& colour) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
}

const QColor kBlue(0x1E, 0x5E, 0xC8);
const QColor kRed(0xD0, 0x20, 0x20);

}  // namespace

// ---------------------------------------------------------------- basic

SetMainWnd::SetMainWnd(SettingsDeps& deps, SetWnd* window) : SettingsPage(deps, window, "SetMainWnd") {
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);

    QGroupBox* connection = group("连接设置");
    auto* grid = new QGridLayout(connection);
    nameBox = new QLineEdit(connection);
    computerNameButton = new QPushButton(qtr("机器名"), connection);
    bindList = new QComboBox(connection);
    statusLine = new QLabel(connection);
    disconnectButton = new QPushButton(qtr("断开连接"), connection);
    classroomServerBox = new QLineEdit(connection);
    grid->addWidget(label("设备名称："), 0, 0);
    grid->addWidget(nameBox, 0, 1);
    grid->addWidget(computerNameButton, 0, 2);
    grid->addWidget(label("绑定IP："), 1, 0);
    grid->addWidget(bindList, 1, 1);
    grid->addWidget(label("连接状态："), 2, 0);
    grid->addWidget(statusLine, 2, 1);
    grid->addWidget(disconnectButton, 2, 2);
    grid->addWidget(label("集控服务器："), 3, 0);
    grid->addWidget(classroomServerBox, 3, 1);
    grid->setColumnStretch(1, 1);
    page->addWidget(connection);

    QGroupBox* scan = group("扫描二维码连接");
    auto* scanRow = new QHBoxLayout(scan);
    code = new widgets::CQRStatic(scan);
    const int side = static_cast<int>(168 * (deps_.uiScale > 0 ? deps_.uiScale : 1.0));
    code->setFixedSize(side, side);
    auto* texts = new QVBoxLayout;
    productLabel = new QLabel(q(deps_.product.displayName), scan);
    QFont big = productLabel->font();
    big.setPixelSize(big.pixelSize() > 0 ? big.pixelSize() * 3 / 2 : 18);
    big.setBold(true);
    productLabel->setFont(big);
    scanHint = new QLabel(qtr("用客户端扫描左侧二维码，进行连接"), scan);
    scanHint->setWordWrap(true);
    setTextColour(scanHint, kBlue);
    helpLink = link(tr("<a>连接不上？</a>"));
    texts->addStretch(1);
    texts->addWidget(productLabel);
    texts->addWidget(scanHint);
    texts->addWidget(helpLink);
    texts->addStretch(1);
    scanRow->addWidget(framed(code));
    scanRow->addSpacing(12);
    scanRow->addLayout(texts, 1);
    page->addWidget(scan);
    page->addStretch(1);

    // 1. Name and product.
    nameBox->setText(q(deps_.serverName ? deps_.serverName() : std::string()));
    nameBox->installEventFilter(this);
    QObject::connect(nameBox, &QLineEdit::textEdited, this, [this](const QString& t) { nameEdited(t); });
    QObject::connect(computerNameButton, &QPushButton::clicked, this, [this] { useComputerName(); });

    // 2. Bind list; 3. the connect code of the bound address.
    refillBindList();
    QObject::connect(bindList, &QComboBox::activated, this, [this](int index) { chooseBindEntry(index); });
    const uint32_t bound = deps_.server ? deps_.server->boundAddress() : 0;
    if (bound)
        code->setText(welcome::connectPayload(bound));

    // 4. Connection line, now and every 1500 ms.
    QObject::connect(disconnectButton, &QPushButton::clicked, this, [this] {
        if (deps_.server) deps_.server->disconnectAll();
        refreshStatus();
    });
    statusTimer.setInterval(kStatusRefreshMs);
    QObject::connect(&statusTimer, &QTimer::timeout, this, [this] { refreshStatus(); });
    refreshStatus();
    statusTimer.start();

    // 5. Classroom server of the sibling client.
    std::string servIp = store().getKeyString(kClassroomClientKey, "ServIP");
    classroomServerBox->setText(q(servIp.empty() ? kDefaultClassroomServer : servIp));
    QObject::connect(classroomServerBox, &QLineEdit::textEdited, this, [this](const QString& t) {
        store().setKeyString(kClassroomClientKey, "ServIP", s(t));
    });

    QObject::connect(helpLink, &QLabel::linkActivated, this, [this] { open(deps_.programDir + "/data/conn.xps"); });
}

bool SetMainWnd::eventFilter(QObject* watched, QEvent* event) {
    if (watched == nameBox && event->type() == QEvent::FocusOut) nameLeft();
    return SettingsPage::eventFilter(watched, event);
}

void SetMainWnd::nameEdited(const QString& text) {
    std::string name = s(text);
    if (name.empty() && deps_.computerName) name = deps_.computerName();
    if (deps_.setServerName) deps_.setServerName(name);
}

void SetMainWnd::nameLeft() {
    if (!nameBox->text().isEmpty()) return;
    useComputerName();
}

void SetMainWnd::useComputerName() {
    const std::string name = deps_.computerName ? deps_.computerName() : std::string();
    if (deps_.setServerName) deps_.setServerName(name);
    nameBox->setText(q(name));
}

void SetMainWnd::refillBindList() {
    bindList->clear();
    if (!deps_.server) return;
    const uint32_t bound = deps_.server->boundAddress();
    int selected = -1;
    for (uint32_t address : deps_.server->adapterAddresses()) {
        if (address == bound) selected = bindList->count();
        bindList->addItem(q(support::ip2string(address)), QVariant::fromValue<quint32>(address));
    }
    bindList->setCurrentIndex(selected);
}

void SetMainWnd::chooseBindEntry(int index) {
    if (index < 0 || index >= bindList->count() || !deps_.server) return;
    const uint32_t chosen = bindList->itemData(index).value<quint32>();
    if (chosen == deps_.server->boundAddress()) return;
    store().setString(NET, "bindIp", support::ip2string(chosen));
    if (ask(tr("需要重启软件才能生效"))) restart();
}

void SetMainWnd::refreshStatus() {
    std::vector<uint32_t> phones;
    bool any = false;
    if (deps_.server) {
        phones = deps_.server->identifiedAddresses();
        any = deps_.server->anyIdentified();
    }
    if (!phones.empty()) {
        statusLine->setText(q(support::ip2string(phones.front()) + " " + tr("已连接")));
        disconnectButton->setEnabled(true);
    } else {
        statusLine->setText(qtr("等待连接"));
        disconnectButton->setEnabled(false);
    }
    setTextColour(statusLine, any ? kBlue : kRed);
}

// ---------------------------------------------------------------- functions

SetFuncWnd::SetFuncWnd(SettingsDeps& deps, SetWnd* window) : SettingsPage(deps, window, "SetFuncWnd") {
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);

    QGroupBox* params = group("参数设置");
    auto* grid = new QGridLayout(params);
    brushBox = new QComboBox(params);
    brushBox->setEditable(true);
    for (const char* size : {"5", "8", "10", "12", "16", "24"}) brushBox->addItem(QString::fromLatin1(size));
    frameRateList = new QComboBox(params);
    frameRateList->addItems({"5", "10", "15", qtr("20（推荐）"), "MAX"});
    qualityList = new QComboBox(params);
    if (deps_.product.id == kLectureProductId)
        qualityList->addItems({qtr("视频模式"), qtr("文字模式"), qtr("超清（产品演示）")});
    else
        qualityList->addItems({qtr("普通（稳定，适用于较差网络）"), qtr("高清（推荐，普通网络 5G频段Wifi[802.11a/ac]）"),
                               qtr("超清（产品演示）")});
    grid->addWidget(label("画笔粗细："), 0, 0);
    grid->addWidget(brushBox, 0, 1);
    grid->addWidget(label("同屏帧率："), 1, 0);
    grid->addWidget(frameRateList, 1, 1);
    grid->addWidget(label("同屏质量："), 2, 0);
    grid->addWidget(qualityList, 2, 1, 1, 2);
    grid->setColumnStretch(2, 1);
    page->addWidget(params);

    QGroupBox* folder = group("文档路径设置");
    auto* folderRow = new QHBoxLayout(folder);
    folderBox = new BrowseBox(BrowseBox::Folder, QString(), folder);
    openFolderButton = new QPushButton(qtr("打开"), folder);
    folderRow->addWidget(label("文档路径："));
    folderRow->addWidget(folderBox, 1);
    folderRow->addWidget(openFolderButton);
    page->addWidget(folder);

    QGroupBox* startup = group("启动");
    auto* startRow = new QHBoxLayout(startup);
    autoRunBox = new QCheckBox(qtr("开机自启动"), startup);
    autoHideBox = new QCheckBox(qtr("启动后隐藏窗口"), startup);
    defaultsButton = new QPushButton(qtr("恢复默认(&D)"), startup);
    startRow->addWidget(autoRunBox);
    startRow->addWidget(autoHideBox);
    startRow->addStretch(1);
    startRow->addWidget(defaultsButton);
    page->addWidget(startup);
    page->addStretch(1);

    // Shown values.
    folderBox->setText(q(deps_.docDir ? deps_.docDir() : std::string()));
    brushBox->setEditText(QString::number(clampBrushSize(store().getInt(SET, "BRUSH_SIZE", kDefaultBrushSize))));
    frameRateList->setCurrentIndex(frameRateEntry(store().getInt(SET, "FRAME_RATE", 20)));
    qualityList->setCurrentIndex(clampQuality(store().getInt(SET, "QUALITY", 1)));
    autoRunBox->setChecked(store().getInt(SET, "AUTO_RUN", 0) != 0);
    autoHideBox->setChecked(store().getInt(SET, "AUTO_HIDE", 0) != 0);

    // Changes.
    QObject::connect(folderBox->edit(), &QLineEdit::textChanged, this, [this](const QString& t) {
        // An emptied box keeps the last folder: an empty DOC_DIR would put the
        // document folder's subfolders at the root of the file system.
        if (!t.trimmed().isEmpty()) store().setString(SET, "DOC_DIR", s(t));
    });
    QObject::connect(openFolderButton, &QPushButton::clicked, this, [this] { open(s(folderBox->text())); });
    auto storeBrush = [this](const QString& t) { store().setInt(SET, "BRUSH_SIZE", brushSizeFromText(s(t))); };
    QObject::connect(brushBox->lineEdit(), &QLineEdit::textEdited, this, storeBrush);
    QObject::connect(brushBox, &QComboBox::activated, this,
                     [this, storeBrush](int index) { storeBrush(brushBox->itemText(index)); });
    QObject::connect(frameRateList, &QComboBox::activated, this,
                     [this](int index) { store().setInt(SET, "FRAME_RATE", frameRateFromEntry(index)); });
    QObject::connect(qualityList, &QComboBox::activated, this,
                     [this](int index) { store().setInt(SET, "QUALITY", index); });
    QObject::connect(autoRunBox, &QCheckBox::clicked, this, [this](bool on) {
        // When the entry cannot be written the box stays as clicked and
        // nothing is stored.
        if (deps_.setAutoRun && !deps_.setAutoRun(on)) LOGOUT("autostart entry not changed");
    });
    QObject::connect(autoHideBox, &QCheckBox::clicked, this,
                     [this](bool on) { store().setInt(SET, "AUTO_HIDE", on ? 1 : 0); });
    QObject::connect(defaultsButton, &QPushButton::clicked, this, [this] { restoreDefaults(); });
}

void SetFuncWnd::restoreDefaults() {
    store().setInt(SET, "AUTO_HIDE", 0);
    autoHideBox->setChecked(false);
    if (deps_.setAutoRun) deps_.setAutoRun(false);
    autoRunBox->setChecked(false);
    const std::string documents = deps_.documentsDir ? deps_.documentsDir() : std::string();
    const std::string folder = documents + "/" + deps_.product.tag;
    folderBox->setText(q(folder));
    // Stored also when the box showed that folder already (no change then).
    store().setString(SET, "DOC_DIR", folder);
    brushBox->setEditText(QString::number(kDefaultBrushSize));
    frameRateList->setCurrentIndex(0);
}

// ---------------------------------------------------------------- assistant

SetFunc2Wnd::SetFunc2Wnd(SettingsDeps& deps, SetWnd* window) : SettingsPage(deps, window, "SetFunc2Wnd") {
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);

    QGroupBox* mouse = group("魔法鼠标");
    auto* grid = new QGridLayout(mouse);
    magicMouseBox = new QCheckBox(qtr("连接后自动启用魔法鼠标"), mouse);
    cursorList = new QComboBox(mouse);
    for (const char* name : {"放大图标", "旋转椎体", "心动时刻", "舞动蝴蝶", "电子钢笔", "魔法教鞭", "性别标志",
                             "愤怒鲨鱼", "自定义", "普通光标"})
        cursorList->addItem(qtr(name));
    cursorFileBox = new BrowseBox(BrowseBox::File, QStringLiteral("CURSOR (*.ani *.cur)"), mouse);
    grid->addWidget(magicMouseBox, 0, 0, 1, 2);
    grid->addWidget(label("光标设置："), 1, 0);
    grid->addWidget(cursorList, 1, 1);
    grid->addWidget(label("自定义鼠标："), 2, 0);
    grid->addWidget(cursorFileBox, 2, 1);
    grid->setColumnStretch(1, 1);
    page->addWidget(mouse);

    QGroupBox* language = group("语言");
    auto* languageRow = new QHBoxLayout(language);
    languageList = new QComboBox(language);
    const std::vector<LanguageEntry> languages = languageEntries(deps_.product.id);
    for (const LanguageEntry& e : languages) languageList->addItem(q(e.label), q(e.code));
    languageRow->addWidget(languageList);
    languageRow->addStretch(1);
    page->addWidget(language);

    QGroupBox* access = group("手机权限");
    auto* accessGrid = new QGridLayout(access);
    watchOnlyBox = new QCheckBox(qtr("观看的手机只能观看，不能操作这台电脑"), access);
    approvalBox = new QCheckBox(qtr("新手机连接时先询问我"), access);
    approvedList = new QListWidget(access);
    approvedList->setMaximumHeight(84);
    removeApprovedButton = new QPushButton(qtr("删除(&D)"), access);
    accessGrid->addWidget(watchOnlyBox, 0, 0, 1, 2);
    accessGrid->addWidget(approvalBox, 1, 0, 1, 2);
    accessGrid->addWidget(label("始终允许的手机："), 2, 0, 1, 2);
    accessGrid->addWidget(approvedList, 3, 0);
    accessGrid->addWidget(removeApprovedButton, 3, 1, Qt::AlignTop);
    accessGrid->setColumnStretch(0, 1);
    page->addWidget(access);
    page->addStretch(1);

    magicMouseBox->setChecked(store().getInt(SET, "SHOW_CURSOR", 0) != 0);
    cursorList->setCurrentIndex(cursorEntry(store().getInt(SET, "CURSOR", 9)));
    cursorFileBox->setText(q(store().getString(SET, "CURSOR_PATH", "")));
    const std::string current =
        support::getCompatibleLanguageName(store().getString(SET, "language", "zh-CN"));
    languageList->setCurrentIndex(languageEntry(languages, current));

    QObject::connect(magicMouseBox, &QCheckBox::clicked, this,
                     [this](bool on) { store().setInt(SET, "SHOW_CURSOR", on ? 1 : 0); });
    QObject::connect(cursorList, &QComboBox::activated, this, [this](int index) {
        store().setInt(SET, "CURSOR", index);
        if (deps_.cursors) deps_.cursors->apply(index);
    });
    QObject::connect(cursorFileBox->edit(), &QLineEdit::textChanged, this,
                     [this](const QString& t) { store().setString(SET, "CURSOR_PATH", s(t)); });
    QObject::connect(languageList, &QComboBox::activated, this, [this](int index) {
        store().setString(SET, "language", s(languageList->itemData(index).toString()));
        restart();
    });

    core::AccessSettings accessSettings(store());
    watchOnlyBox->setChecked(accessSettings.watchOnly());
    approvalBox->setChecked(accessSettings.approvalRequired());
    refillApproved();
    QObject::connect(watchOnlyBox, &QCheckBox::clicked, this,
                     [this](bool on) { core::AccessSettings(store()).setWatchOnly(on); });
    QObject::connect(approvalBox, &QCheckBox::clicked, this,
                     [this](bool on) { core::AccessSettings(store()).setApprovalRequired(on); });
    QObject::connect(approvedList, &QListWidget::currentRowChanged, this,
                     [this](int row) { removeApprovedButton->setEnabled(row >= 0); });
    QObject::connect(removeApprovedButton, &QPushButton::clicked, this, [this] { removeSelectedApproved(); });
}

void SetFunc2Wnd::refillApproved() {
    approvedList->clear();
    for (const core::ApprovedPhone& phone : core::AccessSettings(store()).approvedPhones()) {
        const std::string shown = phone.tag.empty() ? phone.identity : phone.tag + "  (" + phone.identity + ")";
        auto* item = new QListWidgetItem(q(shown), approvedList);
        item->setData(Qt::UserRole, q(phone.identity));
    }
    removeApprovedButton->setEnabled(approvedList->currentRow() >= 0);
}

void SetFunc2Wnd::removeSelectedApproved() {
    QListWidgetItem* item = approvedList->currentItem();
    if (!item) return;
    const std::string identity = s(item->data(Qt::UserRole).toString());
    if (!core::AccessSettings(store()).removeApproved(identity))
        LOGOUT("approved phone %s was not in the list", identity.c_str());
    refillApproved();
}

// ---------------------------------------------------------------- recording

SetRecordWnd::SetRecordWnd(SettingsDeps& deps, SetWnd* window) : SettingsPage(deps, window, "SetRecordWnd") {
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);

    QGroupBox* where = group("路径设置");
    auto* whereGrid = new QGridLayout(where);
    folderBox = new QLineEdit(where);
    folderBox->setReadOnly(true);
    openFolderButton = new QPushButton(qtr("打开录制文件夹(&O)"), where);
    playLastButton = new QPushButton(qtr("播放最近一次录制的文件(&P)"), where);
    whereGrid->addWidget(label("录制文件存放位置："), 0, 0, 1, 3);
    whereGrid->addWidget(folderBox, 1, 0, 1, 3);
    whereGrid->addWidget(openFolderButton, 2, 0);
    whereGrid->addWidget(playLastButton, 2, 1);
    whereGrid->setColumnStretch(2, 1);
    page->addWidget(where);

    QGroupBox* params = group("录制参数");
    auto* grid = new QGridLayout(params);
    frameRateList = new QComboBox(params);
    for (int rate = 5; rate <= 30; rate += 5) frameRateList->addItem(QString::number(rate));
    qualityList = new QComboBox(params);
    qualityList->addItems({qtr("低画质"), qtr("中等画质"), qtr("高清画质"), qtr("超清画质")});
    watermarkBox = new BrowseBox(BrowseBox::File, QStringLiteral("Image (*.jpg *.png *.bmp)"), params);
    grid->addWidget(label("帧率："), 0, 0);
    grid->addWidget(frameRateList, 0, 1);
    grid->addWidget(label("画面质量："), 1, 0);
    grid->addWidget(qualityList, 1, 1);
    grid->addWidget(label("水印："), 2, 0);
    grid->addWidget(watermarkBox, 2, 1, 1, 2);
    grid->setColumnStretch(2, 1);
    page->addWidget(params);
    page->addStretch(1);

    const std::string record = (deps_.docDir ? deps_.docDir() : std::string()) + "/Record";
    folderBox->setText(q(record));
    frameRateList->setCurrentIndex(recordFrameRateEntry(store().getInt(SET, "RECORD_FRAME_RATE", 10)));
    qualityList->setCurrentIndex(clampRecordQuality(store().getInt(SET, "RECORD_QUALITY", 1)));
    watermarkBox->setText(q(store().getString(SET, "WATERMARK", "")));

    QObject::connect(openFolderButton, &QPushButton::clicked, this, [this] { open(s(folderBox->text())); });
    QObject::connect(playLastButton, &QPushButton::clicked, this, [this] {
        const std::string last = store().getString(SET, "lastfile", "");
        if (!last.empty()) open(last);
    });
    QObject::connect(frameRateList, &QComboBox::activated, this,
                     [this](int index) { store().setInt(SET, "RECORD_FRAME_RATE", recordFrameRateFromEntry(index)); });
    QObject::connect(qualityList, &QComboBox::activated, this,
                     [this](int index) { store().setInt(SET, "RECORD_QUALITY", index); });
    QObject::connect(watermarkBox->edit(), &QLineEdit::textChanged, this,
                     [this](const QString& t) { store().setString(SET, "WATERMARK", s(t)); });
}

}  // namespace ui::settings
