// The common ground of the settings pages: the program's services, the
// translation of the page's texts, message boxes titled with the product
// name, and the browse boxes the pages use.
#pragma once

#include "ui/settings/settings_deps.h"

#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <string>

class QGroupBox;
class QLabel;

namespace ui::settings {

class SetWnd;

class SettingsPage : public QWidget {
public:
    SettingsPage(SettingsDeps& deps, SetWnd* window, const char* context);

    // The page's texts are translated in the context named for the page.
    std::string tr(const char* text) const;
    QString qtr(const char* text) const { return QString::fromStdString(tr(text)); }

protected:
    core::Settings& store() { return *deps_.settings; }
    // Yes/No and message boxes titled with the product name.
    bool ask(const std::string& text);
    void tell(const std::string& text);
    // A message box with the program's own name as its title.
    void tellPlain(const std::string& text);
    void open(const std::string& path);
    void restart();

    QGroupBox* group(const char* title);
    QLabel* label(const char* text);
    // A clickable label of a "<a>...</a>" text.
    QLabel* link(const std::string& text);
    // The code inside a white frame: the quiet zone a phone's camera needs.
    QWidget* framed(QWidget* code);

    SettingsDeps& deps_;
    SetWnd* window_;
    const char* context_;
};

// A path box with a browse button; `changed` reports every change of the
// text, typed or picked.
class BrowseBox : public QWidget {
public:
    enum Kind { Folder, File };
    BrowseBox(Kind kind, QString filter, QWidget* parent = nullptr);
    QLineEdit* edit() const { return edit_; }
    QPushButton* button() const { return button_; }
    QString text() const { return edit_->text(); }
    void setText(const QString& text) { edit_->setText(text); }

private:
    Kind kind_;
    QString filter_;
    QLineEdit* edit_;
    QPushButton* button_;
};

}  // namespace ui::settings
