// Phone-to-PC file transfer through the session: a reference phone client
// sends MsgFile start, 256 KiB data frames and end to a real SessionServer
// whose handler hands them to the file receiver, which writes each tail
// straight from the receive buffer into a file in Recv. Reference: the same
// bytes over a plain loopback TCP connection, received into a 256 KiB buffer
// and written to a file. A run ends when the file is closed.
// Runs interleave (reference, ours, ours with the data frame encoded once up
// front) three times; medians are reported.
//
//   bench_transfer [--full] [--folder DIR]
//
// Default 256 MiB per run; --full moves 1 GiB. Files go to DIR (default
// /var/tmp) and are removed after each run.
#include "bench_common.h"
#include "bench_phone.h"
#include "net/frame_codec.h"
#include "net/session_server.h"
#include "platform/fakes/fake_network_adapters.h"
#include "protocol/message_names.h"
#include "support/logger.h"
#include "transfer/file_receiver.h"

#include <atomic>
#include <condition_variable>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <thread>

namespace {

constexpr char kAddress[] = "127.3.0.7";
constexpr uint16_t kPort = 40917;
constexpr size_t kTail = 256 * 1024;
constexpr int kRepeats = 3;

transfer::FileReceiver* gReceiver = nullptr;
std::mutex gMutex;
std::condition_variable gChanged;
int gReady = 0;
int64_t gEnded = -1;  // fileId of the last end message handled

int onEvent(int socket, const sockaddr_in*, const std::string& className, const Json::Value& message,
            const uint8_t* data, size_t length, int event, void*) {
    if (event == net::kClientReady) {
        std::lock_guard lock(gMutex);
        ++gReady;
        gChanged.notify_all();
    } else if (event == net::kMessage && className == protocol::MsgFile) {
        const int action = message["action"].asInt();
        gReceiver->fileMessage(socket, action, message, data, length);
        if (action == 3) {
            std::lock_guard lock(gMutex);
            gEnded = message["fileId"].asInt64();
            gChanged.notify_all();
        }
    }
    return 0;
}

// `preencoded`: send one data frame encoded up front again and again, so the
// figure shows the PC's receive path without the phone's per-frame encoding.
bench::Timing runOurs(phone::PhoneClient& phone, const std::vector<uint8_t>& tail, uint64_t frames,
                      int64_t fileId, bool preencoded = false) {
    Json::Value start(Json::objectValue);
    start["action"] = 1;
    start["fileId"] = Json::Int64(fileId);
    start["fileName"] = "bench-" + std::to_string(fileId) + ".bin";
    start["fileSize"] = Json::Int64(frames * tail.size());
    Json::Value data(Json::objectValue);
    data["action"] = 2;
    data["fileId"] = Json::Int64(fileId);
    Json::Value end(Json::objectValue);
    end["action"] = 3;
    end["fileId"] = Json::Int64(fileId);

    const net::Frame frame = net::encodeFrame(protocol::MsgFile, data, tail.data(), tail.size());

    const bench::RunTimer timer;
    bool ok = phone.sendMessage(protocol::MsgFile, start);
    for (uint64_t i = 0; ok && i < frames; ++i)
        ok = preencoded ? phone.sendRaw(frame->data(), frame->size())
                        : phone.sendMessage(protocol::MsgFile, data, tail);
    ok = ok && phone.sendMessage(protocol::MsgFile, end);
    if (!ok) bench::fail("phone send: %s", phone.lastError().c_str());
    std::unique_lock lock(gMutex);
    if (!gChanged.wait_for(lock, std::chrono::seconds(bench::kStallSeconds * 4), [&] { return gEnded == fileId; }))
        bench::fail("the receiver did not finish file %lld", (long long)fileId);
    return timer.stop();
}

bool writeFile(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= size_t(n);
    }
    return true;
}

// The plain copy: TCP loopback into a buffer, the buffer into a file.
bench::Timing runRaw(const std::vector<uint8_t>& chunk, uint64_t chunks, const std::string& path) {
    bench::Listener listener(kAddress);
    std::atomic<uint64_t> stored{0};
    const bench::RunTimer timer;
    std::thread reader([&] {
        const int s = listener.accept();
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        std::vector<uint8_t> buffer(chunk.size());
        uint64_t total = 0;
        for (;;) {
            const ssize_t n = ::recv(s, buffer.data(), buffer.size(), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            if (!writeFile(fd, buffer.data(), size_t(n))) break;
            total += uint64_t(n);
        }
        ::close(fd);
        ::close(s);
        stored.store(total);
    });
    const int s = bench::connectTo(kAddress, listener.port());
    bench::setNoDelay(s);
    for (uint64_t i = 0; i < chunks; ++i)
        if (!bench::writeAll(s, chunk.data(), chunk.size())) bench::fail("send: %s", std::strerror(errno));
    ::shutdown(s, SHUT_WR);
    reader.join();
    const bench::Timing timing = timer.stop();
    ::close(s);
    if (stored.load() != chunks * chunk.size()) bench::fail("plain copy stored %llu bytes", (unsigned long long)stored.load());
    return timing;
}

}  // namespace

int main(int argc, char** argv) {
    const bool full = bench::hasFlag(argc, argv, "--full");
    std::string folder = "/var/tmp";
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string_view(argv[i]) == "--folder") folder = argv[i + 1];
    const uint64_t frames = full ? 4096 : 1024;  // 1 GiB or 256 MiB of tails
    const std::string doc = folder + "/lumacro3-bench-transfer-" + std::to_string(::getpid());
    std::filesystem::create_directories(doc + "/Recv");
    support::setLogger(std::make_unique<support::Logger>("", false));

    transfer::FileReceiverDeps deps;
    deps.docDir = [doc] { return doc; };
    transfer::FileReceiver receiver(std::move(deps));
    gReceiver = &receiver;

    bench::BenchServer rig(kAddress, kPort, onEvent, nullptr);
    net::SessionServer& server = rig.server;
    phone::PhoneClient phone;
    bench::connectWatchingPhone(phone, kAddress, kPort, "bench-transfer");
    {
        std::unique_lock lock(gMutex);
        if (!gChanged.wait_for(lock, std::chrono::seconds(3), [] { return gReady > 0; }))
            bench::fail("the server did not report the phone ready");
    }

    std::vector<uint8_t> tail(kTail);
    for (size_t i = 0; i < tail.size(); ++i) tail[i] = uint8_t(i * 31 + 1);
    const double bytes = double(frames * kTail);
    std::printf("transfer: %llu MiB per run in %zu-byte frames into %s, %d runs each, loopback %s\n",
                (unsigned long long)(frames * kTail >> 20), kTail, doc.c_str(), kRepeats, kAddress);

    // Warm-up: socket buffers and the page cache of the folder.
    runOurs(phone, tail, frames / 8, 1);
    std::filesystem::remove(doc + "/Recv/bench-1.bin");

    std::vector<bench::Timing> raw, ours, pre;
    for (int r = 0; r < kRepeats; ++r) {
        const std::string rawPath = doc + "/raw.bin";
        raw.push_back(runRaw(tail, frames, rawPath));
        std::filesystem::remove(rawPath);
        const int64_t id = 10 + r;
        ours.push_back(runOurs(phone, tail, frames, id));
        const std::string path = doc + "/Recv/bench-" + std::to_string(id) + ".bin";
        if (std::filesystem::file_size(path) != frames * kTail) bench::fail("received file has the wrong size");
        std::filesystem::remove(path);
        pre.push_back(runOurs(phone, tail, frames, 20 + r, true));
        std::filesystem::remove(doc + "/Recv/bench-" + std::to_string(20 + r) + ".bin");
        std::printf("  run %d: raw copy %.1f MB/s, MsgFile %.1f MB/s, pre-encoded MsgFile %.1f MB/s\n", r + 1,
                    bench::megabytesPerSecond(bytes, raw.back().seconds),
                    bench::megabytesPerSecond(bytes, ours.back().seconds),
                    bench::megabytesPerSecond(bytes, pre.back().seconds));
    }
    const double rawMbs = bench::megabytesPerSecond(bytes, bench::medianSeconds(raw));
    const double oursMbs = bench::megabytesPerSecond(bytes, bench::medianSeconds(ours));
    const double preMbs = bench::megabytesPerSecond(bytes, bench::medianSeconds(pre));
    std::printf("RESULT transfer: raw copy %.1f MB/s; MsgFile %.1f MB/s, ratio %.3f; pre-encoded MsgFile "
                "%.1f MB/s, ratio %.3f (goal at least 0.7)\n",
                rawMbs, oursMbs, oursMbs / rawMbs, preMbs, preMbs / rawMbs);
    std::printf("CPU s per GB (both ends): raw %.3f, MsgFile %.3f, pre-encoded %.3f\n",
                bench::medianCpu(raw) / (bytes / 1e9), bench::medianCpu(ours) / (bytes / 1e9),
                bench::medianCpu(pre) / (bytes / 1e9));

    phone.close();
    server.shutdown();
    gReceiver = nullptr;
    std::filesystem::remove_all(doc);
    return 0;
}
