// The settings window built off screen with stand-ins: its pages, what each
// control stores, the restarts and the questions.
#include "common/temp_dir.h"
#include "core/phone_access.h"
#include "settings/settings_fakes.h"
#include "widgets/widgets_app.h"

#include "support/language.h"
#include "ui/connect/hotspot.h"
#include "ui/settings/set_pages.h"
#include "ui/settings/set_wnd.h"
#include "ui/settings/settings_hub_window.h"
#include "ui/widgets/qr_static.h"

#include <QPointer>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace ui::settings;
using settings_test::FakeCursors;
using settings_test::FakeServer;
using settings_test::ip;
using testing_support::TempDir;

namespace {

class SetWndTest : public ::testing::Test {
protected:
    void SetUp() override {
        widgets_test::qtApp();
        server.bound = ip("192.168.1.5");
        server.adapters = {ip("192.168.1.5"), ip("10.0.0.7")};
    }

    SettingsDeps deps() {
        SettingsDeps d;
        d.settings = &store;
        d.server = &server;
        d.cursors = &cursors;
        d.product.product = "Lumacro3";
        d.product.displayName = "Lumacro3";
        d.programDir = dir.path();
        d.currentDir = dir.path();
        d.restartProgram = [this] { ++restarts; };
        d.serverName = [this] { return name; };
        d.setServerName = [this](const std::string& n) {
            name = n;
            store.setString("SET", "srvName", n);
        };
        d.computerName = [] { return std::string("classroom-pc"); };
        d.setAutoRun = [this](bool on) {
            autoRunCalls.push_back(on);
            store.setInt("SET", "AUTO_RUN", on ? 1 : 0);
            return true;
        };
        d.documentsDir = [this] { return dir / "Documents"; };
        d.docDir = [this] { return store.getString("SET", "DOC_DIR", dir / "Documents/Faroline"); };
        d.openFile = [this](const std::string& f) { opened.push_back(f); };
        d.askYesNo = [this](const std::string& title, const std::string& text) {
            questions.push_back(title + "|" + text);
            return answer;
        };
        d.tell = [this](const std::string& title, const std::string& text) { told.push_back(title + "|" + text); };
        return d;
    }

    std::vector<std::string> itemTexts(SetWnd& w) {
        std::vector<std::string> texts;
        QTreeWidgetItem* root = w.tree()->topLevelItem(0);
        for (int i = 0; i < root->childCount(); ++i) {
            texts.push_back(root->child(i)->text(0).toStdString());
            EXPECT_EQ(root->child(i)->data(0, Qt::UserRole).toInt(), i + 1);
        }
        return texts;
    }

    TempDir dir;
    core::MemorySettings store;
    FakeServer server;
    FakeCursors cursors;
    std::string name = "Room-12";
    int restarts = 0;
    bool answer = false;
    std::vector<bool> autoRunCalls;
    std::vector<std::string> opened, questions, told;
};

}  // namespace

TEST_F(SetWndTest, PagesInTreeOrderWithTheDownloadPageOnlyWhenCodesAreShown) {
    {
        SetWnd w(deps());  // hideQR absent: 1
        EXPECT_EQ(itemTexts(w), (std::vector<std::string>{"基本设置", "功能设置", "辅助功能", "微课录制", "虚拟AP",
                                                          "文件分享", "关于"}));
        EXPECT_EQ(w.page<SetDownWnd>(), nullptr);
        EXPECT_EQ(w.pages().size(), 7u);
        // The root selected: the first page shows, alone.
        EXPECT_EQ(w.visiblePage(), w.pages()[0]);
        w.showPage(6);  // the item after the missing one moved up
        EXPECT_NE(dynamic_cast<SetShareWnd*>(w.visiblePage()), nullptr);
        w.showPage(99);
        EXPECT_NE(dynamic_cast<SetAboutWnd*>(w.visiblePage()), nullptr);
    }
    SettingsDeps d = deps();
    d.product.hideQR = 0;
    d.product.iosUrl = "https://apps.example/lumacro";
    SetWnd w(d);
    EXPECT_EQ(itemTexts(w)[5], "软件下载");
    EXPECT_EQ(w.pages().size(), 8u);
    SetDownWnd* down = w.page<SetDownWnd>();
    ASSERT_NE(down, nullptr);
    EXPECT_TRUE(down->androidCode->isHidden());  // no address and no installer
    EXPECT_FALSE(down->iosCode->isHidden());
    EXPECT_EQ(widgets_test::readQr(widgets_test::withQuietZone(down->iosCode->grab().toImage(), 16)),
              "https://apps.example/lumacro");
}

TEST_F(SetWndTest, BindListAsksForTheRestartOnlyForAnotherAddress) {
    SetWnd w(deps());
    SetMainWnd* basic = w.page<SetMainWnd>();
    ASSERT_EQ(basic->bindList->count(), 2);
    EXPECT_EQ(basic->bindList->currentText().toStdString(), "192.168.1.5");
    EXPECT_EQ(basic->code->text(), "{\"action\":\"connect\",\"data\":\"tcp://192.168.1.5:49873\"}\n");

    basic->chooseBindEntry(0);  // the bound address: nothing
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(store.getString("NET", "bindIp", ""), "");

    answer = false;
    basic->chooseBindEntry(1);  // stored whatever the answer
    EXPECT_EQ(store.getString("NET", "bindIp", ""), "10.0.0.7");
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], "Lumacro3|需要重启软件才能生效");
    EXPECT_EQ(restarts, 0);
    answer = true;
    basic->chooseBindEntry(1);
    EXPECT_EQ(restarts, 1);
}

TEST_F(SetWndTest, StatusLineAndNameBox) {
    SetWnd w(deps());
    SetMainWnd* basic = w.page<SetMainWnd>();
    EXPECT_EQ(basic->statusLine->text().toStdString(), "等待连接");
    EXPECT_FALSE(basic->disconnectButton->isEnabled());
    EXPECT_EQ(basic->statusTimer.interval(), 1500);
    EXPECT_TRUE(basic->statusTimer.isActive());
    server.phones = {ip("192.168.1.20")};
    basic->refreshStatus();
    EXPECT_EQ(basic->statusLine->text().toStdString(), "192.168.1.20 已连接");
    EXPECT_TRUE(basic->disconnectButton->isEnabled());
    basic->disconnectButton->click();
    EXPECT_EQ(server.disconnects, 1);
    EXPECT_EQ(basic->statusLine->text().toStdString(), "等待连接");

    EXPECT_EQ(basic->nameBox->text().toStdString(), "Room-12");
    basic->nameBox->setText("");
    basic->nameEdited("");  // typing it empty announces the computer name
    EXPECT_EQ(name, "classroom-pc");
    basic->nameLeft();      // and leaving it empty puts that name back in
    EXPECT_EQ(basic->nameBox->text().toStdString(), "classroom-pc");
    EXPECT_EQ(store.getString("SET", "srvName", ""), "classroom-pc");

    EXPECT_EQ(basic->classroomServerBox->text().toStdString(), "192.168.1.105");
}

TEST_F(SetWndTest, FunctionsPageShowsAndStoresTheListValues) {
    store.setInt("SET", "FRAME_RATE", 40);
    store.setInt("SET", "BRUSH_SIZE", 200);
    {
        SetWnd w(deps());
        SetFuncWnd* f = w.page<SetFuncWnd>();
        EXPECT_EQ(f->frameRateList->currentText().toStdString(), "MAX");
        EXPECT_EQ(f->brushBox->currentText().toStdString(), "64");
    }
    store.setInt("SET", "FRAME_RATE", 12);
    SetWnd w(deps());
    SetFuncWnd* f = w.page<SetFuncWnd>();
    EXPECT_EQ(f->frameRateList->currentText().toStdString(), "10");
    emit f->frameRateList->activated(2);
    EXPECT_EQ(store.getInt("SET", "FRAME_RATE", 0), 15);
    emit f->frameRateList->activated(4);
    EXPECT_EQ(store.getInt("SET", "FRAME_RATE", 0), 40);

    emit f->brushBox->lineEdit()->textEdited("0");
    EXPECT_EQ(store.getInt("SET", "BRUSH_SIZE", 0), 1);
    emit f->brushBox->lineEdit()->textEdited("100");
    EXPECT_EQ(store.getInt("SET", "BRUSH_SIZE", 0), 64);
    emit f->brushBox->activated(3);  // "12"
    EXPECT_EQ(store.getInt("SET", "BRUSH_SIZE", 0), 12);
    emit f->qualityList->activated(2);
    EXPECT_EQ(store.getInt("SET", "QUALITY", 0), 2);

    // An emptied folder box keeps the last folder.
    f->folderBox->setText(QString::fromStdString(dir / "Lessons"));
    EXPECT_EQ(store.getString("SET", "DOC_DIR", ""), dir / "Lessons");
    f->folderBox->setText("");
    EXPECT_EQ(store.getString("SET", "DOC_DIR", ""), dir / "Lessons");
}

TEST_F(SetWndTest, RestoreDefaultsRemovesAutostartAndResetsTheBoxes) {
    store.setInt("SET", "AUTO_RUN", 1);
    store.setInt("SET", "AUTO_HIDE", 1);
    store.setInt("SET", "BRUSH_SIZE", 30);
    store.setInt("SET", "FRAME_RATE", 40);
    SetWnd w(deps());
    SetFuncWnd* f = w.page<SetFuncWnd>();
    EXPECT_TRUE(f->autoRunBox->isChecked());
    EXPECT_TRUE(f->autoHideBox->isChecked());
    f->defaultsButton->click();
    EXPECT_EQ(autoRunCalls, std::vector<bool>{false});
    EXPECT_FALSE(f->autoRunBox->isChecked());
    EXPECT_FALSE(f->autoHideBox->isChecked());
    EXPECT_EQ(store.getInt("SET", "AUTO_RUN", -1), 0);
    EXPECT_EQ(store.getInt("SET", "AUTO_HIDE", -1), 0);
    EXPECT_EQ(store.getString("SET", "DOC_DIR", ""), dir / "Documents/Faroline");
    EXPECT_EQ(f->brushBox->currentText().toStdString(), "8");
    EXPECT_EQ(f->frameRateList->currentIndex(), 0);
    // The pen width and the frame rate are stored only when next changed.
    EXPECT_EQ(store.getInt("SET", "BRUSH_SIZE", 0), 30);
    EXPECT_EQ(store.getInt("SET", "FRAME_RATE", 0), 40);
}

TEST_F(SetWndTest, AssistantPageAppliesCursorsAtOnceAndRestartsForLanguage) {
    store.setInt("SET", "CURSOR", 3);
    store.setString("SET", "language", "en-US");
    SetWnd w(deps());
    SetFunc2Wnd* a = w.page<SetFunc2Wnd>();
    EXPECT_EQ(a->cursorList->currentText().toStdString(), "舞动蝴蝶");
    EXPECT_EQ(a->languageList->currentText().toStdString(), "English");
    emit a->cursorList->activated(9);  // "普通光标"
    EXPECT_EQ(store.getInt("SET", "CURSOR", 0), 9);
    EXPECT_EQ(cursors.applied, std::vector<int>{9});
    EXPECT_EQ(restarts, 0);
    emit a->languageList->activated(0);
    EXPECT_EQ(store.getString("SET", "language", ""), "zh-CN");
    EXPECT_EQ(restarts, 1);
    EXPECT_TRUE(questions.empty());  // no question for the language
}

TEST_F(SetWndTest, AssistantPageStoresPhoneAccessAndRemovesAnAlwaysAllowedPhone) {
    core::AccessSettings access(store);
    ASSERT_TRUE(access.approve("id-one", "Teacher phone"));
    ASSERT_TRUE(access.approve("id-two", ""));
    SetWnd w(deps());
    SetFunc2Wnd* a = w.page<SetFunc2Wnd>();
    // Defaults: watching phones only watch, no approval asked.
    EXPECT_TRUE(a->watchOnlyBox->isChecked());
    EXPECT_FALSE(a->approvalBox->isChecked());
    a->watchOnlyBox->click();
    a->approvalBox->click();
    EXPECT_FALSE(access.watchOnly());
    EXPECT_TRUE(access.approvalRequired());

    ASSERT_EQ(a->approvedList->count(), 2);
    EXPECT_EQ(a->approvedList->item(0)->text().toStdString(), "Teacher phone  (id-one)");
    EXPECT_EQ(a->approvedList->item(1)->text().toStdString(), "id-two");
    EXPECT_FALSE(a->removeApprovedButton->isEnabled());  // nothing chosen yet
    a->approvedList->setCurrentRow(0);
    ASSERT_TRUE(a->removeApprovedButton->isEnabled());
    a->removeApprovedButton->click();
    EXPECT_FALSE(access.isApproved("id-one"));
    EXPECT_TRUE(access.isApproved("id-two"));
    ASSERT_EQ(a->approvedList->count(), 1);
}

TEST_F(SetWndTest, RecordingPageListsAndLastRecording) {
    store.setInt("SET", "RECORD_FRAME_RATE", 17);
    store.setInt("SET", "RECORD_QUALITY", 9);
    SetWnd w(deps());
    SetRecordWnd* r = w.page<SetRecordWnd>();
    EXPECT_EQ(r->frameRateList->currentText().toStdString(), "15");
    EXPECT_EQ(r->qualityList->currentIndex(), 3);
    EXPECT_EQ(r->folderBox->text().toStdString(), dir / "Documents/Faroline/Record");
    r->playLastButton->click();  // no recording yet: nothing opens
    EXPECT_TRUE(opened.empty());
    store.setString("SET", "lastfile", "/rec/a.MP4");
    r->playLastButton->click();
    EXPECT_EQ(opened, std::vector<std::string>{"/rec/a.MP4"});
    emit r->frameRateList->activated(5);
    EXPECT_EQ(store.getInt("SET", "RECORD_FRAME_RATE", 0), 30);
}

TEST_F(SetWndTest, HotspotPageReportsFailureAndShowsTheNetwork) {
    {
        SetWnd w(deps());  // no hotspot on this system
        w.page<SetVAPWnd>()->openHotspot();
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0], "Lumacro3|打开虚拟AP失败");
        EXPECT_TRUE(w.page<SetVAPWnd>()->networkLabel->isHidden());
    }
    class Up : public ui::welcome::Hotspot {
    public:
        bool openHotspot() override { return true; }
        void closeHotspot() override { ++closes; }
        std::string hotspotSsid() override { return "Virtual_AP_7d"; }
        std::string hostedNetworkAddress() override { return {}; }
        int closes = 0;
    } hotspot;
    int waits = 0;
    SettingsDeps d = deps();
    d.hotspot = &hotspot;
    d.waitForHotspotAddress = [&] { ++waits; };
    SetWnd w(d);
    SetVAPWnd* vap = w.page<SetVAPWnd>();
    vap->openHotspot();
    EXPECT_FALSE(vap->networkLabel->isHidden());
    EXPECT_EQ(vap->networkLabel->text().toStdString(), "网络名称：Virtual_AP_7d，密码： 73915264");
    EXPECT_EQ(waits, 1);
    server.adapters = {ip("192.168.1.5")};  // the hotspot's address went away
    vap->closeHotspot();
    EXPECT_EQ(hotspot.closes, 1);
    EXPECT_TRUE(vap->networkLabel->isHidden());
    EXPECT_EQ(w.page<SetMainWnd>()->bindList->count(), 1);
}

TEST_F(SetWndTest, HubWindowOpensOneWindowAndClosesIt) {
    SettingsHubWindow hub(deps());
    EXPECT_FALSE(hub.isVisible());
    hub.open();
    SetWnd* first = hub.window();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(hub.isVisible());
    hub.open();  // a second command raises the same window
    EXPECT_EQ(hub.window(), first);
    hub.hideWindow();  // as when a phone becomes ready
    EXPECT_FALSE(hub.isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(hub.window(), nullptr);
}

TEST_F(SetWndTest, ClosingWhileAQuestionIsOpenWaitsForIt) {
    SettingsDeps d = deps();
    d.askYesNo = nullptr;  // the real message box
    SettingsHubWindow hub(d);
    hub.open();
    QPointer<SetWnd> window = hub.window();
    // A phone becomes ready while the restart question is on screen.
    QTimer::singleShot(50, [&] { hub.hideWindow(); });
    window->page<SetMainWnd>()->chooseBindEntry(1);
    EXPECT_EQ(restarts, 0);  // the dismissed question counts as No
    EXPECT_EQ(store.getString("NET", "bindIp", ""), "10.0.0.7");
    ASSERT_FALSE(window.isNull());  // still there for the code that asked
    EXPECT_FALSE(window->isVisible());
    for (int i = 0; i < 20 && !window.isNull(); ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_TRUE(window.isNull());
}

// With LUMACRO3_SHOT_DIR set, draws every page of the settings window in
// Chinese and English and saves the pictures for a person to look at.
TEST_F(SetWndTest, Screenshots) {
    const char* dir = std::getenv("LUMACRO3_SHOT_DIR");
    if (!dir) GTEST_SKIP() << "LUMACRO3_SHOT_DIR not set";
    core::AccessSettings(store).approve("a1b2c3", "Teacher phone");
    for (const char* language : {"zh-CN", "en-US"}) {
        support::loadLanguage(std::string(LUMACRO3_BIN_DIR) + "/language/Lumacro3." + language + ".xml");
        SetWnd w(deps());
        w.show();
        for (size_t n = 1; n <= w.pages().size(); ++n) {
            w.showPage(int(n));
            QCoreApplication::processEvents();
            w.grab().save(QString::fromStdString(std::string(dir) + "/settings-" + language + "-" +
                                                 std::to_string(n) + ".png"));
        }
    }
    support::loadLanguage("");
}

TEST_F(SetWndTest, AboutPageShowsTheDesktopSessionWhenKnown) {
    const auto sessionLabels = [](SetWnd& w) {
        auto* about = w.page<SetAboutWnd>();
        int found = 0;
        for (QLabel* l : about->findChildren<QLabel*>()) found += l->text() == "GNOME Wayland";
        return found;
    };
    // LUMACRO3_ABOUT_SHOT=FILE saves the page to look at (LUMACRO3_ABOUT_EN=1: in English).
    if (std::getenv("LUMACRO3_ABOUT_EN")) support::loadLanguage(LUMACRO3_SOURCE_DIR "/data/language/Lumacro3.en-US.xml");
    SettingsDeps d = deps();
    d.desktopSession = "GNOME Wayland";
    {
        SetWnd w(d);
        EXPECT_EQ(sessionLabels(w), 1);
        if (const char* shot = std::getenv("LUMACRO3_ABOUT_SHOT")) {
            w.show();
            w.showPage(99);
            QApplication::processEvents();
            w.grab().save(shot);
        }
    }
    d.desktopSession.clear();
    SetWnd w(d);
    EXPECT_EQ(sessionLabels(w), 0);
}
