// Screen capture on a private 1920x1080 Xvfb with a picture that changes every
// frame: the cost of one frame (our grabber against bare XShmGetImage and
// XGetImage in this program) and the CPU of capturing at 20 fps (the capture
// service against `ffmpeg -f x11grab -framerate 20 ... -f null -`).
#include "bench_stream_common.h"

#include "capture/screen_capture_service.h"
#include "platform/screen_grabber.h"

#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <functional>
#include <thread>

using namespace bench;

namespace {

constexpr int kW = 1920, kH = 1080;

double msPerFrame(int frames, const std::function<void()>& one) {
    one();  // warm up
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i) one();
    return secondsSince(start) * 1000.0 / frames;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = hasFlag(argc, argv, "--quick");
    const int seconds = argInt(argc, argv, "--seconds", quick ? 5 : 20);
    const int frames = quick ? 60 : 300;

    testing_support::PrivateXvfb xvfb(kW, kH);
    if (!xvfb.ok()) fail("Xvfb did not start");
    PatternDrawer drawer(kW, kH, 30);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::printf("display %s %dx%d, moving test pattern at 30 fps\n\n", xvfb.display().c_str(), kW, kH);

    // 1. One frame.
    auto grabber = platform::makeX11ScreenGrabber();
    if (!grabber->open()) fail("grabber did not open");
    std::vector<uint8_t> frame(size_t(kW) * kH * 4);
    // The service captures straight into the grabber's shared-memory picture;
    // grab() adds a copy into another buffer (the path of sources without one).
    const double ours = msPerFrame(frames, [&] { grabber->capture(false); });
    const double oursCursor = msPerFrame(frames, [&] { grabber->capture(true); });
    const double oursCopy = msPerFrame(frames, [&] { grabber->grab(frame.data(), kW * 4, false); });
    grabber->close();

    Display* d = XOpenDisplay(nullptr);
    Window root = DefaultRootWindow(d);
    XShmSegmentInfo shm{};
    XImage* image = XShmCreateImage(d, DefaultVisual(d, 0), unsigned(DefaultDepth(d, 0)), ZPixmap,
                                    nullptr, &shm, kW, kH);
    shm.shmid = shmget(IPC_PRIVATE, size_t(image->bytes_per_line) * kH, IPC_CREAT | 0600);
    shm.shmaddr = image->data = static_cast<char*>(shmat(shm.shmid, nullptr, 0));
    XShmAttach(d, &shm);
    XSync(d, False);
    shmctl(shm.shmid, IPC_RMID, nullptr);
    const double bareShm = msPerFrame(frames, [&] { XShmGetImage(d, root, image, 0, 0, AllPlanes); });
    const double bareGet = msPerFrame(quick ? 5 : 20, [&] {
        XImage* i = XGetImage(d, root, 0, 0, kW, kH, AllPlanes, ZPixmap);
        XDestroyImage(i);
    });
    XShmDetach(d, &shm);
    image->data = nullptr;
    XDestroyImage(image);
    shmdt(shm.shmaddr);
    XCloseDisplay(d);

    std::printf("1. capture cost per 1920x1080 frame (mean of %d)\n", frames);
    std::printf("   grabber, as the service runs it (into the frame) %6.2f ms\n", ours);
    std::printf("   grabber with the cursor painted                 %7.2f ms\n", oursCursor);
    std::printf("   grabber plus a copy into another buffer         %7.2f ms\n", oursCopy);
    std::printf("   reference: bare XShmGetImage                    %7.2f ms  (ratio %.2f)\n", bareShm,
                ours / bareShm);
    std::printf("   reference: bare XGetImage                       %7.2f ms  (ratio %.3f)\n\n", bareGet,
                ours / bareGet);

    // 2. CPU at 20 fps.
    capture::ScreenCaptureService service(platform::makeX11ScreenGrabber(), nullptr, nullptr);
    const double cpu0 = processCpuSeconds();
    const auto start = Clock::now();
    const int64_t token = service.start(20.0f);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    service.stop(token);
    const double wall = secondsSince(start);
    const double oursCpu = processCpuSeconds() - cpu0;

    const double refCpu = runForCpu({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "x11grab",
                                     "-draw_mouse", "0", "-framerate", "20", "-video_size",
                                     std::to_string(kW) + "x" + std::to_string(kH), "-i",
                                     xvfb.display(), "-t", std::to_string(seconds), "-c:v",
                                     "rawvideo", "-f", "null", "-"});
    std::printf("2. CPU of capturing at 20 fps for %d s\n", seconds);
    std::printf("   capture service thread        %6.2f CPU s/min  (%5.1f %% of a core)\n",
                oursCpu * 60 / wall, oursCpu * 100 / wall);
    std::printf("   reference: ffmpeg x11grab -> null  %6.2f CPU s/min  (%5.1f %% of a core)\n",
                refCpu * 60 / seconds, refCpu * 100 / seconds);
    std::printf("   ratio ours / ffmpeg: %.2f\n", (oursCpu / wall) / (refCpu / seconds));
    return 0;
}
