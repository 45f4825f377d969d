#include "app/program/command_line.h"

#include <gtest/gtest.h>

namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, ProtocolArgumentIsSplitIntoCommandAndParts) {
    EXPECT_EQ(app::interpretCommandLine({"/opt/l/lumacro3", "Faroline://Start,a,b"}),
              (Args{"/opt/l/lumacro3", "start", "a", "b"}));
    // Any case of the prefix; blanks when there is no comma.
    EXPECT_EQ(app::interpretCommandLine({"p", "faroLINE://Open host token"}),
              (Args{"p", "open", "host", "token"}));
    EXPECT_EQ(app::interpretCommandLine({"p", "Faroline://"}), (Args{"p", ""}));
    // Empty parts are kept in their places.
    EXPECT_EQ(app::interpretCommandLine({"p", "Faroline://x,,y"}), (Args{"p", "x", "", "y"}));
}

TEST(CommandLine, OtherArgumentsStayAsTheyAre) {
    EXPECT_EQ(app::interpretCommandLine({"p"}), (Args{"p"}));
    EXPECT_EQ(app::interpretCommandLine({"p", "quit"}), (Args{"p", "quit"}));
    EXPECT_EQ(app::interpretCommandLine({"p", "Farolin://a,b"}), (Args{"p", "Farolin://a,b"}));
    // Two or more arguments are never split, even with the prefix.
    EXPECT_EQ(app::interpretCommandLine({"p", "Faroline://Start,a", "x"}),
              (Args{"p", "Faroline://Start,a", "x"}));
}

TEST(CommandLine, QuitIsRecognisedInTheFirstArgumentOnly) {
    EXPECT_TRUE(app::asksToQuit({"p", "quit"}));
    EXPECT_TRUE(app::asksToQuit({"p", "--quit-now"}));
    EXPECT_FALSE(app::asksToQuit({"p"}));
    EXPECT_FALSE(app::asksToQuit({"p", "start", "quit"}));
}

}  // namespace
