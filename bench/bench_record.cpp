// Lesson recorder against the ffmpeg command line: CPU seconds per minute of
// a 1080p recording at 10 frames per second with sound, on the same Xvfb
// (with moving pictures) and the same PulseAudio null sink (a tone playing)
// in the same run; and the audio/video drift in our file.
//
//   bench_record [--seconds N] [--no-reference] [--threads]
//   (default 60 s; --no-reference skips ffmpeg, for long drift runs;
//   --threads prints the CPU of each thread of the recorder)
//
//   bench_record rewrite [--minutes N]
//   The clean stop's rewrite of a fragmented lesson into a regular MP4, for
//   a lesson of N minutes (default 45) at the recorder's defaults: one
//   minute of a moving and of a still 1920x1080 screen is encoded by ffmpeg
//   as the recorder encodes (10 fps, 1,036,800 bit/s, AAC 64 kbit/s) and
//   repeated by stream copy into a fragmented file of N minutes. Measured
//   against `ffmpeg -c copy -movflags +faststart` of the same file and a
//   plain copy of its bytes, in the same run.
#include "bench_common.h"

#include "capture/screen_capture_service.h"
#include "core/settings.h"
#include "platform/screen_grabber.h"
#include "record/lesson_recorder.h"
#include "record/mp4_faststart.h"
#include "record/record_fixture.h"
#include "common/temp_dir.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <sys/resource.h>
#include <sys/wait.h>

using namespace testing_support;

namespace {

double cpuSeconds(const rusage& r) {
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) + double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

double selfCpu() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return cpuSeconds(r);
}

// A child process that keeps the screen changing: full-screen bands that
// move every 50 ms, so the encoders have real work.
pid_t startAnimation(const std::string& display) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    Display* d = XOpenDisplay(display.c_str());
    if (!d) _exit(1);
    const int screen = DefaultScreen(d);
    const int w = DisplayWidth(d, screen), h = DisplayHeight(d, screen);
    Window win = XCreateSimpleWindow(d, RootWindow(d, screen), 0, 0, unsigned(w), unsigned(h), 0, 0, 0);
    XMapWindow(d, win);
    GC gc = XCreateGC(d, win, 0, nullptr);
    for (unsigned step = 0;; ++step) {
        for (int band = 0; band < 24; ++band) {
            XSetForeground(d, gc, (step * 2654435761u + unsigned(band) * 40503u) & 0xffffff);
            const int x = int((step * 17 + unsigned(band) * 97) % unsigned(w));
            XFillRectangle(d, win, gc, x, band * h / 24, unsigned(w / 3), unsigned(h / 24 + 1));
        }
        XFlush(d);
        usleep(50000);
    }
}

double streamDuration(const Json::Value& info, const std::string& type) {
    const Json::Value* s = streamOf(info, type);
    return s ? std::atof((*s)["duration"].asString().c_str()) : -1;
}

}  // namespace

double wallOf(const std::function<void()>& job) {
    const auto t0 = bench::Clock::now();
    job();
    return bench::secondsSince(t0);
}

void shell(const std::string& command) {
    if (std::system(command.c_str()) != 0) bench::fail("failed: %s", command.c_str());
}

int rewrite(int minutes) {
    TempDir dir("lumacro3-rewrite");
    std::printf("rewrite: a %d-minute lesson at the recorder's defaults (1920x1080, 10 fps, "
                "1036800 bit/s, AAC 64 kbit/s, fragments of 1 s)\n",
                minutes);
    const std::string encode =
        " -pix_fmt yuv420p -c:v libx264 -preset ultrafast -tune zerolatency -b:v 1036800 -g 50 "
        "-c:a aac -b:a 64k -ar 44100 -ac 2 -t 60 ";
    struct Kind {
        const char* name;
        const char* source;
    };
    const Kind kinds[] = {
        {"moving", "-f lavfi -i testsrc2=s=1920x1080:r=10"},
        {"still", "-f lavfi -i smptehdbars=s=1920x1080:r=10"},
    };
    for (const Kind& k : kinds) {
        const std::string minute = dir.path() + "/" + k.name + "-minute.mp4";
        const std::string lesson = dir.path() + "/" + k.name + "-lesson.MP4";
        shell(std::string("ffmpeg -nostdin -v error -y ") + k.source +
              " -f lavfi -i sine=f=1000:r=44100" + encode + "'" + minute + "'");
        shell("ffmpeg -nostdin -v error -y -stream_loop " + std::to_string(minutes - 1) + " -i '" + minute +
              "' -c copy -movflags +frag_keyframe+empty_moov+default_base_moof -frag_duration 1000000 '" +
              lesson + "'");
        const double bytes = double(std::filesystem::file_size(lesson));
        const std::string work = dir.path() + "/20261209-08.00.00.MP4";
        const std::string copy = dir.path() + "/copy.MP4";
        const std::string cli = dir.path() + "/cli.mp4";
        // Each is timed from a cold start of its own process or call; the
        // file is in the page cache for all three (it was just written).
        shell("cp '" + lesson + "' '" + work + "'");
        shell("sync");
        const double copyTime = wallOf([&] { shell("cp '" + lesson + "' '" + copy + "' && sync"); });
        const double cliTime = wallOf([&] {
            shell("ffmpeg -nostdin -v error -y -i '" + lesson + "' -c copy -movflags +faststart '" + cli +
                  "' && sync");
        });
        const double cpu0 = selfCpu();
        bool ok = false;
        const double oursTime = wallOf([&] { ok = record::rewriteAsRegularMp4(work); });
        const double oursCpu = selfCpu() - cpu0;
        if (!ok) bench::fail("the rewrite failed");
        const double duration = std::atof(
            commandOutput("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + work + "'").c_str());
        std::printf("  %-6s %.0f MB, %.1f min: ours %.2f s (%.2f CPU s), ffmpeg -c copy +faststart %.2f s, "
                    "plain copy + sync %.2f s; ours / ffmpeg %.2f, ours / copy %.2f\n",
                    k.name, bytes / 1e6, duration / 60, oursTime, oursCpu, cliTime, copyTime,
                    oursTime / cliTime, oursTime / copyTime);
        for (const std::string& f : {minute, lesson, work, copy, cli}) std::filesystem::remove(f);
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "rewrite") {
        int minutes = 45;
        for (int i = 2; i + 1 < argc; ++i)
            if (std::string(argv[i]) == "--minutes") minutes = std::max(1, std::atoi(argv[i + 1]));
        return rewrite(minutes);
    }
    int seconds = 60;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--seconds") seconds = std::max(5, std::atoi(argv[i + 1]));

    OwnDisplay display(1920, 1080);
    if (!display.ready()) bench::fail("no Xvfb");
    PulseServer pulse;
    if (!pulse.ready()) bench::fail("no pulseaudio");
    TempDir dir;
    pid_t animation = startAnimation(display.name());
    TonePlayer tone(pulse, dir.path(), 1000, seconds * 3 + 30);

    // Our recorder. A silent stream keeps the null sink running (a fresh sink
    // stalls its first stream for a second or two).
    double ours = 0, audioDur = 0, videoDur = 0, wall = 0, driftEarly = 0, driftLate = 0, driftSpan = 1,
           driftSlope = 0;
    {
        std::atomic<int> silent{0};
        audio::PcmOutput keepAlive;
        keepAlive.open([&](uint8_t*, int) { ++silent; }, 4096);
        keepAlive.start();
        for (int i = 0; i < 400 && silent < 3; ++i) usleep(10000);

        core::MemorySettings settings;
        capture::ScreenCaptureService capture(platform::makeX11ScreenGrabber(), nullptr, nullptr);
        record::LessonRecorder recorder(settings, [&] { return dir.path(); }, nullptr, &capture);
        const double cpu0 = selfCpu();
        const auto t0 = bench::Clock::now();
        recorder.start(false);
        if (!recorder.isRecording()) bench::fail("the recorder did not start");
        // The audio timeline against the video timeline, twice a second; the
        // slope of a straight line through the differences is the drift.
        std::vector<std::pair<double, double>> samples;
        const auto end = t0 + std::chrono::seconds(seconds);
        while (bench::Clock::now() < end) {
            usleep(500000);
            double a, v;
            recorder.timelines(a, v);
            if (v > 2) samples.emplace_back(v, a - v);
        }
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (auto [x, y] : samples) sx += x, sy += y, sxx += x * x, sxy += x * y;
        const double n = double(samples.size());
        driftSlope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
        driftEarly = samples.front().second;
        driftLate = samples.back().second;
        driftSpan = samples.back().first - samples.front().first;
        if (bench::hasFlag(argc, argv, "--threads")) {
            // CPU of each thread of this process so far (name, seconds).
            const long tick = sysconf(_SC_CLK_TCK);
            for (const auto& task : filesIn("/proc/" + std::to_string(getpid()) + "/task")) {
                const std::string stat = commandOutput("cat " + task + "/stat");
                const size_t close = stat.rfind(')');
                const std::string name = stat.substr(stat.find('(') + 1, close - stat.find('(') - 1);
                std::vector<std::string> f;
                size_t pos = close + 2;
                while (pos < stat.size()) {
                    size_t e = stat.find(' ', pos);
                    if (e == std::string::npos) e = stat.size();
                    f.push_back(stat.substr(pos, e - pos));
                    pos = e + 1;
                }
                if (f.size() > 13)
                    std::printf("thread %-16s %.2f s\n", name.c_str(),
                                double(std::atol(f[11].c_str()) + std::atol(f[12].c_str())) / double(tick));
            }
        }
        recorder.stop();
        recorder.waitUntilFinished();
        wall = bench::secondsSince(t0);
        ours = selfCpu() - cpu0;
        const Json::Value info = probe(settings.getString("SET", "lastfile", ""));
        audioDur = streamDuration(info, "audio");
        videoDur = streamDuration(info, "video");
    }

    const double perMinute = 60.0 / seconds;
    std::printf("recording %d s of 1920x1080 at 10 fps with sound (wall %.1f s)\n", seconds, wall);
    std::printf("lumacro recorder: %.2f CPU s per minute\n", ours * perMinute);
    std::printf("file: video %.3f s, audio %.3f s (audio - video %+.0f ms, start offset included)\n", videoDur,
                audioDur, (audioDur - videoDur) * 1000);
    // Sound reaches the encoder in blocks of 92.9 ms, so single readings
    // are +-93 ms; the slope over the whole run is the drift.
    std::printf("audio - video timeline: first %+.0f ms, last %+.0f ms over %.0f s; fitted drift %+.2f ms/min\n",
                driftEarly * 1000, driftLate * 1000, driftSpan, driftSlope * 60000);
    std::printf("drift extrapolated to 10 minutes: %+.0f ms  (goal < 100)\n", driftSlope * 600 * 1000);
    std::fflush(stdout);
    if (bench::hasFlag(argc, argv, "--no-reference")) {
        kill(animation, SIGTERM);
        int status = 0;
        waitpid(animation, &status, 0);
        return 0;
    }

    // The reference: ffmpeg grabbing the same display and the sink's monitor.
    const std::string out = dir / "ffmpeg.mp4";
    const std::vector<std::string> args = {
        "ffmpeg", "-v", "error", "-y", "-f", "x11grab", "-framerate", "10", "-video_size", "1920x1080",
        "-i", display.name(), "-f", "pulse", "-server", pulse.server(), "-i", pulse.monitor(),
        "-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-b:v", "1036800",
        "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "64k", "-t", std::to_string(seconds), out};
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    pid_t ff = spawn(args);
    int status = 0;
    rusage usage{};
    wait4(ff, &status, 0, &usage);
    const double reference = cpuSeconds(usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) bench::fail("ffmpeg failed: %s", shown.c_str());

    kill(animation, SIGTERM);
    waitpid(animation, &status, 0);

    std::printf("ffmpeg reference: %.2f CPU s per minute  (%s)\n", reference * perMinute, shown.c_str());
    std::printf("ratio recorder / ffmpeg: %.3f  (goal <= 0.8)\n", ours / reference);
    return 0;
}
