// Latency of remote input: from a MsgMouseEvent or MsgKeyEvent frame written
// by the reference phone client on loopback to the X event arriving at a
// window, through the session server, the dispatcher, the input handler and
// XTest. Reference: the same events sent with the xdotool command, measured
// from the start of the command to the event's arrival, in the same run.
// Runs on its own Xvfb so nothing else moves the pointer or takes the focus.
//
//   bench_input [--quick]
#include "bench_common.h"
#include "bench_phone.h"
#include "common/private_xvfb.h"
#include "common/recording_hub.h"
#include "input/remote_input.h"
#include "net/session_server.h"
#include "phone/phone_client.h"
#include "platform/fakes/fake_network_adapters.h"
#include "platform/input_injector.h"
#include "protocol/message_names.h"
#include "support/process.h"
#include "ui/main/command_context.h"
#include "ui/main/dispatcher.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <poll.h>
#include <thread>

#include <X11/Xlib.h>

namespace {

constexpr char kAddress[] = "127.3.0.9";
constexpr uint16_t kPort = 40917;

// A full-screen window with the focus; counts the events it is waiting for
// and notes when the last one arrived.
class Receiver {
public:
    Receiver() {
        dpy_ = XOpenDisplay(nullptr);
        if (!dpy_) bench::fail("cannot open the display");
        const int screen = DefaultScreen(dpy_);
        XSetWindowAttributes attrs{};
        attrs.override_redirect = True;
        attrs.event_mask = PointerMotionMask | KeyPressMask | StructureNotifyMask;
        win_ = XCreateWindow(dpy_, RootWindow(dpy_, screen), 0, 0, 1920, 1080, 0, CopyFromParent, InputOutput,
                             CopyFromParent, CWOverrideRedirect | CWEventMask, &attrs);
        XMapRaised(dpy_, win_);
        for (XEvent ev;;) {
            XNextEvent(dpy_, &ev);
            if (ev.type == MapNotify) break;
        }
        XSetInputFocus(dpy_, win_, RevertToParent, CurrentTime);
        XSync(dpy_, False);
        thread_ = std::thread([this] { run(); });
    }
    ~Receiver() {
        stop_ = true;
        thread_.join();
        XCloseDisplay(dpy_);
    }
    // Arrivals of events of `type` so far, and the time of the last one.
    uint64_t count(int type) const { return type == KeyPress ? keys_.load() : motions_.load(); }
    bool waitBeyond(int type, uint64_t seen, bench::Clock::time_point& when) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(bench::kStallSeconds), [&] { return count(type) > seen; }))
            return false;
        when = type == KeyPress ? lastKey_ : lastMotion_;
        return true;
    }

private:
    void run() {
        const int fd = ConnectionNumber(dpy_);
        while (!stop_) {
            if (XPending(dpy_) == 0) {
                pollfd p{fd, POLLIN, 0};
                poll(&p, 1, 20);
                continue;
            }
            XEvent ev;
            XNextEvent(dpy_, &ev);
            const auto now = bench::Clock::now();
            std::lock_guard<std::mutex> lock(mutex_);
            if (ev.type == KeyPress) {
                lastKey_ = now;
                ++keys_;
            } else if (ev.type == MotionNotify) {
                lastMotion_ = now;
                ++motions_;
            } else {
                continue;
            }
            changed_.notify_all();
        }
    }
    Display* dpy_ = nullptr;
    Window win_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<uint64_t> keys_{0}, motions_{0};
    bench::Clock::time_point lastKey_, lastMotion_;
};

struct Summary {
    double p50 = 0, p99 = 0, max = 0;
};
Summary summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {bench::percentile(v, 50), bench::percentile(v, 99), v.back()};
}

// One event at a time: `send` starts it, the receiver's arrival ends it (microseconds).
template <typename Send>
std::vector<double> measure(Receiver& rx, int type, int count, Send send) {
    std::vector<double> micros;
    for (int i = 0; i < count; ++i) {
        const uint64_t before = rx.count(type);
        const auto start = bench::Clock::now();
        send(i);
        bench::Clock::time_point arrived;
        if (!rx.waitBeyond(type, before, arrived)) bench::fail("event %d never arrived", i);
        micros.push_back(std::chrono::duration<double, std::micro>(arrived - start).count());
        // Let a key's release and other trailing events settle before the next one.
        if (type == KeyPress) std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    return micros;
}

void xdotool(const std::vector<std::string>& args) {
    support::ChildProcess p = support::spawnProcess("xdotool", args, "", false);
    if (!p) bench::fail("xdotool did not start");
    support::waitForEvent(p, 10000);
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = bench::hasFlag(argc, argv, "--quick");
    const int events = quick ? 300 : 2000;
    testing_support::PrivateXvfb xvfb(1920, 1080);
    if (!xvfb.ok()) bench::fail("Xvfb did not start");
    Receiver rx;

    auto injector = platform::makeXTestInjector();
    if (!injector) bench::fail("no XTest");
    testing_support::RecordingHub hub;
    ui::CommandContext context;
    context.hub = &hub;
    core::OverlayFlags overlay;
    core::ForwardedPointerSlot forwarded;
    input::RemoteInputHandler handler(*injector, &hub, context.features, overlay, forwarded, nullptr, nullptr);
    context.features.input = &handler;

    platform::FakeNetworkAdapters adapters({bench::ipv4(kAddress)});
    platform::FakeScreenInfo screen;
    net::SessionServer server(adapters, screen);
    context.server = &server;
    uint32_t bound = 0;
    if (!server.start(bound, kPort, ui::onSessionEvent, &context)) bench::fail("server did not start");
    phone::PhoneClient phone;
    bench::connectWatchingPhone(phone, kAddress, kPort, "bench-input");

    auto mouseMove = [&](int i) {
        Json::Value m(Json::objectValue);
        m["action"] = 4;
        m["absolute"] = true;
        m["dx"] = 400 + (i % 2);
        m["dy"] = 300;
        if (!phone.sendMessage(protocol::MsgMouseEvent, m)) bench::fail("send: %s", phone.lastError().c_str());
    };
    auto keyUp = [&](int) {
        Json::Value m(Json::objectValue);
        m["keyCode"] = 19;
        if (!phone.sendMessage(protocol::MsgKeyEvent, m)) bench::fail("send: %s", phone.lastError().c_str());
    };
    auto xdoMove = [&](int i) { xdotool({"mousemove", std::to_string(600 + i % 2), "500"}); };
    auto xdoKey = [&](int) { xdotool({"key", "Up"}); };

    measure(rx, MotionNotify, 100, mouseMove);  // warm-up
    measure(rx, KeyPress, 50, keyUp);
    std::printf("input latency: %d events each, phone frame on %s -> X event at a window\n\n", events, kAddress);
    const Summary phoneMove = summarise(measure(rx, MotionNotify, events, mouseMove));
    const Summary phoneKey = summarise(measure(rx, KeyPress, events, keyUp));
    const Summary xdoMoveS = summarise(measure(rx, MotionNotify, events, xdoMove));
    const Summary xdoKeyS = summarise(measure(rx, KeyPress, events, xdoKey));

    std::printf("%-40s %9s %9s %9s\n", "latency (microseconds)", "p50", "p99", "max");
    auto row = [](const char* name, const Summary& s) {
        std::printf("%-40s %9.1f %9.1f %9.1f\n", name, s.p50, s.p99, s.max);
    };
    row("MsgMouseEvent move (phone -> XTest)", phoneMove);
    row("xdotool mousemove", xdoMoveS);
    row("MsgKeyEvent up (phone -> XTest)", phoneKey);
    row("xdotool key Up", xdoKeyS);
    phone.close();
    server.shutdown();
    std::printf("RESULT input p99 mouse %.2f ms (xdotool %.2f ms), key %.2f ms (xdotool %.2f ms); "
                "p50 ratio phone/xdotool mouse %.3f, key %.3f\n",
                phoneMove.p99 / 1000, xdoMoveS.p99 / 1000, phoneKey.p99 / 1000, xdoKeyS.p99 / 1000,
                phoneMove.p50 / xdoMoveS.p50, phoneKey.p50 / xdoKeyS.p50);
    return 0;
}
