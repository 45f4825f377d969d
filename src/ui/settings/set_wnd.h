// The settings window: a tree of pages on the left, the selected page on the
// right. Every control writes its setting as it changes; there is no OK step.
#pragma once

#include "ui/settings/settings_deps.h"

#include <QDialog>

#include <string>
#include <vector>

class QPushButton;
class QTreeWidget;

namespace ui::settings {

class SettingsPage;

class SetWnd : public QDialog {
public:
    explicit SetWnd(SettingsDeps deps, QWidget* parent = nullptr);
    ~SetWnd() override;

    QTreeWidget* tree() const { return tree_; }
    QPushButton* closeButton() const { return closeButton_; }
    const std::vector<SettingsPage*>& pages() const { return pages_; }
    // Shows page n (1-based, clamped), hides the others.
    void showPage(int n);
    SettingsPage* visiblePage() const;
    // The page of that class, or null when the window has none.
    template <class Page>
    Page* page() const {
        for (SettingsPage* p : pages_)
            if (auto* found = dynamic_cast<Page*>(p)) return found;
        return nullptr;
    }

    const SettingsDeps& deps() const { return deps_; }

    // Closes the window (it deletes itself). While one of its message boxes
    // or file dialogs runs, the window hides, those dialogs are dismissed,
    // and it closes once the last of them has returned: the code that opened
    // them still runs on the window's pages.
    void closeSafely();
    // Marks a message box or file dialog of the pages as running.
    class ModalScope {
    public:
        explicit ModalScope(QWidget* inside);
        ~ModalScope();
        ModalScope(const ModalScope&) = delete;
        ModalScope& operator=(const ModalScope&) = delete;

    private:
        SetWnd* window_;
    };

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void placePages();

    SettingsDeps deps_;
    QTreeWidget* tree_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    std::vector<SettingsPage*> pages_;
    int modalDepth_ = 0;
    bool closePending_ = false;
};

// The font family list of the settings texts (Chinese faces included).
QStringList settingsFontFamilies();

}  // namespace ui::settings
