// encodeFrame throughput for a small input message, a 64 KiB tail and a 1 MiB
// tail, against the copy no encoder can avoid: memcpy of the frame's bytes
// into a fresh, uninitialised buffer. A third row per size copies into a
// zero-filled buffer, which is what a value-initialised std::vector costs, and
// decodeFrameBody of each frame is measured too, for the receive side.
//
// Every figure is the median of three timed batches of calls, the kinds of
// call interleaved so that a burst of load on the machine does not land on
// one kind only.
//
//   bench_encode [--quick]
#include "bench_common.h"
#include "net/frame_codec.h"
#include "protocol/message_names.h"

#include <array>
#include <functional>
#include <memory>

namespace {

// Keeps the compiler from dropping work whose result is otherwise unused.
inline void keep(const void* p) { asm volatile("" : : "r"(p) : "memory"); }

struct Case {
    std::string label;
    std::string className;
    Json::Value message;
    std::vector<uint8_t> tail;
    std::vector<uint8_t> frameBytes;  // the encoded frame, source of the copies
};

// A pointer event as the phone sends it while drawing: eight fields, no tail.
Json::Value pointerMessage() {
    Json::Value m(Json::objectValue);
    m["action"] = 2;
    m["x"] = 0.4375;
    m["y"] = 0.71875;
    m["pointerId"] = 0;
    m["pressure"] = 0.8;
    m["button"] = 1;
    m["time"] = Json::Value::Int64(1733751234567);
    m["source"] = "touch";
    return m;
}

Json::Value fileMessage() {
    Json::Value m(Json::objectValue);
    m["action"] = 2;
    m["fileId"] = 1;
    return m;
}

Case makeCase(std::string label, std::string className, Json::Value message, size_t tailSize) {
    Case c{std::move(label), std::move(className), std::move(message), {}, {}};
    c.tail.resize(tailSize);
    for (size_t i = 0; i < tailSize; ++i) c.tail[i] = uint8_t(i * 131 + 7);
    net::Frame frame = net::encodeFrame(c.className, c.message, c.tail.data(), c.tail.size());
    c.frameBytes = *frame;
    return c;
}

void encodeOnce(const Case& c) {
    net::Frame frame = net::encodeFrame(c.className, c.message, c.tail.data(), c.tail.size());
    keep(frame->data());
}

void copyOnce(const Case& c) {
    const size_t n = c.frameBytes.size();
    std::unique_ptr<uint8_t[]> fresh(new uint8_t[n]);  // deliberately not initialised
    std::memcpy(fresh.get(), c.frameBytes.data(), n);
    keep(fresh.get());
}

void zeroedCopyOnce(const Case& c) {
    const size_t n = c.frameBytes.size();
    std::vector<uint8_t> fresh(n);  // value-initialised: zero-filled first
    std::memcpy(fresh.data(), c.frameBytes.data(), n);
    keep(fresh.data());
}

void decodeOnce(const Case& c) {
    net::DecodedMessage decoded;
    net::DecodeResult r = net::decodeFrameBody(c.frameBytes.data() + 4, c.frameBytes.size() - 4, decoded);
    if (r != net::DecodeResult::Ok) bench::fail("the %s frame did not decode", c.label.c_str());
    keep(decoded.data);
}

// Calls per batch so that one batch takes about `seconds`.
uint64_t calibrate(const std::function<void()>& call, double seconds) {
    uint64_t calls = 1;
    for (;;) {
        const auto start = bench::Clock::now();
        for (uint64_t i = 0; i < calls; ++i) call();
        const double took = bench::secondsSince(start);
        if (took >= seconds / 4 || calls >= (uint64_t(1) << 32))
            return std::max<uint64_t>(1, uint64_t(double(calls) * seconds / std::max(took, 1e-9)));
        calls *= 2;
    }
}

double timeBatch(const std::function<void()>& call, uint64_t calls) {
    const auto start = bench::Clock::now();
    for (uint64_t i = 0; i < calls; ++i) call();
    return bench::secondsSince(start) / double(calls);
}

enum Kind { kEncode, kCopy, kZeroedCopy, kDecode, kKinds };
const char* const kKindNames[kKinds] = {"encodeFrame", "memcpy", "zeroed memcpy", "decodeFrameBody"};

}  // namespace

int main(int argc, char** argv) {
    const bool quick = bench::hasFlag(argc, argv, "--quick");
    const double batchSeconds = quick ? 0.02 : 0.08;
    constexpr int kBatches = 3;

    const std::vector<Case> cases = {
        makeCase("small", protocol::MsgMouseEvent, pointerMessage(), 0),
        makeCase("64KiB tail", protocol::MsgFile, fileMessage(), 64 * 1024),
        makeCase("1MiB tail", protocol::MsgFile, fileMessage(), 1024 * 1024),
    };

    std::printf("encode: %d batches of ~%.0f ms per figure, median reported\n", kBatches, batchSeconds * 1e3);
    // seconds per call, [case][kind]
    std::vector<std::array<double, kKinds>> perCall(cases.size());
    for (size_t ci = 0; ci < cases.size(); ++ci) {
        const Case& c = cases[ci];
        const std::function<void()> calls[kKinds] = {
            [&] { encodeOnce(c); }, [&] { copyOnce(c); }, [&] { zeroedCopyOnce(c); }, [&] { decodeOnce(c); }};
        uint64_t batch[kKinds];
        for (int k = 0; k < kKinds; ++k) batch[k] = calibrate(calls[k], batchSeconds);  // also warms up
        std::vector<double> samples[kKinds];
        for (int b = 0; b < kBatches; ++b)
            for (int k = 0; k < kKinds; ++k) samples[k].push_back(timeBatch(calls[k], batch[k]));
        for (int k = 0; k < kKinds; ++k) perCall[ci][size_t(k)] = bench::median(samples[k]);
    }

    std::printf("\n%-11s %9s | %-16s %12s %12s %10s\n", "case", "frame B", "kind", "MB/s", "frames/s",
                "us/frame");
    for (size_t ci = 0; ci < cases.size(); ++ci) {
        const double bytes = double(cases[ci].frameBytes.size());
        for (int k = 0; k < kKinds; ++k) {
            const double s = perCall[ci][size_t(k)];
            std::printf("%-11s %9s | %-16s %12.1f %12.0f %10.3f\n", k == 0 ? cases[ci].label.c_str() : "",
                        k == 0 ? std::to_string(cases[ci].frameBytes.size()).c_str() : "", kKindNames[k],
                        bytes / s / 1e6, 1.0 / s, s * 1e6);
        }
    }

    std::printf("\n%-11s %22s %26s\n", "case", "encode / memcpy", "zeroed memcpy / memcpy");
    double ratios[3] = {};
    for (size_t ci = 0; ci < cases.size(); ++ci) {
        // Throughput ratios: reference time per frame over the measured one.
        ratios[ci] = perCall[ci][kCopy] / perCall[ci][kEncode];
        std::printf("%-11s %22.3f %26.3f\n", cases[ci].label.c_str(), ratios[ci],
                    perCall[ci][kCopy] / perCall[ci][kZeroedCopy]);
    }
    std::printf("RESULT encode/memcpy throughput ratio: small %.4f, 64KiB tail %.3f, 1MiB tail %.3f "
                "(encodeFrame %.2f us for the small message)\n",
                ratios[0], ratios[1], ratios[2], perCall[0][kEncode] * 1e6);
    return 0;
}
