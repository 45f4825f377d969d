#include "connect/connect_fakes.h"
#include "common/temp_dir.h"
#include "widgets/widgets_app.h"

#include "support/language.h"
#include "ui/connect/connect_payload.h"
#include "ui/connect/welcome_hub_window.h"
#include "ui/connect/welcome_wnd.h"
#include "ui/widgets/my_button.h"
#include "ui/widgets/qr_static.h"

#include <QMouseEvent>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using testing_support::TempDir;
using namespace ui::welcome;
using connect_test::FakeHotspot;
using connect_test::FakeServer;
using widgets_test::qtApp;
using widgets_test::readQr;

namespace {

std::string tr(const char* text) { return support::translate(text, "WelcomeWnd"); }

void click(QWidget& w, QPoint at) {
    QMouseEvent press(QEvent::MouseButtonPress, at, w.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w.mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(&w, &release);
}

void clickButton(WelcomeWnd& w, int id) { click(*w.button(id), {3, 3}); }

class WelcomeTest : public ::testing::Test {
protected:
    void SetUp() override { qtApp(); }

    WelcomeDeps deps(float scale = 1.0f) {
        WelcomeDeps d;
        d.server = &server;
        d.hotspot = &hotspot;
        d.uiScale = scale;
        d.programDir = dir.path();
        d.productName = "Lumacro3";
        d.serverName = [] { return std::string("Room-12"); };
        d.openSettings = [this] { ++settingsOpened; };
        d.openFile = [this](const std::string& f) { opened.push_back(f); };
        d.startProgram = [this](const std::string& p, const std::string& folder) {
            started.push_back(p + "|" + folder);
        };
        return d;
    }

    TempDir dir;
    FakeServer server;
    FakeHotspot hotspot;
    int settingsOpened = 0;
    std::vector<std::string> opened, started;
};

}  // namespace

TEST_F(WelcomeTest, ListeningShowsTheCodeOfTheBoundAddress) {
    server.listenOn("192.168.1.5");
    WelcomeWnd w(deps());
    EXPECT_EQ(w.size(), QSize(440, 557));
    EXPECT_EQ(w.qrControl()->geometry(), QRect(104, 107, 234, 234));
    EXPECT_FALSE(w.qrControl()->isHidden());
    EXPECT_TRUE(w.statusText().isEmpty());
    // An independent reader finds exactly the payload, line feed included,
    // in the window as drawn.
    EXPECT_EQ(readQr(w.grab().toImage()), "{\"action\":\"connect\",\"data\":\"tcp://192.168.1.5:49873\"}\n");
}

TEST_F(WelcomeTest, SizesFollowTheInterfaceScale) {
    server.listenOn("10.1.2.3");
    WelcomeWnd w(deps(1.5f));
    EXPECT_EQ(w.size(), QSize(660, 835));
    EXPECT_EQ(w.qrControl()->geometry(), QRect(156, 160, 351, 351));
    EXPECT_EQ(w.button(WelcomeWnd::kHideButton)->geometry(), QRect(660 - 30 - 24, 36, 24, 24));
    EXPECT_EQ(w.captionHeight(), 93);
    EXPECT_EQ(readQr(w.grab().toImage()), connectPayload("10.1.2.3"));
}

TEST_F(WelcomeTest, TitleButtonsAndWhatTheyDo) {
    server.listenOn("192.168.1.5");
    {
        // No help file: no help button, settings right next to the close button.
        WelcomeWnd w(deps());
        EXPECT_FALSE(w.helpAvailable());
        EXPECT_TRUE(w.button(WelcomeWnd::kHelpButton)->isHidden());
        EXPECT_EQ(w.button(WelcomeWnd::kHideButton)->geometry(), QRect(404, 24, 16, 16));
        EXPECT_EQ(w.button(WelcomeWnd::kSettingsButton)->geometry(), QRect(374, 24, 16, 16));
        EXPECT_TRUE(w.button(WelcomeWnd::kMirrorButton)->isHidden());  // default variant
    }
    std::filesystem::create_directories(dir / "data");
    std::ofstream(dir / "data/index.html") << "<html></html>";
    WelcomeDeps d = deps();
    d.productId = kCoralProductId;
    WelcomeWnd w(std::move(d));
    EXPECT_FALSE(w.button(WelcomeWnd::kHelpButton)->isHidden());
    EXPECT_EQ(w.button(WelcomeWnd::kHelpButton)->geometry(), QRect(376, 24, 16, 16));
    EXPECT_EQ(w.button(WelcomeWnd::kSettingsButton)->geometry(), QRect(346, 24, 16, 16));
    EXPECT_EQ(w.button(WelcomeWnd::kMirrorButton)->geometry(), QRect(316, 24, 16, 16));
    EXPECT_FALSE(w.button(WelcomeWnd::kMirrorButton)->isHidden());
    EXPECT_EQ(w.button(WelcomeWnd::kSettingsButton)->stateStyle(ui::widgets::MyButton::Normal).backColor,
              QColor(0xfe, 0x71, 0x46));

    clickButton(w, WelcomeWnd::kSettingsButton);
    clickButton(w, WelcomeWnd::kHelpButton);
    clickButton(w, WelcomeWnd::kMirrorButton);
    EXPECT_EQ(settingsOpened, 1);
    EXPECT_EQ(opened, std::vector<std::string>{dir / "data/index.html"});
    EXPECT_EQ(started, std::vector<std::string>{(dir / "CastSink") + "|" + dir.path()});

    w.show(true);
    EXPECT_TRUE(w.isVisible());
    clickButton(w, WelcomeWnd::kHideButton);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(WelcomeTest, NoNetworkOffersTheHotspotAndSwitchesWhenItHasAnAddress) {
    WelcomeWnd w(deps());
    EXPECT_TRUE(w.qrControl()->isHidden());
    w.grab();  // painting places the link
    const QRect link = w.hotspotLinkArea();
    ASSERT_FALSE(link.isEmpty());
    EXPECT_LT(std::abs(link.center().x() - 220), 3);  // centred

    // The hotspot does not open: a red message, the link stays.
    hotspot.opens = false;
    click(w, link.center());
    EXPECT_EQ(hotspot.openCalls, 1);
    EXPECT_TRUE(w.statusIsError());
    EXPECT_EQ(w.statusText().toStdString(), tr("打开虚拟AP失败"));
    EXPECT_FALSE(w.hotspotTimerActive());

    // It opens: the window waits for its address.
    hotspot.opens = true;
    click(w, link.center());
    EXPECT_EQ(hotspot.openCalls, 2);
    EXPECT_TRUE(w.hotspotTimerActive());
    EXPECT_FALSE(w.pollHotspotAddress());  // no address yet
    hotspot.address = "169.254.3.4";
    EXPECT_FALSE(w.pollHotspotAddress());  // link-local: ignored
    hotspot.address = "0.0.0.0";
    EXPECT_FALSE(w.pollHotspotAddress());
    EXPECT_TRUE(server.starts.empty());
    server.startSucceeds = false;
    hotspot.address = "192.168.137.1";
    EXPECT_FALSE(w.pollHotspotAddress());  // the server did not start: keep waiting
    EXPECT_TRUE(w.hotspotTimerActive());
    EXPECT_TRUE(w.qrControl()->isHidden());

    server.startSucceeds = true;
    EXPECT_TRUE(w.pollHotspotAddress());
    EXPECT_EQ(server.starts.back(), support::string2ip("192.168.137.1"));
    EXPECT_FALSE(w.hotspotTimerActive());
    EXPECT_FALSE(w.qrControl()->isHidden());
    EXPECT_FALSE(w.statusIsError());
    EXPECT_NE(w.statusText().toStdString().find("Virtual_AP_42d"), std::string::npos);
    EXPECT_NE(w.statusText().toStdString().find("73915264"), std::string::npos);
    EXPECT_EQ(readQr(w.grab().toImage()), connectPayload("192.168.137.1"));
    EXPECT_TRUE(w.hotspotLinkArea().isEmpty());
}

TEST_F(WelcomeTest, StartedOnTheHotspotSaysSoAtOnce) {
    server.listenOn("192.168.137.1");
    hotspot.address = "192.168.137.1";
    WelcomeWnd w(deps());
    EXPECT_NE(w.statusText().toStdString().find("Virtual_AP_42d"), std::string::npos);
    hotspot.address = "192.168.137.2";
    WelcomeWnd other(deps());
    EXPECT_TRUE(other.statusText().isEmpty());
}

TEST_F(WelcomeTest, ConnectedPhoneAndTheDisconnectLink) {
    server.listenOn("192.168.1.5");
    WelcomeWnd w(deps());
    w.grab();
    EXPECT_TRUE(w.disconnectLinkArea().isEmpty());

    w.setConnectedPeer(support::string2ip("192.168.1.20"));
    w.grab();
    const QRect link = w.disconnectLinkArea();
    ASSERT_FALSE(link.isEmpty());
    EXPECT_GT(link.left(), 220);                 // right of the centred line
    EXPECT_GE(link.top(), 557 - 54);             // on the connection line
    EXPECT_LE(link.bottom(), 557 - 54 + 24);
    click(w, QPoint(100, 300));
    EXPECT_EQ(server.disconnects, 0);
    click(w, link.center());
    EXPECT_EQ(server.disconnects, 1);

    // The controlling phone has gone: no link any more.
    w.setConnectedPeer(0);
    w.grab();
    EXPECT_TRUE(w.disconnectLinkArea().isEmpty());
    click(w, link.center());
    EXPECT_EQ(server.disconnects, 1);
}

TEST_F(WelcomeTest, DraggedOnlyByTheTitleBand) {
    server.listenOn("192.168.1.5");
    WelcomeWnd w(deps());
    w.show(true);
    w.move(100, 100);
    auto drag = [&w](QPoint from, QPoint by) {
        const QPoint global = w.mapToGlobal(from);
        QMouseEvent press(QEvent::MouseButtonPress, from, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &press);
        QMouseEvent move(QEvent::MouseMove, from + by, global + by, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, from + by, global + by, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(&w, &release);
    };
    drag(QPoint(150, 30), QPoint(50, 40));
    EXPECT_EQ(w.pos(), QPoint(150, 140));
    drag(QPoint(150, 61), QPoint(-20, 0));  // last row of the band
    EXPECT_EQ(w.pos(), QPoint(130, 140));
    drag(QPoint(150, 62), QPoint(50, 40));  // below the band: the window stays
    EXPECT_EQ(w.pos(), QPoint(130, 140));
}

TEST_F(WelcomeTest, HubSlotShowsHidesAndPassesTheAddress) {
    server.listenOn("192.168.1.5");
    WelcomeHubWindow hub(deps());
    EXPECT_FALSE(hub.isVisible());
    hub.showWindow();
    EXPECT_TRUE(hub.isVisible());
    hub.showWindow();  // a second start: still shown, brought forward
    EXPECT_TRUE(hub.isVisible());
    hub.setClientAddress(support::string2ip("192.168.1.30"));
    EXPECT_EQ(hub.window().connectedPeer(), support::string2ip("192.168.1.30"));
    hub.hideWindow();
    EXPECT_FALSE(hub.isVisible());
}

TEST_F(WelcomeTest, StatusLineSaysWhileTheDesktopAsksForConsent) {
    server.listenOn("192.168.1.20");
    WelcomeWnd w(deps());
    const std::string asking = tr("正在等待老师在桌面上允许屏幕共享和远程控制");
    w.setConsentWaiting(true);
    EXPECT_EQ(w.statusText().toStdString(), asking);
    EXPECT_FALSE(w.statusIsError());
    // LUMACRO3_SHOT_DIR=DIR: the window in both languages, to look at.
    if (const char* shots = std::getenv("LUMACRO3_SHOT_DIR")) {
        w.grab().save(QString::fromStdString(std::string(shots) + "/connect-consent-zh.png"));
        ASSERT_TRUE(support::loadLanguage(LUMACRO3_SOURCE_DIR "/data/language/Lumacro3.en-US.xml"));
        w.setConsentWaiting(true);
        w.grab().save(QString::fromStdString(std::string(shots) + "/connect-consent-en.png"));
        ASSERT_TRUE(support::loadLanguage(LUMACRO3_SOURCE_DIR "/data/language/Lumacro3.zh-CN.xml"));
    }
    w.setConsentWaiting(false);
    EXPECT_TRUE(w.statusText().isEmpty());

    // An answer does not take away a message that is not its own.
    hotspot.address = "192.168.137.1";
    server.listenOn("192.168.137.1");
    WelcomeWnd onHotspot(deps());
    const QString hotspotLine = onHotspot.statusText();
    ASSERT_FALSE(hotspotLine.isEmpty());
    onHotspot.setConsentWaiting(false);
    EXPECT_EQ(onHotspot.statusText(), hotspotLine);
}

TEST(WelcomeTranslation, EveryTextOfTheWindowHasAnEnglishText) {
    ASSERT_TRUE(support::loadLanguage(LUMACRO3_SOURCE_DIR "/data/language/Lumacro3.en-US.xml"));
    for (const char* text : {"微软雅黑", "客户端扫描二维码连接", "设备名称: ", "連接號碼：", "已连接", "等待连接", "断开",
                             "电脑没有连接任何网络", "尝试打开虚拟AP", "打开虚拟AP失败", "设置", "帮助", "隐藏",
                             "屏幕镜像", "正在等待老师在桌面上允许屏幕共享和远程控制"}) {
        const std::string english = tr(text);
        EXPECT_NE(english, text);
        EXPECT_FALSE(english.empty()) << text;
    }
    // The hotspot message keeps its one place for the network name.
    const char* hotspotMessage = "开启虚拟AP: \"%s\", 密码: \"73915264\"";
    const std::string english = tr(hotspotMessage);
    EXPECT_NE(english, hotspotMessage);
    EXPECT_NE(english.find("%s"), std::string::npos);
    EXPECT_EQ(english.find("%s"), english.rfind("%s"));
    EXPECT_NE(english.find("73915264"), std::string::npos);
    // Texts that end in a blank keep it (the name follows it).
    EXPECT_EQ(tr("设备名称: ").back(), ' ');
    ASSERT_TRUE(support::loadLanguage(LUMACRO3_SOURCE_DIR "/data/language/Lumacro3.zh-CN.xml"));
    EXPECT_EQ(tr("等待连接"), "等待连接");
}
