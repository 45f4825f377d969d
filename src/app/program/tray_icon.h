// The tray icon and its menu (About, Settings, Disconnect, Exit), with texts
// translated when the menu opens. The icon is added again when a tray host
// appears after having been gone (the panel restarted).
#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QMenu;
class QSystemTrayIcon;

namespace app {

struct TrayActions {
    std::function<void()> about;
    std::function<void()> settings;
    std::function<void()> disconnect;
    std::function<void()> exit;
    // Tray clicks as mouse-message numbers (left down, left double click, right down).
    std::function<void(int64_t)> activated;
};

class TrayIcon : public QObject {
    Q_OBJECT
public:
    TrayIcon(const std::string& toolTip, TrayActions actions);
    ~TrayIcon() override;

    void showMenuAtCursor();
    // True while the icon is shown in a tray host.
    bool shown() const;
    // Texts of the menu entries in their current translation (separator as "").
    std::vector<std::string> menuTexts() const;
    // Triggers the entry at `position` as a click would.
    void trigger(int position);

    static void openLink(const std::string& url);

private:
    void retranslate();
    void watchHost();

    TrayActions actions_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    QTimer hostWatch_;
    bool hostAvailable_ = false;
};

}  // namespace app
