// The playback engine without a window: picture geometry, the phone byte
// source, local and phone files, the live picture and the phone's sound.
#include "media/media_player.h"
#include "media/phone_audio_player.h"
#include "media/picture_fit.h"
#include "media/remote_source.h"
#include "media_clips.h"
#include "phone/media_units.h"

#include "common/pulse_server.h"
#include "common/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>

using namespace media;
using media_test::FakeWindow;
using media_test::Sent;

namespace {

constexpr const char kState[] = "com.quorvel.qm.msg.MsgMediaPlayState";
constexpr const char kInfo[] = "com.quorvel.qm.msg.MsgMediaPlayInfo";

std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The phone's side of a file it plays: answers each read request with the
// next bytes (an empty chunk at the end) and each seek with an
// acknowledgement, as the reference client does.
class PhoneFile {
public:
    PhoneFile(MediaPlayer& player, Sent& sent, std::vector<uint8_t> bytes)
        : player_(player), bytes_(std::move(bytes)) {
        sent.onPlayerRequest([this](const Json::Value& m) { answer(m); });
    }
    std::atomic<bool> silent{false};
    std::atomic<int> reads{0};
    std::atomic<int> seeks{0};

private:
    void answer(const Json::Value& m) {
        if (silent) return;
        if (m["action"].asInt() == 1) {
            ++reads;
            const size_t n = std::min<size_t>(size_t(m["bytes"].asInt()), bytes_.size() - pos_);
            player_.readAnswer(bytes_.data() + pos_, n);
            pos_ += n;
        } else if (m["action"].asInt() == 4) {
            ++seeks;
            pos_ = std::min<size_t>(size_t(m["offset"].asInt64()), bytes_.size());
            player_.seekDone();
        }
    }
    MediaPlayer& player_;
    std::vector<uint8_t> bytes_;
    size_t pos_ = 0;
};

// One private sound server for the test process (SDL's audio stays
// initialised for the process).
bool soundServer() {
    static testing_support::PulseServer* server = [] {
        auto* s = new testing_support::PulseServer();
        if (s->ready()) {
            setenv("PULSE_SERVER", s->server().c_str(), 1);
            setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        }
        return s;
    }();
    return server->ready();
}

class Player : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(soundServer());
        makePlayer(true);
    }
    void makePlayer(bool soundDevice) {
        player.reset();
        PlayerLink link;
        link.broadcast = sent.sink();
        link.controllerTag = [this] { return tag; };
        link.useSoundDevice = soundDevice;
        player = std::make_unique<MediaPlayer>(window, link);
    }
    void TearDown() override { player.reset(); }
    bool waitForState(int state, int ms = 15000) {
        return window.pumpUntil([&] {
            for (int s : sent.states())
                if (s == state) return true;
            return false;
        }, ms);
    }

    testing_support::TempDir dir{"lumacro3-media"};
    FakeWindow window;
    Sent sent;
    std::string tag = "android";
    std::unique_ptr<MediaPlayer> player;
};

}  // namespace

TEST(PictureFit, FitsWithoutEnlargingAndNeverWiderThan1920) {
    EXPECT_EQ(fitToScreen(640, 360, {1920, 1080}, false), (Size{640, 360}));
    EXPECT_EQ(fitToScreen(3840, 2160, {1920, 1080}, false), (Size{1920, 1080}));
    EXPECT_EQ(fitToScreen(1080, 1920, {1920, 1080}, false), (Size{606, 1080}));  // even sizes
    EXPECT_EQ(fitToScreen(640, 360, {1920, 1080}, true), (Size{1920, 1080}));
    EXPECT_EQ(fitToScreen(640, 360, {2560, 1440}, true), (Size{1920, 1080}));
    EXPECT_EQ(fitToScreen(0, 360, {1920, 1080}, false), (Size{0, 0}));
}

TEST(PictureFit, TargetRectanglePointerPictureAndCloseSquare) {
    const Rect r = pictureTarget({720, 1280}, {1920, 1080}, false);
    EXPECT_EQ(r.width, 607);
    EXPECT_EQ(r.height, 1080);
    EXPECT_EQ(r.x, 656);
    const Rect m = pictureTarget({720, 1280}, {1920, 1080}, true);
    EXPECT_EQ(m.x, 0);
    EXPECT_EQ(m.width, 1920);
    EXPECT_EQ(m.height, 1080);

    const Size p = pointerPictureSize({1080, 1920}, {1920, 1080});
    EXPECT_EQ(p.width, 607);
    EXPECT_EQ(p.height, 1080);
    EXPECT_NEAR(303.0 / p.width, 0.499, 0.001);

    EXPECT_TRUE(inCloseSquare(1919, 0, 1920));
    EXPECT_TRUE(inCloseSquare(1888, 31, 1920));
    EXPECT_FALSE(inCloseSquare(1887, 0, 1920));
    EXPECT_FALSE(inCloseSquare(1900, 32, 1920));
}

TEST(PictureFit, LiveKeyFrames) {
    const uint8_t idr[] = {0, 0, 0, 1, 0x65, 0x88};
    const uint8_t sps[] = {0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x68};
    const uint8_t p[] = {0, 0, 0, 1, 0x41, 0x9a};
    EXPECT_TRUE(isLiveKeyFrame(0, idr, sizeof idr));
    EXPECT_TRUE(isLiveKeyFrame(0, sps, sizeof sps));
    EXPECT_FALSE(isLiveKeyFrame(0, p, sizeof p));
    const uint8_t hevcVps[] = {0, 0, 0, 1, 0x40, 0x01};
    const uint8_t hevcTrail[] = {0, 0, 0, 1, 0x02, 0x01};
    EXPECT_TRUE(isLiveKeyFrame(2, hevcVps, sizeof hevcVps));
    EXPECT_FALSE(isLiveKeyFrame(2, hevcTrail, sizeof hevcTrail));
    const uint8_t vp8Key[] = {0x50, 0x42, 0x00};
    const uint8_t vp8Inter[] = {0x51, 0x42, 0x00};
    EXPECT_TRUE(isLiveKeyFrame(1, vp8Key, sizeof vp8Key));
    EXPECT_FALSE(isLiveKeyFrame(1, vp8Inter, sizeof vp8Inter));
    EXPECT_FALSE(isLiveKeyFrame(0, nullptr, 0));
}

TEST(RemoteSourceBytes, OpenGivesUpOnASilentPhone) {
    std::vector<Json::Value> requests;
    RemoteSource source([&](const Json::Value& m) { requests.push_back(m); });
    source.setTiming(20, 5);
    // Not open: nothing is read and chunks are ignored.
    source.pushData(reinterpret_cast<const uint8_t*>("x"), 1);
    uint8_t buffer[8];
    EXPECT_LT(source.readPacket(buffer, 8), 0);

    source.begin();
    std::thread opener([&] {
        AVFormatContext* input = source.open(100, "none");
        EXPECT_EQ(input, nullptr);
    });
    opener.join();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0]["action"].asInt(), 1);
    EXPECT_EQ(requests[0]["bytes"].asInt(), 65536);
    EXPECT_GE(source.unanswered(), 5);  // gave up after the limit
}

TEST(RemoteSourceBytes, ReadsServeLeftoversAndTwoChunksForOneRequest) {
    int requests = 0;
    RemoteSource* self = nullptr;
    RemoteSource source([&](const Json::Value& m) {
        ++requests;
        if (m["action"].asInt() == 4) self->seekDone();
    });
    self = &source;
    source.setTiming(20, 0);
    // Make the source readable without a demuxer: a failing open on a
    // silent phone, then chunks.
    source.setTiming(1, 1);
    source.begin();
    std::thread([&] { EXPECT_EQ(source.open(10, "x"), nullptr); }).join();
    // After a failed open chunks are still taken until the player stops.
    const uint8_t a[] = {1, 2, 3, 4, 5};
    const uint8_t b[] = {6, 7};
    source.pushData(a, sizeof a);
    source.pushData(b, sizeof b);
    uint8_t out[3];
    ASSERT_EQ(source.readPacket(out, 3), 3);
    EXPECT_EQ(out[0], 1);
    ASSERT_EQ(source.readPacket(out, 3), 2);  // the rest of the first chunk
    EXPECT_EQ(out[0], 4);
    ASSERT_EQ(source.readPacket(out, 3), 2);  // the second chunk
    EXPECT_EQ(out[1], 7);
    // A seek throws away what is queued from the old position.
    source.pushData(a, sizeof a);
    EXPECT_EQ(source.seek(0, SEEK_SET), 0);
    source.pushData(b, sizeof b);
    ASSERT_EQ(source.readPacket(out, 3), 2);
    EXPECT_EQ(out[0], 6);
    EXPECT_EQ(source.seek(0, 0x10000 /* AVSEEK_SIZE */), 10);
    EXPECT_EQ(source.seek(5, SEEK_CUR), -1);
    source.pushData(nullptr, 0);  // end of file
    EXPECT_LT(source.readPacket(out, 3), 0);
    source.cancel();
    source.pushData(a, sizeof a);
    EXPECT_LT(source.readPacket(out, 3), 0);
}

TEST_F(Player, LocalFilePlaysToItsEndWithoutEnlargement) {
    const std::string clip = dir / "clip.mp4";
    ASSERT_TRUE(media_test::makeClip(clip, 320, 240, 1.5));
    ASSERT_TRUE(player->openLocal(clip));
    ASSERT_EQ(sent.states(), std::vector<int>{1});
    const auto infos = sent.named(kInfo);
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0]["position"].asInt64(), 0);
    EXPECT_NEAR(double(infos[0]["duration"].asInt64()), 1.5e6, 0.1e6);
    EXPECT_TRUE(infos[0]["canSeek"].asBool());
    EXPECT_TRUE(infos[0]["canPause"].asBool());
    EXPECT_EQ(window.fullScreens(), 1);

    // Positions grow while it plays; a seek to the duration is ignored.
    ASSERT_TRUE(window.pumpUntil([&] { return player->currentPosition() > 300000; }, 10000));
    EXPECT_FALSE(player->seekTo(player->duration()));
    EXPECT_FALSE(player->seekTo(-1));
    ASSERT_TRUE(waitForState(0));
    EXPECT_EQ(sent.states(), (std::vector<int>{1, 0}));
    EXPECT_GT(window.frames(), 20);  // 37 pictures; a loaded machine still shows most
    EXPECT_EQ(window.size(), (Size{320, 240}));
    EXPECT_FALSE(window.visible());
    // The colour arrives in blue, green, red order (0x3060C0).
    const auto px = window.centrePixel();
    ASSERT_EQ(px.size(), 4u);
    EXPECT_NEAR(px[0], 0xC0, 12);
    EXPECT_NEAR(px[1], 0x60, 12);
    EXPECT_NEAR(px[2], 0x30, 12);
}

TEST_F(Player, PauseStopAndANewOpenDoesNotStartPaused) {
    const std::string clip = dir / "clip.mp4";
    ASSERT_TRUE(media_test::makeClip(clip, 160, 120, 3));
    ASSERT_TRUE(player->openLocal(clip));
    ASSERT_TRUE(window.pumpUntil([&] { return player->currentPosition() > 200000; }, 10000));
    player->setPaused(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const int64_t at = player->currentPosition();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(player->currentPosition(), at);
    sent.clear();
    player->reportPosition();
    EXPECT_TRUE(sent.named(kInfo).empty());  // no positions while paused
    player->stop();
    EXPECT_EQ(sent.states(), std::vector<int>{0});
    ASSERT_TRUE(player->openLocal(clip));
    EXPECT_FALSE(player->isPaused());
    ASSERT_TRUE(window.pumpUntil([&] { return player->currentPosition() > 200000; }, 10000));
    // A seek forward moves the clock there.
    ASSERT_TRUE(player->seekTo(2000000));
    EXPECT_TRUE(window.pumpUntil([&] { return player->currentPosition() > 1900000; }, 10000));
}

TEST_F(Player, Mp3WithCoverPlaysWithoutWindowLocallyButShowsItFromThePhone) {
    const std::string mp3 = dir / "song.mp3";
    ASSERT_TRUE(media_test::makeMp3WithCover(dir.path(), mp3, 1.0));
    ASSERT_TRUE(player->openLocal(mp3));
    EXPECT_TRUE(player->hasVideo());
    ASSERT_TRUE(waitForState(0));
    EXPECT_EQ(window.fullScreens(), 0);
    EXPECT_EQ(window.frames(), 0);

    sent.clear();
    PhoneFile phone(*player, sent, readAll(mp3));
    player->openRemote("song.mp3", int64_t(readAll(mp3).size()));
    ASSERT_TRUE(waitForState(0));
    EXPECT_EQ(sent.states(), (std::vector<int>{1, 0}));
    EXPECT_EQ(window.fullScreens(), 1);
    EXPECT_GE(window.frames(), 1);
    EXPECT_EQ(window.size(), (Size{160, 160}));
}

TEST_F(Player, PhoneFilePlaysToItsEnd) {
    const std::string clip = dir / "clip.mp4";
    ASSERT_TRUE(media_test::makeClip(clip, 320, 240, 1.5));
    const auto bytes = readAll(clip);
    PhoneFile phone(*player, sent, bytes);
    player->openRemote("clip.mp4", int64_t(bytes.size()));
    // The open returns at once; the outcome comes later.
    EXPECT_TRUE(sent.states().empty());
    ASSERT_TRUE(waitForState(1));
    EXPECT_EQ(sent.named(kInfo).size(), 1u);
    EXPECT_GE(phone.reads, 1);
    ASSERT_TRUE(waitForState(0));
    EXPECT_EQ(sent.states(), (std::vector<int>{1, 0}));
    EXPECT_GT(window.frames(), 20);

    // A local file that opens but has nothing to play, after the phone's
    // file: closed as a local file (-1), nothing of the phone's source is touched.
    const std::string subtitles = dir / "notes.srt";
    std::ofstream(subtitles) << "1\n00:00:00,000 --> 00:00:01,000\nhello\n";
    sent.clear();
    EXPECT_FALSE(player->openLocal(subtitles));
    EXPECT_EQ(sent.states(), std::vector<int>{-1});
}

TEST_F(Player, WithoutASoundDeviceLocalFilesPlayOnTheClockAndPhoneFilesFail) {
    makePlayer(false);
    const std::string clip = dir / "clip.mp4";
    ASSERT_TRUE(media_test::makeClip(clip, 160, 120, 0.6));
    ASSERT_TRUE(player->openLocal(clip));
    ASSERT_TRUE(waitForState(0));
    EXPECT_GT(window.frames(), 5);

    sent.clear();
    const auto bytes = readAll(clip);
    PhoneFile phone(*player, sent, bytes);
    player->openRemote("clip.mp4", int64_t(bytes.size()));
    ASSERT_TRUE(waitForState(-1));
    EXPECT_EQ(sent.states(), std::vector<int>{-1});
    EXPECT_FALSE(player->isPlaying());
}

TEST_F(Player, SilentPhoneEndsTheOpenWithMinusOne) {
    player->remoteSource().setTiming(10, 5);
    // No phone answers.
    player->openRemote("lost.mp4", 1000000);
    EXPECT_TRUE(player->isOpening());
    ASSERT_TRUE(waitForState(-1, 10000));
    EXPECT_EQ(sent.states(), std::vector<int>{-1});
    EXPECT_FALSE(player->isPlaying());
    const auto reads = sent.named("com.quorvel.qm.msg.MsgMediaPlayer");
    EXPECT_GE(reads.size(), 5u);

    // The serving phone's session ends while probing: -1 at once, not after
    // the request limit; another phone leaving changes nothing.
    sent.clear();
    player->remoteSource().setTiming(1000, 20);
    player->openRemote("lost.mp4", 1000000, 7);
    player->phoneLeft(8);
    window.pumpUntil([] { return false; }, 50);
    EXPECT_TRUE(player->isOpening());
    player->phoneLeft(7);
    ASSERT_TRUE(waitForState(-1, 3000));
    EXPECT_EQ(sent.states(), std::vector<int>{-1});

    // Stopped while probing: state 0, and no late -1.
    sent.clear();
    player->remoteSource().setTiming(1000, 20);
    player->openRemote("lost.mp4", 1000000);
    player->stop();
    window.pumpUntil([] { return false; }, 100);
    EXPECT_EQ(sent.states(), std::vector<int>{0});
}

namespace {

struct LiveCase {
    const char* codec;
    int codecId;
};

}  // namespace

class LiveView : public Player, public ::testing::WithParamInterface<LiveCase> {};

TEST_P(LiveView, PicturesAppearInTheirPixelOrder) {
    const LiveCase c = GetParam();
    const std::string stream = dir / (std::string("live.") + (c.codecId == 1 ? "ivf" : c.codec));
    ASSERT_TRUE(media_test::makeLiveStream(stream, c.codec, "red"));
    for (int order : {1, 0}) {
        phone::AccessUnitReader reader;
        ASSERT_TRUE(reader.open(stream)) << reader.error();
        EXPECT_EQ(reader.codecId(), c.codecId);
        const int before = window.frames();
        ASSERT_TRUE(player->openLive(order, 320, 240, c.codecId));
        std::vector<uint8_t> unit;
        bool key = false;
        while (reader.next(unit, key)) player->pushLive(unit.data(), unit.size());
        ASSERT_TRUE(window.pumpUntil([&] { return window.frames() >= before + 5; }, 10000));
        const auto px = window.centrePixel();
        ASSERT_EQ(px.size(), 4u);
        // BGRA puts red third; RGBA first (the control then shows it blue).
        EXPECT_GT(px[order ? 2 : 0], 200) << "order " << order;
        EXPECT_LT(px[order ? 0 : 2], 60) << "order " << order;
        player->stop();
    }
    EXPECT_EQ(sent.states(), (std::vector<int>{0, 0}));
}

INSTANTIATE_TEST_SUITE_P(Codecs, LiveView,
                         ::testing::Values(LiveCase{"h264", 0}, LiveCase{"vp8", 1}, LiveCase{"hevc", 2}),
                         [](const auto& info) { return std::string(info.param.codec); });

TEST_F(Player, LiveCodecThreeFailsAndTheQueueStaysBounded) {
    EXPECT_FALSE(player->openLive(1, 320, 240, 3));
    EXPECT_FALSE(player->isPlaying());
    EXPECT_TRUE(sent.states().empty());

    ASSERT_TRUE(player->openLive(1, 320, 240, 0));
    // Pictures that cannot be decoded (no parameter sets) arrive faster than
    // they are taken: the queue never passes its limit.
    std::vector<uint8_t> p = {0, 0, 0, 1, 0x41, 0x9a, 0x20};
    p.resize(20000, 0x55);
    for (int i = 0; i < 2000; ++i) {
        player->pushLive(p.data(), p.size());
        ASSERT_LE(player->liveQueued(), MediaPlayer::kLiveQueueLimit);
    }
    player->stop();
    EXPECT_EQ(player->liveQueued(), 0u);
}

namespace {

bool makeAdts(const std::string& path, int channels) {
    return media_test::ffmpeg("-f lavfi -i sine=frequency=1000:sample_rate=44100:duration=1 -ac " +
                              std::to_string(channels) + " -c:a aac -b:a 64k -f adts " + path);
}

}  // namespace

TEST(PhoneAudio, MonoSoundPlaysOnBothChannels) {
    testing_support::TempDir dir("lumacro3-media");
    ASSERT_TRUE(makeAdts(dir / "mono.aac", 1));
    phone::AdtsFile adts;
    std::string error;
    ASSERT_TRUE(phone::readAdts(dir / "mono.aac", adts, error)) << error;
    EXPECT_EQ(adts.channels, 1);
    ASSERT_EQ(adts.config.size(), 2u);

    PhoneAudioPlayer player(PhoneAudioPlayer::Output::Pulled);
    player.start(1, adts.sampleRate, adts.config.data(), adts.config.size());
    ASSERT_TRUE(player.playing());
    std::vector<uint8_t> block(8192);
    double left = 0, right = 0, diff = 0;
    for (size_t i = 0; i < 20 && i < adts.frames.size(); ++i) {
        player.data(adts.frames[i].data(), adts.frames[i].size());
        player.fill(block.data(), int(block.size()));
        const auto* s = reinterpret_cast<const int16_t*>(block.data());
        for (size_t k = 0; k + 1 < block.size() / 2; k += 2) {
            left += std::abs(s[k]);
            right += std::abs(s[k + 1]);
            diff += std::abs(s[k] - s[k + 1]);
        }
    }
    EXPECT_GT(left, 1e6);
    EXPECT_GT(right, 1e6);
    EXPECT_LT(diff, left * 0.01);
    player.stop();
    EXPECT_FALSE(player.playing());
}

TEST(PhoneAudio, BacklogOverTwentyFourFramesIsThrownAwayAndLongConfigRejected) {
    PhoneAudioPlayer player(PhoneAudioPlayer::Output::Pulled);
    const uint8_t frame[] = {0x21, 0x10, 0x04, 0x60};
    player.data(frame, sizeof frame);  // not started: ignored
    EXPECT_EQ(player.queued(), 0u);

    const uint8_t config[] = {0x12, 0x10};  // AAC LC, 44.1 kHz, stereo
    player.start(2, 44100, config, sizeof config);
    for (int i = 0; i < 25; ++i) player.data(frame, sizeof frame);
    EXPECT_EQ(player.queued(), 25u);
    player.data(frame, sizeof frame);  // finds 25 waiting: all go, this one stays
    EXPECT_EQ(player.queued(), 1u);

    std::vector<uint8_t> longConfig(33, 0x12);
    player.start(2, 44100, longConfig.data(), longConfig.size());
    EXPECT_FALSE(player.playing());
    player.data(frame, sizeof frame);
    EXPECT_EQ(player.queued(), 0u);
}
