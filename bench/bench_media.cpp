// The media player's own measurements, on the display and sound server of
// the environment (bench/media_bench.sh makes private ones):
//
//   bench_media play FILE        plays FILE full screen to its end with the
//                                player window; prints the CPU time used
//   bench_media live FILE.h264   live-view latency: the pictures of an
//                                Annex-B file are handed in at the file's
//                                rate as the session does; each one's time
//                                from hand-over to presentation on screen,
//                                against a reference decode of the same
//                                pictures with plain libavcodec in this run
#include "core/heap_blocks.h"
#include "core/window_messages.h"
#include "phone/media_units.h"
#include "ui/player/media_player_wnd.h"
#include "ui/player/video_static.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <QApplication>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

int play(const std::string& file) {
    ui::player::PlayerWindowLink link;
    ui::player::MediaPlayerWnd wnd(link);
    const double cpu0 = cpuSeconds();
    const auto t0 = Clock::now();
    wnd.handle(core::UM_PLAY_URL, 0, 0, core::makeTextBlock(file, core::kUrlBlockUnits));
    if (!wnd.isPlaying()) {
        std::fprintf(stderr, "bench_media: cannot play %s\n", file.c_str());
        return 1;
    }
    while (wnd.isPlaying()) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    std::printf("played %s: %.2f s, CPU %.2f s, %llu pictures drawn\n", file.c_str(), ms(Clock::now() - t0) / 1000,
                cpuSeconds() - cpu0, static_cast<unsigned long long>(wnd.picture().drawnFrames()));
    return 0;
}

// Plain decode of the same access units: the floor any live view has to pay.
double referenceDecodeMs(const std::vector<std::vector<uint8_t>>& units) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx || avcodec_open2(ctx, codec, nullptr) < 0) return -1;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<double> times;
    for (const auto& u : units) {
        std::vector<uint8_t> data(u);
        data.resize(u.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        packet->data = data.data();
        packet->size = int(u.size());
        const auto t = Clock::now();
        avcodec_send_packet(ctx, packet);
        while (avcodec_receive_frame(ctx, frame) == 0) av_frame_unref(frame);
        times.push_back(ms(Clock::now() - t));
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    std::sort(times.begin(), times.end());
    return times.empty() ? 0 : times[times.size() / 2];
}

int live(const std::string& file) {
    phone::AccessUnitReader reader;
    if (!reader.open(file) || reader.codecId() != 0) {
        std::fprintf(stderr, "bench_media: %s is not an H.264 stream\n", file.c_str());
        return 1;
    }
    std::vector<std::vector<uint8_t>> units;
    std::vector<uint8_t> unit;
    bool key = false;
    while (reader.next(unit, key)) units.push_back(unit);
    const double frameMs = 1000.0 / reader.frameRate();

    ui::player::PlayerWindowLink link;
    ui::player::MediaPlayerWnd wnd(link);
    std::mutex mutex;
    std::vector<Clock::time_point> pushed(units.size() + 1);
    std::map<uint64_t, Clock::time_point> shown;
    wnd.picture().onPresented([&](uint64_t n) {
        std::lock_guard<std::mutex> lock(mutex);
        shown[n] = Clock::now();
    });
    if (!wnd.openLiveView(reader.width(), reader.height(), 0, 1)) return 1;
    std::thread sender([&] {
        const auto start = Clock::now();
        for (size_t i = 0; i < units.size(); ++i) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(int64_t(i * frameMs * 1000)));
            {
                std::lock_guard<std::mutex> lock(mutex);
                pushed[i + 1] = Clock::now();
            }
            wnd.engine().videoData(units[i].data(), units[i].size());
        }
    });
    const auto end = Clock::now() + std::chrono::milliseconds(int64_t(units.size() * frameMs + 1500));
    while (Clock::now() < end) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    sender.join();
    wnd.closeMedia();

    std::vector<double> latency;
    for (auto& [n, at] : shown)
        if (n < pushed.size() && n > 10) latency.push_back(ms(at - pushed[n]));  // after the start-up
    std::sort(latency.begin(), latency.end());
    if (latency.empty()) {
        std::fprintf(stderr, "bench_media: no pictures shown\n");
        return 1;
    }
    const double median = latency[latency.size() / 2];
    const double p90 = latency[latency.size() * 9 / 10];
    const double reference = referenceDecodeMs(units);
    std::printf("live view %dx%d, %zu pictures at %.1f fps, %zu shown\n", reader.width(), reader.height(),
                units.size(), reader.frameRate(), shown.size());
    std::printf("hand-over to on screen: median %.1f ms, 90%% %.1f ms, max %.1f ms\n", median, p90, latency.back());
    std::printf("reference plain decode: median %.2f ms a picture; ratio %.1f\n", reference,
                reference > 0 ? median / reference : 0.0);
    std::printf("goal 50 ms + one frame (%.1f ms): median / goal = %.2f\n", 50 + frameMs, median / (50 + frameMs));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_media play FILE | live FILE.h264\n");
        return 2;
    }
    QApplication app(argc, argv);
    const std::string mode = argv[1];
    if (mode == "play") return play(argv[2]);
    if (mode == "live") return live(argv[2]);
    std::fprintf(stderr, "usage: bench_media play FILE | live FILE.h264\n");
    return 2;
}
