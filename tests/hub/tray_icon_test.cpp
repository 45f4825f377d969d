// The tray menu: its entries in the loaded language and what each one does.
#include "app/program/tray_icon.h"
#include "hub_fixture.h"
#include "support/language.h"

#include <gtest/gtest.h>

namespace hubtest {
namespace {

TEST(TrayIcon, MenuTextsFollowTheLanguageAndEntriesRunTheirActions) {
    qtApp();
    int about = 0, settings = 0, disconnect = 0, exits = 0;
    app::TrayActions actions;
    actions.about = [&] { ++about; };
    actions.settings = [&] { ++settings; };
    actions.disconnect = [&] { ++disconnect; };
    actions.exit = [&] { ++exits; };

    ASSERT_TRUE(support::loadLanguage(std::string(LUMACRO3_SOURCE_DIR) +
                                      "/data/language/Lumacro3.en-US.xml"));
    {
        app::TrayIcon tray("Lumacro3", actions);
        EXPECT_EQ(tray.menuTexts(),
                  (std::vector<std::string>{"&About", "Settings", "Disconnect", "", "E&xit"}));
        for (int i = 0; i < 5; ++i) tray.trigger(i);
        EXPECT_EQ(about + settings + disconnect + exits, 4);
        EXPECT_EQ(disconnect, 1);
        EXPECT_EQ(exits, 1);
    }
    ASSERT_TRUE(support::loadLanguage(std::string(LUMACRO3_SOURCE_DIR) +
                                      "/data/language/Lumacro3.zh-CN.xml"));
    app::TrayIcon tray("Lumacro3", actions);
    EXPECT_EQ(tray.menuTexts(),
              (std::vector<std::string>{"关于(&A)", "设置", "断开连接", "", "退出(&X)"}));
}

}  // namespace
}  // namespace hubtest
