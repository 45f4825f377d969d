// Round trip of a small message: the phone sends a small message, the server's
// handler answers with server.send(reply, socket) to that phone, the phone
// waits for the answer. Reference: ping-pong of the same byte counts over a
// plain loopback TCP connection with TCP_NODELAY on both ends.
//
// A third row, for diagnosis only, has the handler write the encoded reply
// itself on the phone's socket from the receive thread, instead of queueing it
// for the session's send thread: the difference to the second row is the cost
// of handing the reply to the send thread.
//
//   bench_latency [--quick]
#include "bench_common.h"
#include "bench_phone.h"
#include "net/frame_codec.h"
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

constexpr char kAddress[] = "127.3.0.3";
constexpr uint16_t kPort = 40913;

net::SessionServer* theServer = nullptr;
std::atomic<bool> replyFromReceiveThread{false};
std::mutex readyMutex;
std::condition_variable readyChanged;
int readyCount = 0;

Json::Value requestMessage(uint64_t seq) {
    Json::Value m(Json::objectValue);
    m["action"] = 1;
    m["keyCode"] = 66;
    m["seq"] = Json::Value::UInt64(seq);
    return m;
}

Json::Value replyMessage(uint64_t seq) {
    Json::Value m(Json::objectValue);
    m["state"] = 1;
    m["seq"] = Json::Value::UInt64(seq);
    return m;
}

int onEvent(int socket, const sockaddr_in*, const std::string& className, const Json::Value& message,
            const uint8_t*, size_t, int event, void*) {
    if (event == net::kClientReady) {
        std::lock_guard<std::mutex> lock(readyMutex);
        ++readyCount;
        readyChanged.notify_all();
    } else if (event == net::kMessage && className == protocol::MsgKeyEvent) {
        const Json::Value reply = replyMessage(message["seq"].asUInt64());
        if (replyFromReceiveThread.load()) {
            // Diagnosis only: bypasses the session's queue. Safe here because
            // the only other writer, the keep-alive, is one 4-byte send.
            const net::Frame frame = net::encodeFrame(protocol::MsgKeyEventEx, reply, nullptr, 0);
            const net::ConstBuffer whole{frame->data(), frame->size()};
            int error = 0;
            net::socketWriteGather(socket, &whole, 1, error);
        } else {
            theServer->send(protocol::MsgKeyEventEx, reply, nullptr, 0, socket);
        }
    }
    return 0;
}

struct Summary {
    double p50 = 0, p99 = 0, max = 0, mean = 0;
};

Summary summarise(std::vector<double> micros) {
    std::sort(micros.begin(), micros.end());
    Summary s;
    s.p50 = bench::percentile(micros, 50);
    s.p99 = bench::percentile(micros, 99);
    s.max = micros.back();
    for (double v : micros) s.mean += v;
    s.mean /= double(micros.size());
    return s;
}

// Round trips through the session server, in microseconds.
std::vector<double> serverRoundTrips(phone::PhoneClient& phone, int count, uint64_t& seq) {
    std::vector<double> micros;
    micros.reserve(size_t(count));
    phone::ReceivedFrame reply;
    for (int i = 0; i < count; ++i, ++seq) {
        const auto start = bench::Clock::now();
        if (!phone.sendMessage(protocol::MsgKeyEvent, requestMessage(seq)))
            bench::fail("send: %s", phone.lastError().c_str());
        const phone::ReadResult r = phone.readFrame(reply, bench::kStallSeconds * 1000);
        micros.push_back(bench::secondsSince(start) * 1e6);
        if (r != phone::ReadResult::Frame) bench::fail("no reply: %s", phone::toString(r));
        if (reply.className != protocol::MsgKeyEventEx || reply.message["seq"].asUInt64() != seq)
            bench::fail("unexpected reply %s", reply.className.c_str());
    }
    return micros;
}

// Ping-pong of the same byte counts on a plain loopback connection.
class RawPingPong {
public:
    RawPingPong(size_t requestBytes, size_t replyBytes)
        : listener_(kAddress), request_(requestBytes, 'q'), reply_(replyBytes, 'r') {
        echo_ = std::thread([this] {
            int s = listener_.accept();
            bench::setNoDelay(s);
            std::vector<uint8_t> in(request_.size());
            while (bench::readAll(s, in.data(), in.size()))
                if (!bench::writeAll(s, reply_.data(), reply_.size())) break;
            ::close(s);
        });
        socket_ = bench::connectTo(kAddress, listener_.port());
        bench::setNoDelay(socket_);
    }
    ~RawPingPong() {
        ::shutdown(socket_, SHUT_RDWR);
        echo_.join();
        ::close(socket_);
    }
    std::vector<double> roundTrips(int count) {
        std::vector<double> micros;
        micros.reserve(size_t(count));
        std::vector<uint8_t> in(reply_.size());
        for (int i = 0; i < count; ++i) {
            const auto start = bench::Clock::now();
            if (!bench::writeAll(socket_, request_.data(), request_.size()) ||
                !bench::readAll(socket_, in.data(), in.size()))
                bench::fail("raw ping-pong: %s", std::strerror(errno));
            micros.push_back(bench::secondsSince(start) * 1e6);
        }
        return micros;
    }

private:
    bench::Listener listener_;
    std::vector<uint8_t> request_, reply_;
    std::thread echo_;
    int socket_ = -1;
};

void printRow(const char* name, const Summary& s) {
    std::printf("%-36s %9.1f %9.1f %9.1f %9.1f\n", name, s.p50, s.p99, s.max, s.mean);
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = bench::hasFlag(argc, argv, "--quick");
    const int iterations = quick ? 1000 : 5000;
    const int warmUp = quick ? 200 : 500;

    platform::FakeNetworkAdapters adapters({bench::ipv4(kAddress)});
    platform::FakeScreenInfo screen;
    net::SessionServer server(adapters, screen);
    theServer = &server;
    uint32_t bound = 0;
    if (!server.start(bound, kPort, onEvent, nullptr))
        bench::fail("session server did not start on %s:%u", kAddress, unsigned(kPort));

    phone::PhoneClient phone;
    bench::connectWatchingPhone(phone, kAddress, kPort, "bench-latency");
    {
        std::unique_lock<std::mutex> lock(readyMutex);
        if (!readyChanged.wait_for(lock, std::chrono::seconds(3), [] { return readyCount > 0; }))
            bench::fail("the server did not report the phone ready");
    }

    // Byte counts of one exchange; the sequence numbers are kept at the same
    // digit count by starting at 10^9, so every exchange has these sizes.
    constexpr uint64_t kFirstSeq = 1000000000;
    const size_t requestBytes = net::encodeFrame(protocol::MsgKeyEvent, requestMessage(kFirstSeq), nullptr, 0)->size();
    const size_t replyBytes = net::encodeFrame(protocol::MsgKeyEventEx, replyMessage(kFirstSeq), nullptr, 0)->size();
    std::printf("latency: %d round trips after %d warm-up ones, request %zu bytes, reply %zu bytes, "
                "loopback %s\n",
                iterations, warmUp, requestBytes, replyBytes, kAddress);

    RawPingPong raw(requestBytes, replyBytes);
    uint64_t seq = kFirstSeq;
    serverRoundTrips(phone, warmUp, seq);
    raw.roundTrips(warmUp);

    // Two halves each, interleaved, so a burst of load on the machine does not
    // land on one side only.
    std::vector<double> serverMicros, rawMicros, directMicros;
    for (int half = 0; half < 2; ++half) {
        auto s = serverRoundTrips(phone, iterations / 2, seq);
        serverMicros.insert(serverMicros.end(), s.begin(), s.end());
        auto r = raw.roundTrips(iterations / 2);
        rawMicros.insert(rawMicros.end(), r.begin(), r.end());
        replyFromReceiveThread.store(true);
        auto d = serverRoundTrips(phone, iterations / 2, seq);
        replyFromReceiveThread.store(false);
        directMicros.insert(directMicros.end(), d.begin(), d.end());
    }
    const Summary viaServer = summarise(serverMicros);
    const Summary viaRaw = summarise(rawMicros);
    const Summary direct = summarise(directMicros);

    std::printf("\n%-36s %9s %9s %9s %9s\n", "round trip (microseconds)", "p50", "p99", "max", "mean");
    printRow("raw TCP ping-pong, TCP_NODELAY", viaRaw);
    printRow("PhoneClient -> server -> reply", viaServer);
    printRow("  same, reply without the send thread", direct);
    std::printf("ratio server/raw: p50 %.2f, p99 %.2f\n", viaServer.p50 / viaRaw.p50, viaServer.p99 / viaRaw.p99);
    std::printf("keep-alives seen by the phone: %llu\n", (unsigned long long)phone.keepAlives());

    phone.close();
    server.shutdown();
    std::printf("RESULT latency p50 server/raw ratio: %.2f (%.1f us vs %.1f us; p99 %.1f us vs %.1f us)\n",
                viaServer.p50 / viaRaw.p50, viaServer.p50, viaRaw.p50, viaServer.p99, viaRaw.p99);
    return 0;
}
