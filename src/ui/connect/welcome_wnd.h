// The connect window: the QR code a phone scans, the PC's name, whether a
// phone is connected (with a link that disconnects it) and, on a PC without
// a network, a link that opens a virtual hotspot and then shows the code for
// the hotspot's address. Small buttons in the title band open the settings,
// the help page and the screen-mirroring helper, and hide the window.
#pragma once

#include "core/phone_access.h"
#include "ui/connect/connect_variant.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

namespace ui::widgets {
class CQRStatic;
class MyButton;
}

namespace ui::welcome {

class ConnectServer;
class PhoneListView;
class Hotspot;

struct WelcomeDeps {
    ConnectServer* server = nullptr;
    Hotspot* hotspot = nullptr;
    float uiScale = 1.0f;
    std::string programDir;
    std::string productId;
    std::string productName;
    std::function<std::string()> serverName;  // read at each paint
    std::function<void()> openSettings;
    // Shell "open" of a file or URL; the desktop's handler when empty.
    std::function<void(const std::string&)> openFile;
    // Starts a program in a working folder; a detached process when empty.
    std::function<void(const std::string&, const std::string&)> startProgram;
    // The connected phones, listed below the code with a disconnect link
    // each; no list when null.
    core::PhoneDirectory* phones = nullptr;
};

class WelcomeWnd : public QWidget {
public:
    // Control numbers of the title band buttons.
    enum ButtonId { kSettingsButton = 1038, kHelpButton = 1039, kHideButton = 1001, kMirrorButton = 1041 };
    static constexpr int kHotspotPollMs = 3000;

    explicit WelcomeWnd(WelcomeDeps deps, QWidget* parent = nullptr);
    ~WelcomeWnd() override;

    // true: show the window if hidden and bring it to the front; false: hide.
    void show(bool flag);
    // The phone that became ready (network byte order); 0 when the
    // controlling phone has gone. Repaints.
    void setConnectedPeer(uint32_t address);

    uint32_t connectedPeer() const { return connectedPeer_; }
    bool helpAvailable() const { return helpAvailable_; }
    const QString& statusText() const { return statusText_; }
    bool statusIsError() const { return statusIsError_; }
    QRect hotspotLinkArea() const { return hotspotLinkArea_; }
    QRect disconnectLinkArea() const { return disconnectLinkArea_; }
    bool hotspotTimerActive() const { return hotspotTimer_.isActive(); }
    widgets::CQRStatic* qrControl() const { return qr_; }
    widgets::MyButton* button(int id) const;
    // Height of the band that drags the window.
    int captionHeight() const { return px(62); }
    // The window without the phone list below it.
    int baseHeight() const { return px(557); }
    PhoneListView* phoneList() const { return phoneList_; }

    // While the desktop asks the teacher to allow screen sharing or remote
    // control, the status line says so and the window keeps behind the
    // desktop's dialog. Repaints.
    void setConsentWaiting(bool waiting);

    // One tick of the hotspot timer: with a usable hotspot address the
    // server starts on it and the code appears. True when it did.
    bool pollHotspotAddress();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int px(double value) const { return static_cast<int>(value * scale_); }
    void initialise();
    void layoutButtons(int clientWidth);
    void onButton(int id);
    void showHotspotMessage();
    QFont windowFont(int pixelSize) const;
    std::string tr(const char* text) const;

    WelcomeDeps deps_;
    double scale_ = 1.0;
    ConnectVariant variant_;
    QImage logo_;
    QImage deviceIcon_;
    bool helpAvailable_ = false;
    uint32_t connectedPeer_ = 0;
    QString statusText_;
    bool statusIsError_ = false;
    bool consentShown_ = false;  // the status line is the consent text
    QRect hotspotLinkArea_;
    QRect disconnectLinkArea_;
    bool initialised_ = false;
    bool placed_ = false;
    bool dragging_ = false;
    QPoint dragOffset_;
    QTimer hotspotTimer_;  // waits for the hotspot's address

    widgets::MyButton* settingsButton_ = nullptr;
    widgets::MyButton* helpButton_ = nullptr;
    widgets::MyButton* hideButton_ = nullptr;
    widgets::MyButton* mirrorButton_ = nullptr;
    widgets::CQRStatic* qr_ = nullptr;
    PhoneListView* phoneList_ = nullptr;
};

}  // namespace ui::welcome
