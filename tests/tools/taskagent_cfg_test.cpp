// taskagent -cfg: the written nginx configuration is accepted by nginx and
// serves the document folder read-only; bad arguments write nothing.
#include "taskagent_test_util.h"

#include "taskagent/taskagent.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

using namespace tatest;

namespace {

const char kNginx[] = "/usr/sbin/nginx";

class TaskagentCfgTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!exists(kNginx))
            GTEST_SKIP() << "nginx is not installed";
    }
    TempDir config, work;
    std::map<std::string, std::string> env{{"XDG_CONFIG_HOME", config.path()}};
    std::string nginxConf = config / "Quorvel/helpers/nginx/conf/nginx.conf";
    std::string ftpdConf = config / "Quorvel/helpers/ftpd/ftpd.conf";
};

// Value after "key: " in taskagent's output.
std::string field(const std::string& out, const std::string& key) {
    size_t at = out.find(key + ": ");
    return at == std::string::npos ? "" : out.substr(at + key.size() + 2, out.find('\n', at) - at - key.size() - 2);
}

RunResult nginxTest(const std::string& prefix) {
    return runProgram(kNginx, {"-t", "-q", "-p", prefix, "-c", "conf/nginx.conf", "-e", prefix + "logs/error.log"});
}

sockaddr_in loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

int freePort() {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback(0);
    socklen_t len = sizeof addr;
    ::bind(s, reinterpret_cast<sockaddr*>(&addr), len);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(s);
    return ntohs(addr.sin_port);
}

// One HTTP/1.0 request; empty when nothing answers.
std::string request(int port, const std::string& method, const std::string& path) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback(port);
    std::string req = method + " " + path + " HTTP/1.0\r\nHost: localhost\r\nContent-Length: 0\r\n\r\n", reply;
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::send(s, req.data(), req.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(req.size())) {
        timeval timeout{2, 0};
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        char buffer[4096];
        for (ssize_t n; (n = ::recv(s, buffer, sizeof buffer, 0)) > 0;)
            reply.append(buffer, static_cast<size_t>(n));
    }
    ::close(s);
    return reply;
}

}  // namespace

TEST_F(TaskagentCfgTest, WritesConfigsNginxAccepts) {
    // Windows-style separators and doubled slashes as the program may pass them.
    RunResult r = runTaskagent({"-cfg", work.path() + "\\doc dir's//", "8123", "2121"}, env);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string prefix = field(r.out, "nginx-prefix"), doc = work.path() + "/doc dir's";
    EXPECT_EQ(prefix, config / "Quorvel/helpers/nginx/");
    EXPECT_EQ(field(r.out, "ftpd-config"), ftpdConf);
    const std::string conf = readText(nginxConf);
    EXPECT_NE(conf.find("root \"" + doc + "\";"), std::string::npos) << conf;
    EXPECT_NE(conf.find("listen 8123;"), std::string::npos);
    EXPECT_EQ(conf.find("user root;") != std::string::npos, ::geteuid() == 0);
    RunResult check = nginxTest(prefix);
    EXPECT_EQ(check.code, 0) << check.err;

    EXPECT_EQ(readText(ftpdConf), "; Helper FTP server of Lumacro3. Written by taskagent -cfg.\n[ftpd]\nroot=" + doc +
                                      "\nport=2121\nuser=ftpd\npassword=Nq4vT8wa\npassive_ports=17200-17299\n");
    EXPECT_EQ(fs::status(ftpdConf).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write)
        << "the FTP password must stay private";

    // The fallback types block (no system mime.types) must be valid too.
    ASSERT_TRUE(writeText(nginxConf, taskagent::nginxConfig(prefix, doc, 8125, ::geteuid() == 0, "")));
    check = nginxTest(prefix);
    EXPECT_EQ(check.code, 0) << check.err;
}

TEST_F(TaskagentCfgTest, ServesDocumentsAndTempFolderReadOnly) {
    const std::string doc = work / "doc";
    fs::create_directories(doc + "/.temp");
    ASSERT_TRUE(writeText(doc + "/.temp/slide1.jpg", "JPEGBYTES"));
    ASSERT_TRUE(writeText(doc + "/page.html", "<p>hi</p>"));
    const int port = freePort();
    RunResult r = runTaskagent({"-cfg", doc, std::to_string(port), std::to_string(port == 2121 ? 2122 : 2121)}, env);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string prefix = field(r.out, "nginx-prefix");

    Children children;
    std::vector<std::string> args{"nginx", "-p", prefix, "-c", "conf/nginx.conf", "-e", prefix + "logs/error.log"};
    auto argv = cStrings(args);
    pid_t nginx = children.forkRunning([&] {
        ::execv(kNginx, argv.data());
        ::_exit(127);
    });
    std::string reply;
    ASSERT_TRUE(waitUntil([&] { return !(reply = request(port, "GET", "/.temp/slide1.jpg")).empty(); }, 5000))
        << readText(prefix + "logs/error.log");
    EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply;
    EXPECT_NE(reply.find("Content-Type: image/jpeg"), std::string::npos) << reply;
    EXPECT_EQ(reply.substr(reply.size() - 9), "JPEGBYTES");
    EXPECT_EQ(request(port, "HEAD", "/page.html").rfind("HTTP/1.1 200", 0), 0u);
    for (const char* method : {"POST", "PUT", "DELETE"})
        EXPECT_EQ(request(port, method, "/page.html").rfind("HTTP/1.1 403", 0), 0u) << method;
    EXPECT_EQ(request(port, "GET", "/.temp/").rfind("HTTP/1.1 403", 0), 0u) << "no folder listings";
    EXPECT_EQ(readText(doc + "/page.html"), "<p>hi</p>");
    ::kill(nginx, SIGTERM);
    EXPECT_TRUE(children.exitsWithin(nginx, 3000));
}

TEST_F(TaskagentCfgTest, RefusesBadPortsAndUnsafeFolders) {
    const std::string doc = work.path();
    std::vector<std::vector<std::string>> bad = {
        {doc, "0", "21"},  {doc, "65536", "21"}, {doc, "80", "-1"},          {doc, "+80", "21"},
        {doc, "80a", "21"}, {doc, "", "21"},      {doc, "99999999999", "21"}, {doc, "8080", "8080"}};
    for (const std::string folder : {"/a;b", "/a{b", "/a}b", "/a\"b", "/a\nb", "/$document_root", "/a\tb"})
        bad.push_back({doc + folder, "8080", "2121"});
    bad.push_back({"relative/docs", "8080", "2121"});
    bad.push_back({"", "8080", "2121"});
    for (const auto& args : bad) {
        RunResult r = runTaskagent({"-cfg", args[0], args[1], args[2]}, env);
        EXPECT_EQ(r.code, 2) << args[0] << " " << args[1] << " " << args[2];
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_FALSE(exists(nginxConf));
    EXPECT_FALSE(exists(ftpdConf));
}
