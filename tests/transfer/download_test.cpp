// Downloads from a local HTTP server (python3 http.server on a 127.x address)
// and from a peer that accepts but never answers.
#include "common/http_server.h"
#include "common/loopback.h"
#include "support/child_process.h"
#include "transfer/download.h"
#include "transfer_fakes.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace transfer_test;

// A TCP listener that completes connections in the kernel and never says a word.
class SilentPeer {
public:
    explicit SilentPeer(const std::string& address) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = testing_support::ipv4(address);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 8);
        socklen_t length = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length);
        url_ = "http://" + address + ":" + std::to_string(ntohs(a.sin_port)) + "/slow.txt";
    }
    ~SilentPeer() { ::close(fd_); }
    const std::string& url() const { return url_; }

private:
    int fd_ = -1;
    std::string url_;
};

class Download : public ::testing::Test {
protected:
    void SetUp() override {
        served = rig.root + "/served";
        fs::create_directories(served + "/sub");
        writeText(served + "/a b.txt", "spaced");
        writeText(served + "/x.jpg", "picture");
        writeText(served + "/sub/data.bin", std::string(300000, 'z'));
        http = std::make_unique<testing_support::HttpServer>(testing_support::uniqueLoopbackAddress(71), served);
        ASSERT_TRUE(http->ok());
    }
    ReceiverRig rig;
    std::string served;
    std::unique_ptr<testing_support::HttpServer> http;
};

TEST_F(Download, UrlsOfOtherHostsLandInRecvUnderTheUnescapedName) {
    rig.receiver->openUrl(http->base() + "a%20b.txt", 0, false);
    rig.receiver->openUrl(http->base() + "x.jpg", 5, false);
    rig.receiver->waitForDownloads();
    EXPECT_EQ(readText(rig.recv() + "/a b.txt"), "spaced");
    EXPECT_EQ(rig.opener.paths(), std::vector<std::string>{rig.recv() + "/a b.txt"});
    ASSERT_EQ(rig.hub.messages().size(), 1u);
    EXPECT_EQ(rig.hub.messages()[0].second, rig.recv() + "/x.jpg");
    EXPECT_TRUE(rig.board->anime.empty());  // the effect is not used for downloads

    // An escaped separator or ".." cannot lead the file out of Recv.
    rig.receiver->openUrl(http->base() + "sub%2F..%2Fx.jpg", 0, false);
    rig.receiver->openUrl(http->base() + "sub/%2E%2E", 0, false);
    rig.receiver->waitForDownloads();
    EXPECT_EQ(rig.hub.messages().size(), 2u);
    for (const auto& e : fs::directory_iterator(rig.root))
        EXPECT_TRUE(e.path().filename() == "doc" || e.path().filename() == "served" ||
                    e.path().filename() == "log.txt" || e.path().filename() == "http.port")
            << e.path();
}

TEST_F(Download, AUrlEndingInSlashLogsBothFailuresAndOpensNothing) {
    rig.receiver->openUrl(http->base() + "sub/", 0, false);
    rig.receiver->waitForDownloads();
    const std::string log = rig.log();
    const size_t create = log.find("create file failed: " + rig.recv() + "/");
    const size_t perform = log.find("curl_easy_perform failed: " + http->base() + "sub/, err:23");
    EXPECT_NE(create, std::string::npos) << log;
    EXPECT_NE(perform, std::string::npos) << log;
    EXPECT_LT(create, perform);
    EXPECT_TRUE(rig.opener.paths().empty());
    EXPECT_TRUE(rig.hub.messages().empty());
}

TEST_F(Download, DownloadToFileReportsOnlyRealFiles) {
    const std::string target = rig.root + "/copy.bin";
    EXPECT_TRUE(transfer::downloadToFile(http->base() + "sub/data.bin", target));
    EXPECT_EQ(fs::file_size(target), 300000u);

    // Missing file, local file and refused connection: failures, no file.
    const std::string missing = rig.root + "/missing.bin";
    EXPECT_FALSE(transfer::downloadToFile(http->base() + "nothing.bin", missing));
    EXPECT_FALSE(transfer::downloadToFile("file:///etc/hostname", missing));
    EXPECT_FALSE(transfer::downloadToFile("http://127.0.0.1:1/x", missing));
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_NE(rig.log().find("download " + http->base() + "nothing.bin failed: 22"), std::string::npos);

    // A failed download opens nothing.
    rig.receiver->openUrl(http->base() + "nothing.txt", 0, false);
    rig.receiver->waitForDownloads();
    EXPECT_TRUE(rig.opener.paths().empty());
    EXPECT_FALSE(fs::exists(rig.recv() + "/nothing.txt"));
}

TEST(DownloadPeer, ASilentPeerDoesNotHoldTheThreadForEver) {
    SilentPeer peer(testing_support::uniqueLoopbackAddress(71));
    transfer::DownloadLimits limits;
    limits.lowSpeedSeconds = 1;
    const transfer::DownloadResult result = transfer::fetchToFile(peer.url(), "/nonexistent/never", limits);
    EXPECT_EQ(result.curlCode, 28);  // operation timed out
    EXPECT_FALSE(result.fileCreated);

    // With the default limits the receiver's teardown ends the transfer.
    ReceiverRig rig;
    transfer::FileReceiverDeps deps;
    deps.docDir = [&rig] { return rig.doc; };
    deps.opener = &rig.opener;
    auto receiver = std::make_unique<transfer::FileReceiver>(std::move(deps));
    // A phone sending URL after URL gets a bounded number of threads.
    for (size_t i = 0; i <= transfer::FileReceiver::kMaxDownloads; ++i) receiver->openUrl(peer.url(), 0, false);
    EXPECT_NE(rig.log().find("downloads running"), std::string::npos) << rig.log();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    receiver.reset();
    EXPECT_NE(rig.log().find("curl_easy_perform failed: " + peer.url() + ", err:42"), std::string::npos)
        << rig.log();
    EXPECT_TRUE(rig.opener.paths().empty());
}

}  // namespace
