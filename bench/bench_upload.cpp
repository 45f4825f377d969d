// Phone-to-PC throughput: 256 KiB MsgFile frames from a reference phone client
// over loopback into a real SessionServer, whose handler counts the bytes and
// reads a few of each tail. Reference: the same number of bytes over a plain
// loopback TCP connection (256 KiB writes, reads into a 256 KiB buffer).
// Plain connections are fresh per run and warmed up before the timed part.
//
// Three kinds of run, interleaved, each three times (median reported):
//   raw        the plain TCP copy
//   phone      PhoneClient::sendMessage per frame (encodes, then sends)
//   preencoded one frame encoded up front and sent again and again with
//              sendRaw: the PC's receive path alone, without the phone's
//              per-frame encoding
//
//   bench_upload [--quick] [--only raw|phone|preencoded|exact|reader] [--breakdown]
//
// --only runs one kind alone (for a profiler; exact and reader are stages 2
// and 3 below); the ratio line is then left out.
// --breakdown adds runs that take the server's receive path apart: the same
// pre-encoded frames over a plain connection, read (1) with blocking recv()
// into a buffer, (2) with socketReadExactly (poll, then non-blocking recv; the
// 4-byte length and the body read separately), (3) with FrameReader (2 plus
// decodeFrameBody), next to (4) the session server.
#include "bench_common.h"
#include "bench_phone.h"
#include "net/frame_codec.h"
#include "net/frame_reader.h"
#include "net/session_server.h"
#include "net/socket_io.h"
#include "phone/phone_client.h"
#include "platform/fakes/fake_network_adapters.h"
#include "protocol/message_names.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

constexpr char kAddress[] = "127.3.0.1";
constexpr uint16_t kPort = 40911;
constexpr size_t kTail = 256 * 1024;
constexpr int kRepeats = 3;

// What the server's handler saw.
struct Counters {
    std::mutex mutex;
    std::condition_variable changed;
    uint64_t frames = 0;
    uint64_t bytes = 0;
    uint64_t checksum = 0;
    int ready = 0;

    void reset() {
        std::lock_guard<std::mutex> lock(mutex);
        frames = bytes = checksum = 0;
    }
    bool waitFrames(uint64_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(bench::kStallSeconds),
                                [&] { return frames >= n; });
    }
};

Counters counters;

int onEvent(int, const sockaddr_in*, const std::string& className, const Json::Value&,
            const uint8_t* data, size_t length, int event, void*) {
    std::lock_guard<std::mutex> lock(counters.mutex);
    if (event == net::kClientReady) {
        ++counters.ready;
    } else if (event == net::kMessage && className == protocol::MsgFile) {
        // A handler that stores the tail touches all of it; sampling a few
        // bytes keeps the handler's own cost out of the figure.
        uint64_t sum = 0;
        if (length > 0) sum = data[0] + data[length / 2] + data[length - 1];
        counters.checksum += sum;
        counters.bytes += length;
        ++counters.frames;
    } else {
        return 0;
    }
    counters.changed.notify_all();
    return 0;
}

Json::Value fileMessage() {
    Json::Value m(Json::objectValue);
    m["action"] = 2;
    m["fileId"] = 1;
    return m;
}

// Moves `frames` frames through the session server.
bench::Timing runPhone(phone::PhoneClient& phone, const std::vector<uint8_t>& tail, uint64_t frames,
                const net::Frame* preencoded) {
    counters.reset();
    const Json::Value message = fileMessage();
    const bench::RunTimer timer;
    for (uint64_t i = 0; i < frames; ++i) {
        const bool sent = preencoded ? phone.sendRaw((*preencoded)->data(), (*preencoded)->size())
                                     : phone.sendMessage(protocol::MsgFile, message, tail);
        if (!sent) bench::fail("phone send: %s", phone.lastError().c_str());
    }
    if (!counters.waitFrames(frames)) bench::fail("the server's handler stopped receiving");
    const bench::Timing timing = timer.stop();
    std::lock_guard<std::mutex> lock(counters.mutex);
    if (counters.frames != frames || counters.bytes != frames * kTail)
        bench::fail("handler counted %llu frames / %llu bytes, expected %llu / %llu",
                    (unsigned long long)counters.frames, (unsigned long long)counters.bytes,
                    (unsigned long long)frames, (unsigned long long)(frames * kTail));
    return timing;
}

enum class Receiver {
    Plain,        // blocking recv() into a buffer, bytes counted
    ExactReads,   // socketReadExactly: the 4-byte length, then the body
    FrameReader,  // the session's FrameReader: exact reads and decodeFrameBody
};

// Sends `unit` warmUnits + units times over a fresh plain loopback connection
// and receives it with `kind` (frame-aware kinds need `unit` to be one frame).
// Only the last `units` are timed: the warm-up lets TCP grow both ends' buffers
// as it has on the phone's long-lived session, so that a fresh connection is
// not compared with a warmed one.
bench::Timing plainTransfer(Receiver kind, const std::vector<uint8_t>& unit, uint64_t units,
                            uint64_t warmUnits) {
    bench::Listener listener(kAddress);
    std::atomic<uint64_t> receivedUnits{0};
    std::atomic<bool> warmedUp{false};
    const uint64_t allUnits = warmUnits + units;
    std::thread reader([&] {
        int s = listener.accept();
        uint64_t count = 0;
        if (kind == Receiver::Plain) {
            std::vector<uint8_t> buffer(unit.size());
            const uint64_t warmBytes = warmUnits * unit.size();
            const uint64_t allBytes = allUnits * unit.size();
            uint64_t total = 0;
            while (total < allBytes) {
                ssize_t n = ::recv(s, buffer.data(), buffer.size(), 0);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                total += uint64_t(n);
                if (total >= warmBytes) warmedUp.store(true);
            }
            count = total / unit.size();
        } else {
            net::setNonBlocking(s);  // as the server's accepted sockets are
            net::setNoDelay(s);
            net::SocketByteSource source(s);
            net::FrameReader frameReader(source, kAddress);
            net::DecodedMessage decoded;
            std::vector<uint8_t> body(unit.size());
            int error = 0;
            for (; count < allUnits; ++count) {
                if (count == warmUnits) warmedUp.store(true);
                if (kind == Receiver::ExactReads) {
                    uint8_t lengthBytes[4];
                    if (net::socketReadExactly(s, lengthBytes, 4, error) != 4) break;
                    const uint32_t totalLength = net::readLE32(lengthBytes);
                    if (totalLength > body.size() ||
                        net::socketReadExactly(s, body.data(), totalLength, error) != long(totalLength))
                        break;
                } else if (frameReader.next(decoded) != net::ReadStatus::Message ||
                           decoded.dataLength != kTail) {
                    break;
                }
            }
        }
        receivedUnits.store(count);
        ::close(s);
    });
    int s = bench::connectTo(kAddress, listener.port());
    bench::setNoDelay(s);  // as the phone client does
    for (uint64_t i = 0; i < warmUnits; ++i)
        if (!bench::writeAll(s, unit.data(), unit.size())) bench::fail("send: %s", std::strerror(errno));
    const auto giveUp = bench::Clock::now() + std::chrono::seconds(bench::kStallSeconds);
    while (!warmedUp.load() && bench::Clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    const bench::RunTimer timer;
    for (uint64_t i = 0; i < units; ++i)
        if (!bench::writeAll(s, unit.data(), unit.size())) bench::fail("send: %s", std::strerror(errno));
    reader.join();
    const bench::Timing timing = timer.stop();
    ::close(s);
    if (receivedUnits.load() != allUnits)
        bench::fail("plain receiver got %llu of %llu units", (unsigned long long)receivedUnits.load(),
                    (unsigned long long)allUnits);
    return timing;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = bench::hasFlag(argc, argv, "--quick");
    const bool breakdown = bench::hasFlag(argc, argv, "--breakdown");
    std::string only;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string_view(argv[i]) == "--only") only = argv[i + 1];
    if (!only.empty() && only != "raw" && only != "phone" && only != "preencoded" && only != "exact" &&
        only != "reader")
        bench::fail("--only takes raw, phone, preencoded, exact or reader");
    const uint64_t frames = quick ? 512 : 4096;  // 128 MiB or 1 GiB of tails per run

    bench::BenchServer rig(kAddress, kPort, onEvent, nullptr);
    net::SessionServer& server = rig.server;

    phone::PhoneClient phone;
    bench::connectWatchingPhone(phone, kAddress, kPort, "bench-upload");
    {
        std::unique_lock<std::mutex> lock(counters.mutex);
        if (!counters.changed.wait_for(lock, std::chrono::seconds(3), [] { return counters.ready > 0; }))
            bench::fail("the server did not report the phone ready");
    }

    std::vector<uint8_t> tail(kTail);
    for (size_t i = 0; i < tail.size(); ++i) tail[i] = uint8_t(i * 31 + 1);
    const net::Frame preencoded = net::encodeFrame(protocol::MsgFile, fileMessage(), tail.data(), tail.size());
    const uint64_t frameBytes = preencoded->size();
    const uint64_t wireBytes = frames * frameBytes;  // what crosses the socket per run
    // The reference moves the same bytes in 256 KiB writes (rounded to whole writes).
    const std::vector<uint8_t> chunk(kTail, 0x5a);
    const uint64_t rawChunks = (wireBytes + kTail / 2) / kTail;
    const uint64_t rawBytes = rawChunks * kTail;
    const uint64_t warmChunks = std::max<uint64_t>(rawChunks / 8, 16);
    auto runRaw = [&] { return plainTransfer(Receiver::Plain, chunk, rawChunks, warmChunks); };
    const std::vector<uint8_t> frameCopy(preencoded->begin(), preencoded->end());
    const uint64_t warmFrames = std::max<uint64_t>(frames / 8, 16);

    std::printf("upload: %llu frames of %zu-byte tails (%llu bytes on the wire per run), "
                "%d runs each, loopback %s\n",
                (unsigned long long)frames, kTail, (unsigned long long)wireBytes, kRepeats, kAddress);

    if (!only.empty()) {
        std::vector<bench::Timing> runs;
        for (int r = 0; r < kRepeats; ++r)
            runs.push_back(only == "raw"      ? runRaw()
                           : only == "phone"  ? runPhone(phone, tail, frames, nullptr)
                           : only == "exact"  ? plainTransfer(Receiver::ExactReads, frameCopy, frames, warmFrames)
                           : only == "reader" ? plainTransfer(Receiver::FrameReader, frameCopy, frames, warmFrames)
                                              : runPhone(phone, tail, frames, &preencoded));
        const double bytes = double(only == "raw" ? rawBytes : wireBytes);
        std::printf("RESULT upload %s alone: %.1f MB/s, %.3f CPU s per GB (median of %d)\n", only.c_str(),
                    bench::megabytesPerSecond(bytes, bench::medianSeconds(runs)),
                    bench::medianCpu(runs) / (bytes / 1e9), kRepeats);
        phone.close();
        server.shutdown();
        return 0;
    }

    // Warm-up of the phone's session: socket buffers, the server's receive buffer.
    runPhone(phone, tail, warmFrames, nullptr);

    const double gb = double(wireBytes) / 1e9;
    const double rawGb = double(rawBytes) / 1e9;
    std::vector<bench::Timing> raw, viaPhone, viaPreencoded;
    for (int r = 0; r < kRepeats; ++r) {
        raw.push_back(runRaw());
        viaPhone.push_back(runPhone(phone, tail, frames, nullptr));
        viaPreencoded.push_back(runPhone(phone, tail, frames, &preencoded));
        std::printf("  run %d: raw %.1f MB/s (%.2f CPU s/GB), phone %.1f MB/s (%.2f), "
                    "preencoded %.1f MB/s (%.2f)\n",
                    r + 1, bench::megabytesPerSecond(double(rawBytes), raw.back().seconds), raw.back().cpu / rawGb,
                    bench::megabytesPerSecond(double(wireBytes), viaPhone.back().seconds),
                    viaPhone.back().cpu / gb,
                    bench::megabytesPerSecond(double(wireBytes), viaPreencoded.back().seconds),
                    viaPreencoded.back().cpu / gb);
    }

    struct Row {
        const char* name;
        double mbs, fps, cpuPerGb;
    };
    auto row = [&](const char* name, const std::vector<bench::Timing>& runs, double bytes) {
        return Row{name, bench::megabytesPerSecond(bytes, bench::medianSeconds(runs)),
                   double(frames) / bench::medianSeconds(runs), bench::medianCpu(runs) / (bytes / 1e9)};
    };
    const Row rows[] = {row("raw TCP loopback (reference)", raw, double(rawBytes)),
                        row("PhoneClient::sendMessage -> server", viaPhone, double(wireBytes)),
                        row("pre-encoded sendRaw -> server", viaPreencoded, double(wireBytes))};
    const Row& ref = rows[0];
    std::printf("\n%-36s %9s %9s %7s %12s %9s\n", "path (median of 3)", "MB/s", "frames/s", "ratio",
                "CPU s per GB", "CPU ratio");
    for (const Row& r : rows) {
        const std::string fps = &r == &ref ? "-" : std::to_string(int64_t(r.fps + 0.5));
        std::printf("%-36s %9.1f %9s %7.3f %12.3f %9.3f\n", r.name, r.mbs, fps.c_str(), r.mbs / ref.mbs,
                    r.cpuPerGb, ref.cpuPerGb / r.cpuPerGb);
    }
    std::printf("(ratio: throughput against the reference; CPU ratio: reference CPU per byte / this "
                "path's, both ends counted)\n");
    std::printf("handler checksum %llu, sessions %zu\n", (unsigned long long)counters.checksum,
                server.sessionCount());

    if (breakdown) {
        std::vector<bench::Timing> stages[4];
        for (int r = 0; r < kRepeats; ++r) {
            stages[0].push_back(plainTransfer(Receiver::Plain, frameCopy, frames, warmFrames));
            stages[1].push_back(plainTransfer(Receiver::ExactReads, frameCopy, frames, warmFrames));
            stages[2].push_back(plainTransfer(Receiver::FrameReader, frameCopy, frames, warmFrames));
            stages[3].push_back(runPhone(phone, tail, frames, &preencoded));
        }
        const char* names[4] = {"1 plain recv() into a buffer", "2 socketReadExactly (len, body)",
                                "3 FrameReader (2 + decode)", "4 session server + handler"};
        const double base = bench::medianCpu(stages[0]) / double(frames);
        std::printf("\nreceive path breakdown, same pre-encoded frames (median of %d)\n", kRepeats);
        std::printf("%-34s %9s %12s %16s\n", "stage", "MB/s", "CPU s per GB", "CPU us per frame");
        for (int i = 0; i < 4; ++i) {
            const double cpuPerFrame = bench::medianCpu(stages[i]) / double(frames);
            std::printf("%-34s %9.1f %12.3f %9.1f (%+5.1f)\n", names[i],
                        bench::megabytesPerSecond(double(wireBytes), bench::medianSeconds(stages[i])),
                        bench::medianCpu(stages[i]) / gb, cpuPerFrame * 1e6, (cpuPerFrame - base) * 1e6);
        }
        std::printf("(CPU of both ends; the figure in brackets is the difference to stage 1)\n");
    }

    phone.close();
    server.shutdown();
    std::printf("RESULT upload/raw throughput ratio: %.3f (phone encoding per frame), "
                "%.3f (pre-encoded frames; server receive path alone); goal >= 0.8\n",
                rows[1].mbs / ref.mbs, rows[2].mbs / ref.mbs);
    return 0;
}
