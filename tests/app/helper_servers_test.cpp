// The helper web and FTP servers against the real nginx and pyftpdlib, checked
// with curl over a loopback address of the test's own.
#include "app_test_util.h"

#include "../common/loopback.h"
#include "app/helper_registry.h"
#include "app/helper_servers.h"
#include "support/process.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace apptest;

namespace {

const char kNginx[] = "/usr/sbin/nginx";
const char kPython[] = "/usr/bin/python3";

bool portAnswers(const std::string& address, int port) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
    bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(s);
    return ok;
}

bool gone(pid_t pid) {
    std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return stat.empty() || (close != std::string::npos && stat[close + 2] == 'Z');
}

std::string curl(const std::string& url) {
    return support::runCmd("/usr/bin/curl", "-s --max-time 10 \"" + url + "\"", "");
}

class HelperServersTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!exists(kNginx) || !exists(kPython) || !exists("/usr/bin/curl"))
            GTEST_SKIP() << "nginx, python3 or curl missing";
        address = testing_support::uniqueLoopbackAddress(31);
        fs::create_directories(docs / "Recv");
        writeText(docs / "Recv/lesson notes.txt", "served from the document folder\n");
        options.appDir = LUMACRO3_BIN_DIR;
        options.docDir = docs.path();
        options.address = address;
        options.readyWaitMs = 5000;
    }

    TempDir config, runtime, docs;
    ScopedEnv configEnv{"XDG_CONFIG_HOME", config.path()};
    ScopedEnv runtimeEnv{"XDG_RUNTIME_DIR", runtime.path()};
    std::string address;
    app::HelperServerOptions options;
};

TEST_F(HelperServersTest, ServeTheDocumentFolderAndAreGoneAfterStop) {
    CapturedLog log;
    app::HelperServers servers(options);
    servers.start();
    ASSERT_TRUE(servers.httpRunning()) << log.text();
    ASSERT_TRUE(servers.ftpRunning()) << log.text();
    const pid_t http = servers.httpPid(), ftp = servers.ftpPid();

    EXPECT_EQ(curl("http://" + address + ":27272/Recv/lesson%20notes.txt"), "served from the document folder\n");
    EXPECT_EQ(curl("ftp://ftpd:Nq4vT8wa@" + address + ":17171/Recv/lesson%20notes.txt"),
              "served from the document folder\n");
    // Read-only web server without listings; the FTP password is checked.
    EXPECT_EQ(support::runCmd("/usr/bin/curl", "-s -o /dev/null -w %{http_code} http://" + address + ":27272/Recv/", ""),
              "403");
    EXPECT_EQ(support::runCmd("/usr/bin/curl",
                              "-s -o /dev/null -w %{http_code} -X PUT --data x http://" + address + ":27272/Recv/new", ""),
              "403");
    EXPECT_EQ(curl("ftp://ftpd:wrong@" + address + ":17171/Recv/lesson%20notes.txt"), "");

    // Both are recorded for taskagent -kill.
    std::vector<std::string> names;
    for (const app::HelperRecord& r : app::listHelpers())
        names.push_back(r.name);
    EXPECT_EQ(names, (std::vector<std::string>{"ftpd", "nginx"}));

    servers.stop();
    EXPECT_FALSE(servers.httpRunning());
    EXPECT_FALSE(servers.ftpRunning());
    EXPECT_TRUE(gone(http));
    EXPECT_TRUE(gone(ftp));
    EXPECT_FALSE(portAnswers(address, 27272));
    EXPECT_FALSE(portAnswers(address, 17171));
    EXPECT_TRUE(app::listHelpers().empty());
    EXPECT_NE(log.text().find("myftp & nginx closed"), std::string::npos);
    servers.stop();  // twice is harmless
}

TEST_F(HelperServersTest, FtpServerOfAnotherCopyIsReplaced) {
    // Another copy of the program, in another folder, left its FTP server on the port.
    TempDir otherDocs;
    writeText(otherDocs / "Recv/lesson notes.txt", "the other copy's file\n");
    const std::string otherCopy = "/opt/other copy/lumacro3";
    pid_t other = ::fork();
    if (other == 0) {
        ::setenv(app::HelperServers::kOwnerVariable, otherCopy.c_str(), 1);
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl(kPython, kPython, "-m", "pyftpdlib", "-i", address.c_str(), "-p", "17171", "-d",
                otherDocs.path().c_str(), "-u", "ftpd", "-P", "Nq4vT8wa", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_TRUE(waitUntil([&] { return portAnswers(address, 17171); }, 10000));
    app::recordHelper("ftpd", other, kPython);

    CapturedLog log;
    app::HelperServers servers(options);
    servers.start();
    EXPECT_NE(log.text().find("ftp path no match!!! " + otherCopy + ", " + LUMACRO3_BIN_DIR), std::string::npos)
        << log.text();
    ::waitpid(other, nullptr, 0);  // (may have been reaped already)
    EXPECT_TRUE(gone(other));
    ASSERT_TRUE(servers.ftpRunning()) << log.text();
    EXPECT_NE(servers.ftpPid(), other);
    EXPECT_EQ(curl("ftp://ftpd:Nq4vT8wa@" + address + ":17171/Recv/lesson%20notes.txt"),
              "served from the document folder\n");
    servers.stop();
}

TEST_F(HelperServersTest, BusyPortOrMissingServerOnlyLosesThatServer) {
    // Someone else listens on the web port.
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(27272);
    ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(s, 4), 0);

    CapturedLog log;
    options.python = "/nonexistent/python3";
    app::HelperServers servers(options);
    servers.start();
    EXPECT_FALSE(servers.httpRunning());
    EXPECT_FALSE(servers.ftpRunning());
    EXPECT_NE(log.text().find("held by another program"), std::string::npos) << log.text();
    EXPECT_NE(log.text().find("/nonexistent/python3 is missing"), std::string::npos) << log.text();
    EXPECT_TRUE(app::listHelpers().empty());
    ::close(s);
    servers.stop();
}

TEST_F(HelperServersTest, TaskagentKillEndsHelpersLeftRunning) {
    app::HelperServers servers(options);
    servers.start();
    ASSERT_TRUE(servers.httpRunning());
    ASSERT_TRUE(servers.ftpRunning());
    const pid_t http = servers.httpPid(), ftp = servers.ftpPid();
    // As after a crash of the program: the process helper ends what the records name.
    std::string out = support::runCmd(std::string(LUMACRO3_BIN_DIR) + "/taskagent", "-kill", "");
    EXPECT_NE(out.find("ended 2 of 2"), std::string::npos) << out;
    EXPECT_TRUE(waitUntil([&] { return gone(http) && gone(ftp); }, 5000));
    servers.stop();  // reaps them
    EXPECT_FALSE(portAnswers(address, 27272));
}

}  // namespace
