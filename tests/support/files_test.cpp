#include "support/files.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/scoped_env.h"
#include "common/temp_dir.h"

using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::writeText;
using namespace support;

namespace {

std::vector<std::string> listFolder(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

}  // namespace

TEST(Files, FileNameParts) {
    EXPECT_EQ(getFileName("/a/b/file.tar.gz", "prefix"), "file.tar");
    EXPECT_EQ(getFileName("/a/b/file.tar.gz", "dir"), "/a/b");
    EXPECT_EQ(getFileName("/a/b/file.tar.gz", "name"), "file.tar.gz");
    EXPECT_EQ(getFileName("a.d/file", "prefix"), "file");  // dot in a folder name
    EXPECT_EQ(getFileName("file", "dir"), "");
    EXPECT_EQ(getFileName("/file.txt", "dir"), "/");
    EXPECT_EQ(getFileName("a//b", "dir"), "a");
    EXPECT_EQ(getFileName("a/b", "other"), "");
}

TEST(Files, TypesAndRecursiveMkdir) {
    TempDir tmp;
    EXPECT_EQ(getFileType(tmp.path()), 1);
    EXPECT_EQ(getFileType(tmp / "missing"), -1);
    EXPECT_TRUE(support::mkdir(tmp / "x/y//z/"));
    EXPECT_EQ(getFileType(tmp / "x/y/z"), 1);
    EXPECT_TRUE(support::mkdir(tmp / "x/y"));  // already there
    writeText(tmp / "file", "1");
    EXPECT_EQ(getFileType(tmp / "file"), 0);
    EXPECT_FALSE(support::mkdir(tmp / "file/sub"));
    EXPECT_FALSE(support::mkdir(""));
}

TEST(Files, RmdirRemovesLinksNotTheirTargets) {
    TempDir tmp;
    ASSERT_TRUE(support::mkdir(tmp / "keep"));
    writeText(tmp / "keep/precious", "data");
    ASSERT_TRUE(support::mkdir(tmp / "gone/sub"));
    writeText(tmp / "gone/sub/f", "x");
    ASSERT_EQ(symlink((tmp / "keep").c_str(), (tmp / "gone/sub/link").c_str()), 0);
    EXPECT_TRUE(support::rmdir(tmp / "gone"));
    EXPECT_EQ(getFileType(tmp / "gone"), -1);
    EXPECT_EQ(getFileType(tmp / "keep/precious"), 0);

    ASSERT_EQ(symlink((tmp / "keep").c_str(), (tmp / "toplink").c_str()), 0);
    EXPECT_TRUE(support::rmdir(tmp / "toplink"));
    EXPECT_EQ(getFileType(tmp / "keep/precious"), 0);
    EXPECT_TRUE(support::rmdir(tmp / "never-existed"));
    EXPECT_FALSE(support::rmdir(""));
}

TEST(Files, Md5) {
    TempDir tmp;
    std::string digest;
    writeText(tmp / "abc", "abc");
    ASSERT_TRUE(getMd5(tmp / "abc", digest));
    EXPECT_EQ(digest, "900150983cd24fb0d6963f7d28e17f72");
    writeText(tmp / "empty", "");
    ASSERT_TRUE(getMd5(tmp / "empty", digest));
    EXPECT_EQ(digest, "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_FALSE(getMd5(tmp / "missing", digest));
    EXPECT_FALSE(getMd5(tmp.path(), digest));  // a folder
}

TEST(Files, WriteFileAtomicReplacesAndLeavesNoTemporaryFile) {
    TempDir tmp;
    const std::string path = tmp / "settings.json";
    const std::string big(200000, 'z');
    ASSERT_TRUE(writeFileAtomic(path, "first"));
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    ASSERT_TRUE(writeFileAtomic(path, big));
    std::string back;
    ASSERT_TRUE(readFile(path, back));
    EXPECT_EQ(back, big);
    struct stat st{};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // permissions of the replaced file kept
    EXPECT_EQ(listFolder(tmp.path()), std::vector<std::string>{"settings.json"});

    EXPECT_FALSE(writeFileAtomic(tmp / "no/such/folder/f", "x"));
    ASSERT_TRUE(support::mkdir(tmp / "target"));
    EXPECT_FALSE(writeFileAtomic(tmp / "target", "x"));  // a folder is in the way
    EXPECT_EQ(listFolder(tmp.path()).size(), 2u);
    EXPECT_FALSE(readFile(tmp / "missing", back));
    EXPECT_EQ(back, big);  // untouched on failure
}

TEST(Files, AppDirHoldsTheRunningProgram) {
    const std::string dir = getAppDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), '/');
    EXPECT_EQ(getFileType(dir + "/test_support"), 0);
}

TEST(Files, UserFolders) {
    TempDir tmp;
    {
        ScopedEnv env("XDG_RUNTIME_DIR", tmp.path().c_str());
        EXPECT_EQ(runtimeDir(), tmp.path());
    }
    {
        ScopedEnv env("XDG_RUNTIME_DIR", (tmp / "missing").c_str());
        const std::string dir = runtimeDir();
        EXPECT_EQ(dir, "/tmp/lumacro3-" + std::to_string(getuid()));
        struct stat st{};
        ASSERT_EQ(lstat(dir.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_EQ(st.st_uid, getuid());
    }
    {
        ScopedEnv env("XDG_CONFIG_HOME", (tmp / "cfg/deep").c_str());
        EXPECT_EQ(configDir(), tmp / "cfg/deep");
        EXPECT_EQ(getFileType(tmp / "cfg/deep"), 1);
    }
    {
        ScopedEnv noXdg("XDG_CONFIG_HOME", std::nullopt);
        ScopedEnv home("HOME", tmp.path().c_str());
        EXPECT_EQ(configDir(), tmp / ".config");
        EXPECT_EQ(getFileType(tmp / ".config"), 1);
    }
}
