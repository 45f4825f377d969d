// Screen capture in a GNOME Wayland session (mutter's ScreenCast over
// PipeWire) against X11 capture (MIT-SHM) of an Xvfb in the same run:
// - screen-change latency: a full-screen window changes colour; time until
//   capture() returns a picture with the new colour (polled every 1 ms);
// - CPU: captures at 30 per second for 3 s while the window changes colour
//   before each one; CPU time of this process and of the display server
//   (mutter or Xvfb), in ms per second of capture; mutter's CPU for the
//   same changes with no screencast running is printed beside it.
// Run inside scripts/with-gnome-wayland, with BENCH_XVFB naming an Xvfb
// display and BENCH_XVFB_PID its process (see bench/RESULTS.md).
#include "bench_common.h"
#include "platform/gnome_remote.h"
#include "platform/screen_grabber.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double processCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// utime + stime of another process, in ms.
double otherCpuMs(int pid) {
    if (pid <= 0) return 0;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::vector<std::string> fields;
    size_t pos = close + 2;
    while (pos < stat.size()) {
        size_t end = stat.find(' ', pos);
        if (end == std::string::npos) end = stat.size();
        fields.push_back(stat.substr(pos, end - pos));
        pos = end + 1;
    }
    if (fields.size() < 13) return 0;
    return (std::stod(fields[11]) + std::stod(fields[12])) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

struct Painter {
    Display* dpy = nullptr;
    Window win = 0;
    explicit Painter(const char* display) {
        dpy = XOpenDisplay(display);
        if (!dpy) bench::fail("no X display %s", display ? display : "(DISPLAY)");
        const int s = DefaultScreen(dpy);
        XSetWindowAttributes a{};
        a.override_redirect = True;
        a.background_pixel = 0;
        win = XCreateWindow(dpy, RootWindow(dpy, s), 0, 0, DisplayWidth(dpy, s), DisplayHeight(dpy, s), 0,
                            CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &a);
        XMapRaised(dpy, win);
        XSync(dpy, False);
    }
    ~Painter() {
        XDestroyWindow(dpy, win);
        XCloseDisplay(dpy);
    }
    void paint(unsigned rgb) {
        XSetWindowBackground(dpy, win, rgb);  // 24-bit TrueColor on both servers
        XClearWindow(dpy, win);
        XSync(dpy, False);
    }
};

unsigned centre(platform::ScreenGrabber& g, std::vector<uint8_t>& buf) {
    const int w = g.width(), h = g.height();
    const uint8_t* p;
    if (g.picture()) {
        p = g.picture() + size_t(h / 2) * g.pictureStride() + size_t(w / 2) * 4;
    } else {
        buf.resize(size_t(w) * h * 4);
        g.copyTo(buf.data(), w * 4);
        p = buf.data() + (size_t(h / 2) * w + w / 2) * 4;
    }
    return (unsigned(p[2]) << 16) | (unsigned(p[1]) << 8) | p[0];
}

struct Result {
    double medianMs = 0, p90Ms = 0, ownCpu = 0, serverCpu = 0;
};

Result measure(const char* name, platform::ScreenGrabber& g, Painter& painter, int serverPid) {
    if (!g.open()) bench::fail("%s: grabber did not open", name);
    std::vector<uint8_t> buf;
    std::vector<double> lat;
    const unsigned colours[] = {0x00ff00, 0x0000ff, 0xff00ff, 0x00ffff};
    for (int i = 0; i < 60; ++i) {
        const unsigned c = colours[i % 4];
        const auto t0 = Clock::now();
        painter.paint(c);
        bool seen = false;
        while (Clock::now() - t0 < std::chrono::seconds(2)) {
            if (g.capture(false) && centre(g, buf) == c) {
                seen = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!seen) bench::fail("%s: colour %06x never captured", name, c);
        if (i >= 5) lat.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(lat.begin(), lat.end());
    Result r;
    r.medianMs = lat[lat.size() / 2];
    r.p90Ms = lat[lat.size() * 9 / 10];

    const double own0 = processCpuMs(), srv0 = otherCpuMs(serverPid);
    const auto start = Clock::now();
    for (int i = 0; i < 90; ++i) {
        painter.paint(colours[i % 4]);
        g.capture(false);
        centre(g, buf);
        std::this_thread::sleep_until(start + std::chrono::microseconds(33333 * (i + 1)));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.ownCpu = (processCpuMs() - own0) / seconds;
    r.serverCpu = (otherCpuMs(serverPid) - srv0) / seconds;
    g.close();
    return r;
}

}  // namespace

int main() {
    const char* xvfb = std::getenv("BENCH_XVFB");
    const char* xvfbPid = std::getenv("BENCH_XVFB_PID");
    const char* mutterPid = std::getenv("LUMACRO3_RIG_MUTTER_PID");
    if (!xvfb || !mutterPid) bench::fail("run inside scripts/with-gnome-wayland with BENCH_XVFB set");

    Result x11;
    {
        Painter painter(xvfb);
        const std::string own = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
        setenv("DISPLAY", xvfb, 1);
        auto g = platform::makeX11ScreenGrabber();
        x11 = measure("XShm", *g, painter, xvfbPid ? atoi(xvfbPid) : 0);
        setenv("DISPLAY", own.c_str(), 1);
    }
    // mutter's own share: the same colour changes with no screencast running.
    double mutterAlone = 0;
    {
        Painter painter(nullptr);
        const double m0 = otherCpuMs(atoi(mutterPid));
        const auto start = Clock::now();
        for (int i = 0; i < 90; ++i) {
            painter.paint(i % 2 ? 0x00ff00 : 0x0000ff);
            std::this_thread::sleep_until(start + std::chrono::microseconds(33333 * (i + 1)));
        }
        mutterAlone = (otherCpuMs(atoi(mutterPid)) - m0) / std::chrono::duration<double>(Clock::now() - start).count();
    }
    Result pw;
    {
        auto session = platform::openGnomeRemoteSession();
        if (!session) bench::fail("no mutter session");
        Painter painter(nullptr);
        auto g = platform::makePipeWireScreenGrabber(session);
        pw = measure("PipeWire", *g, painter, atoi(mutterPid));
    }
    std::printf("%-28s %12s %12s %14s %16s\n", "capture path (1280x720)", "median ms", "p90 ms",
                "own CPU ms/s", "server CPU ms/s");
    std::printf("%-28s %12.2f %12.2f %14.1f %16.1f\n", "X11 MIT-SHM on Xvfb (ref)", x11.medianMs, x11.p90Ms,
                x11.ownCpu, x11.serverCpu);
    std::printf("%-28s %12.2f %12.2f %14.1f %16.1f\n", "mutter ScreenCast/PipeWire", pw.medianMs, pw.p90Ms,
                pw.ownCpu, pw.serverCpu);
    std::printf("%-28s %12s %12s %14s %16.1f\n", "mutter, no screencast", "-", "-", "-", mutterAlone);
    std::printf("ratio PipeWire / XShm: latency median %.2f, own CPU %.2f, own+server CPU %.2f\n",
                pw.medianMs / x11.medianMs, pw.ownCpu / x11.ownCpu,
                (pw.ownCpu + pw.serverCpu) / (x11.ownCpu + x11.serverCpu));
    return 0;
}
