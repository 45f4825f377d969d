// PC-to-phones broadcast: 20 phones connected and identified (not admin), the
// server sends N frames with a 1 MiB tail to all of them with send(..., -1),
// one reader thread per phone counts what arrives. Reports the aggregate
// delivered throughput and checks that each broadcast frame was encoded once.
// Reference: the same bytes written by one thread to 20 plain loopback TCP
// sockets, each read by its own reader thread.
//
// The sender keeps at most kWindow frames ahead of the slowest phone, so no
// session gets near the server's 64 MiB send-queue bound.
//
// Rows:
//   raw          the plain TCP reference
//   server       readers take frames straight off the phone's socket and
//                decode each with decodeFrameBody (what a phone does)
//   server+tool  readers use PhoneClient::readFrame (the reference client,
//                which also copies each tail into the returned message)
//
//   bench_broadcast [--quick] [--only raw|server|tool]
//
// --only runs one row alone, three times (for a profiler); no ratio is printed.
#include "bench_common.h"
#include "bench_phone.h"
#include "net/frame_codec.h"
#include "net/session_server.h"
#include "phone/phone_client.h"
#include "platform/fakes/fake_network_adapters.h"
#include "protocol/message_names.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {

constexpr char kAddress[] = "127.3.0.2";
constexpr uint16_t kPort = 40912;
constexpr int kPhones = 20;
constexpr size_t kTail = 1024 * 1024;
constexpr uint64_t kWindow = 16;
constexpr char kClass[] = "com.quorvel.qm.msg.MsgLiveData";
constexpr int kRepeats = 3;

struct ServerEvents {
    std::mutex mutex;
    std::condition_variable changed;
    int ready = 0;
    int gone = 0;
};
ServerEvents events;

int onEvent(int, const sockaddr_in*, const std::string&, const Json::Value&, const uint8_t*, size_t,
            int event, void*) {
    std::lock_guard<std::mutex> lock(events.mutex);
    if (event == net::kClientReady) ++events.ready;
    if (event == net::kClientGone) ++events.gone;
    events.changed.notify_all();
    return 0;
}

// Progress of the reader threads of one run.
struct Progress {
    explicit Progress(int readers) : frames(size_t(readers)) {}
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint64_t> frames;  // frames (or frame-sized byte blocks) per reader
    bool failed = false;
    std::string failure;

    void advance(int reader) {
        std::lock_guard<std::mutex> lock(mutex);
        ++frames[size_t(reader)];
        changed.notify_all();
    }
    void fail(std::string why) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!failed) failure = std::move(why);
        failed = true;
        changed.notify_all();
    }
    uint64_t slowestLocked() const { return *std::min_element(frames.begin(), frames.end()); }
    // Waits until every reader has at least `n` frames; false on a failure or a stall.
    bool waitAll(uint64_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(bench::kStallSeconds),
                                [&] { return failed || slowestLocked() >= n; }) &&
               !failed;
    }
};

// Checks one received message of the broadcast; empty when it is the expected one.
std::string checkMessage(const std::string& className, const Json::Value& message, const uint8_t* data,
                         size_t length, uint64_t expectedSeq) {
    if (className != kClass) return "unexpected class " + className;
    if (message["seq"].asUInt64() != expectedSeq)
        return "frame " + std::to_string(message["seq"].asUInt64()) + " where " +
               std::to_string(expectedSeq) + " was due";
    if (length != kTail || data[0] != uint8_t(expectedSeq) || data[length - 1] != uint8_t(expectedSeq + 1))
        return "tail of frame " + std::to_string(expectedSeq) + " damaged";
    return {};
}

// Reads frames straight from the socket the way a phone does: length, body,
// decode; keep-alives are skipped.
void leanReader(int socket, int index, uint64_t frames, Progress& progress) {
    std::vector<uint8_t> body(kTail + 4096);
    for (uint64_t seq = 0; seq < frames;) {
        uint8_t lengthBytes[4];
        if (!bench::readAll(socket, lengthBytes, 4)) return progress.fail("phone socket closed or stalled");
        const uint32_t totalLength = net::readLE32(lengthBytes);
        if (totalLength == 0) continue;
        if (!net::isValidTotalLength(totalLength)) return progress.fail("invalid totalLength");
        if (totalLength > body.size()) body.resize(totalLength);
        if (!bench::readAll(socket, body.data(), totalLength))
            return progress.fail("phone socket closed or stalled");
        net::DecodedMessage decoded;
        if (net::decodeFrameBody(body.data(), totalLength, decoded) != net::DecodeResult::Ok)
            return progress.fail("undecodable frame");
        std::string problem = checkMessage(decoded.className, decoded.message, decoded.data,
                                           decoded.dataLength, seq);
        if (!problem.empty()) return progress.fail(problem);
        ++seq;
        progress.advance(index);
    }
}

void toolReader(phone::PhoneClient& phone, int index, uint64_t frames, Progress& progress) {
    phone::ReceivedFrame frame;
    for (uint64_t seq = 0; seq < frames; ++seq) {
        const phone::ReadResult r = phone.readFrame(frame, bench::kStallSeconds * 1000);
        if (r != phone::ReadResult::Frame)
            return progress.fail(std::string("readFrame: ") + phone::toString(r));
        std::string problem = checkMessage(frame.className, frame.message, frame.data.data(),
                                           frame.data.size(), seq);
        if (!problem.empty()) return progress.fail(problem);
        progress.advance(index);
    }
}

struct ServerRun {
    bench::Timing timing;
    uint64_t encoded = 0;  // growth of encodedFrameCount() during the run
};

ServerRun runServer(net::SessionServer& server, std::vector<std::unique_ptr<phone::PhoneClient>>& phones,
                    uint64_t frames, bool useTool) {
    Progress progress(kPhones);
    std::vector<std::thread> readers;
    for (int i = 0; i < kPhones; ++i) {
        phone::PhoneClient& phone = *phones[size_t(i)];
        readers.emplace_back([&phone, i, frames, useTool, &progress] {
            if (useTool)
                toolReader(phone, i, frames, progress);
            else
                leanReader(phone.socket(), i, frames, progress);
        });
    }
    std::vector<uint8_t> tail(kTail, 0);
    const uint64_t encodedBefore = net::encodedFrameCount();
    const bench::RunTimer timer;
    for (uint64_t seq = 0; seq < frames; ++seq) {
        if (seq >= kWindow && !progress.waitAll(seq - kWindow + 1)) break;
        tail.front() = uint8_t(seq);
        tail.back() = uint8_t(seq + 1);
        Json::Value message(Json::objectValue);
        message["seq"] = Json::Value::UInt64(seq);
        server.send(kClass, message, tail.data(), tail.size(), -1);
    }
    const bool complete = progress.waitAll(frames);
    ServerRun run;
    run.timing = timer.stop();
    run.encoded = net::encodedFrameCount() - encodedBefore;
    if (!complete) {
        // Unblock readers that still wait on their sockets before joining them.
        for (auto& phone : phones) ::shutdown(phone->socket(), SHUT_RDWR);
    }
    for (auto& t : readers) t.join();
    if (!complete)
        bench::fail("broadcast run did not complete: %s",
                    progress.failed ? progress.failure.c_str() : "a reader stalled");
    return run;
}

// One writer thread, 20 plain connections, one reader per connection. The
// connections are fresh per run, so `warmFrames` go through untimed first and
// TCP has grown their buffers as it has on the phones' long-lived sessions.
bench::Timing runRaw(uint64_t frames, uint64_t warmFrames, const std::vector<uint8_t>& frameBytes) {
    bench::Listener listener(kAddress);
    std::vector<int> readSockets, writeSockets;
    for (int i = 0; i < kPhones; ++i) {
        readSockets.push_back(bench::connectTo(kAddress, listener.port()));
        writeSockets.push_back(listener.accept());
        bench::setNoDelay(writeSockets.back());  // as the server's sessions do
    }
    const uint64_t allFrames = warmFrames + frames;
    const uint64_t perReader = allFrames * frameBytes.size();
    Progress progress(kPhones);
    std::vector<std::thread> readers;
    for (int i = 0; i < kPhones; ++i) {
        readers.emplace_back([&, i] {
            std::vector<uint8_t> buffer(frameBytes.size());
            uint64_t total = 0;
            uint64_t reported = 0;
            while (total < perReader) {
                ssize_t n = ::recv(readSockets[size_t(i)], buffer.data(), buffer.size(), 0);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) return progress.fail("raw socket closed or stalled");
                total += uint64_t(n);
                for (; reported < total / frameBytes.size(); ++reported) progress.advance(i);
            }
        });
    }
    auto writeFrames = [&](uint64_t count) {
        for (uint64_t f = 0; f < count; ++f)
            for (int s : writeSockets)
                if (!bench::writeAll(s, frameBytes.data(), frameBytes.size())) return false;
        return true;
    };
    bool complete = writeFrames(warmFrames) && progress.waitAll(warmFrames);
    const bench::RunTimer timer;
    complete = complete && writeFrames(frames) && progress.waitAll(allFrames);
    const bench::Timing timing = timer.stop();
    if (!complete)
        for (int s : readSockets) ::shutdown(s, SHUT_RDWR);
    for (auto& t : readers) t.join();
    for (int s : readSockets) ::close(s);
    for (int s : writeSockets) ::close(s);
    if (!complete) bench::fail("raw broadcast did not complete: %s", progress.failure.c_str());
    return timing;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = bench::hasFlag(argc, argv, "--quick");
    const uint64_t frames = quick ? 32 : 96;
    std::string only;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string_view(argv[i]) == "--only") only = argv[i + 1];
    if (!only.empty() && only != "raw" && only != "server" && only != "tool")
        bench::fail("--only takes raw, server or tool");

    bench::BenchServer rig(kAddress, kPort, onEvent, nullptr);
    net::SessionServer& server = rig.server;

    std::vector<std::unique_ptr<phone::PhoneClient>> phones;
    for (int i = 0; i < kPhones; ++i) {
        auto phone = std::make_unique<phone::PhoneClient>();
        bench::connectWatchingPhone(*phone, kAddress, kPort, "bench-phone-" + std::to_string(i));
        phones.push_back(std::move(phone));
    }
    {
        std::unique_lock<std::mutex> lock(events.mutex);
        if (!events.changed.wait_for(lock, std::chrono::seconds(5), [] { return events.ready == kPhones; }))
            bench::fail("only %d of %d phones were reported ready", events.ready, kPhones);
    }
    // Stall timeouts for the lean readers, which use the phones' sockets directly.
    for (auto& phone : phones) bench::setStallTimeouts(phone->socket());

    Json::Value sample(Json::objectValue);
    sample["seq"] = Json::Value::UInt64(0);
    std::vector<uint8_t> tail(kTail, 0);
    const std::vector<uint8_t> frameBytes = *net::encodeFrame(kClass, sample, tail.data(), tail.size());
    const double deliveredPerRun = double(frames) * double(frameBytes.size()) * kPhones;

    std::printf("broadcast: %d phones, %llu frames of %zu bytes each (%.0f MB delivered per run), "
                "window %llu frames, loopback %s\n",
                kPhones, (unsigned long long)frames, frameBytes.size(), deliveredPerRun / 1e6,
                (unsigned long long)kWindow, kAddress);

    const uint64_t warmFrames = std::max<uint64_t>(frames / 4, 8);
    runServer(server, phones, warmFrames, false);  // warm-up of the sessions

    if (!only.empty()) {
        std::vector<bench::Timing> runs;
        for (int r = 0; r < kRepeats; ++r)
            runs.push_back(only == "raw" ? runRaw(frames, warmFrames, frameBytes)
                                         : runServer(server, phones, frames, only == "tool").timing);
        std::printf("RESULT broadcast %s alone: %.1f MB/s, %.3f CPU s per GB (median of %d)\n", only.c_str(),
                    bench::megabytesPerSecond(deliveredPerRun, bench::medianSeconds(runs)),
                    bench::medianCpu(runs) / (deliveredPerRun / 1e9), kRepeats);
        for (auto& phone : phones) phone->close();
        server.shutdown();
        return 0;
    }

    const double gb = deliveredPerRun / 1e9;
    std::vector<bench::Timing> raw, lean;
    bool encodedOnce = true;
    for (int r = 0; r < kRepeats; ++r) {
        raw.push_back(runRaw(frames, warmFrames, frameBytes));
        const ServerRun run = runServer(server, phones, frames, false);
        lean.push_back(run.timing);
        encodedOnce = encodedOnce && run.encoded == frames;
        std::printf("  run %d: raw %.1f MB/s (%.2f CPU s/GB), server %.1f MB/s (%.2f), "
                    "encoded %llu frames for %llu broadcasts\n",
                    r + 1, bench::megabytesPerSecond(deliveredPerRun, raw.back().seconds), raw.back().cpu / gb,
                    bench::megabytesPerSecond(deliveredPerRun, run.timing.seconds), run.timing.cpu / gb,
                    (unsigned long long)run.encoded, (unsigned long long)frames);
    }
    const ServerRun toolRun = runServer(server, phones, frames, true);
    encodedOnce = encodedOnce && toolRun.encoded == frames;

    const double perBroadcast = double(frameBytes.size()) * kPhones;  // bytes delivered per broadcast
    struct Row {
        const char* name;
        double mbs, cpuPerGb;
    };
    const Row rows[] = {
        {"raw TCP, 1 writer, 20 readers (median)", bench::megabytesPerSecond(deliveredPerRun, bench::medianSeconds(raw)),
         bench::medianCpu(raw) / gb},
        {"server -> 20 phones, lean (median)", bench::megabytesPerSecond(deliveredPerRun, bench::medianSeconds(lean)),
         bench::medianCpu(lean) / gb},
        {"server -> 20 PhoneClient::readFrame", bench::megabytesPerSecond(deliveredPerRun, toolRun.timing.seconds),
         toolRun.timing.cpu / gb},
    };
    const Row& ref = rows[0];
    std::printf("\n%-40s %9s %13s %13s %7s %12s %9s\n", "path", "MB/s", "broadcasts/s", "frames recv/s",
                "ratio", "CPU s per GB", "CPU ratio");
    for (const Row& r : rows)
        std::printf("%-40s %9.1f %13.1f %13.1f %7.3f %12.3f %9.3f\n", r.name, r.mbs, r.mbs * 1e6 / perBroadcast,
                    r.mbs * 1e6 / perBroadcast * kPhones, r.mbs / ref.mbs, r.cpuPerGb, ref.cpuPerGb / r.cpuPerGb);
    std::printf("(MB/s: bytes delivered to all readers together; CPU ratio: reference CPU per byte / this "
                "path's, all threads counted)\n");
    const double leanRatio = rows[1].mbs / ref.mbs;
    const double toolRatio = rows[2].mbs / ref.mbs;

    int gone = 0;
    {
        std::lock_guard<std::mutex> lock(events.mutex);
        gone = events.gone;
    }
    const size_t sessions = server.sessionCount();
    std::printf("encodedFrameCount grew by exactly the number of broadcasts in every run: %s\n",
                encodedOnce ? "yes (each frame encoded once for 20 phones)" : "NO");
    std::printf("sessions after the runs: %zu of %d, sessions closed by the server: %d "
                "(every phone received every frame, so no session hit its send-queue bound)\n",
                sessions, kPhones, gone);

    for (auto& phone : phones) phone->close();
    server.shutdown();
    std::printf("RESULT broadcast/raw throughput ratio: %.3f (lean readers), %.3f (PhoneClient readers); "
                "encoded once: %s; sessions closed: %d\n",
                leanRatio, toolRatio, encodedOnce ? "yes" : "no", gone);
    return encodedOnce && gone == 0 && sessions == size_t(kPhones) ? 0 : 1;
}
