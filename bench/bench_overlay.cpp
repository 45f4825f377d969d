// Annotation ink from the phone's pointer: time from a forwarded move to the
// ink on the screen (read back from the X server as a capture would see it),
// and the program's CPU while a stroke is drawn continuously. Moves come
// every 16 ms, as a phone sends them. Runs on a private Xvfb; --xcompmgr adds
// the compositing manager (see-through overlay), otherwise the overlay draws
// over a frozen screenshot.
//
//   bench_overlay [--xcompmgr] [--quick]
#include "bench_common.h"
#include "common/private_xvfb.h"
#include "core/overlay_flags.h"
#include "core/pointer_forward.h"
#include "core/window_messages.h"
#include "tools/brush_wnd.h"

#include <QApplication>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>

namespace {

constexpr int kCadenceMs = 16;
constexpr int kStep = 5;
constexpr int kPen = 8;

core::OverlayFlags gOverlay;
core::ForwardedPointerSlot gPointer;

void forward(tools::BrushWnd& brush, int x, int y, bool down, bool up) {
    gPointer.record = {x, y, up, down};
    brush.handle(core::UM_BRUSH, 4, 0, nullptr);
}

bool redAt(Display* display, int x, int y) {
    XImage* image = XGetImage(display, DefaultRootWindow(display), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return false;
    const unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return ((pixel >> 16) & 0xFF) > 200 && ((pixel >> 8) & 0xFF) < 60 && (pixel & 0xFF) < 60;
}

void pump(int ms) {
    const auto end = bench::Clock::now() + std::chrono::milliseconds(ms);
    while (bench::Clock::now() < end) {
        QApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(500);
    }
}

// Walks a zig-zag of horizontal rows across the screen.
struct Pen {
    int x = 100, y = 200;
    bool next(tools::BrushWnd& brush) {
        x += kStep;
        if (x <= 1800) return false;
        forward(brush, x - kStep, y, false, true);
        x = 100;
        y = y >= 1000 ? 200 : y + 3 * kPen;
        forward(brush, x, y, true, false);
        return true;
    }
};

}  // namespace

int main(int argc, char** argv) {
    const bool compositor = bench::hasFlag(argc, argv, "--xcompmgr");
    const int samples = bench::hasFlag(argc, argv, "--quick") ? 100 : 400;
    testing_support::PrivateXvfb xvfb(1920, 1080);
    if (!xvfb.ok()) bench::fail("no Xvfb");
    pid_t compositorPid = -1;
    if (compositor) {
        compositorPid = ::fork();
        if (compositorPid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::execlp("xcompmgr", "xcompmgr", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::usleep(400 * 1000);
    }
    int qtArgc = 1;
    char name[] = "bench_overlay";
    char* qtArgv[] = {name, nullptr};
    QApplication app(qtArgc, qtArgv);
    Display* probe = XOpenDisplay(nullptr);
    if (!probe) bench::fail("no display for the probe");

    tools::ToolsLink link;
    link.overlay = &gOverlay;
    link.forwarded = &gPointer;
    tools::BrushWnd brush(link);
    brush.showOverlay();
    pump(400);
    brush.setColor(0xFF0000);
    brush.setSize(kPen);
    std::printf("overlay: %s, 1920x1080, moves every %d ms, %d-pixel steps\n",
                brush.layered() ? "see-through (xcompmgr)" : "frozen screenshot (no compositor)",
                kCadenceMs, kStep);

    // Latency: moves go out every 16 ms while the screen is read back
    // between them; a move counts as shown when the pixel just past the
    // previous end, which only its piece of ink covers, turns red.
    struct Pending {
        int x, y;
        bench::Clock::time_point sent;
    };
    Pen pen;
    forward(brush, pen.x, pen.y, true, false);
    std::vector<double> latencies;
    std::vector<Pending> pending;
    int missed = 0, sent = 0;
    auto nextMove = bench::Clock::now();
    while (sent < samples || !pending.empty()) {
        if (sent < samples && bench::Clock::now() >= nextMove) {
            nextMove += std::chrono::milliseconds(kCadenceMs);
            if (pen.next(brush)) {
                missed += static_cast<int>(pending.size());  // a new row: the old row's waits end
                pending.clear();
            } else {
                forward(brush, pen.x, pen.y, false, false);
                pending.push_back({pen.x, pen.y, bench::Clock::now()});
                ++sent;
            }
        }
        QApplication::processEvents(QEventLoop::AllEvents, 1);
        // Ink reaches the screen in order: check the oldest waits first.
        while (!pending.empty()) {
            const Pending& p = pending.front();
            const double waited = bench::secondsSince(p.sent) * 1000.0;
            if (redAt(probe, p.x + kPen / 2 - 2, p.y)) {
                latencies.push_back(waited);
            } else if (waited > 500) {
                ++missed;
            } else {
                break;
            }
            pending.erase(pending.begin());
        }
        QThread::usleep(300);
    }
    forward(brush, pen.x, pen.y, false, true);
    std::sort(latencies.begin(), latencies.end());
    std::printf("move -> ink on screen: p50 %.1f ms, p95 %.1f ms, max %.1f ms over %zu moves (%d not counted: cut off by a new row or not seen within 500 ms)\n",
                bench::percentile(latencies, 50), bench::percentile(latencies, 95),
                latencies.empty() ? 0.0 : latencies.back(), latencies.size(), missed);

    // CPU: five seconds of continuous drawing, nothing read back.
    const double seconds = samples >= 400 ? 5.0 : 2.0;
    forward(brush, pen.x, pen.y, true, false);
    bench::RunTimer timer;
    while (timer.stop().seconds < seconds) {
        if (!pen.next(brush)) forward(brush, pen.x, pen.y, false, false);
        pump(kCadenceMs);
    }
    const bench::Timing t = timer.stop();
    forward(brush, pen.x, pen.y, false, true);
    std::printf("continuous drawing: %.1f%% of one core over %.1f s (program only; the X server and compositor not counted)\n",
                100.0 * t.cpu / t.seconds, t.seconds);

    brush.hideOverlay();
    XCloseDisplay(probe);
    if (compositorPid > 0) {
        ::kill(compositorPid, SIGTERM);
        ::waitpid(compositorPid, nullptr, 0);
    }
    return 0;
}
