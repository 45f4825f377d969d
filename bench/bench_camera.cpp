// The PC camera window showing a 1080p 30 fps camera, against ffplay showing
// the same video file in a window of the same size, in the same run and on
// the same private Xvfb. The camera is a fake device that decodes the file
// (as the demonstration camera does), so both sides decode the same frames.
// The device hands over the decoder's planes as a V4L2 device hands over its
// memory-mapped buffer; the window then does what it does for a real camera:
// the engine's copy of the frame, the picture at the window's size in BGRA
// and SDL drawing.
//
//   bench_camera [--seconds N] [--rounds N]     (default 10 s, 2 rounds)
#include "bench_common.h"
#include "camera/camera_engine.h"
#include "common/private_xvfb.h"
#include "core/settings.h"
#include "platform/fakes/fake_camera.h"
#include "ui/camera/camera_dlg.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/wait.h>

namespace {

int intArg(int argc, char** argv, const char* name, int def) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == name) return std::atoi(argv[i + 1]);
    return def;
}

// Runs a command to its end; its CPU seconds (user + system), or -1.
double childCpu(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of each thread of this process so far, by thread name.
std::map<std::string, double> threadCpu() {
    std::map<std::string, double> out;
    const double tick = double(::sysconf(_SC_CLK_TCK));
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream stat(entry.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        const size_t open = text.find('('), close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(text.substr(close + 2));
        std::string field;
        double utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14) utime = std::stod(field);
            if (i == 15) stime = std::stod(field);
        }
        out[text.substr(open + 1, close - open - 1) + "/" + entry.path().filename().string()] += (utime + stime) / tick;
    }
    return out;
}

// The event loop as the program runs it, for this long.
void pump(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = intArg(argc, argv, "--seconds", 10);
    const int rounds = intArg(argc, argv, "--rounds", 2);
    testing_support::PrivateXvfb xvfb(1920, 1080);
    if (!xvfb.ok()) bench::fail("no Xvfb");

    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("bench_camera_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string file = (dir / "camera1080p30.mp4").string();
    // A picture that moves everywhere (a camera's noise makes every frame new).
    if (childCpu({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30", "-t",
                  std::to_string(seconds + 2), "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
                  file}) < 0)
        bench::fail("ffmpeg could not make %s", file.c_str());

    static int qargc = 1;
    static char name[] = "bench_camera";
    static char* qargv[] = {name, nullptr};
    QApplication app(qargc, qargv);

    std::printf("1080p 30 fps camera for %d s in a 400x300 window, %d rounds\n", seconds, rounds);
    std::vector<double> ratios;
    for (int round = 1; round <= rounds; ++round) {
        // ffplay: decodes the file and shows it through SDL in a 400x300 window.
        const double reference =
            childCpu({"ffplay", "-v", "error", "-nostats", "-an", "-autoexit", "-noborder", "-x", "400", "-y", "300",
                      "-left", "1520", "-top", "780", "-t", std::to_string(seconds), file});
        if (reference <= 0) bench::fail("ffplay failed");

        auto cameras = platform::makeDemoCameraSystem(file);
        if (!cameras) bench::fail("no video in %s", file.c_str());
        core::MemorySettings settings;
        camera::CameraEngine engine(*cameras);
        double ours = 0;
        int frames = 0;
        {
            ui::CameraDlg window(engine, &settings);
            window.nextCamera();
            if (!window.isVisible()) bench::fail("the camera window did not open");
            pump(0.5);  // set-up and the first frames
            const int frames0 = window.framesDrawn();
            const auto threads0 = threadCpu();
            const bench::RunTimer timer;
            pump(seconds);
            const bench::Timing t = timer.stop();
            if (bench::hasFlag(argc, argv, "--threads")) {
                for (const auto& [thread, cpu] : threadCpu()) {
                    const auto before = threads0.find(thread);
                    const double used = cpu - (before == threads0.end() ? 0 : before->second);
                    if (used >= 0.01) std::printf("  thread %-16s %.2f CPU s\n", thread.c_str(), used);
                }
            }
            frames = window.framesDrawn() - frames0;
            ours = t.cpu * seconds / t.seconds;
            window.stopCapture();
        }
        std::printf("round %d: camera window %.2f CPU s (%d frames drawn, %.1f fps), ffplay %.2f CPU s, "
                    "ratio %.3f\n",
                    round, ours, frames, frames / double(seconds), reference, ours / reference);
        ratios.push_back(ours / reference);
    }
    std::printf("ratio camera window / ffplay, median of %d rounds: %.3f  (goal <= 1.0)\n", rounds,
                bench::median(ratios));
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
