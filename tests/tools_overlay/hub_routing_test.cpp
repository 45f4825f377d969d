#include "tools_overlay/overlay_env.h"

#include "app/program/qt_main_hub.h"
#include "core/window_messages.h"
#include "protocol/message_names.h"
#include "tools/black_screen.h"
#include "tools/brush_wnd.h"
#include "tools/classroom_tools.h"
#include "tools/magnifier_wnd.h"
#include "tools/spotlight_wnd.h"
#include "ui/main/command_context.h"

#include <gtest/gtest.h>

using namespace overlay_test;

namespace {

// The overlays as the program puts them into the main hub: one tool at a
// time, and none left once the controlling phone is gone.
TEST(OverlayHub, ToolsReplaceEachOtherAndGoWhenThePhoneLeaves) {
    Env env(false);
    if (!env.ok()) GTEST_SKIP() << "no Xvfb";
    Phones phones;
    tools::ClassroomTools tools(phones.link());
    ui::CommandContext context;
    tools.fill(context);
    ASSERT_EQ(context.features.magnifier, static_cast<core::Magnifier*>(tools.magnifier()));
    app::HubDependencies deps;
    deps.showTray = false;
    tools.fill(deps.windows);
    app::QtMainHub hub(std::move(deps));
    auto settled = [](tools::OverlayWindow* w) {
        return [w] { return !w->showPending(); };
    };

    hub.send(core::UM_BRUSH, 1, 0);
    EXPECT_TRUE(tools.annotation()->isVisible());
    hub.send(core::UM_SPOT, 1, 0);
    EXPECT_FALSE(tools.annotation()->QWidget::isVisible());
    Env::waitUntil(settled(tools.spotlight()));
    EXPECT_TRUE(tools.spotlight()->QWidget::isVisible());
    hub.send(core::UM_GLASS, 1, 0);
    EXPECT_FALSE(tools.spotlight()->isVisible());
    Env::waitUntil(settled(tools.magnifier()));
    EXPECT_TRUE(tools.magnifier()->QWidget::isVisible());
    context.blackScreen(1, 0);

    // The controlling phone goes: everything it opened closes.
    hub.send(core::UM_CLIENT_STATE, 0, 0);
    EXPECT_FALSE(tools.magnifier()->isVisible());
    EXPECT_FALSE(tools.blackScreen()->isVisible());
    EXPECT_EQ(phones.states(protocol::MsgBrushState), (std::vector<int>{1, 0}));
    EXPECT_EQ(phones.states(protocol::MsgSpotState), (std::vector<int>{1, 0}));
    EXPECT_EQ(phones.states(protocol::MsgGlassState), (std::vector<int>{1, 0}));
    EXPECT_EQ(phones.states(protocol::MsgScreenState), (std::vector<int>{1, 0}));
    // The phone acts as soon as it hears a tool is shown: its input is routed
    // to the tool before that, and no longer once it hears the tool is gone.
    EXPECT_EQ(phones.flagAtSend(protocol::MsgBrushState, &Phones::Flags::forwarding), (std::vector<int>{1, 0}));
    EXPECT_EQ(phones.flagAtSend(protocol::MsgSpotState, &Phones::Flags::spotlight), (std::vector<int>{1, 0}));
    EXPECT_EQ(phones.flagAtSend(protocol::MsgGlassState, &Phones::Flags::magnifier), (std::vector<int>{1, 0}));

    // Asked for the spotlight and the magnifier at once: the spotlight, not
    // yet on the screen, is dropped without a word.
    hub.send(core::UM_SPOT, 1, 0);
    hub.send(core::UM_GLASS, 1, 0);
    Env::waitUntil(settled(tools.magnifier()));
    Env::settle(150);
    EXPECT_FALSE(tools.spotlight()->isVisible());
    EXPECT_TRUE(tools.magnifier()->isVisible());
    EXPECT_EQ(phones.states(protocol::MsgSpotState), (std::vector<int>{1, 0}));
    hub.send(core::UM_GLASS, 0, 0);
    tools.clear(context);
}

}  // namespace
