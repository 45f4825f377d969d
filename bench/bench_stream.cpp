// The screen stream on a private 1920x1080 Xvfb.
//
//  pipeline: CPU seconds per minute of capture + convert + encode + the live
//            stream service sending to 5 loopback viewers, FRAME_RATE 20,
//            QUALITY 1 and 2, on a picture that changes every frame, against
//            `ffmpeg -f x11grab ... -c:v libx264` writing to a loopback socket
//            at the same size, crf and rate.
//  cases:    the same at the defaults (FRAME_RATE 20, QUALITY 1) on a still
//            screen and on a moving one, ours with and without change
//            tracking (X DAMAGE), each against the same ffmpeg command.
//  latency:  time from a screen change to the first picture received on
//            loopback whose decoded image shows it (p50, p95), on a still and
//            on a moving background, against the same measurement of the
//            ffmpeg CLI's stream.
//  repeat:   libx264 at the encoder's settings, 1366x768: the cost of a
//            picture that repeats the last one against a changed picture,
//            and of the same repeat made without libx264.
//
// Usage: bench_stream [pipeline|cases|latency|repeat] [--seconds N] [--changes N] [--quick]
//                     [--only still|moving]   (cases)
#include "bench_stream_common.h"

#include "capture/screen_capture_service.h"
#include "core/settings.h"
#include "phone/phone_client.h"
#include "platform/fakes/fake_network_adapters.h"
#include "platform/screen_grabber.h"
#include "protocol/message_names.h"
#include "stream/frame_converter.h"
#include "stream/live_service.h"
#include "stream/screen_encode_service.h"
#include "support/h264_repeat.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <atomic>
#include <ctime>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <random>
#include <thread>

using namespace bench;

namespace {

constexpr int kW = 1920, kH = 1080;
const std::string kAddress = "127.3.7.1";

double threadCpu(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Our pipeline, the way the program runs it.
struct Pipeline {
    explicit Pipeline(int quality, bool trackChanges = true)
        : capture(platform::makeX11ScreenGrabber(trackChanges), nullptr, nullptr),
          encoder(settings, capture, screen), service(encoder) {
        settings.setInt("SET", "FRAME_RATE", 20);
        settings.setInt("SET", "QUALITY", quality);
        if (!service.start(kAddress, 0)) fail("live service did not start");
    }
    core::MemorySettings settings;
    platform::FakeScreenInfo screen{kW, kH};
    capture::ScreenCaptureService capture;
    stream::ScreenEncodeService encoder;
    stream::LiveService service;
};

// Reads a socket to its end on its own thread; its CPU is not the pipeline's.
struct Reader {
    explicit Reader(int fd) : fd(fd) {
        thread = std::thread([this] {
            clockid_t c;
            pthread_getcpuclockid(pthread_self(), &c);
            clock.store(c);
            ready.store(true);
            std::vector<uint8_t> buffer(256 * 1024);
            for (;;) {
                const ssize_t n = ::recv(this->fd, buffer.data(), buffer.size(), 0);
                if (n <= 0) break;
                bytes += size_t(n);
            }
        });
        while (!ready.load()) std::this_thread::yield();
    }
    ~Reader() {
        ::shutdown(fd, SHUT_RDWR);
        thread.join();
        ::close(fd);
    }
    double cpu() { return threadCpu(clock.load()); }
    int fd;
    std::thread thread;
    std::atomic<clockid_t> clock{};
    std::atomic<bool> ready{false};
    std::atomic<size_t> bytes{0};
};

struct PipelineFigures {
    double cpuPerMin = 0;  // CPU seconds per minute, the viewers' reading left out
    size_t received = 0;   // bytes the 5 viewers received
    uint64_t grabs = 0, conversions = 0, pictures = 0, repeats = 0;
};

// Runs our pipeline with 5 viewers for `seconds`.
PipelineFigures measureOurs(int quality, bool trackChanges, int seconds) {
    PipelineFigures f;
    Pipeline p(quality, trackChanges);
    std::vector<std::unique_ptr<Reader>> readers;
    for (int i = 0; i < 5; ++i)
        readers.push_back(std::make_unique<Reader>(connectTo(kAddress, p.service.port())));
    std::this_thread::sleep_for(std::chrono::seconds(1));  // start-up and first key frame
    double readers0 = 0, readers1 = 0;
    for (auto& r : readers) readers0 += r->cpu();
    const uint64_t grabs0 = p.capture.grabCount(), conv0 = p.encoder.conversions(),
                   pics0 = p.encoder.picturesEncoded(), repeats0 = p.encoder.repeats();
    const double cpu0 = processCpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu1 = processCpuSeconds();
    const double wall = secondsSince(start);
    for (auto& r : readers) readers1 += r->cpu();
    f.grabs = p.capture.grabCount() - grabs0;
    f.conversions = p.encoder.conversions() - conv0;
    f.pictures = p.encoder.picturesEncoded() - pics0;
    f.repeats = p.encoder.repeats() - repeats0;
    f.cpuPerMin = ((cpu1 - cpu0) - (readers1 - readers0)) * 60 / wall;
    for (auto& r : readers) f.received += r->bytes.load();
    readers.clear();
    p.service.shutdown();
    return f;
}

// The ffmpeg CLI at the same size, crf and rate into a socket of ours;
// CPU seconds per minute.
double measureFfmpeg(const testing_support::PrivateXvfb& xvfb, int quality, int seconds) {
    const stream::OutputSize size = stream::outputSize(quality, kW, kH, false);
    Listener listener(kAddress);
    std::unique_ptr<Reader> sink;
    std::thread acceptor([&] { sink = std::make_unique<Reader>(listener.accept()); });
    const double ref = runForCpu(
        {"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "x11grab", "-draw_mouse", "0",
         "-framerate", "20", "-video_size", std::to_string(kW) + "x" + std::to_string(kH), "-i",
         xvfb.display(), "-t", std::to_string(seconds), "-vf",
         "scale=" + std::to_string(size.width) + ":" + std::to_string(size.height), "-pix_fmt",
         "yuv420p", "-c:v", "libx264", "-preset", "veryfast", "-tune", "zerolatency", "-crf",
         stream::crfFor(quality), "-g", "200", "-bf", "0", "-f", "h264",
         "tcp://" + kAddress + ":" + std::to_string(listener.port())});
    acceptor.join();
    sink.reset();
    return ref * 60 / seconds;
}

void pipeline(const testing_support::PrivateXvfb& xvfb, int seconds) {
    std::printf("pipeline: capture + convert (%s) + encode + send to 5 viewers, %d s each\n",
                stream::FrameConverter::backend(), seconds);
    PatternDrawer drawer(kW, kH, 30);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (int q : {1, 2}) {
        const stream::OutputSize size = stream::outputSize(q, kW, kH, false);
        const PipelineFigures ours = measureOurs(q, true, seconds);
        const double ref = measureFfmpeg(xvfb, q, seconds);
        std::printf("  QUALITY %d (%dx%d, crf %s): ours %6.2f CPU s/min (%zu bytes to 5 viewers), "
                    "ffmpeg %6.2f CPU s/min, ratio %.2f\n",
                    q, size.width, size.height, stream::crfFor(q), ours.cpuPerMin, ours.received, ref,
                    ours.cpuPerMin / ref);
    }
}

// A still screen: colour bars and blocks drawn once.
std::unique_ptr<testing_support::ColourWindow> stillPicture() {
    std::vector<testing_support::ColourWindow::Fill> fills;
    for (int i = 0; i < 24; ++i) {
        const unsigned v = unsigned(i * 37) & 0xff;
        fills.push_back({i * kW / 24, 0, kW / 24 + 1, kH,
                         (v << 16) | (((v * 3) & 0xff) << 8) | ((255 - v) & 0xff)});
    }
    for (int i = 0; i < 12; ++i) fills.push_back({100 + i * 140, 200 + (i % 3) * 220, 120, 90, 0xffffff});
    return std::make_unique<testing_support::ColourWindow>(0, 0, kW, kH, fills);
}

// The screen behind a measurement: one still picture, or a pattern drawn
// 30 times a second; shown until it goes out of scope.
struct Background {
    std::unique_ptr<testing_support::ColourWindow> still;
    std::unique_ptr<PatternDrawer> drawer;
    explicit Background(bool moving) {
        if (moving)
            drawer = std::make_unique<PatternDrawer>(kW, kH, 30);
        else
            still = stillPicture();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
};

void printOurs(const char* name, const char* how, const PipelineFigures& f, double ref) {
    std::printf("  %-6s ours, %-15s %6.2f CPU s/min, ratio %.3f "
                "(grabs %llu, conversions %llu, pictures %llu, repeats %llu, %zu bytes)\n",
                name, how, f.cpuPerMin, f.cpuPerMin / ref, static_cast<unsigned long long>(f.grabs),
                static_cast<unsigned long long>(f.conversions), static_cast<unsigned long long>(f.pictures),
                static_cast<unsigned long long>(f.repeats), f.received);
}

// `only`: "still" or "moving" runs that case alone (for perf), else both.
void cases(const testing_support::PrivateXvfb& xvfb, int seconds, const std::string& only) {
    std::printf("cases: defaults (FRAME_RATE 20, QUALITY 1, 1366x768, crf 35), 5 viewers, %d s each\n",
                seconds);
    for (bool moving : {false, true}) {
        if ((only == "still" && moving) || (only == "moving" && !moving)) continue;
        const Background background(moving);
        const PipelineFigures ours = measureOurs(1, true, seconds);
        const PipelineFigures whole = measureOurs(1, false, seconds);
        const double ref = measureFfmpeg(xvfb, 1, seconds);
        const char* name = moving ? "moving" : "still";
        printOurs(name, "damage tracking:", ours, ref);
        printOurs(name, "whole grabs:", whole, ref);
        std::printf("  %-6s ffmpeg x11grab+libx264: %6.2f CPU s/min\n", name, ref);
    }
}

// Decodes pictures and reports whether the probe point is bright.
class Probe {
public:
    Probe() {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        ctx_ = avcodec_alloc_context3(codec);
        ctx_->thread_count = 1;
        ctx_->flags |= AV_CODEC_FLAG_LOW_DELAY;
        if (avcodec_open2(ctx_, codec, nullptr) < 0) fail("no H.264 decoder");
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
    }
    ~Probe() {
        av_packet_free(&packet_);
        av_frame_free(&frame_);
        avcodec_free_context(&ctx_);
    }
    // One complete access unit; records (time, bright) for each decoded picture.
    void feed(const uint8_t* data, size_t size, Clock::time_point at) {
        packet_->data = const_cast<uint8_t*>(data);
        packet_->size = int(size);
        if (avcodec_send_packet(ctx_, packet_) < 0) return;
        while (avcodec_receive_frame(ctx_, frame_) == 0) {
            // Centre of the square, in the decoded picture's coordinates.
            const int x = 960 * frame_->width / kW, y = 540 * frame_->height / kH;
            const bool bright = frame_->data[0][y * frame_->linesize[0] + x] > 128;
            std::lock_guard<std::mutex> lock(mutex);
            seen.push_back({at, bright});
        }
    }
    struct Seen {
        Clock::time_point at;
        bool bright;
    };
    std::mutex mutex;
    std::vector<Seen> seen;

private:
    AVCodecContext* ctx_;
    AVFrame* frame_;
    AVPacket* packet_;
};

// Toggles the square `changes` times; returns the latencies in ms.
std::vector<double> measureLatency(Probe& probe, testing_support::ColourWindow& square, int changes) {
    auto lastState = [&]() -> int {
        std::lock_guard<std::mutex> lock(probe.mutex);
        return probe.seen.empty() ? -1 : int(probe.seen.back().bright);
    };
    for (int i = 0; i < 300 && lastState() < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (lastState() < 0) fail("no picture decoded");
    std::mt19937 random(7);
    std::vector<double> latencies;
    bool bright = lastState() == 1;
    for (int i = 0; i < changes; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250 + random() % 200));
        bright = !bright;
        size_t from;
        {
            std::lock_guard<std::mutex> lock(probe.mutex);
            from = probe.seen.size();
        }
        const auto t0 = Clock::now();
        square.setFills({{0, 0, 400, 400, bright ? 0xffffffUL : 0x000000UL}});
        for (int wait = 0; wait < 300; ++wait) {
            {
                std::lock_guard<std::mutex> lock(probe.mutex);
                for (size_t k = from; k < probe.seen.size(); ++k) {
                    if (probe.seen[k].bright == bright && probe.seen[k].at >= t0) {
                        latencies.push_back(
                            std::chrono::duration<double, std::milli>(probe.seen[k].at - t0).count());
                        wait = 1000;
                        break;
                    }
                }
            }
            if (wait < 1000) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    std::sort(latencies.begin(), latencies.end());
    return latencies;
}

void latency(const testing_support::PrivateXvfb& xvfb, int changes, bool moving) {
    const Background background(moving);
    testing_support::ColourWindow square(760, 340, 400, 400, {{0, 0, 400, 400, 0x000000}});
    std::printf("latency: a 400x400 square over the %s background flips black/white %d times; "
                "FRAME_RATE 20, QUALITY 1\n",
                moving ? "moving" : "still", changes);
    std::vector<double> ours, ref;
    {
        Pipeline p(1);
        Probe probe;
        phone::PhoneClient client;
        if (!client.connect(kAddress, p.service.port())) fail("connect: %s", client.lastError().c_str());
        std::atomic<bool> stop{false};
        std::thread reader([&] {
            while (!stop.load()) {
                phone::ReceivedFrame frame;
                if (client.readFrame(frame, 100) != phone::ReadResult::Frame) continue;
                const auto at = Clock::now();
                if (frame.className == protocol::MsgLiveData)
                    probe.feed(frame.data.data(), frame.data.size(), at);
            }
        });
        ours = measureLatency(probe, square, changes);
        stop.store(true);
        reader.join();
        client.close();
        p.service.shutdown();
    }
    {
        Listener listener(kAddress);
        Probe probe;
        std::atomic<bool> stop{false};
        std::thread reader([&] {
            const int fd = listener.accept();
            std::vector<uint8_t> au;
            uint8_t buffer[65536];
            while (!stop.load()) {
                pollfd p{fd, POLLIN, 0};
                // A picture is complete when the sender pauses: ffmpeg flushes
                // each packet, in writes of at most 32 KiB.
                const int ready = ::poll(&p, 1, au.empty() ? 100 : 2);
                if (ready == 0) {
                    if (!au.empty()) probe.feed(au.data(), au.size(), Clock::now());
                    au.clear();
                    continue;
                }
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                au.insert(au.end(), buffer, buffer + n);
            }
            ::close(fd);
        });
        const stream::OutputSize size = stream::outputSize(1, kW, kH, false);
        const int seconds = changes / 2 + 10;
        std::thread ffmpeg([&] {
            runForCpu({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "x11grab", "-draw_mouse",
                       "0", "-framerate", "20", "-video_size",
                       std::to_string(kW) + "x" + std::to_string(kH), "-i", xvfb.display(), "-t",
                       std::to_string(seconds), "-vf",
                       "scale=" + std::to_string(size.width) + ":" + std::to_string(size.height),
                       "-pix_fmt", "yuv420p", "-c:v", "libx264", "-preset", "veryfast", "-tune",
                       "zerolatency", "-crf", "35", "-g", "200", "-bf", "0", "-flush_packets", "1",
                       "-f", "h264", "tcp://" + kAddress + ":" + std::to_string(listener.port())});
        });
        ref = measureLatency(probe, square, changes);
        stop.store(true);
        reader.join();
        ffmpeg.join();
    }
    auto line = [](const char* name, const std::vector<double>& v) {
        std::printf("  %-40s n=%zu  p50 %6.1f ms  p95 %6.1f ms\n", name, v.size(), percentile(v, 50),
                    percentile(v, 95));
    };
    line("ours (live service, MsgLiveData)", ours);
    line("reference: ffmpeg x11grab+libx264 -> tcp", ref);
    std::printf("  ratio ours / ffmpeg: p50 %.2f, p95 %.2f\n", percentile(ours, 50) / percentile(ref, 50),
                percentile(ours, 95) / percentile(ref, 95));
}

}  // namespace

// Milliseconds of CPU per picture for libx264 at the encoder's settings
// (veryfast, zerolatency, crf 35, no B-frames, one thread) at 1366x768.
void repeat(int pictures) {
    std::printf("repeat: libx264 at the live encoder's settings, 1366x768, %d pictures each\n", pictures);
    const int w = 1366, h = 768;
    auto run = [&](bool changing, size_t& bytes) {
        const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
        AVCodecContext* ctx = avcodec_alloc_context3(codec);
        ctx->time_base = AVRational{1, 20};
        ctx->width = w;
        ctx->height = h;
        ctx->gop_size = 200;
        ctx->pix_fmt = AV_PIX_FMT_YUV420P;
        ctx->max_b_frames = 0;
        ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
        ctx->thread_count = 1;
        av_opt_set(ctx->priv_data, "preset", "veryfast", 0);
        av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
        av_opt_set(ctx->priv_data, "crf", "35", 0);
        if (avcodec_open2(ctx, codec, nullptr) < 0) fail("no libx264");
        AVFrame* frame = av_frame_alloc();
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = w;
        frame->height = h;
        av_frame_get_buffer(frame, 32);
        AVPacket* packet = av_packet_alloc();
        auto paint = [&](int n) {
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    frame->data[0][y * frame->linesize[0] + x] = uint8_t(((x + n * 9) / 57 * 40 + y / 3) & 0xff);
            for (int p = 1; p < 3; ++p)
                for (int y = 0; y < h / 2; ++y)
                    std::memset(frame->data[p] + y * frame->linesize[p], 128 + p * 10, size_t(w / 2));
        };
        paint(0);
        bytes = 0;
        double cpu = 0;
        support::H264Repeater repeater;
        for (int i = 0; i < pictures + 1; ++i) {
            av_frame_make_writable(frame);
            if (changing) paint(i);
            frame->pts = i;
            const double c0 = processCpuSeconds();
            avcodec_send_frame(ctx, frame);
            while (avcodec_receive_packet(ctx, packet) == 0) {
                if (i > 0) bytes += size_t(packet->size);
                repeater.pass(packet->data, packet->size);
                av_packet_unref(packet);
            }
            if (i > 0) cpu += processCpuSeconds() - c0;  // the first (key) picture left out
        }
        if (!changing && repeater.canRepeat()) {
            // The same pictures made without libx264.
            size_t repeatBytes = 0;
            const double c0 = processCpuSeconds();
            for (int i = 0; i < pictures; ++i) repeatBytes += repeater.repeat().size();
            const double each = (processCpuSeconds() - c0) * 1000 / pictures;
            std::printf("  repeat without libx264 (P_Skip picture): %.3f ms CPU, %zu bytes each\n", each,
                        repeatBytes / size_t(pictures));
        }
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
        return cpu * 1000 / pictures;
    };
    size_t sameBytes = 0, changedBytes = 0;
    const double same = run(false, sameBytes);
    const double changed = run(true, changedBytes);
    std::printf("  repeated picture: %.3f ms CPU, %zu bytes each\n", same, sameBytes / size_t(pictures));
    std::printf("  changed picture:  %.3f ms CPU, %zu bytes each\n", changed, changedBytes / size_t(pictures));
    std::printf("  ratio repeated / changed: %.3f\n", same / changed);
}

int main(int argc, char** argv) {
    const bool quick = hasFlag(argc, argv, "--quick");
    const std::string mode = argc > 1 && argv[1][0] != '-' ? argv[1] : "all";
    const int seconds = argInt(argc, argv, "--seconds", quick ? 5 : 20);
    const int changes = argInt(argc, argv, "--changes", quick ? 10 : 60);

    if (mode == "all" || mode == "repeat") repeat(quick ? 50 : 200);
    if (mode == "repeat") return 0;
    testing_support::PrivateXvfb xvfb(kW, kH);
    if (!xvfb.ok()) fail("Xvfb did not start");
    if (mode == "all" || mode == "pipeline") pipeline(xvfb, seconds);
    std::string only;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--only") only = argv[i + 1];
    if (mode == "all" || mode == "cases") cases(xvfb, seconds, only);
    if (mode == "all" || mode == "latency") {
        latency(xvfb, changes, false);
        latency(xvfb, changes, true);
    }
    return 0;
}
