// The update check against a local web server, the installer download, and
// the file share page read back by an independent QR reader.
#include "common/http_server.h"
#include "common/temp_dir.h"
#include "settings/settings_fakes.h"
#include "widgets/widgets_app.h"

#include "transfer/file_share.h"
#include "ui/settings/set_pages.h"
#include "ui/settings/set_wnd.h"
#include "ui/settings/update_check.h"
#include "ui/widgets/qr_static.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

using namespace ui::settings;
using testing_support::HttpServer;
using testing_support::readText;
using testing_support::TempDir;
using testing_support::writeText;

TEST(UpdateCheck, AgainstALocalServer) {
    TempDir dir;
    writeText(dir / "www/same.json", R"({"versionName":"3.2.2.0","dir":"http://u.example/setup/"})");
    writeText(dir / "www/newer.json", R"({"versionName":"3.2.10.0","dir":"http://u.example/setup/","extra":1})");
    writeText(dir / "www/shorter.json", R"({"versionName":"3.3","dir":"http://u.example/setup"})");
    writeText(dir / "www/bad.json", R"({"versionName":"3.2.10.0",)");
    writeText(dir / "www/nodir.json", R"({"versionName":"3.2.10.0"})");
    writeText(dir / "www/number.json", R"({"versionName":3,"dir":"x"})");
    HttpServer http("127.0.0.1", dir / "www");
    ASSERT_TRUE(http.ok());

    EXPECT_EQ(checkForUpdate(http.base() + "same.json", "3.2.2.0", "abc").outcome, UpdateCheck::NoUpdate);
    EXPECT_EQ(checkForUpdate(http.base() + "shorter.json", "3.2.2.0", "abc").outcome, UpdateCheck::NoUpdate);
    const UpdateCheck newer = checkForUpdate(http.base() + "newer.json", "3.2.2.0", "abc");
    EXPECT_EQ(newer.outcome, UpdateCheck::Newer);
    EXPECT_EQ(newer.versionName, "3.2.10.0");
    EXPECT_EQ(newer.installerUrl, "http://u.example/setup/abc_v3.2.10.0.deb");
    for (const char* name : {"bad.json", "nodir.json", "number.json", "missing.json"})
        EXPECT_EQ(checkForUpdate(http.base() + name, "3.2.2.0", "abc").outcome, UpdateCheck::NoInformation) << name;
    EXPECT_TRUE(std::filesystem::is_directory(updateFolder()));

    // An answer far larger than update information is refused.
    writeText(dir / "www/huge.json", std::string(2 * 1024 * 1024, ' ') + "{}");
    std::string body;
    EXPECT_FALSE(fetchToMemory(http.base() + "huge.json", body));
    EXPECT_TRUE(body.empty());
}

TEST(UpdateCheck, NoServerGivesNoInformation) {
    TempDir dir;
    std::string unused;
    {
        HttpServer http("127.0.0.1", dir.path());
        unused = http.base();
    }  // the port is closed again
    EXPECT_EQ(checkForUpdate(unused + "u.json", "3.2.2.0", "abc").outcome, UpdateCheck::NoInformation);
}

TEST(UpdateDownloader, ReportsSuccessAndFailureOnceEach) {
    TempDir dir;
    writeText(dir / "www/abc_v3.2.10.0.deb", "package bytes");
    HttpServer http("127.0.0.1", dir / "www");
    ASSERT_TRUE(http.ok());
    UpdateDownloader downloader;
    std::atomic<int> results{0};
    std::atomic<bool> lastOk{false};
    auto done = [&](bool ok) {
        lastOk = ok;
        ++results;
    };
    auto waitDone = [&](int n) {
        for (int i = 0; i < 5000 && (results < n || downloader.downloading()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    ASSERT_TRUE(downloader.start(http.base() + "abc_v3.2.10.0.deb", dir / "install.deb", done));
    waitDone(1);
    EXPECT_TRUE(lastOk);
    EXPECT_EQ(readText(dir / "install.deb"), "package bytes");
    EXPECT_FALSE(downloader.downloading());

    ASSERT_TRUE(downloader.start(http.base() + "abc_v9.deb", dir / "other.deb", done));
    waitDone(2);
    EXPECT_EQ(results.load(), 2);
    EXPECT_FALSE(lastOk);  // 404: failure, and no file pretends to be the package
    EXPECT_FALSE(std::filesystem::exists(dir / "other.deb"));
}

TEST(UpdateCheck, AboutPageHidesTheLinkWithoutAnUpdateAddress) {
    widgets_test::qtApp();
    core::MemorySettings store;
    settings_test::FakeServer server;
    SettingsDeps d;
    d.settings = &store;
    d.server = &server;
    d.product.update = "about:blank";
    d.product.web = "https://www.example.org";
    std::vector<std::string> told;
    d.tell = [&](const std::string& title, const std::string& text) { told.push_back(title + "|" + text); };
    SetWnd w(d);
    SetAboutWnd* about = w.page<SetAboutWnd>();
    EXPECT_TRUE(about->updateLink->isHidden());
    EXPECT_FALSE(about->webLink->isHidden());
    EXPECT_EQ(about->versionLabel->text().toStdString(), programVersion());
    const std::string version = programVersion();
    EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 3);

    d.updateDownloading = [] { return true; };
    d.product.update = "http://127.0.0.1:9/u.json";
    SetWnd busy(d);
    EXPECT_FALSE(busy.page<SetAboutWnd>()->updateLink->isHidden());
    busy.page<SetAboutWnd>()->checkUpdate();
    EXPECT_EQ(told, std::vector<std::string>{"Lumacro3|正在下载"});
}

namespace {

class ShareTest : public ::testing::Test {
protected:
    void SetUp() override {
        widgets_test::qtApp();
        server.bound = settings_test::ip("192.168.1.5");
        writeText(dir / "program/app-release.apk", "apk v1");
    }
    SettingsDeps deps() {
        SettingsDeps d;
        d.settings = &store;
        d.server = &server;
        d.currentDir = dir / "program";
        d.docDir = [this] { return dir / "doc"; };
        return d;
    }
    std::string readCode(SetShareWnd* page) {
        return widgets_test::readQr(widgets_test::withQuietZone(page->code->grab().toImage(), 16));
    }

    TempDir dir;
    core::MemorySettings store;
    settings_test::FakeServer server;
};

}  // namespace

TEST_F(ShareTest, DeletedShareFallsBackToTheInstallerAndIsStoredAgain) {
    store.setString("SET", "ShareFile", dir / "gone.pdf");
    const auto first = transfer::prepareShare(store, dir / "program", dir / "doc");
    EXPECT_EQ(first.shared, dir / "program/app-release.apk");
    EXPECT_EQ(store.getString("SET", "ShareFile", ""), dir / "program/app-release.apk");
    EXPECT_TRUE(first.publish);
    EXPECT_FALSE(first.md5Matched);
    EXPECT_EQ(readText(dir / "doc/Recv/app-release.apk"), "apk v1");

    const auto second = transfer::prepareShare(store, dir / "program", dir / "doc");
    EXPECT_TRUE(second.md5Matched);  // not copied again
    writeText(dir / "program/app-release.apk", "apk v2");
    const auto third = transfer::prepareShare(store, dir / "program", dir / "doc");
    EXPECT_FALSE(third.md5Matched);
    EXPECT_EQ(readText(dir / "doc/Recv/app-release.apk"), "apk v2");

    std::filesystem::remove(dir / "program/app-release.apk");
    store.setString("SET", "ShareFile", "");
    const auto none = transfer::prepareShare(store, dir / "program", dir / "doc");
    EXPECT_TRUE(none.shared.empty());
    EXPECT_FALSE(none.publish);
}

TEST_F(ShareTest, PageShowsTheEscapedAddressAndReplacesItOnAPick) {
    SetWnd w(deps());
    SetShareWnd* page = w.page<SetShareWnd>();
    ASSERT_FALSE(page->code->isHidden());
    EXPECT_EQ(readCode(page), "http://192.168.1.5:27272/Recv/app-release.apk");

    const std::string picked = dir / "lessons/第1课 notes.pdf";
    writeText(picked, "pdf");
    page->filePicked(picked);
    const std::string escaped = "http://192.168.1.5:27272/Recv/%E7%AC%AC1%E8%AF%BE%20notes.pdf";
    EXPECT_EQ(readCode(page), escaped);
    EXPECT_EQ(store.getString("SET", "ShareFile", ""), picked);
    EXPECT_EQ(readText(dir / "doc/Recv/第1课 notes.pdf"), "pdf");
}

TEST_F(ShareTest, NoFileHidesTheCode) {
    std::filesystem::remove(dir / "program/app-release.apk");
    SetWnd w(deps());
    EXPECT_TRUE(w.page<SetShareWnd>()->code->isHidden());
}

TEST(UpdateCheck, AboutPageAsksThenHandsTheInstallerToTheDownload) {
    widgets_test::qtApp();
    TempDir dir;
    writeText(dir / "www/newer.json", R"({"versionName":"99.0.0.0","dir":"http://u.example/setup"})");
    writeText(dir / "www/same.json", "{\"versionName\":\"" + programVersion() + "\",\"dir\":\"http://u.example\"}");
    HttpServer http("127.0.0.1", dir / "www");
    ASSERT_TRUE(http.ok());
    core::MemorySettings store;
    settings_test::FakeServer server;
    SettingsDeps d;
    d.settings = &store;
    d.server = &server;
    d.product.product = "Lumacro3";
    d.product.id = "abc";
    std::vector<std::string> told, asked, started;
    bool answer = false;
    d.tell = [&](const std::string& title, const std::string& text) { told.push_back(title + "|" + text); };
    d.askYesNo = [&](const std::string& title, const std::string& text) {
        asked.push_back(title + "|" + text);
        return answer;
    };
    d.updateDownloading = [] { return false; };
    d.startUpdateDownload = [&](const std::string& url) { started.push_back(url); };

    d.product.update = http.base() + "same.json";
    SetWnd same(d);
    same.page<SetAboutWnd>()->checkUpdate();
    EXPECT_EQ(told, std::vector<std::string>{"Lumacro3|无可用更新"});

    told.clear();
    d.product.update = http.base() + "newer.json";
    SetWnd newer(d);
    newer.page<SetAboutWnd>()->checkUpdate();  // answered No
    EXPECT_EQ(asked, std::vector<std::string>{"Lumacro3|确认更新?"});
    EXPECT_TRUE(told.empty());
    EXPECT_TRUE(started.empty());
    answer = true;
    newer.page<SetAboutWnd>()->checkUpdate();
    EXPECT_EQ(told, std::vector<std::string>{"Lumacro3|已经开始在后台下载，完成后将升级到 99.0.0.0"});
    EXPECT_EQ(started, std::vector<std::string>{"http://u.example/setup/abc_v99.0.0.0.deb"});
}
