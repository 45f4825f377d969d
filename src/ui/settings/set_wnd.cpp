#include "ui/settings/set_wnd.h"

#include "support/language.h"
#include "support/logger.h"
#include "ui/settings/set_pages.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace ui::settings {

namespace {

constexpr char kContext[] = "SetWnd";
constexpr char kProgramName[] = "Lumacro3";

std::string trWnd(const char* text) { return support::translate(text, kContext); }

// Short Chinese texts make narrow boxes whose title the window manager cuts.
void widen(QMessageBox& box) { box.setStyleSheet(QStringLiteral("QLabel { min-width: 220px; }")); }

}  // namespace

QStringList settingsFontFamilies() {
    return {QString::fromStdString(support::translate("微软雅黑", kContext)), QStringLiteral("Noto Sans CJK SC"),
            QStringLiteral("Noto Sans"), QStringLiteral("DejaVu Sans")};
}

// ---------------------------------------------------------------- pages

SettingsPage::SettingsPage(SettingsDeps& deps, SetWnd* window, const char* context)
    : QWidget(window), deps_(deps), window_(window), context_(context) {}

std::string SettingsPage::tr(const char* text) const { return support::translate(text, context_); }

bool SettingsPage::ask(const std::string& text) {
    const std::string& title = deps_.product.product.empty() ? deps_.product.displayName : deps_.product.product;
    if (deps_.askYesNo) return deps_.askYesNo(title, text);
    QMessageBox box(QMessageBox::Question, QString::fromStdString(title), QString::fromStdString(text),
                    QMessageBox::NoButton, this);
    QPushButton* yes = box.addButton(QString::fromStdString(trWnd("是(&Y)")), QMessageBox::YesRole);
    box.addButton(QString::fromStdString(trWnd("否(&N)")), QMessageBox::NoRole);
    widen(box);
    SetWnd::ModalScope scope(this);
    box.exec();
    return box.clickedButton() == yes;
}

void SettingsPage::tell(const std::string& text) {
    const std::string& title = deps_.product.product.empty() ? deps_.product.displayName : deps_.product.product;
    if (deps_.tell) return deps_.tell(title, text);
    QMessageBox box(QMessageBox::Information, QString::fromStdString(title), QString::fromStdString(text),
                    QMessageBox::NoButton, this);
    box.addButton(QString::fromStdString(trWnd("确定")), QMessageBox::AcceptRole);
    widen(box);
    SetWnd::ModalScope scope(this);
    box.exec();
}

void SettingsPage::tellPlain(const std::string& text) {
    if (deps_.tell) return deps_.tell(kProgramName, text);
    QMessageBox box(QMessageBox::Information, QString::fromLatin1(kProgramName), QString::fromStdString(text),
                    QMessageBox::NoButton, this);
    box.addButton(QString::fromStdString(trWnd("确定")), QMessageBox::AcceptRole);
    widen(box);
    SetWnd::ModalScope scope(this);
    box.exec();
}

void SettingsPage::open(const std::string& path) {
    if (path.empty()) return;
    if (deps_.openFile) return deps_.openFile(path);
    // The result is not checked: a missing file simply does not open.
    const bool isUrl = path.find("://") != std::string::npos;
    QDesktopServices::openUrl(isUrl ? QUrl(QString::fromStdString(path))
                                    : QUrl::fromLocalFile(QString::fromStdString(path)));
}

void SettingsPage::restart() {
    if (deps_.restartProgram)
        deps_.restartProgram();
    else
        LOGOUT("settings: no restart available");
}

QGroupBox* SettingsPage::group(const char* title) { return new QGroupBox(qtr(title), this); }

QLabel* SettingsPage::label(const char* text) { return new QLabel(qtr(text), this); }

QLabel* SettingsPage::link(const std::string& text) {
    // Qt reports a click only on an anchor with a target.
    QString rich = QString::fromStdString(text).toHtmlEscaped();
    rich.replace(QStringLiteral("&lt;a&gt;"), QStringLiteral("<a href=\"#\">"));
    rich.replace(QStringLiteral("&lt;/a&gt;"), QStringLiteral("</a>"));
    auto* l = new QLabel(rich, this);
    l->setTextFormat(Qt::RichText);
    l->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    return l;
}

QWidget* SettingsPage::framed(QWidget* code) {
    auto* frame = new QWidget(this);
    frame->setAutoFillBackground(true);
    QPalette p = frame->palette();
    p.setColor(QPalette::Window, Qt::white);
    frame->setPalette(p);
    auto* box = new QVBoxLayout(frame);
    const int quiet = static_cast<int>(12 * (deps_.uiScale > 0 ? deps_.uiScale : 1.0));
    box->setContentsMargins(quiet, quiet, quiet, quiet);
    code->setParent(frame);
    box->addWidget(code);
    frame->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return frame;
}

BrowseBox::BrowseBox(Kind kind, QString filter, QWidget* parent)
    : QWidget(parent), kind_(kind), filter_(std::move(filter)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    edit_ = new QLineEdit(this);
    button_ = new QPushButton(QStringLiteral("…"), this);
    button_->setFixedWidth(button_->fontMetrics().horizontalAdvance(QStringLiteral("……")) + 12);
    row->addWidget(edit_, 1);
    row->addWidget(button_);
    QObject::connect(button_, &QPushButton::clicked, this, [this] {
        SetWnd::ModalScope scope(this);
        const QString picked = kind_ == Folder
                                   ? QFileDialog::getExistingDirectory(this, QString(), edit_->text())
                                   : QFileDialog::getOpenFileName(this, QString(), edit_->text(), filter_);
        if (!picked.isEmpty()) {
            edit_->setText(picked);
            emit edit_->editingFinished();
        }
    });
}

// ---------------------------------------------------------------- window

SetWnd::SetWnd(SettingsDeps deps, QWidget* parent) : QDialog(parent), deps_(std::move(deps)) {
    const double s = deps_.uiScale > 0 ? deps_.uiScale : 1.0;
    QFont font = this->font();
    font.setFamilies(settingsFontFamilies());
    font.setPixelSize(std::max(10, static_cast<int>(13 * s)));
    setFont(font);
    setWindowTitle(QString::fromStdString(deps_.product.displayName));
    setAttribute(Qt::WA_DeleteOnClose, false);

    tree_ = new QTreeWidget(this);
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(false);
    tree_->setIconSize(QSize(16, 16));
    tree_->setIndentation(static_cast<int>(14 * s));
    closeButton_ = new QPushButton(QString::fromStdString(trWnd("关闭")), this);
    QObject::connect(closeButton_, &QPushButton::clicked, this, [this] { close(); });

    // Items in tree order; each carries its page number, consecutive over the
    // pages actually made.
    struct Entry {
        const char* text;
        QStyle::StandardPixmap icon;
        SettingsPage* page;
    };
    QStyle* st = style();
    std::vector<Entry> entries;
    entries.push_back({"基本设置", QStyle::SP_ComputerIcon, new SetMainWnd(deps_, this)});
    entries.push_back({"功能设置", QStyle::SP_FileDialogDetailedView, new SetFuncWnd(deps_, this)});
    entries.push_back({"辅助功能", QStyle::SP_DesktopIcon, new SetFunc2Wnd(deps_, this)});
    entries.push_back({"微课录制", QStyle::SP_MediaPlay, new SetRecordWnd(deps_, this)});
    entries.push_back({"虚拟AP", QStyle::SP_DriveNetIcon, new SetVAPWnd(deps_, this)});
    if (deps_.product.hideQR == 0)
        entries.push_back({"软件下载", QStyle::SP_ArrowDown, new SetDownWnd(deps_, this)});
    entries.push_back({"文件分享", QStyle::SP_DirOpenIcon, new SetShareWnd(deps_, this)});
    entries.push_back({"关于", QStyle::SP_MessageBoxInformation, new SetAboutWnd(deps_, this)});

    auto* root = new QTreeWidgetItem(tree_, {QString::fromStdString(deps_.product.displayName)});
    root->setData(0, Qt::UserRole, 0);
    root->setIcon(0, windowIcon().isNull() ? st->standardIcon(QStyle::SP_ComputerIcon) : windowIcon());
    int number = 1;
    for (const Entry& e : entries) {
        auto* item = new QTreeWidgetItem(root, {QString::fromStdString(trWnd(e.text))});
        item->setData(0, Qt::UserRole, number++);
        item->setIcon(0, st->standardIcon(e.icon));
        e.page->hide();
        pages_.push_back(e.page);
    }
    tree_->expandAll();
    QObject::connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item, QTreeWidgetItem*) {
        showPage(item ? item->data(0, Qt::UserRole).toInt() : 0);
    });

    resize(static_cast<int>(760 * s), static_cast<int>(520 * s));
    placePages();
    tree_->setCurrentItem(root);
    showPage(0);
}

SetWnd::~SetWnd() = default;

void SetWnd::showPage(int n) {
    if (pages_.empty()) return;
    const int index = std::clamp(n, 1, static_cast<int>(pages_.size())) - 1;
    for (int i = 0; i < static_cast<int>(pages_.size()); ++i) pages_[i]->setVisible(i == index);
}

void SetWnd::closeSafely() {
    if (modalDepth_ == 0) {
        close();
        return;
    }
    closePending_ = true;
    hide();
    for (QDialog* dialog : findChildren<QDialog*>())
        if (dialog->isVisible()) dialog->reject();
}

SetWnd::ModalScope::ModalScope(QWidget* inside) : window_(dynamic_cast<SetWnd*>(inside ? inside->window() : nullptr)) {
    if (window_) ++window_->modalDepth_;
}

SetWnd::ModalScope::~ModalScope() {
    if (!window_) return;
    if (--window_->modalDepth_ == 0 && window_->closePending_) {
        // Closed from the loop that runs next, once the caller has returned.
        QTimer::singleShot(0, window_, [w = window_] { w->close(); });
    }
}

SettingsPage* SetWnd::visiblePage() const {
    for (SettingsPage* p : pages_)
        if (!p->isHidden()) return p;
    return nullptr;
}

void SetWnd::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    placePages();
}

void SetWnd::placePages() {
    const double s = deps_.uiScale > 0 ? deps_.uiScale : 1.0;
    const int margin = static_cast<int>(12 * s);
    const int buttonHeight = std::max(closeButton_->sizeHint().height(), static_cast<int>(28 * s));
    const int buttonWidth = std::max(closeButton_->sizeHint().width(), static_cast<int>(96 * s));
    const QRect client = rect();
    const QRect treeRect(margin, margin, static_cast<int>(170 * s),
                         client.height() - 3 * margin - buttonHeight);
    tree_->setGeometry(treeRect);
    const int gap = static_cast<int>(16 * s);
    const int right = treeRect.x() + treeRect.width();
    const QRect pageRect(right + gap, treeRect.y(), client.width() - right - treeRect.x() - gap,
                         treeRect.height());
    for (SettingsPage* p : pages_) p->setGeometry(pageRect);
    closeButton_->setGeometry(client.width() - margin - buttonWidth, client.height() - margin - buttonHeight,
                              buttonWidth, buttonHeight);
}

}  // namespace ui::settings
