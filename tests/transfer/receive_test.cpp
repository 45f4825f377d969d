// Files pushed through the session, queries by MD5 and files named by an
// address of this PC.
#include "support/files.h"
#include "support/thread_pool.h"
#include "transfer/safe_path.h"
#include "transfer_fakes.h"
#include "common/loopback.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace transfer_test;

TEST(FileReceive, PushedPiecesLandInOrderAndOpenByExtension) {
    ReceiverRig rig;
    rig.start(1, "notes.txt", 999);
    rig.data(1, "first,");
    rig.data(1, std::string("sec\0nd,", 7));
    rig.data(1, "third");
    rig.file(3, 1);
    EXPECT_EQ(readText(rig.recv() + "/notes.txt"), std::string("first,sec\0nd,third", 18));
    EXPECT_NE(rig.log().find("file len:999, write: 18"), std::string::npos) << rig.log();
    EXPECT_TRUE(rig.opener.paths().empty());
    rig.file(0, 1);
    EXPECT_EQ(rig.opener.paths(), std::vector<std::string>{rig.recv() + "/notes.txt"});

    // Pictures go to the drawing board through the hub, any case of extension.
    rig.start(2, "Photo.JPG");
    rig.data(2, "jpeg bytes");
    rig.file(0, 2);  // open without end: closed first, then opened
    EXPECT_EQ(readText(rig.recv() + "/Photo.JPG"), "jpeg bytes");
    ASSERT_EQ(rig.hub.messages().size(), 1u);
    EXPECT_EQ(rig.hub.messages()[0].first, core::UM_PAINTER);
    EXPECT_EQ(rig.hub.messages()[0].second, rig.recv() + "/Photo.JPG");

    // Presentations go to the slide-show bridge keyed by their MD5.
    rig.start(3, "talk.pptx");
    rig.data(3, "slides");
    rig.file(0, 3);
    std::string md5;
    ASSERT_TRUE(support::getMd5(rig.recv() + "/talk.pptx", md5));
    EXPECT_EQ(rig.slides.calls, (std::vector<std::string>{"open " + rig.recv() + "/talk.pptx",
                                                          "publish " + rig.doc + "/.temp " + md5}));
    EXPECT_TRUE(fs::is_directory(rig.doc + "/.temp"));

    // Impress's own format goes there too.
    rig.start(4, "Lesson.ODP");
    rig.data(4, "odp slides");
    rig.file(0, 4);
    ASSERT_EQ(rig.slides.calls.size(), 4u);
    EXPECT_EQ(rig.slides.calls[2], "open " + rig.recv() + "/Lesson.ODP");
    EXPECT_TRUE(rig.opener.paths().size() == 1u);
}

TEST(FileReceive, RestartsUnknownIdsAndTheControllerLeaving) {
    ReceiverRig rig;
    rig.data(5, "never started");  // unknown id: dropped
    rig.file(3, 5);
    rig.file(0, 5);
    EXPECT_FALSE(fs::exists(rig.recv()));
    EXPECT_TRUE(rig.opener.paths().empty());

    // A second start on an open id closes the first file and starts the new one.
    rig.start(6, "a.txt", 10);
    rig.data(6, "aaa");
    rig.start(6, "b.txt", 20);
    rig.data(6, "bbb");
    EXPECT_EQ(readText(rig.recv() + "/a.txt"), "aaa");
    EXPECT_NE(rig.log().find("file len:10, write: 3"), std::string::npos);
    EXPECT_EQ(rig.receiver->table().written(6), 3u);

    // A huge announced size reserves nothing and does not stop small data.
    rig.start(7, "big.bin", int64_t(1) << 62);
    rig.data(7, "xy");
    rig.file(3, 7);
    EXPECT_EQ(fs::file_size(rig.recv() + "/big.bin"), 2u);

    // The controlling phone leaves: partial files closed, table emptied,
    // later data for the old ids dropped.
    rig.receiver->closeAll();
    EXPECT_EQ(rig.receiver->table().size(), 0u);
    rig.data(6, "late");
    rig.file(0, 6);
    EXPECT_EQ(readText(rig.recv() + "/b.txt"), "bbb");
    EXPECT_TRUE(rig.opener.paths().empty());
}

TEST(FileReceive, ReceivedNamesNeverLeaveTheReceiveFolder) {
    ReceiverRig rig;
    const std::vector<std::pair<std::string, std::string>> reduced = {
        {"../x1", "x1"}, {"/tmp/x2", "x2"}, {"a/b/x3", "x3"}, {"..\\..\\x4", "x4"}};
    int64_t id = 10;
    for (const auto& [given, stored] : reduced) {
        rig.start(id, given);
        rig.data(id, given);
        rig.file(0, id);
        EXPECT_EQ(readText(rig.recv() + "/" + stored), given);
        ++id;
    }
    for (const std::string& refused : std::vector<std::string>{"..", ".", "", "dir/..", std::string("x\0y", 3)}) {
        rig.start(id, refused);
        EXPECT_EQ(rig.receiver->table().written(id), 0u);
        rig.file(0, id);
        ++id;
    }
    EXPECT_EQ(rig.receiver->table().size(), reduced.size());
    EXPECT_EQ(rig.opener.paths().size(), reduced.size());
    // Nothing was created next to the receive folder.
    std::vector<std::string> outside;
    for (const auto& e : fs::directory_iterator(rig.root)) outside.push_back(e.path().filename());
    std::sort(outside.begin(), outside.end());
    EXPECT_EQ(outside, (std::vector<std::string>{"doc", "log.txt"}));

    // A symbolic link planted in the folder is not written through.
    fs::create_symlink(rig.root + "/target", rig.recv() + "/link.txt");
    rig.start(99, "link.txt");
    rig.data(99, "through the link");
    EXPECT_FALSE(fs::exists(rig.root + "/target"));
}

TEST(FileReceive, ResolvedPathsStayInsideTheirFolder) {
    ReceiverRig rig;
    fs::create_directories(rig.doc + "/Recv");
    fs::create_symlink("/etc", rig.doc + "/etc-link");
    const std::string doc = fs::weakly_canonical(rig.doc).string();
    EXPECT_EQ(transfer::resolveInside(rig.doc, "Recv/x.jpg"), doc + "/Recv/x.jpg");
    EXPECT_EQ(transfer::resolveInside(rig.doc, "/Recv/x.jpg"), doc + "/Recv/x.jpg");
    EXPECT_EQ(transfer::resolveInside(rig.doc, "Recv/../Recv/x.jpg"), doc + "/Recv/x.jpg");
    for (const char* outside : {"../x", "Recv/../../x", "etc-link/passwd", "", ".", "Recv/.."})
        EXPECT_EQ(transfer::resolveInside(rig.doc, outside), "") << outside;
    // A sibling folder whose name starts like the document folder is outside.
    fs::create_directories(rig.doc + "2");
    EXPECT_EQ(transfer::resolveInside(rig.doc, "../doc2/x"), "");
}

TEST(FileReceive, OwnAddressUrlsOpenInPlaceInsideTheDocumentFolder) {
    ReceiverRig rig;
    rig.server.bound = testing_support::ipv4("127.0.0.5");
    fs::create_directories(rig.recv());
    rig.receiver->openUrl("http://127.0.0.5:27272/Recv/x.jpg", 3, true);
    ASSERT_EQ(rig.hub.messages().size(), 1u);
    EXPECT_EQ(rig.hub.messages()[0].second, fs::weakly_canonical(rig.recv()).string() + "/x.jpg");
    EXPECT_EQ(rig.board->anime, std::vector<int>{3});

    // 127.0.0.5 inside 127.0.0.50 is not the address; the real one follows.
    rig.receiver->openUrl("http://127.0.0.50.example/127.0.0.5:27272/Recv/y.txt", 0, true);
    ASSERT_EQ(rig.opener.paths().size(), 1u);
    EXPECT_EQ(rig.opener.paths()[0], fs::weakly_canonical(rig.recv()).string() + "/y.txt");

    for (const char* url : {"http://127.0.0.5:27272/../../etc/passwd.txt",
                            "http://127.0.0.5:27272/Recv/../../x.txt", "http://127.0.0.5"}) {
        rig.receiver->openUrl(url, 1, true);
        EXPECT_EQ(rig.opener.paths().size(), 1u) << url;
    }
    EXPECT_EQ(rig.board->anime, (std::vector<int>{3, 0}));  // refused URLs set no effect
    EXPECT_NE(rig.log().find("outside the document folder"), std::string::npos);
}

TEST(FileReceive, QueryOpensAMatchingCopyOrAnswersWithActionMinusOne) {
    ReceiverRig rig;
    fs::create_directories(rig.recv());
    writeText(rig.recv() + "/pic.png", "picture");
    std::string md5;
    ASSERT_TRUE(support::getMd5(rig.recv() + "/pic.png", md5));
    std::string upper = md5;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    auto query = [&](const Json::Value& extra) {
        Json::Value m = extra;
        m["fileName"] = "pic.png";
        m["anim"] = 2;
        rig.file(4, 42, m);
    };
    Json::Value m(Json::objectValue);
    m["md5"] = md5;
    query(m);
    m["md5"] = upper;
    query(m);
    EXPECT_EQ(rig.hub.messages().size(), 2u);
    EXPECT_TRUE(rig.server.messages().empty());

    m["md5"] = "0123456789abcdef0123456789abcdef";
    query(m);
    query(Json::Value(Json::objectValue));  // no md5
    const auto sent = rig.server.messages();
    ASSERT_EQ(sent.size(), 2u);
    for (const auto& s : sent) {
        EXPECT_EQ(s.className, "com.quorvel.qm.msg.MsgFile");
        EXPECT_EQ(s.target, -1);
        EXPECT_EQ(s.message["action"].asInt(), -1);
        EXPECT_EQ(s.message["fileId"].asInt64(), 42);
        EXPECT_EQ(s.message["fileName"].asString(), "pic.png");
        EXPECT_EQ(s.message["anim"].asInt(), 2);
    }
    EXPECT_EQ(sent[0].message["md5"].asString(), "0123456789abcdef0123456789abcdef");
    EXPECT_FALSE(sent[1].message.isMember("md5"));
    EXPECT_EQ(rig.hub.messages().size(), 2u);

    // A query naming a path outside the folder is only answered.
    writeText(rig.root + "/secret.png", "picture");
    Json::Value escape(Json::objectValue);
    escape["md5"] = md5;
    escape["fileName"] = "../../secret.png";
    rig.file(4, 43, escape);
    EXPECT_EQ(rig.server.messages().size(), 3u);
}

TEST(FileReceive, WorkOnThePoolDoesNotOutliveTheReceiver) {
    support::ThreadPool pool(2);
    ReceiverRig rig;
    transfer::FileReceiverDeps deps;
    deps.server = &rig.server;
    deps.threadPool = &pool;
    deps.docDir = [&rig] { return rig.doc; };
    deps.opener = &rig.opener;
    auto receiver = std::make_unique<transfer::FileReceiver>(std::move(deps));
    Json::Value start(Json::objectValue);
    start["fileName"] = "n.txt";
    start["fileId"] = 1;
    receiver->fileMessage(1, 1, start, nullptr, 0);
    Json::Value open(Json::objectValue);
    open["fileId"] = 1;
    for (int i = 0; i < 50; ++i) receiver->fileMessage(1, 0, open, nullptr, 0);
    receiver.reset();  // queued opens must not run on a freed receiver
    const size_t seen = rig.opener.paths().size();
    pool.shutdown();
    EXPECT_EQ(rig.opener.paths().size(), seen);
    EXPECT_LE(seen, 50u);
}

// The disk takes no more: the file is abandoned at once instead of the write
// being retried under the table lock, and it is not opened afterwards.
TEST(FileReceive, AWriteWithoutProgressAbandonsTheFile) {
    ReceiverRig rig;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A file size limit makes write() fail with EFBIG like a full disk.
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        rig.start(1, "full.txt");
        rig.data(1, std::string(3000, 'a'));
        rig.data(1, std::string(3000, 'b'));  // passes the limit
        rig.data(1, "more");
        rig.file(0, 1);
        const bool ok = rig.opener.paths().empty() && !fs::exists(rig.recv() + "/full.txt") &&
                        rig.receiver->table().written(1) == 0;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(rig.log().find("file abandoned"), std::string::npos) << rig.log();
}

}  // namespace
