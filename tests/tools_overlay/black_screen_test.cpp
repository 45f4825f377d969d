#include "tools_overlay/overlay_env.h"

#include "protocol/message_names.h"
#include "tools/black_screen.h"
#include "tools/classroom_tools.h"
#include "ui/main/command_context.h"

#include <QPointer>

#include <gtest/gtest.h>

using namespace overlay_test;

namespace {

class BlackOut : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        env = std::make_unique<Env>(GetParam());
        if (!env->ok()) GTEST_SKIP() << "no Xvfb";
    }
    Phones phones;
    std::unique_ptr<Env> env;
};

TEST_P(BlackOut, TwoShowsMakeOneWindowAndTwoStatesAndRemoveDestroysIt) {
    tools::ClassroomTools tools(phones.link());
    ui::CommandContext context;
    tools.fill(context);
    ASSERT_TRUE(context.blackScreen);
    ui::HubWindows windows;
    tools.fill(windows);
    ASSERT_EQ(windows.blackScreen, tools.blackScreen());

    // Nothing to remove: nothing is said.
    context.blackScreen(0, 0);
    EXPECT_TRUE(phones.sent.empty());

    context.blackScreen(1, 0);
    QPointer<QWidget> first = tools.blackScreen()->window();
    context.blackScreen(1, 0);
    EXPECT_EQ(tools.blackScreen()->window(), first.data());
    EXPECT_EQ(phones.states(protocol::MsgScreenState), (std::vector<int>{1, 1}));
    const QImage black = Env::grabWhen([](const QImage& s) { return s.pixel(960, 540) == 0xFF000000u; });
    for (QPoint p : {QPoint(0, 0), QPoint(960, 540), QPoint(1919, 1079), QPoint(100, 50)})
        EXPECT_EQ(black.pixel(p), 0xFF000000u) << p.x() << "," << p.y() << " " << hex(black.pixel(p));

    // The hub removes it when the phones are gone (UM_CLIENT_STATE 0).
    ASSERT_TRUE(windows.blackScreen->isVisible());
    windows.blackScreen->hideWindow();
    EXPECT_FALSE(windows.blackScreen->isVisible());
    EXPECT_TRUE(first.isNull());  // destroyed, not just hidden
    EXPECT_EQ(phones.states(protocol::MsgScreenState), (std::vector<int>{1, 1, 0}));
    const QImage back = Env::grabWhen([](const QImage& s) { return near(s.pixel(960, 540), kBackground, 4); });
    EXPECT_TRUE(near(back.pixel(960, 540), kBackground, 4)) << hex(back.pixel(960, 540));
    context.blackScreen(0, 0);
    EXPECT_EQ(phones.sent.size(), 3u);
    tools.clear(context);
    EXPECT_FALSE(context.blackScreen);
}

INSTANTIATE_TEST_SUITE_P(Compositing, BlackOut, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "xcompmgr" : "plainX"; });

}  // namespace
