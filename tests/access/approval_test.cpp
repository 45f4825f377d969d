// The teacher's approval of new phones: the real session server holds the
// phone, the real approval window asks, the answer lets it in or ends it.
#include "access/access_rig.h"

#include "app/ini_settings.h"
#include "common/temp_dir.h"
#include "support/language.h"
#include "ui/access/approval_controller.h"
#include "ui/widgets/my_button.h"

#include <QTest>

namespace access_test {
namespace {

class ApprovalTest : public AccessRig {
protected:
    void SetUp() override {
        qtApp();
        AccessRig::SetUp();
        core::AccessSettings(*settings()).setApprovalRequired(true);
        controller_ = std::make_unique<ui::access::ApprovalController>(*server_, *settings());
    }
    void TearDown() override {
        AccessRig::TearDown();
        controller_.reset();
    }

    ui::access::ApprovalWnd* waitForWindow(size_t count = 1) {
        if (!spinUntil([&] { return controller_->windows().size() == count; })) return nullptr;
        return controller_->windows().back();
    }

    void click(ui::widgets::MyButton* button) {
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    }

    std::unique_ptr<ui::access::ApprovalController> controller_;
};

TEST_F(ApprovalTest, AHeldPhoneDoesNothingUntilAllowedOnceThenControls) {
    startServer(controller_.get());
    auto phone = shakeHands("phone-a", true, "Pixel 7");
    ui::access::ApprovalWnd* window = waitForWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(window->phone().tag, "Pixel 7");
    EXPECT_EQ(window->phone().address, testing_support::ipv4("127.0.0.1"));  // the phone's own end
    EXPECT_EQ(window->secondsLeft(), 30);
    EXPECT_TRUE(window->requestText().contains("Pixel 7"));
    // The list shows it as waiting.
    auto phones = server_->phones();
    ASSERT_EQ(phones.size(), 1u);
    EXPECT_TRUE(phones[0].held);

    ASSERT_TRUE(phone->sendMessage(protocol::MsgMouseEvent, move(25, 0)));
    ASSERT_TRUE(spinUntil([&] { return log_->count("waits for the teacher's approval") == 1; }));
    EXPECT_TRUE(injector_.groups().empty());
    EXPECT_EQ(readyEvents(), 0u);
    EXPECT_FALSE(server_->anyAdmin());

    // Keys the teacher types elsewhere do not answer the window.
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) QTest::keyClick(window, key);
    QTest::keyClick(window->allowOnceButton(), Qt::Key_Space);
    spinUntil([] { return false; }, 300);
    EXPECT_TRUE(server_->isHeld(window->phone().id));
    EXPECT_EQ(readyEvents(), 0u);

    click(window->allowOnceButton());
    ASSERT_TRUE(spinUntil([&] { return readyEvents() == 1; }));
    EXPECT_TRUE(server_->anyAdmin());
    EXPECT_TRUE(controller_->windows().empty());
    ASSERT_TRUE(phone->sendMessage(protocol::MsgMouseEvent, move(25, 0)));
    EXPECT_TRUE(testing_support::eventually([&] { return pointerX() == 25; }));
    // Allowed once is not remembered: the next connection is asked about again.
    EXPECT_TRUE(core::AccessSettings(*settings()).approvedPhones().empty());
    phone.reset();
    auto again = shakeHands("phone-a", false);
    EXPECT_NE(waitForWindow(), nullptr);
}

TEST_F(ApprovalTest, RefusingEndsTheSessionAndNoAnswerRefusesToo) {
    controller_->setTimeout(300);
    startServer(controller_.get());
    auto waiting = shakeHands("phone-late", true);
    ui::access::ApprovalWnd* window = waitForWindow();
    ASSERT_NE(window, nullptr);
    // No answer: refused when the time is up.
    ASSERT_TRUE(spinUntil([&] { return controller_->windows().empty(); }));
    EXPECT_TRUE(closedByServer(*waiting));
    EXPECT_NE(log_->text().find("not answered in time"), std::string::npos);

    controller_->setTimeout(ui::access::ApprovalController::kDefaultTimeoutMs);
    auto refused = shakeHands("phone-refused", true);
    window = waitForWindow();
    ASSERT_NE(window, nullptr);
    click(window->refuseButton());
    EXPECT_TRUE(closedByServer(*refused));
    EXPECT_TRUE(spinUntil([&] { return server_->sessionCount() == 0; }));
    EXPECT_EQ(readyEvents(), 0u);
    EXPECT_TRUE(injector_.groups().empty());
}

TEST_F(ApprovalTest, APhoneThatLeavesWhileHeldTakesItsWindowAway) {
    startServer(controller_.get());
    auto phone = shakeHands("phone-gone", false);
    ASSERT_NE(waitForWindow(), nullptr);
    phone.reset();
    EXPECT_TRUE(spinUntil([&] { return controller_->windows().empty(); }));
    EXPECT_EQ(readyEvents(), 0u);
}

// "Always allow" is kept in the settings file: a new program start (new
// store, server and controller on the same folder) lets the phone straight in.
class AlwaysAllowTest : public ApprovalTest {
protected:
    void SetUp() override {
        store_ = std::make_unique<app::IniSettings>(dir_.path());
        ApprovalTest::SetUp();
    }
    core::Settings* settings() override { return store_.get(); }

    // The program quits and starts again on the same settings folder.
    void restart() {
        stopServer();
        controller_.reset();
        live_.reset();
        store_ = std::make_unique<app::IniSettings>(dir_.path());
        build();
        controller_ = std::make_unique<ui::access::ApprovalController>(*server_, *store_);
        startServer(controller_.get());
    }

    testing_support::TempDir dir_;
    std::unique_ptr<app::IniSettings> store_;
};

TEST_F(AlwaysAllowTest, SurvivesARestartAndCanBeRemoved) {
    startServer(controller_.get());
    auto phone = shakeHands("phone-trusted", true, "Teacher");
    ui::access::ApprovalWnd* window = waitForWindow();
    ASSERT_NE(window, nullptr);
    click(window->alwaysAllowButton());
    ASSERT_TRUE(spinUntil([&] { return readyEvents() == 1; }));
    phone.reset();

    restart();
    auto approved = core::AccessSettings(*store_).approvedPhones();
    ASSERT_EQ(approved.size(), 1u);
    EXPECT_EQ(approved[0].identity, "phone-trusted");
    EXPECT_EQ(approved[0].tag, "Teacher");
    auto back = shakeHands("phone-trusted", true);
    ASSERT_TRUE(spinUntil([&] { return readyEvents() == 2; }));
    EXPECT_TRUE(controller_->windows().empty());
    ASSERT_TRUE(back->sendMessage(protocol::MsgMouseEvent, move(15, 0)));
    EXPECT_TRUE(testing_support::eventually([&] { return pointerX() == 15; }));

    // Removed on the settings page: asked about again.
    EXPECT_TRUE(core::AccessSettings(*store_).removeApproved("phone-trusted"));
    back.reset();
    auto asked = shakeHands("phone-trusted", true);
    EXPECT_NE(waitForWindow(), nullptr);
}

TEST(ApprovalWindowTexts, ComeFromTheTranslationFileAndShowAPhoneNameSafely) {
    qtApp();
    ASSERT_TRUE(support::loadLanguage(std::string(LUMACRO3_SOURCE_DIR) + "/data/language/Lumacro3.en-US.xml"));
    core::PhoneEntry phone;
    phone.admin = false;
    phone.tag = std::string("Bad\x1b[2Jname") + std::string(80, 'x');
    ui::access::ApprovalWnd window(phone, 30000, 1.0f, nullptr, nullptr);
    EXPECT_EQ(window.titleText(), "A phone asks to connect");
    EXPECT_EQ(window.allowOnceButton()->stateStyle(ui::widgets::MyButton::Normal).text, "Allow once");
    EXPECT_EQ(window.alwaysAllowButton()->stateStyle(ui::widgets::MyButton::Normal).text, "Always allow");
    EXPECT_EQ(window.refuseButton()->stateStyle(ui::widgets::MyButton::Normal).text, "Refuse");
    EXPECT_EQ(window.countdownText(), "Refused automatically in 30 s");
    const QString request = window.requestText();
    EXPECT_TRUE(request.endsWith(" asks to watch this PC")) << request.toStdString();
    EXPECT_FALSE(request.contains(QChar(0x1b)));
    EXPECT_LT(request.size(), 70);
    // Without an identity the phone cannot be remembered.
    EXPECT_FALSE(window.alwaysAllowButton()->isEnabled());
    support::loadLanguage(std::string(LUMACRO3_SOURCE_DIR) + "/data/language/Lumacro3.zh-CN.xml");
    EXPECT_EQ(window.titleText(), "手机请求连接");
}

TEST(AccessSettings, DefaultsAndADamagedListReadSafely) {
    core::MemorySettings store;
    core::AccessSettings access(store);
    EXPECT_TRUE(access.watchOnly());
    EXPECT_FALSE(access.approvalRequired());
    EXPECT_FALSE(access.isApproved(""));
    EXPECT_FALSE(access.approve("", "x"));

    store.setString("SET", core::AccessSettings::kApprovedPhones, "not json [");
    EXPECT_TRUE(access.approvedPhones().empty());
    store.setString("SET", core::AccessSettings::kApprovedPhones,
                    R"([{"id":"a","tag":"A"},{"id":7},"b",{"id":"a","tag":"again"},{"id":""},{"id":"c"}])");
    auto phones = access.approvedPhones();
    ASSERT_EQ(phones.size(), 2u);
    EXPECT_EQ(phones[0].identity, "a");
    EXPECT_EQ(phones[1].identity, "c");
    // Approving again renews the entry instead of adding a second one.
    EXPECT_TRUE(access.approve("a", "new tag"));
    phones = access.approvedPhones();
    ASSERT_EQ(phones.size(), 2u);
    EXPECT_EQ(phones[1].tag, "new tag");
    EXPECT_FALSE(access.removeApproved("zzz"));
    EXPECT_TRUE(access.removeApproved("a"));
    EXPECT_FALSE(access.isApproved("a"));
    EXPECT_TRUE(access.isApproved("c"));
}

}  // namespace
}  // namespace access_test
