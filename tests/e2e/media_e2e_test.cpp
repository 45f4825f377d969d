// Media from the phone into the running program, with the reference client
// as the phone: a file it owns played to the end and controlled, its live
// picture on screen (colour checked on an ImageMagick screenshot) and its
// sound on a private sound server's sink.
#include "common/loopback.h"
#include "common/private_xvfb.h"
#include "common/pulse_server.h"
#include "common/run_command.h"
#include "common/temp_dir.h"
#include "loopback_fakes.h"
#include "pc_program.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

namespace {

const std::string kPhone = std::string(LUMACRO3_BIN_DIR) + "/lumacro3-phone";

bool ffmpeg(const std::string& args) {
    return testing_support::runCommand("ffmpeg -nostdin -v error -y " + args + " 2>&1").status == 0;
}

// A phone command running in the background, its output in files.
struct Phone {
    Phone(const std::string& dir, const std::string& name, std::vector<std::string> args)
        : out(dir + "/" + name + ".out"), err(dir + "/" + name + ".err"),
          child(kPhone, std::move(args), {"PATH=/usr/bin:/bin"}, out, err) {}
    std::string output() const { return e2e::readFile(out) + e2e::readFile(err); }
    bool waitFor(const std::string& text, int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            if (output().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    std::string out, err;
    e2e::ChildProcess child;
};

std::vector<long long> positions(const std::string& output);

struct QRgbLike {
    int r = -1, g = -1, b = -1;
};

class MediaE2e : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(xvfb.ok());
        ASSERT_TRUE(pulse.ready());
        e2e::PcProgram::Options options;
        options.env = {"PULSE_SERVER=" + pulse.server(), "SDL_AUDIODRIVER=pulseaudio"};
        // Pause, resume and seek come from one-shot phones beside the phone that
        // owns the file; they join as watching phones, which may act only with
        // the watching rule off.
        options.settings = "[SET]\nWATCH_ONLY=0\n";
        pc = std::make_unique<e2e::PcProgram>(testing_support::uniqueLoopbackAddress(74), options);
        ASSERT_TRUE(pc->waitReady()) << pc->log();
        ASSERT_TRUE(pc->waitForLog("start-up complete")) << pc->log();
    }
    void TearDown() override {
        if (pc) {
            EXPECT_EQ(pc->terminate(), 0) << pc->log();
        }
    }
    std::vector<std::string> phoneArgs(std::vector<std::string> args) {
        args.insert(args.begin() + 1, {"--address", pc->address()});
        return args;
    }
    QRgbLike centre() {
        const std::string shot = dir / "screen.png";
        testing_support::runCommand("import -window root " + shot + " 2>&1");
        if (const char* keep = std::getenv("LUMACRO3_KEEP_FRAMES"))
            testing_support::runCommand("cp " + shot + " " + std::string(keep) + "/e2e-" + std::to_string(shots++) +
                                        ".png");
        // The centre pixel as "R G B" through ImageMagick.
        const std::string text = testing_support::commandOutput(
            "convert " + shot + " -crop 1x1+960+540 -depth 8 txt:- 2>/dev/null");
        std::smatch m;
        QRgbLike c;
        if (std::regex_search(text, m, std::regex("\\(\\s*([0-9]+),\\s*([0-9]+),\\s*([0-9]+)")))
            c = {std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3])};
        return c;
    }
    // A display of its own: screenshots must not see other tests' windows.
    testing_support::PrivateXvfb xvfb{1920, 1080};
    testing_support::PulseServer pulse;
    testing_support::TempDir dir{"lumacro3-media-e2e"};
    std::unique_ptr<e2e::PcProgram> pc;
    int shots = 0;
};

std::vector<long long> positions(const std::string& output) {
    std::vector<long long> out;
    std::regex re("position ([0-9]+)");
    for (auto it = std::sregex_iterator(output.begin(), output.end(), re); it != std::sregex_iterator(); ++it)
        out.push_back(std::stoll((*it)[1]));
    return out;
}

}  // namespace

TEST_F(MediaE2e, PhoneFilePlaysToItsEndWithPauseResumeAndSeek) {
    const std::string clip = dir / "lesson clip.mp4";
    ASSERT_TRUE(ffmpeg("-f lavfi -i color=c=0x3060C0:size=320x240:rate=25:duration=4 -f lavfi -i "
                       "sine=frequency=440:duration=4 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac "
                       "-shortest '" + clip + "'"));
    Phone owner(dir.path(), "owner", phoneArgs({"play", clip, "--seconds", "30"}));
    ASSERT_TRUE(owner.waitFor("state 1", 10000)) << owner.output() << pc->log();
    // Positions grow before the phone pauses it.
    for (int i = 0; i < 500 && (positions(owner.output()).empty() || positions(owner.output()).back() == 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_GT(positions(owner.output()).back(), 0) << owner.output();

    auto control = [&](std::vector<std::string> words) {
        std::vector<std::string> args = {"play", "--address", pc->address(), "--no-admin"};
        args.insert(args.end(), words.begin(), words.end());
        return e2e::runProgram(kPhone, args, {"PATH=/usr/bin:/bin"}).exitCode;
    };
    ASSERT_EQ(control({"pause"}), 0);
    ASSERT_TRUE(owner.waitFor("state 2", 5000)) << owner.output() << pc->log();
    ASSERT_EQ(control({"resume"}), 0);
    ASSERT_TRUE(owner.waitFor("state 3", 5000)) << owner.output();
    // A seek to the duration is ignored.
    ASSERT_EQ(control({"seek", "4000000"}), 0);
    ASSERT_TRUE(pc->waitForLog("seek to 4000000 ignored")) << pc->log();

    ASSERT_EQ(owner.child.wait(30000), 0) << owner.output() << pc->log();
    const std::string out = owner.output();
    EXPECT_NE(out.find("duration 4000000"), std::string::npos) << out;
    EXPECT_LT(out.find("state 1"), out.find("state 0")) << out;
    const auto p = positions(out);
    ASSERT_GE(p.size(), 4u) << out;
    EXPECT_GT(p.back(), 2000000) << out;
    for (size_t i = 1; i < p.size(); ++i) EXPECT_GE(p[i], p[i - 1]) << out;
}

TEST_F(MediaE2e, LivePicturesShowInTheirPixelOrderAndStopWhenTheSourceLeaves) {
    const std::string stream = dir / "red.h264";
    ASSERT_TRUE(ffmpeg("-f lavfi -i color=c=red:size=640x360:rate=25 -frames:v 60 -pix_fmt yuv420p -c:v libx264 "
                       "-preset ultrafast -bf 0 -f h264 " + stream));
    Phone watcher(dir.path(), "watcher", phoneArgs({"watch", "--no-admin", "--seconds", "20"}));
    for (int order : {1, 0}) {
        Phone source(dir.path(), "live" + std::to_string(order),
                     phoneArgs({"live-send", stream, "--pixel-format", std::to_string(order), "--keep", "1",
                                "--no-close"}));
        ASSERT_TRUE(pc->waitForLog(order ? "BGRA" : "RGBA")) << pc->log();
        // The picture reaches the screen after the view opens; slower in sanitizer builds.
        const auto expected = [order](const QRgbLike& p) {
            return order ? (p.r > 200 && p.b < 60) : (p.b > 200 && p.r < 60);
        };
        QRgbLike c = centre();
        for (int i = 0; i < 50 && !expected(c); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            c = centre();
        }
        if (order) {
            EXPECT_GT(c.r, 200);
            EXPECT_LT(c.b, 60);
        } else {  // RGBA pictures read as BGRA: red shows blue
            EXPECT_GT(c.b, 200);
            EXPECT_LT(c.r, 60);
        }
        // The source leaves without MsgLiveClose: the player stops.
        ASSERT_EQ(source.child.wait(15000), 0) << source.output();
    }
    ASSERT_TRUE(watcher.waitFor("MsgMediaPlayState {\"dataLength\":0,\"state\":0}", 5000))
        << watcher.output() << pc->log();
    const auto c = centre();
    EXPECT_FALSE(c.r > 200 && c.b < 60);  // the picture is gone

    // codecId 3 opens nothing.
    const auto bad = e2e::runProgram(kPhone, phoneArgs({"live-send", stream, "--codec-id", "3"}),
                                     {"PATH=/usr/bin:/bin"});
    EXPECT_EQ(bad.exitCode, 0);
    EXPECT_TRUE(pc->waitForLog("open player failed")) << pc->log();
}

TEST_F(MediaE2e, PhoneMonoSoundReachesTheSinkOnBothChannels) {
    const std::string aac = dir / "voice.aac";
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=frequency=800:sample_rate=44100:duration=3 -ac 1 -c:a aac -f adts " + aac));
    Phone source(dir.path(), "audio", phoneArgs({"audio-send", aac}));
    ASSERT_TRUE(pc->waitForLog("phone audio: 1 channels")) << pc->log();
    // ffmpeg's astats prints each channel's level of the sink's monitor
    // (stereo), then the overall one.
    const std::string stats = testing_support::commandOutput(
        "PULSE_SERVER=" + pulse.server() + " ffmpeg -nostdin -hide_banner -f pulse -channels 2 -i " +
        pulse.monitor() + " -t 1.5 -af astats=measure_overall=none -f null - 2>&1");
    std::vector<double> levels;
    std::regex re("RMS level dB: (-?[0-9.]+|-inf)");
    for (auto it = std::sregex_iterator(stats.begin(), stats.end(), re); it != std::sregex_iterator(); ++it)
        levels.push_back((*it)[1] == "-inf" ? -1000.0 : std::stod((*it)[1]));
    ASSERT_EQ(levels.size(), 2u) << stats;
    EXPECT_GT(levels[0], -40.0) << stats;
    EXPECT_GT(levels[1], -40.0) << stats;
    EXPECT_NEAR(levels[0], levels[1], 1.0) << stats;
    EXPECT_EQ(source.child.wait(15000), 0) << source.output();
}

// VP8 (IVF) and HEVC streams sent by the reference client reach the screen
// too; the client names the codec from the file.
TEST_F(MediaE2e, LiveVp8AndHevcPicturesShowOnScreen) {
    for (const std::string codec : {"vp8", "hevc"}) {
        const std::string stream = dir / (codec == "vp8" ? "green.ivf" : "green.hevc");
        const std::string input = "-f lavfi -i color=c=0x00C000:size=640x360:rate=25 -frames:v 60 -pix_fmt yuv420p ";
        ASSERT_TRUE(ffmpeg(input + (codec == "vp8" ? "-c:v libvpx -deadline realtime -f ivf "
                                                   : "-c:v libx265 -preset ultrafast -x265-params "
                                                     "log-level=error:bframes=0 -f hevc ") + stream));
        Phone source(dir.path(), "live-" + codec,
                     phoneArgs({"live-send", stream, "--pixel-format", "1", "--keep", "1", "--no-close"}));
        QRgbLike c = centre();
        for (int i = 0; i < 50 && !(c.g > 150 && c.r < 60 && c.b < 60); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            c = centre();
        }
        EXPECT_GT(c.g, 150) << codec << "\n" << pc->log();
        EXPECT_LT(c.r, 60) << codec;
        EXPECT_LT(c.b, 60) << codec;
        ASSERT_EQ(source.child.wait(15000), 0) << source.output();
        // Its session gone, the player closes: the screen is free for the next one.
        for (int i = 0; i < 50 && centre().g > 150; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_LT(centre().g, 150) << codec;
    }
}

TEST_F(MediaE2e, APhoneSilentDuringTheOpenLeavesTheUiFreeAndGetsMinusOneWhenItGoes) {
    const std::string clip = dir / "never.mp4";
    ASSERT_TRUE(ffmpeg("-f lavfi -i color=c=red:size=160x120:rate=5:duration=1 -c:v libx264 -pix_fmt yuv420p " + clip));
    Phone watcher(dir.path(), "watcher", phoneArgs({"watch", "--no-admin", "--seconds", "20"}));
    Phone owner(dir.path(), "mute", phoneArgs({"play", clip, "--mute", "--no-admin", "--seconds", "3"}));
    ASSERT_TRUE(pc->waitForLog("open phone file never.mp4")) << pc->log();
    // The UI thread is free while the phone is asked: a pause is handled
    // (and, with nothing playing yet, ignored rather than reported).
    const auto pause = e2e::runProgram(kPhone, phoneArgs({"play", "pause", "--no-admin"}), {"PATH=/usr/bin:/bin"});
    EXPECT_EQ(pause.exitCode, 0) << pause.err;
    EXPECT_TRUE(pc->waitForLog("pause ignored: nothing plays")) << pc->log();
    // The phone goes without answering: the open ends at once with -1.
    owner.child.wait(10000);
    ASSERT_TRUE(watcher.waitFor("MsgMediaPlayState {\"dataLength\":0,\"state\":-1}", 5000))
        << watcher.output() << pc->log();
    EXPECT_NE(pc->log().find("the phone serving the media file left"), std::string::npos);
    EXPECT_EQ(watcher.output().find("\"state\":2}"), std::string::npos) << watcher.output();
}
