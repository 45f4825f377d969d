#include "support/language.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "support/files.h"
#include "common/temp_dir.h"

using testing_support::TempDir;
using testing_support::writeText;
using namespace support;

namespace {

const std::string kLanguageDir = LUMACRO3_SOURCE_DIR "/data/language/";

std::string wrap(const std::string& messages) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<language name=\"t\">\n"
           "<context name=\"C\">" + messages + "</context>\n</language>\n";
}

std::string message(const std::string& source, const std::string& translation) {
    return "<message><source>" + source + "</source><translation>" + translation +
           "</translation></message>";
}

}  // namespace

TEST(Language, ShippedEnglishTable) {
    ASSERT_TRUE(loadLanguage(kLanguageDir + "Lumacro3.en-US.xml"));
    EXPECT_EQ(translate("关于(&A)", "CLumacro3Dlg"), "&About");
    EXPECT_EQ(translate("退出(&X)", "CLumacro3Dlg"), "E&xit");
    EXPECT_EQ(translate("设置", "CLumacro3Dlg"), "Settings");
    EXPECT_EQ(translate("Windows 套接字初始化失败。", "Lumacro3"), "Failed to initialise the network.");
    EXPECT_EQ(translate("设置", "Lumacro3"), "设置");  // other context
    EXPECT_EQ(translate("未知", "CLumacro3Dlg"), "未知");

    ASSERT_TRUE(loadLanguage(kLanguageDir + "Lumacro3.zh-CN.xml"));
    EXPECT_EQ(translate("设置", "CLumacro3Dlg"), "设置");
}

TEST(Language, EntitiesCommentsAndCdata) {
    TempDir tmp;
    writeText(tmp / "t.xml",
              "\xEF\xBB\xBF" + wrap("<!-- note -->" +
                                    message("a&lt;b&gt;&quot;&apos;", "&#65;&#x4e2D;&#x1F600;") +
                                    message("<![CDATA[<raw & text>]]>", "ok") +
                                    message(" spaced ", "kept") + message("empty", "") +
                                    "<message><source>lonely</source></message>"));
    ASSERT_TRUE(loadLanguage(tmp / "t.xml"));
    EXPECT_EQ(translate("a<b>\"'", "C"), "A\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_EQ(translate("<raw & text>", "C"), "ok");
    EXPECT_EQ(translate(" spaced ", "C"), "kept");
    EXPECT_EQ(translate("empty", "C"), "empty");
    EXPECT_EQ(translate("lonely", "C"), "lonely");
}

TEST(Language, MalformedFilesKeepThePreviousTable) {
    TempDir tmp;
    const std::string good = wrap(message("x", "y"));
    writeText(tmp / "good.xml", good);
    ASSERT_TRUE(loadLanguage(tmp / "good.xml"));

    std::vector<std::string> broken = {
        "",
        "<language>",
        "<language></languag>",
        "<other/>",
        wrap(message("a", "&unknown;")),
        wrap(message("a", "&#0;")),
        wrap(message("a", "&#x110000;")),
        wrap(message("a", "&#xD800;")),
        wrap(message("a", "&amp")),
        wrap(message("a", "b") + "<!-- open"),
        wrap(message("a", "<![CDATA[ open")),
        wrap(message("a\xFF", "b")),
        "<!DOCTYPE language [<!ENTITY e \"x\">]><language/>",
        "<language name=oops/>",
        "<language name=\"a\" name=\"b\"/>",
        good + "<extra/>",
        std::string(100000, '<'),
        [] { std::string s; for (int i = 0; i < 50000; ++i) s += "<a>"; return s; }(),
    };
    // Every cut-off version of a good file is broken too.
    for (size_t n = 0; n < good.size() - 2; n += 3) broken.push_back(good.substr(0, n));

    for (const auto& text : broken) {
        writeText(tmp / "bad.xml", text);
        EXPECT_FALSE(loadLanguage(tmp / "bad.xml")) << text.substr(0, 80);
    }
    EXPECT_FALSE(loadLanguage(tmp / "missing.xml"));
    EXPECT_FALSE(loadLanguage(tmp.path()));
    EXPECT_EQ(translate("x", "C"), "y");
}

TEST(Language, TranslateWhileReloading) {
    TempDir tmp;
    writeText(tmp / "t.xml", wrap(message("x", "y")));
    ASSERT_TRUE(loadLanguage(tmp / "t.xml"));
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            const std::string t = translate("x", "C");
            ASSERT_TRUE(t == "y" || t == "x");
        }
    });
    for (int i = 0; i < 200; ++i) EXPECT_TRUE(loadLanguage(tmp / "t.xml"));
    stop = true;
    reader.join();
}

TEST(Language, CompatibleNames) {
    for (const char* zh : {"zh-CN", "zh", "zh-Hans", "zh_SG", "ZH-tw", "zh-HK", "ChineseTraditional",
                           "fr-FR", "", "C"}) {
        EXPECT_EQ(getCompatibleLanguageName(zh), "zh-CN") << zh;
    }
    for (const char* en : {"en", "en-US", "en_GB.UTF-8", "EN-au", "English"}) {
        EXPECT_EQ(getCompatibleLanguageName(en), "en-US") << en;
    }
}
