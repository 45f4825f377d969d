#include "ui/settings/settings_rules.h"

#include <gtest/gtest.h>

using namespace ui::settings;

TEST(CompareVersions, ComparesOnlyWhereBothTextsHaveParts) {
    struct Case {
        const char* local;
        const char* remote;
        int sign;  // of the result
    } cases[] = {
        {"3.2.2.0", "3.2.10.0", 1},    // 10 > 2, not a text comparison
        {"3.2.2.0", "3.2.2.0", 0},
        {"3.2.2.0", "3.3", -1},        // the remote runs out of dots first
        {"3.2.2.0", "4", -1},          // ... even with a greater first part
        {"3.2.2.0", "3.2.2.0.1", 1},   // the local runs out of dots first
        {"3.2.2.0", "3.2.1.9", -1},
        {"3.2.2.0", "3.2.2.1", 1},
        {"3.2.2.0", "3.1.99.0", -1},
        {"1", "2", 1},
        {"", "", 0},
        {"3.2.2.0", "x.y.z.w", -1},    // unreadable parts read as 0
    };
    for (const Case& c : cases) {
        const int r = compareVersions(c.local, c.remote);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.local << " vs " << c.remote;
    }
    // The difference itself is returned where parts differ.
    EXPECT_EQ(compareVersions("3.2.2.0", "3.2.10.0"), 8);
    EXPECT_EQ(compareVersions("3.2.2.0", "3.3"), -1);
    // Absurd numbers saturate instead of overflowing.
    EXPECT_GT(compareVersions("3.2.2.0", "99999999999999999999.0.0.0"), 0);
    EXPECT_LT(compareVersions("99999999999999999999.0.0.0", "-99999999999999999999.0.0.0"), 0);
}

TEST(InstallerUrl, AddsOneSlashAndNamesTheDebianPackage) {
    EXPECT_EQ(installerUrl("http://u.example/setup/", "abc", "3.2.10.0"),
              "http://u.example/setup/abc_v3.2.10.0.deb");
    EXPECT_EQ(installerUrl("http://u.example/setup", "abc", "3.2.3.0"), "http://u.example/setup/abc_v3.2.3.0.deb");
}

TEST(FrameRateList, EntriesAndStoredValues) {
    EXPECT_EQ(frameRateEntry(40), 4);  // "MAX"
    EXPECT_EQ(frameRateEntry(12), 1);  // "10"
    EXPECT_EQ(frameRateEntry(0), 0);
    EXPECT_EQ(frameRateEntry(-5), 0);
    EXPECT_EQ(frameRateEntry(19), 2);
    EXPECT_EQ(frameRateEntry(20), 3);
    EXPECT_EQ(frameRateEntry(24), 3);
    EXPECT_EQ(frameRateEntry(25), 4);
    EXPECT_EQ(frameRateFromEntry(2), 15);
    EXPECT_EQ(frameRateFromEntry(3), 20);
    EXPECT_EQ(frameRateFromEntry(4), 40);
    // What is stored shows as the entry that stored it.
    for (int i = 0; i < kFrameRateEntries; ++i) EXPECT_EQ(frameRateEntry(frameRateFromEntry(i)), i);
}

TEST(RecordFrameRateList, MultipleOfFiveAtOrBelow) {
    EXPECT_EQ(recordFrameRateEntry(3), 0);
    EXPECT_EQ(recordFrameRateEntry(10), 1);
    EXPECT_EQ(recordFrameRateEntry(14), 1);
    EXPECT_EQ(recordFrameRateEntry(29), 4);
    EXPECT_EQ(recordFrameRateEntry(30), 5);
    EXPECT_EQ(recordFrameRateEntry(1000), 5);
    for (int i = 0; i < kRecordFrameRateEntries; ++i) EXPECT_EQ(recordFrameRateEntry(recordFrameRateFromEntry(i)), i);
}

TEST(BrushSize, TextIsReadAndClamped) {
    EXPECT_EQ(brushSizeFromText("0"), 1);
    EXPECT_EQ(brushSizeFromText("100"), 64);
    EXPECT_EQ(brushSizeFromText("-3"), 1);
    EXPECT_EQ(brushSizeFromText(""), 1);
    EXPECT_EQ(brushSizeFromText("abc"), 1);
    EXPECT_EQ(brushSizeFromText(" 12px"), 12);
    EXPECT_EQ(brushSizeFromText("99999999999999999999999"), 64);
    EXPECT_EQ(clampBrushSize(0), 1);
    EXPECT_EQ(clampBrushSize(65), 64);
}

TEST(Lists, QualityCursorAndLanguageEntries) {
    EXPECT_EQ(clampQuality(-1), 0);
    EXPECT_EQ(clampQuality(7), 2);
    EXPECT_EQ(clampRecordQuality(7), 3);
    EXPECT_EQ(cursorEntry(3), 3);
    EXPECT_EQ(cursorEntry(-2), 0);
    EXPECT_EQ(cursorEntry(10), -1);

    const auto standard = languageEntries("");
    ASSERT_EQ(standard.size(), 2u);
    EXPECT_EQ(standard[0].code, "zh-CN");
    EXPECT_EQ(standard[1].code, "en-US");
    EXPECT_EQ(languageEntry(standard, "en-US"), 1);
    EXPECT_EQ(languageEntry(standard, "xx"), 0);
    EXPECT_EQ(languageEntries(kTaiwanProductId)[0].code, "zh-TW");
    EXPECT_EQ(languageEntries(kGlobalProductId).size(), 1u);
    const auto many = languageEntries(kEuropeProductId);
    ASSERT_EQ(many.size(), 8u);
    EXPECT_EQ(many[2].code, "fr-FR");
    EXPECT_EQ(many[7].code, "ar");
}
