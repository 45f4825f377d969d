// The connect window's list of connected phones over the real session
// server: roles, addresses and tags, and the per-phone disconnect link.
#include "access/access_rig.h"

#include "common/run_command.h"
#include "support/language.h"
#include "support/strings.h"
#include "ui/access/approval_controller.h"
#include "ui/connect/phone_list.h"
#include "ui/connect/session_server_link.h"
#include "ui/connect/welcome_wnd.h"
#include "ui/widgets/my_button.h"

#include <QTest>

#include <cstdlib>

namespace access_test {
namespace {

class PhoneListTest : public AccessRig {
protected:
    void SetUp() override {
        qtApp();
        AccessRig::SetUp();
        core::AccessSettings(settings_).setApprovalRequired(true);
        core::AccessSettings(settings_).approve("teacher", "");
        core::AccessSettings(settings_).approve("student", "");
        controller_ = std::make_unique<ui::access::ApprovalController>(*server_, settings_);
        startServer(controller_.get());
        link_ = std::make_unique<ui::welcome::SessionServerLink>(*server_, [](uint32_t) { return false; });
    }
    void TearDown() override {
        window_.reset();
        AccessRig::TearDown();
        controller_.reset();
    }

    void openWindow() {
        ui::welcome::WelcomeDeps deps;
        deps.server = link_.get();
        deps.productName = "Lumacro3";
        deps.serverName = [] { return std::string("CLASSROOM-PC"); };
        deps.phones = server_.get();
        window_ = std::make_unique<ui::welcome::WelcomeWnd>(std::move(deps));
        window_->show(true);
    }

    std::unique_ptr<ui::access::ApprovalController> controller_;
    std::unique_ptr<ui::welcome::SessionServerLink> link_;
    std::unique_ptr<ui::welcome::WelcomeWnd> window_;
};

TEST_F(PhoneListTest, ShowsEachPhoneWithItsRoleAndDisconnectsOne) {
    openWindow();
    ui::welcome::PhoneListView* list = window_->phoneList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(window_->height(), window_->baseHeight());  // no phone, no list

    const size_t before = readyEvents();
    auto teacher = shakeHands("teacher", true, "Teacher's phone");
    auto student = shakeHands("student", false, "Student\x07 tablet");
    ASSERT_TRUE(testing_support::eventually([&] { return readyEvents() == before + 2; }));
    auto stranger = shakeHands("stranger", false, "Unknown");
    ASSERT_TRUE(spinUntil([&] { return controller_->windows().size() == 1; }));

    ASSERT_TRUE(spinUntil([&] { return list->entries().size() == 3; }, 3000));
    EXPECT_GT(window_->height(), window_->baseHeight());
    const QString peer = QStringLiteral("127.0.0.1");  // the phones' end of the connections
    std::map<std::string, QStringList> rows;
    for (size_t i = 0; i < 3; ++i) rows[list->entries()[i].tag] = list->rowTexts(i);
    EXPECT_EQ(rows["Teacher's phone"], (QStringList{"控制", peer, "Teacher's phone"}));
    EXPECT_EQ(rows["Student\x07 tablet"], (QStringList{"观看", peer, "Student tablet"}));
    EXPECT_EQ(rows["Unknown"], (QStringList{"等待批准", peer, "Unknown"}));

    // The student's disconnect link ends only the student's session.
    list->grab();  // painting places the links
    size_t studentRow = 0;
    while (list->entries()[studentRow].tag != "Student\x07 tablet") ++studentRow;
    const QRect link = list->disconnectArea(studentRow);
    ASSERT_FALSE(link.isEmpty());
    QTest::mouseClick(list, Qt::LeftButton, {}, link.center());
    EXPECT_TRUE(closedByServer(*student));
    ASSERT_TRUE(spinUntil([&] { return list->entries().size() == 2; }, 4000));
    EXPECT_TRUE(server_->anyAdmin());
    phone::ReceivedFrame frame;
    EXPECT_NE(teacher->readFrame(frame, 200), phone::ReadResult::Closed);
}

// With LUMACRO3_SHOT_DIR set, puts the approval window and the connect
// window with its list on the screen in Chinese and English and takes a
// picture of the whole screen for a person to look at.
TEST_F(PhoneListTest, Screenshots) {
    const char* dir = std::getenv("LUMACRO3_SHOT_DIR");
    if (!dir) GTEST_SKIP() << "LUMACRO3_SHOT_DIR not set";
    auto teacher = shakeHands("teacher", true, "Teacher's phone");
    auto student = shakeHands("student", false, "Huawei MatePad");
    ASSERT_TRUE(testing_support::eventually([&] { return readyEvents() == 2; }));
    for (const char* language : {"zh-CN", "en-US"}) {
        support::loadLanguage(std::string(LUMACRO3_SOURCE_DIR) + "/data/language/Lumacro3." + language + ".xml");
        auto stranger = shakeHands(std::string("stranger-") + language, true, "Xiaomi 13 Pro");
        ASSERT_TRUE(spinUntil([&] { return controller_->windows().size() == 1; }));
        openWindow();
        window_->setConnectedPeer(testing_support::ipv4("127.0.0.1"));
        ASSERT_TRUE(spinUntil([&] { return window_->phoneList()->entries().size() == 3; }));
        spinUntil([] { return false; }, 1500);
        testing_support::runCommand(std::string("import -window root ") + dir + "/access-" + language + ".png");
        controller_->windows().front()->refuseButton()->click();
        EXPECT_TRUE(closedByServer(*stranger));
        window_.reset();
    }
}

}  // namespace
}  // namespace access_test
