// Recordings under an Xvfb of the test's own and a private sound server,
// read back with ffprobe and ffmpeg.
#include "capture/screen_capture_service.h"
#include "common/loopback.h"
#include "core/settings.h"
#include "net/session_server.h"
#include "phone/discovery.h"
#include "phone/phone_client.h"
#include "platform/fakes/fake_network_adapters.h"
#include "record/lesson_recorder.h"
#include "record/record_fixture.h"
#include "capture/colour_window.h"
#include "common/temp_dir.h"
#include "ui/main/command_context.h"
#include "ui/main/dispatcher.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <regex>
#include <sys/resource.h>

using namespace testing_support;
using record::LessonRecorder;

namespace {

// Everything one recording needs; the recorder goes first at the end.
struct Rig {
    explicit Rig(int width = 1280, int height = 720, bool withSound = true)
        : display(width, height), pulse(withSound ? std::make_unique<PulseServer>() : nullptr) {
        if (!withSound) {
            setenv("PULSE_SERVER", "unix:/nonexistent/lumacro3-no-pulse", 1);
            setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        }
        if (pulse && pulse->ready()) keepSinkRunning();
        capture = std::make_unique<capture::ScreenCaptureService>(platform::makeX11ScreenGrabber(), nullptr,
                                                                   nullptr);
        recorder = std::make_unique<LessonRecorder>(
            settings, [this] { return doc.path(); }, &states, capture.get(),
            [this](int64_t window, bool finished) {
                std::lock_guard<std::mutex> lock(mutex);
                notified.emplace_back(window, finished);
            });
    }
    ~Rig() { recorder.reset(); }

    // A stop, and the file made final (index in front) with the state sent.
    void stopAndWait() {
        recorder->stop();
        recorder->waitUntilFinished();
    }
    void endSilentlyAndWait() {
        recorder->endSilently();
        recorder->waitUntilFinished();
    }

    // A null sink that had no stream stalls a new one for a second or two
    // after its first block; a silent stream of our own keeps it running.
    void keepSinkRunning() {
        silence.open([this](uint8_t*, int) { ++silentBlocks; }, 4096);
        silence.start();
        for (int i = 0; i < 400 && silentBlocks < 3; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    bool ready() const { return display.ready() && (!pulse || pulse->ready()) && !doc.path().empty(); }
    std::string folder() const { return doc.path() + "/Record"; }
    std::string lastFile() { return settings.getString("SET", "lastfile", ""); }
    static void sleepSeconds(double s) {
        std::this_thread::sleep_for(std::chrono::milliseconds(int64_t(s * 1000)));
    }

    OwnDisplay display;
    std::unique_ptr<PulseServer> pulse;
    std::atomic<int> silentBlocks{0};
    audio::PcmOutput silence;
    TempDir doc;
    core::MemorySettings settings;
    StateLog states;
    std::mutex mutex;
    std::vector<std::pair<int64_t, bool>> notified;
    std::unique_ptr<capture::ScreenCaptureService> capture;
    std::unique_ptr<LessonRecorder> recorder;
};

double number(const Json::Value& v) { return std::atof(v.asString().c_str()); }

// Largest distance between neighbouring video frames, in seconds.
double largestGap(const std::vector<double>& times) {
    double gap = 0;
    for (size_t i = 1; i < times.size(); ++i) gap = std::max(gap, times[i] - times[i - 1]);
    return gap;
}

}  // namespace

TEST(RecorderFigures, RateQualityAndFileName) {
    EXPECT_EQ(LessonRecorder::frameRateFor(2, 1920), 5);
    EXPECT_EQ(LessonRecorder::frameRateFor(60, 1920), 30);
    EXPECT_EQ(LessonRecorder::frameRateFor(12, 2048), 12);
    EXPECT_EQ(LessonRecorder::frameRateFor(30, 2049), 5);
    EXPECT_DOUBLE_EQ(LessonRecorder::qualityFactor(5), 2.0);
    EXPECT_DOUBLE_EQ(LessonRecorder::qualityFactor(-3), 0.25);
    EXPECT_DOUBLE_EQ(LessonRecorder::qualityFactor(1), 0.5);
    std::tm t{};
    t.tm_year = 126, t.tm_mon = 0, t.tm_mday = 5, t.tm_hour = 9, t.tm_min = 3, t.tm_sec = 7;
    EXPECT_EQ(LessonRecorder::fileNameFor("/d/Record", t), "/d/Record/20260105-09.03.07.MP4");
    // Quality factor times pixels, the setting clamped to 0..3.
    EXPECT_EQ(LessonRecorder::bitRateFor(1, 1920, 1080), 1036800);
    EXPECT_EQ(LessonRecorder::bitRateFor(7, 3840, 2160), 16588800);
    EXPECT_EQ(LessonRecorder::bitRateFor(-1, 1280, 720), 230400);
}

TEST(Recorder, FiveSecondsOfScreenAndTone) {
    Rig rig;
    ASSERT_TRUE(rig.ready());
    TonePlayer tone(*rig.pulse, rig.doc.path(), 1000);
    Rig::sleepSeconds(0.3);
    const auto begin = std::chrono::steady_clock::now();
    rig.recorder->start(false);
    ASSERT_EQ(rig.states.states(), std::vector<int>{1});
    EXPECT_EQ(rig.recorder->frameRate(), 10);
    EXPECT_EQ(rig.recorder->bitRate(), LessonRecorder::bitRateFor(1, 1280, 720));
    Rig::sleepSeconds(5);
    rig.recorder->stop();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    rig.recorder->waitUntilFinished();
    EXPECT_EQ(rig.states.states(), (std::vector<int>{1, 0}));
    EXPECT_EQ(rig.states.targets(), (std::vector<int>{-1, -1}));
    EXPECT_EQ(rig.capture->consumerCount(), 0u);
    EXPECT_FALSE(rig.capture->drawCursor.load());

    const std::string file = rig.lastFile();
    EXPECT_EQ(filesIn(rig.folder()), std::vector<std::string>{file});
    EXPECT_TRUE(std::regex_match(file, std::regex(".*/Record/\\d{8}-\\d{2}\\.\\d{2}\\.\\d{2}\\.MP4")))
        << file;

    const Json::Value info = probe(file);
    const Json::Value* video = streamOf(info, "video");
    const Json::Value* audio = streamOf(info, "audio");
    ASSERT_TRUE(video && audio) << file;
    EXPECT_EQ((*video)["codec_name"].asString(), "h264");
    EXPECT_EQ((*video)["width"].asInt(), 1280);
    EXPECT_EQ((*video)["height"].asInt(), 720);
    EXPECT_EQ((*video)["pix_fmt"].asString(), "yuv420p");
    EXPECT_EQ((*video)["r_frame_rate"].asString(), "10/1");
    EXPECT_EQ((*audio)["codec_name"].asString(), "aac");
    EXPECT_EQ((*audio)["sample_rate"].asString(), "44100");
    EXPECT_EQ((*audio)["channels"].asInt(), 2);
    // The file lasts as long as the recording ran (start and stop took
    // part of the measured time, never more than it).
    const double duration = number(info["format"]["duration"]);
    EXPECT_LE(duration, wall + 0.2);
    EXPECT_GE(duration, 4.5);
    // Ten pictures a second: never more; fewer only where the machine was
    // too busy, and the largest gap below bounds that.
    const auto frames = videoPacketTimes(file);
    EXPECT_LE(double(frames.size()), duration * 10 + 1);
    EXPECT_GE(double(frames.size()), duration * 5);
    EXPECT_LT(largestGap(frames), 0.35);

    auto left = decodedAudio(file);
    ASSERT_GT(left.size(), size_t(44100 * 4));
    std::vector<double> middle(left.begin() + 44100, left.begin() + 44100 * 4);
    EXPECT_GT(rms(middle), 0.15);
    // Judged in windows of 0.1 s: on a loaded machine a block of sound may
    // reach the mix a moment late, which breaks the phase between windows.
    int toned = 0, windows = 0;
    for (size_t i = 0; i + 4410 <= middle.size(); i += 4410, ++windows) {
        const std::vector<double> w(middle.begin() + long(i), middle.begin() + long(i + 4410));
        if (toneLevel(w, 1000, 44100) > 0.3 && toneLevel(w, 1500, 44100) < 0.05) ++toned;
    }
    EXPECT_GE(toned, windows * 8 / 10) << toned << " of " << windows;
}

TEST(Recorder, APauseLeavesNoFrozenStretch) {
    Rig rig;
    ASSERT_TRUE(rig.ready());
    TonePlayer tone(*rig.pulse, rig.doc.path(), 1000);
    rig.recorder->start(false);
    ASSERT_TRUE(rig.recorder->isRecording());
    const auto begin = std::chrono::steady_clock::now();
    Rig::sleepSeconds(2);
    rig.recorder->pause();
    rig.recorder->pause();  // a second pause changes nothing
    EXPECT_TRUE(rig.recorder->isPaused());
    Rig::sleepSeconds(3);
    rig.recorder->resume();
    Rig::sleepSeconds(2);
    rig.recorder->stop();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    rig.recorder->waitUntilFinished();
    // The dispatcher reports pause and resume; the recorder only start and stop.
    EXPECT_EQ(rig.states.states(), (std::vector<int>{1, 0}));

    const std::string file = rig.lastFile();
    const Json::Value info = probe(file);
    EXPECT_NEAR(number(info["format"]["duration"]), wall - 3, 0.6);
    const auto frames = videoPacketTimes(file);
    ASSERT_FALSE(frames.empty());
    EXPECT_LT(largestGap(frames), 0.35);
    EXPECT_NEAR(frames.back(), wall - 3, 0.6);
}

TEST(Recorder, TheWatermarkIsBlendedAtTheTopRight) {
    Rig rig;
    ASSERT_TRUE(rig.ready());
    // 200 x 100 pure red without alpha: drawn at alpha 127 on the black screen.
    const std::string mark = rig.doc / "mark.bmp";
    ASSERT_EQ(std::system(("convert -size 200x100 xc:'#ff0000' -type TrueColor BMP3:'" + mark + "'").c_str()), 0);
    rig.settings.setString("SET", "WATERMARK", mark);
    rig.recorder->start(false);
    ASSERT_EQ(rig.states.states(), std::vector<int>{1});
    EXPECT_EQ(rig.recorder->watermark().width, 200);
    EXPECT_EQ(rig.recorder->watermark().pixels[3], 127);
    Rig::sleepSeconds(1.5);
    rig.stopAndWait();
    EXPECT_TRUE(rig.recorder->watermark().empty());

    const std::string frame = decodedFrame(rig.lastFile(), 0.5);
    ASSERT_EQ(frame.size(), size_t(1280 * 720 * 4));
    auto pixel = [&](int x, int y) {
        const auto* p = reinterpret_cast<const uint8_t*>(frame.data()) + (size_t(y) * 1280 + size_t(x)) * 4;
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    for (auto [x, y] : {std::pair{1180, 50}, {1085, 10}, {1275, 90}}) {
        const auto p = pixel(x, y);
        EXPECT_NEAR(p[2], 127, 12) << x << "," << y;  // 255 x 127 / 255 over black
        EXPECT_NEAR(p[1], 0, 12) << x << "," << y;
        EXPECT_NEAR(p[0], 0, 12) << x << "," << y;
    }
    for (auto [x, y] : {std::pair{1060, 50}, {1180, 120}, {100, 50}}) {
        const auto p = pixel(x, y);
        EXPECT_LT(p[2], 12) << x << "," << y;
    }
}

TEST(Recorder, AWatermarkAsLargeAsTheScreenIsRefused) {
    Rig rig(640, 480);
    ASSERT_TRUE(rig.ready());
    const std::string mark = rig.doc / "big.png";
    ASSERT_EQ(std::system(("convert -size 640x100 xc:'rgba(0,0,255,0.5)' '" + mark + "'").c_str()), 0);
    rig.settings.setString("SET", "WATERMARK", mark);
    rig.recorder->start(false);
    EXPECT_EQ(rig.states.states(), std::vector<int>{1});
    EXPECT_TRUE(rig.recorder->watermark().empty());
    rig.stopAndWait();
}

TEST(Recorder, RateAndQualityAreClamped) {
    Rig rig(640, 480);
    ASSERT_TRUE(rig.ready());
    struct Case {
        int rate, quality, expectedRate;
        double factor;
    };
    for (const Case c : {Case{2, 5, 5, 2.0}, Case{60, -3, 30, 0.25}}) {
        rig.settings.setInt("SET", "RECORD_FRAME_RATE", c.rate);
        rig.settings.setInt("SET", "RECORD_QUALITY", c.quality);
        rig.recorder->start(false);
        EXPECT_EQ(rig.recorder->frameRate(), c.expectedRate);
        EXPECT_EQ(rig.recorder->bitRate(), int64_t(c.factor * 640 * 480));
        EXPECT_EQ(rig.capture->captureRate(), float(c.expectedRate));
        Rig::sleepSeconds(1.2);
        rig.stopAndWait();
        const Json::Value info = probe(rig.lastFile());
        const Json::Value* video = streamOf(info, "video");
        ASSERT_TRUE(video);
        EXPECT_EQ((*video)["r_frame_rate"].asString(), std::to_string(c.expectedRate) + "/1");
        Rig::sleepSeconds(1.0);  // the next file gets another name
    }
}

TEST(Recorder, AVeryWideDisplayRecordsAtFive) {
    Rig rig(2560, 1080);
    ASSERT_TRUE(rig.ready());
    rig.settings.setInt("SET", "RECORD_FRAME_RATE", 25);
    rig.recorder->start(false);
    EXPECT_EQ(rig.recorder->frameRate(), 5);
    EXPECT_EQ(rig.capture->captureRate(), 5.0f);
    EXPECT_EQ(rig.capture->consumerCount(), 1u);
    rig.stopAndWait();
}

TEST(Recorder, ASecondStartFailsAndTheFirstGoesOn) {
    Rig rig(640, 480);
    ASSERT_TRUE(rig.ready());
    rig.recorder->start(false);
    const std::string first = rig.lastFile();
    Rig::sleepSeconds(1.1);
    rig.recorder->start(false);
    EXPECT_EQ(rig.states.states(), (std::vector<int>{1, -1}));
    EXPECT_TRUE(rig.recorder->isRecording());
    Rig::sleepSeconds(1);
    rig.stopAndWait();
    EXPECT_EQ(rig.states.states(), (std::vector<int>{1, -1, 0}));
    EXPECT_EQ(filesIn(rig.folder()), std::vector<std::string>{first});
    EXPECT_NEAR(number(probe(first)["format"]["duration"]), 2.1, 0.5);
}

TEST(Recorder, StopWithoutARecordingSendsStoppedAndTellsTheClassroomServer) {
    Rig rig(640, 480);
    ASSERT_TRUE(rig.ready());
    rig.settings.setInt("Interop", "FSHWND", 0x1234);
    rig.stopAndWait();
    EXPECT_EQ(rig.states.states(), std::vector<int>{0});
    rig.recorder->start(false);
    Rig::sleepSeconds(0.5);
    rig.stopAndWait();
    EXPECT_EQ(rig.states.states(), (std::vector<int>{0, 1, 0}));
    std::lock_guard<std::mutex> lock(rig.mutex);
    EXPECT_EQ(rig.notified, (std::vector<std::pair<int64_t, bool>>{{0x1234, false}, {0x1234, true}}));
}

TEST(Recorder, NoSoundAndNoVoiceFailsWithoutAFile) {
    Rig rig(640, 480, false);
    ASSERT_TRUE(rig.ready());
    rig.recorder->start(false);
    EXPECT_EQ(rig.states.states(), std::vector<int>{-1});
    EXPECT_FALSE(rig.recorder->isRecording());
    EXPECT_TRUE(filesIn(rig.folder()).empty());
    EXPECT_EQ(rig.capture->consumerCount(), 0u);
    // The phone's voice needs no sound device: the audio runs on a clock.
    rig.recorder->start(true);
    EXPECT_EQ(rig.states.states(), (std::vector<int>{-1, 1}));
    Rig::sleepSeconds(1);
    rig.stopAndWait();
    const Json::Value info = probe(rig.lastFile());
    EXPECT_TRUE(streamOf(info, "audio") && streamOf(info, "video"));
}

TEST(Recorder, TheControllerLeavingEndsTheRecordingSilently) {
    Rig rig(640, 480);
    ASSERT_TRUE(rig.ready());
    rig.endSilentlyAndWait();  // nothing running: nothing happens
    rig.recorder->start(false);
    Rig::sleepSeconds(1);
    rig.endSilentlyAndWait();
    EXPECT_FALSE(rig.recorder->isRecording());
    EXPECT_EQ(rig.states.states(), std::vector<int>{1});
    EXPECT_NEAR(number(probe(rig.lastFile())["format"]["duration"]), 1.0, 0.5);
}

TEST(Recorder, AFullDiskStopsTheRecordingWithStateZero) {
    Rig rig(640, 480);
    ASSERT_TRUE(rig.ready());
    TonePlayer tone(*rig.pulse, rig.doc.path(), 1000, 20);
    // Files of this process may not grow past 40 KB: writes fail as on a full disk.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{40 * 1024, RLIM_INFINITY};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    rig.recorder->start(false);
    ASSERT_EQ(rig.states.states(), std::vector<int>{1});
    EXPECT_TRUE(rig.states.waitForCount(2, 30));
    EXPECT_EQ(rig.states.states(), (std::vector<int>{1, 0}));
    EXPECT_FALSE(rig.recorder->isRecording());
    limit.rlim_cur = RLIM_INFINITY;
    setrlimit(RLIMIT_FSIZE, &limit);
    // What was written before is still readable.
    const Json::Value info = probe(rig.lastFile());
    EXPECT_TRUE(streamOf(info, "video"));
    // And the recorder can record again.
    rig.stopAndWait();
    EXPECT_EQ(rig.states.states(), (std::vector<int>{1, 0, 0}));
}

TEST(Recorder, AStartOnAFullDiskLeavesNoFileAndKeepsTheLastFile) {
    Rig rig(640, 480, false);
    ASSERT_TRUE(rig.ready());
    rig.settings.setString("SET", "lastfile", "/earlier/20260101-08.00.00.MP4");
    // No file of this process may grow at all: the first write fails as on
    // a full disk, after the file was created.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{0, RLIM_INFINITY};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    rig.recorder->start(true);
    limit.rlim_cur = RLIM_INFINITY;
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_EQ(rig.states.states(), std::vector<int>{-1});
    EXPECT_FALSE(rig.recorder->isRecording());
    EXPECT_TRUE(filesIn(rig.folder()).empty());
    EXPECT_EQ(rig.lastFile(), "/earlier/20260101-08.00.00.MP4");
    EXPECT_EQ(rig.capture->consumerCount(), 0u);

    // A start that fails for want of sound names no file either.
    rig.recorder->start(false);
    EXPECT_EQ(rig.lastFile(), "/earlier/20260101-08.00.00.MP4");

    // With room again the next start records and names its file.
    rig.recorder->start(true);
    ASSERT_EQ(rig.states.states(), (std::vector<int>{-1, -1, 1}));
    rig.stopAndWait();
    EXPECT_EQ(filesIn(rig.folder()), std::vector<std::string>{rig.lastFile()});
}

// Runs in a child process: records and dies without stopping.
TEST(RecorderCrash, ChildRecordsAndDies) {
    const char* dir = std::getenv("LUMACRO3_RECORD_CRASH_DIR");
    if (!dir) GTEST_SKIP() << "only as the child of CrashLeavesAReadableFile";
    Rig rig(640, 480);
    if (!rig.ready()) _exit(2);
    rig.recorder->start(false);
    if (!rig.recorder->isRecording()) _exit(3);
    Rig::sleepSeconds(3.5);
    // What is on disk now is what a crash leaves: copy it out, end the
    // helper processes and the folder (no destructor runs), and die.
    std::filesystem::copy_file(rig.lastFile(), std::string(dir) + "/cut.MP4");
    std::error_code ec;
    std::filesystem::remove_all(rig.doc.path(), ec);
    rig.pulse.reset();
    rig.display.stop();
    raise(SIGKILL);
}

TEST(RecorderCrash, CrashLeavesAReadableFile) {
    TempDir dir;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    const std::string cmd = "LUMACRO3_RECORD_CRASH_DIR='" + dir.path() + "' '" + self +
                            "' --gtest_filter=RecorderCrash.ChildRecordsAndDies >/dev/null 2>&1";
    std::system(cmd.c_str());
    const std::string file = dir / "cut.MP4";
    ASSERT_TRUE(std::filesystem::exists(file));
    const Json::Value info = probe(file);
    ASSERT_TRUE(streamOf(info, "video"));
    // Fragments of a second: at most about one is lost.
    EXPECT_GT(videoPacketTimes(file).size(), 20u);
    EXPECT_GT(decodedAudio(file).size(), size_t(44100 * 2));
}

class RecorderOverTheNetwork : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(rig_.ready());
        address_ = uniqueLoopbackAddress(60);
        adapters_.set({ipv4(address_)});
        // The states go to the phones through the real server.
        rig_.recorder = std::make_unique<LessonRecorder>(
            rig_.settings, [this] { return rig_.doc.path(); }, &server_, rig_.capture.get());
        context_.server = &server_;
        context_.settings = &rig_.settings;
        context_.features.recorder = rig_.recorder.get();
        server_.setRecorder(rig_.recorder.get());
        uint32_t bound = ipv4(address_);
        ASSERT_TRUE(server_.start(bound, protocol::kSessionPort, ui::onSessionEvent, &context_));
    }
    void TearDown() override {
        server_.setRecorder(nullptr);
        server_.shutdown();
    }

    Rig rig_{640, 480};
    platform::FakeNetworkAdapters adapters_;
    platform::FakeScreenInfo screen_{640, 480};
    net::SessionServer server_{adapters_, screen_};
    ui::CommandContext context_;
    std::string address_;
};

TEST_F(RecorderOverTheNetwork, TheRecordDatagramsStartAndStop) {
    TonePlayer tone(*rig_.pulse, rig_.doc.path(), 1000);
    phone::PhoneClient watcher;
    ASSERT_TRUE(watcher.connect(address_, protocol::kSessionPort));
    phone::ClientInfoOptions info;
    info.uniqueId = "watcher";
    info.admin = false;
    ASSERT_TRUE(watcher.handshake(info));

    auto reply = phone::sendDatagram(address_, protocol::kDiscoveryPort, "start-record", 5000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, "recorder-started");
    EXPECT_TRUE(rig_.recorder->isRecording());
    phone::ReceivedFrame frame;
    ASSERT_EQ(watcher.waitFor(protocol::MsgMediaRecordState, frame, 5000), phone::ReadResult::Frame);
    EXPECT_EQ(frame.message["state"].asInt(), 1);
    Rig::sleepSeconds(1.5);
    reply = phone::sendDatagram(address_, protocol::kDiscoveryPort, "stop-record", 5000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, "recorder-stoped");
    ASSERT_EQ(watcher.waitFor(protocol::MsgMediaRecordState, frame, 5000), phone::ReadResult::Frame);
    EXPECT_EQ(frame.message["state"].asInt(), 0);
    const Json::Value probed = probe(rig_.lastFile());
    EXPECT_TRUE(streamOf(probed, "video") && streamOf(probed, "audio"));
    EXPECT_NEAR(number(probed["format"]["duration"]), 1.5, 0.5);
}

TEST_F(RecorderOverTheNetwork, PhoneVoiceFromTheReferenceClient) {
    // The voice is all the sound: no tone plays.
    const std::string voice = rig_.doc / "voice.aac";
    ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i 'aevalsrc=0.5*sin(2*PI*440*t):s=16000:d=3' "
                           "-c:a aac -b:a 48k -ac 1 -f adts '" + voice + "'").c_str()),
              0);
    const std::string tool = std::string(LUMACRO3_BIN_DIR) + "/lumacro3-phone";
    for (const char* mode : {"", "--raw"}) {
        const std::string out = commandOutput("'" + tool + "' record start --voice '" + voice + "' " + mode +
                                          " --address " + address_ + " 2>&1; echo exit=$?");
        EXPECT_NE(out.find("\"state\":1"), std::string::npos) << out;
        EXPECT_NE(out.find("\"state\":0"), std::string::npos) << out;
        EXPECT_NE(out.find("exit=0"), std::string::npos) << out;
        const std::string file = rig_.lastFile();
        auto left = decodedAudio(file);
        ASSERT_GT(left.size(), size_t(44100 * 2)) << mode;
        // The voice arrives in real time, so a block may come a moment late;
        // judged in windows of 0.1 s, nearly all of them carry the 440 Hz voice.
        int voiced = 0, windows = 0;
        for (size_t i = 13230; i + 4410 <= 44100 * 27 / 10 && i + 4410 <= left.size(); i += 4410, ++windows) {
            const std::vector<double> w(left.begin() + long(i), left.begin() + long(i + 4410));
            if (toneLevel(w, 440, 44100) > 0.3 && toneLevel(w, 1000, 44100) < 0.05) ++voiced;
        }
        EXPECT_GE(voiced, windows * 8 / 10) << mode << ": " << voiced << " of " << windows;
        EXPECT_NEAR(number(probe(file)["format"]["duration"]), 3.0, 0.6) << mode;
        Rig::sleepSeconds(1.0);  // the next file gets another name
    }
}

// A clean stop leaves a regular MP4 (index in front, no fragments) that lasts
// as long as the lesson; the picture is kept up to date from the changed rows
// only: a corner that changes shows its new colour, the rest its old one.
TEST(Recorder, ACleanStopLeavesARegularMp4OfTheLessonsLength) {
    Rig rig(640, 480);
    ASSERT_TRUE(rig.ready());
    TonePlayer tone(*rig.pulse, rig.doc.path(), 1000);
    ColourWindow background(0, 0, 640, 480, {{0, 0, 640, 480, 0x2040c0}});
    ColourWindow corner(576, 0, 64, 48, {{0, 0, 64, 48, 0x2040c0}});
    ASSERT_TRUE(background.ok() && corner.ok());
    const auto begin = std::chrono::steady_clock::now();
    rig.recorder->start(false);
    ASSERT_EQ(rig.states.states(), std::vector<int>{1});
    Rig::sleepSeconds(1.5);
    corner.setFills({{0, 0, 64, 48, 0xff8000}});
    Rig::sleepSeconds(2);
    rig.recorder->stop();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    // The stop state is sent once the file is final: what a phone then
    // plays from lastfile is the rewritten file.
    ASSERT_TRUE(rig.states.waitForCount(2, 30));
    EXPECT_EQ(rig.states.states(), (std::vector<int>{1, 0}));

    const std::string file = rig.lastFile();
    EXPECT_EQ(filesIn(rig.folder()), std::vector<std::string>{file});
    const auto boxes = topLevelBoxes(file);
    ASSERT_GE(boxIndex(boxes, "moov"), 0) << file;
    EXPECT_LT(boxIndex(boxes, "moov"), boxIndex(boxes, "mdat"));
    EXPECT_FALSE(hasBox(boxes, "moof"));
    const double duration = number(probe(file)["format"]["duration"]);
    EXPECT_LE(duration, wall + 0.2);
    EXPECT_GE(duration, 3.0);

    const std::string frame = decodedFrame(file, duration - 0.3);
    ASSERT_EQ(frame.size(), size_t(640 * 480 * 4));
    auto near = [&](int x, int y, unsigned rgb) {
        const auto* p = reinterpret_cast<const uint8_t*>(frame.data()) + (size_t(y) * 640 + size_t(x)) * 4;
        return std::abs(p[2] - int(rgb >> 16)) <= 14 && std::abs(p[1] - int((rgb >> 8) & 0xff)) <= 14 &&
               std::abs(p[0] - int(rgb & 0xff)) <= 14;
    };
    EXPECT_TRUE(near(608, 24, 0xff8000));
    EXPECT_TRUE(near(560, 24, 0x2040c0));
    EXPECT_TRUE(near(608, 60, 0x2040c0));
    EXPECT_TRUE(near(100, 400, 0x2040c0));
}
