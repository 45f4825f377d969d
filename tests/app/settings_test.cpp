// The INI settings store: defaults and rules of the typed accessors, exact
// round trips of awkward text, both addressing views, threads and processes
// writing at once, damaged and unreadable files.
#include "app_test_util.h"

#include "app/app_settings.h"
#include "app/ini_settings.h"

#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace apptest;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    TempDir root, docs;
    std::string iniPath() const { return root / "Quorvel/Lumacro3.ini"; }
};

TEST_F(SettingsTest, EmptyStoreGivesDefaultsAndStartUpStoresTheDocumentFolder) {
    app::IniSettings store(root.path());
    app::AppSettings s(store, "", docs.path());
    EXPECT_EQ(s.language(), "zh-CN");
    EXPECT_EQ(s.serverName(), app::computerName());
    EXPECT_FALSE(s.serverName().empty());
    EXPECT_EQ(s.bindIp(), "0.0.0.0");
    EXPECT_EQ(s.get(app::setting::AUTO_HIDE), 0);
    EXPECT_EQ(s.get(app::setting::CURSOR), 9);
    EXPECT_EQ(s.get(app::setting::FRAME_RATE), 20);
    EXPECT_EQ(s.get(app::setting::RECORD_FRAME_RATE), 10);
    EXPECT_EQ(s.get(app::setting::CAMERAX), 10000);
    EXPECT_EQ(s.get(app::setting::DBG_on), 0);
    // Reading alone writes nothing.
    EXPECT_FALSE(exists(iniPath()));

    // No tag in the descriptor: the folder is named "Faroline".
    fs::create_directories(docs / "Faroline/.temp/public/sub");
    writeText(docs / "Faroline/.temp/public/sub/x", "x");
    const std::string dir = s.prepareDocDir();
    EXPECT_EQ(dir, docs / "Faroline");
    for (const char* sub : {"Record", "Snapshot", "Recv", ".temp"})
        EXPECT_TRUE(fs::is_directory(dir + "/" + sub)) << sub;
    EXPECT_FALSE(exists(dir + "/.temp/public"));
    app::IniSettings reread(root.path());
    EXPECT_EQ(reread.getString("SET", "DOC_DIR", ""), dir);

    // A stored folder wins over the default and survives the write-back.
    s.setDocDir(docs / "elsewhere");
    EXPECT_EQ(s.prepareDocDir(), docs / "elsewhere");
    EXPECT_TRUE(fs::is_directory(docs / "elsewhere/Recv"));
}

TEST_F(SettingsTest, LanguageAndProductTagRules) {
    app::IniSettings store(root.path());
    app::AppSettings s(store, "Acme", docs.path());
    for (const char* traditional : {"zh-TW", "ChineseTraditional"}) {
        s.setLanguage(traditional);
        EXPECT_EQ(s.language(), "zh-CN");
    }
    s.setLanguage("en-US");
    EXPECT_EQ(s.language(), "en-US");
    EXPECT_EQ(s.defaultDocDir(), docs / "Acme");
}

TEST_F(SettingsTest, DocumentsFolderFallsBackToHomeDocuments) {
    // Without a user-dirs file xdg-user-dir answers $HOME itself.
    TempDir home;
    ScopedEnv h("HOME", home.path());
    ScopedEnv c("XDG_CONFIG_HOME", home / ".config");
    EXPECT_EQ(app::userDocumentsDir(), home / "Documents");
}

TEST_F(SettingsTest, AwkwardTextRoundTripsExactly) {
    const std::vector<std::string> values = {
        "",
        "plain",
        "  leading and trailing  ",
        "\ttab",
        "line one\nline two\r\nthree",
        "a;b#c=d==e",
        "\"quoted\" at the start",
        "back\\slash\\n not a newline",
        "C:\\Users\\teacher\\Documents",
        "中文 文件夹 ✓",
        R"({"className":"com.quorvel.qm.msg.MsgPexloAutoLogin","token":"a=b;c","n":1})",
        std::string("bad utf8 \xff\xfe end"),
        std::string("nul \0 inside", 12),
        "[not a section]",
    };
    {
        app::IniSettings store(root.path());
        for (size_t i = 0; i < values.size(); ++i)
            ASSERT_TRUE(store.setString("SET", "v" + std::to_string(i), values[i])) << i;
        store.setInt("SET", "neg", -42);
        store.setInt("SET", "big", 0x7fffffffffffLL);
    }
    app::IniSettings fresh(root.path());
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(fresh.getString("SET", "v" + std::to_string(i), "<missing>"), values[i]) << i;
    EXPECT_EQ(fresh.getInt("SET", "neg", 0), -42);
    EXPECT_EQ(fresh.getInt("SET", "big", 0), 0x7fffffffffffLL);
    // Text that is no number reads as the default.
    EXPECT_EQ(fresh.getInt("SET", "v1", 7), 7);
    // The file stays plain INI a person can read.
    app::IniData parsed = app::parseIni(readText(iniPath()));
    EXPECT_FALSE(parsed.damaged);
    EXPECT_NE(readText(iniPath()).find("v9=中文 文件夹 ✓\n"), std::string::npos);
}

TEST_F(SettingsTest, ProfileAndKeyPathsAddressTheSameValues) {
    app::IniSettings store(root.path());
    store.setString("SET", "language", "en-US");
    EXPECT_EQ(store.getKeyString("Quorvel\\Lumacro3\\SET", "language"), "en-US");
    store.setKeyInt("Quorvel\\Lumacro3\\SET", "Corvex", 3);
    EXPECT_EQ(store.getInt("SET", "Corvex", 0), 3);
    // Names compare as registry names do.
    EXPECT_EQ(store.getInt("set", "CORVEX", 0), 3);

    store.setKeyString("Quorvel\\FarolineServer\\SET", "pexloStartup", "{\"a\":1}");
    store.setKeyInt("Quorvel\\FarolineServer\\Interop", "FSHWND", 77);
    EXPECT_NE(readText(root / "Quorvel/FarolineServer.ini").find("[Interop]\nFSHWND=77"), std::string::npos);
    EXPECT_EQ(store.getKeyString("Quorvel\\FarolineServer\\SET", "pexloStartup"), "{\"a\":1}");
    // Missing values of explicit keys read as 0 and "".
    EXPECT_EQ(store.getKeyInt("Quorvel\\MardeckClient\\SET", "nothing"), 0);
    EXPECT_EQ(store.getKeyString("Quorvel\\MardeckClient\\SET", "nothing"), "");

    // Paths that cannot name a file inside the store are refused.
    for (const char* bad : {"Quorvel\\..\\SET", "Quorvel\\a/b\\SET", "Quorvel\\Lumacro3", "Other\\X\\SET",
                            "Quorvel\\X\\Sec]tion"})
        EXPECT_FALSE(store.setKeyString(bad, "n", "v")) << bad;
    EXPECT_FALSE(store.setString("SET", "a=b", "v"));
    EXPECT_FALSE(store.setString("SET", "line\nbreak", "v"));
    EXPECT_FALSE(exists(root / "SET.ini"));
    EXPECT_FALSE(exists(root / "Quorvel/...ini"));
}

TEST_F(SettingsTest, SeesWritesOfOtherStoreObjects) {
    app::IniSettings a(root.path()), b(root.path());
    a.setString("SET", "srvName", "one");
    EXPECT_EQ(b.getString("SET", "srvName", ""), "one");
    b.setString("SET", "srvName", "two");  // same size, same second: inode and times differ
    EXPECT_EQ(a.getString("SET", "srvName", ""), "two");
    b.setString("SET", "other", "x");
    a.setString("SET", "third", "y");  // must not drop b's value
    EXPECT_EQ(b.getString("SET", "other", ""), "x");
    EXPECT_EQ(b.getString("SET", "third", ""), "y");
}

TEST_F(SettingsTest, ThreadsAndProcessesWritingAtOnceLoseNothing) {
    constexpr int kEach = 40;
    app::IniSettings store(root.path());
    auto writer = [&](core::Settings& s, const std::string& who) {
        for (int i = 0; i < kEach; ++i)
            s.setInt("SET", who + std::to_string(i), i);
    };
    pid_t child = ::fork();
    if (child == 0) {
        // A separate process with its own store object.
        app::IniSettings own(root.path());
        writer(own, "proc");
        ::_exit(0);
    }
    std::thread t1([&] { writer(store, "t1_"); });
    std::thread t2([&] { writer(store, "t2_"); });
    t1.join();
    t2.join();
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    app::IniSettings fresh(root.path());
    int missing = 0;
    for (const char* who : {"t1_", "t2_", "proc"})
        for (int i = 0; i < kEach; ++i)
            missing += fresh.getInt("SET", who + std::to_string(i), -1) != i;
    EXPECT_EQ(missing, 0);
    EXPECT_FALSE(app::parseIni(readText(iniPath())).damaged);
    // No temporary files are left beside it.
    for (const auto& entry : fs::directory_iterator(root / "Quorvel"))
        EXPECT_TRUE(entry.path().extension() == ".ini" || entry.path().extension() == ".lock")
            << entry.path();
}

TEST_F(SettingsTest, DamagedFileIsReportedOnceAndKeptAsideOnWrite) {
    CapturedLog log;
    const std::string original = std::string("[SET]\nsrvName=Room 7\nthis line is junk\n\xff\xfe\n") +
                                 std::string("[NET\nbindIp=10.0.0.9\n");
    writeText(iniPath(), original);
    app::IniSettings store(root.path());
    // What is well-formed still reads; the rest gets its default.
    EXPECT_EQ(store.getString("SET", "srvName", ""), "Room 7");
    EXPECT_EQ(store.getString("NET", "bindIp", "0.0.0.0"), "0.0.0.0");
    for (int i = 0; i < 5; ++i)
        store.getInt("SET", "AUTO_HIDE", 0);
    EXPECT_EQ(count(log.text(), "is damaged"), 1u) << log.text();

    ASSERT_TRUE(store.setInt("SET", "AUTO_HIDE", 1));
    EXPECT_EQ(readText(iniPath() + ".bad"), original);
    EXPECT_FALSE(app::parseIni(readText(iniPath())).damaged);
    app::IniSettings fresh(root.path());
    EXPECT_EQ(fresh.getString("SET", "srvName", ""), "Room 7");
    EXPECT_EQ(fresh.getInt("SET", "AUTO_HIDE", 0), 1);
    EXPECT_NE(log.text().find("kept as"), std::string::npos);
}

TEST_F(SettingsTest, UnreadableFileGivesDefaultsAndIsSetAsideNotOverwritten) {
    CapturedLog log;
    // A folder where the file should be cannot be read by anybody, root included.
    fs::create_directories(iniPath());
    writeText(iniPath() + "/keep.txt", "user data");
    app::IniSettings store(root.path());
    EXPECT_EQ(store.getInt("SET", "CURSOR", 9), 9);
    EXPECT_TRUE(store.setInt("SET", "CURSOR", 3));
    EXPECT_EQ(readText(iniPath() + ".bad/keep.txt"), "user data");
    EXPECT_EQ(store.getInt("SET", "CURSOR", 9), 3);
    EXPECT_NE(log.text().find("unreadable"), std::string::npos);
}

TEST(IniText, HalfWrittenQuotedValueIsDamagedNotMisread) {
    app::IniData d = app::parseIni("[SET]\na=\"unterminated\nb=\"bad \\q escape\"\nc=\"ok\"  \n");
    EXPECT_TRUE(d.damaged);
    EXPECT_EQ(d.find("SET", "a"), nullptr);
    EXPECT_EQ(d.find("SET", "b"), nullptr);
    ASSERT_NE(d.find("SET", "c"), nullptr);
    EXPECT_EQ(*d.find("SET", "c"), "ok");
    // A BOM and CRLF line ends as an editor on another system leaves them.
    app::IniData e = app::parseIni("\xEF\xBB\xBF[SET]\r\nx = 1 \r\n");
    EXPECT_FALSE(e.damaged);
    ASSERT_NE(e.find("SET", "x"), nullptr);
    EXPECT_EQ(*e.find("SET", "x"), "1");
}

}  // namespace
