// The recorder's sound parts: the device list and capture (fake server and a
// real PulseAudio with a null sink), the mixer, the phone voice decoder.
#include "common/eventually.h"
#include "common/temp_dir.h"
#include "platform/fakes/fake_sound_capture.h"
#include "record/audio_input.h"
#include "record/mixer.h"
#include "record/record_fixture.h"
#include "record/voice_decoder.h"
#include "support/buffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <mutex>

using namespace record;
using namespace testing_support;

namespace {

std::vector<AudioDeviceEntry> listOf(platform::SoundCapture& system) {
    std::vector<AudioDeviceEntry> list;
    AudioInput::listDevices(system, list);
    return list;
}

// Keeps what an AudioInput delivers: the size of every block and all bytes.
class Delivered {
    template <typename F>
    auto locked(F f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f();
    }

public:
    explicit Delivered(AudioInput& input) {
        input.setCallback([this](const uint8_t* data, size_t n) {
            locked([&] {
                sizes_.push_back(n);
                bytes_.insert(bytes_.end(), data, data + n);
            });
        });
    }
    // Wait up to `limit` for that many blocks or bytes.
    void waitForBlocks(size_t count, std::chrono::milliseconds limit) {
        eventually([&] { return locked([&] { return sizes_.size() >= count; }); }, limit);
    }
    void waitForBytes(size_t count, std::chrono::milliseconds limit) {
        eventually([&] { return locked([&] { return bytes_.size() >= count; }); }, limit);
    }
    std::vector<size_t> sizes() {
        return locked([&] { return sizes_; });
    }
    std::vector<uint8_t> bytes() {
        return locked([&] { return bytes_; });
    }

private:
    std::mutex mutex_;
    std::vector<size_t> sizes_;
    std::vector<uint8_t> bytes_;
};

}  // namespace

TEST(AudioDeviceList, NamesOfOtherProductsAndDuplicatesAreLeftOut) {
    platform::FakeSoundCapture fake;
    fake.sources = {{"alsa_input.usb-mic", "USB Mic", "microphone"}, {"alsa_input.pci", "Built-in", "internal"}};
    fake.named = {"PGM-Camera", "V-Audio", "PGM-Camera 2", "V-Audio-X", "USB Mic", "Line In"};
    fake.loopback = "alsa_output.pci.monitor";
    const auto list = listOf(fake);
    std::vector<std::pair<std::string, int>> got;
    for (const auto& e : list) got.emplace_back(e.name, e.kind);
    const std::vector<std::pair<std::string, int>> expected = {
        {"USB Mic", kCaptureSource}, {"Built-in", kCaptureSource}, {"PGM-Camera 2", kNamedDevice},
        {"V-Audio-X", kNamedDevice}, {"Line In", kNamedDevice},    {"Loopback", kLoopback}};
    EXPECT_EQ(got, expected);
    EXPECT_EQ(list.back().deviceId, "alsa_output.pci.monitor");

    fake.loopback.clear();
    fake.named.clear();
    EXPECT_EQ(listOf(fake).size(), 2u);
}

TEST(AudioDeviceList, FormFactorsFromTheSourceProperty) {
    EXPECT_EQ(AudioInput::formFactorOf("microphone", "x"), kFormFactorMicrophone);
    EXPECT_EQ(AudioInput::formFactorOf("webcam", "x"), kFormFactorMicrophone);
    EXPECT_EQ(AudioInput::formFactorOf("internal", "x"), kFormFactorMicrophone);
    EXPECT_EQ(AudioInput::formFactorOf("headset", "x"), 0);
    EXPECT_EQ(AudioInput::formFactorOf("", "x"), 0);
    EXPECT_EQ(AudioInput::formFactorOf("tv", "x"), kFormFactorUnknown);
    EXPECT_EQ(AudioInput::formFactorOf("", "alsa_input.iec958-stereo"), kFormFactorSpdif);

    platform::FakeSoundCapture fake;
    fake.sources = {{"mic", "Mic", "microphone"}, {"line", "Line", ""}};
    EXPECT_EQ(AudioInput::formFactor(fake, "mic"), 4);
    EXPECT_EQ(AudioInput::formFactor(fake, "line"), 0);
    EXPECT_EQ(AudioInput::formFactor(fake, "gone"), 0);
}

TEST(AudioInputFake, CaptureSourcesDeliverWholeBlocksAndNamedDevicesTheirOwnFormat) {
    platform::FakeSoundCapture fake;
    fake.sources = {{"mic", "Mic", "microphone"}};
    fake.named = {"Line In"};
    AudioInput input(fake);
    Delivered delivered(input);
    int channels = 2, rate = 44100, bits = 16;
    ASSERT_TRUE(input.open({"Mic", "mic", kCaptureSource}, channels, rate, bits));
    EXPECT_EQ(input.blockSize(), 16384u);
    // Only while no delivery thread exists.
    ASSERT_TRUE(input.start());
    EXPECT_FALSE(input.open({"Mic", "mic", kCaptureSource}, channels, rate, bits));
    std::vector<uint8_t> data(16384 * 2 + 100, 1);
    fake.last->push(data.data(), data.size());
    delivered.waitForBlocks(2, std::chrono::milliseconds(1000));
    input.stop();
    EXPECT_EQ(delivered.sizes(), (std::vector<size_t>{16384, 16384}));

    AudioInput named(fake);
    channels = 2, rate = 44100, bits = 16;
    ASSERT_TRUE(named.open({"Line In", "", kNamedDevice}, channels, rate, bits));
    EXPECT_EQ(channels, 1);
    EXPECT_EQ(rate, 16000);
    AudioInput missing(fake);
    EXPECT_FALSE(missing.open({"Nothing", "", kNamedDevice}, channels, rate, bits));
}

TEST(AudioInputFake, LoopbackDeliversMoreThanItsBufferWithoutOverflow) {
    platform::FakeSoundCapture fake;
    fake.loopback = "out.monitor";
    AudioInput input(fake);
    std::atomic<size_t> total{0};
    std::atomic<size_t> largest{0};
    input.setCallback([&](const uint8_t*, size_t n) {
        total += n;
        if (n > largest) largest = n;
    });
    int channels = 0, rate = 0, bits = 0;
    ASSERT_TRUE(input.open({"Loopback", "out.monitor", kLoopback}, channels, rate, bits));
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(rate, 48000);
    EXPECT_EQ(bits, 32);
    EXPECT_TRUE(input.isFloat());
    ASSERT_TRUE(input.start());
    // A whole second arrives between two polls: 12.5 times the 80 ms buffer.
    const size_t second = 48000 * 8;
    std::vector<uint8_t> data(second, 0);
    fake.last->push(data.data(), data.size());
    for (int i = 0; i < 200 && total < second; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    input.stop();
    EXPECT_EQ(total.load(), second);
    EXPECT_LE(largest.load(), size_t(48000 * 80 / 1000) * 8 * 2);
}

TEST(Mixer, TheShorterSourceDecidesAndHalvesRoundTowardZero) {
    support::MyBuffer loopback, mic, out;
    std::vector<int16_t> a(1500, 1001), b(500, -3);
    loopback.appendBuffer(a.data(), 3000);
    mic.appendBuffer(b.data(), 1000);
    EXPECT_EQ(mixInto(loopback, mic, out), 1000u);
    EXPECT_EQ(out.getLen(), 1000u);
    EXPECT_EQ(loopback.getLen(), 2000u);
    EXPECT_EQ(mic.getLen(), 0u);
    int16_t first;
    std::memcpy(&first, out.getBuffer(), 2);
    EXPECT_EQ(first, 1001 / 2 + -3 / 2);  // 500 + -1
    EXPECT_EQ(mixSample(-32768, -32768), -32768);
    EXPECT_EQ(mixSample(32767, 32767), 32766);
    EXPECT_EQ(mixSample(-3, -3), -2);
}

class VoiceDecoding : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        // Mono 16 kHz voice, as a phone might send it.
        aac_ = dir_ / "voice.aac";
        ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=16000:duration=2 "
                               "-c:a aac -b:a 48k -ac 1 -f adts '" + aac_ + "'").c_str()),
                  0);
        bytes_ = readText(aac_);
        ASSERT_GT(bytes_.size(), 100u);
    }

    // ADTS frames of the file.
    std::vector<std::string> frames() const {
        std::vector<std::string> out;
        size_t pos = 0;
        while (pos + 7 <= bytes_.size()) {
            const auto* b = reinterpret_cast<const uint8_t*>(bytes_.data()) + pos;
            const size_t len = (size_t(b[3] & 3) << 11) | (size_t(b[4]) << 3) | (b[5] >> 5);
            if (len < 7) break;
            out.push_back(bytes_.substr(pos, len));
            pos += len;
        }
        return out;
    }

    TempDir dir_;
    std::string aac_;
    std::string bytes_;
};

TEST_F(VoiceDecoding, AdtsMessagesBecomeStereo44kPcmOfTheVoice) {
    std::string pcm;
    size_t largest = 0;
    VoiceDecoder decoder([&](const uint8_t* p, size_t n) {
        pcm.append(reinterpret_cast<const char*>(p), n);
        largest = std::max(largest, n);
    });
    for (const std::string& f : frames())
        decoder.decode(reinterpret_cast<const uint8_t*>(f.data()), f.size());
    EXPECT_TRUE(decoder.initialised());
    EXPECT_LE(largest, VoiceDecoder::kOutputBytes);
    // About two seconds at 176,400 bytes per second.
    EXPECT_NEAR(double(pcm.size()) / 176400.0, 2.0, 0.15);
    auto left = leftOf16(reinterpret_cast<const uint8_t*>(pcm.data()), pcm.size());
    left.erase(left.begin(), left.begin() + 8820);
    EXPECT_GT(toneLevel(left, 440, 44100), 0.09);  // lavfi's sine has 1/8 of full scale
    EXPECT_LT(toneLevel(left, 1000, 44100), 0.02);
}

TEST_F(VoiceDecoding, AWholeFileInOneMessageIsKeptNotOverflowed) {
    size_t total = 0;
    int calls = 0;
    VoiceDecoder decoder([&](const uint8_t*, size_t n) {
        total += n;
        ++calls;
        EXPECT_LE(n, VoiceDecoder::kOutputBytes);
    });
    decoder.decode(reinterpret_cast<const uint8_t*>(bytes_.data()), bytes_.size());
    EXPECT_NEAR(double(total) / 176400.0, 2.0, 0.15);
    EXPECT_GT(calls, 40);
}

TEST_F(VoiceDecoding, RawFramesAfterTheirConfiguration) {
    const auto all = frames();
    const auto* h = reinterpret_cast<const uint8_t*>(all[0].data());
    const int profile = (h[2] >> 6) + 1, rateIndex = (h[2] >> 2) & 0xf,
              channels = ((h[2] & 1) << 2) | (h[3] >> 6);
    const uint8_t config[2] = {uint8_t((profile << 3) | (rateIndex >> 1)),
                               uint8_t(((rateIndex & 1) << 7) | (channels << 3))};
    size_t total = 0;
    VoiceDecoder decoder([&](const uint8_t*, size_t n) { total += n; });
    EXPECT_EQ(decoder.decode(config, 2), 0u);
    EXPECT_TRUE(decoder.initialised());
    for (const std::string& f : all) {
        const size_t header = (uint8_t(f[1]) & 1) ? 7 : 9;
        decoder.decode(reinterpret_cast<const uint8_t*>(f.data()) + header, f.size() - header);
    }
    EXPECT_NEAR(double(total) / 176400.0, 2.0, 0.15);
}

TEST_F(VoiceDecoding, RawFramesWithoutAConfigurationAre44kStereo) {
    // The phone's default: 44.1 kHz stereo AAC-LC, sent as bare frames.
    const std::string stereo = dir_ / "stereo.aac";
    ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 "
                           "-c:a aac -b:a 96k -ac 2 -f adts '" + stereo + "'").c_str()),
              0);
    bytes_ = readText(stereo);
    std::string pcm;
    VoiceDecoder decoder([&](const uint8_t* p, size_t n) { pcm.append(reinterpret_cast<const char*>(p), n); });
    for (const std::string& f : frames()) {
        const size_t header = (uint8_t(f[1]) & 1) ? 7 : 9;
        decoder.decode(reinterpret_cast<const uint8_t*>(f.data()) + header, f.size() - header);
    }
    EXPECT_TRUE(decoder.initialised());
    // About two seconds: the stream is not lost after its first frame.
    EXPECT_NEAR(double(pcm.size()) / 176400.0, 2.0, 0.1);
    auto left = leftOf16(reinterpret_cast<const uint8_t*>(pcm.data()), pcm.size());
    ASSERT_GT(left.size(), 8820u);
    left.erase(left.begin(), left.begin() + 8820);
    EXPECT_GT(toneLevel(left, 440, 44100), 0.06);  // 1/8 of full scale, less leakage
    EXPECT_LT(toneLevel(left, 1000, 44100), 0.02);
}

TEST_F(VoiceDecoding, ABadFirstMessageIsDroppedAndTheNextOneStarts) {
    size_t total = 0;
    VoiceDecoder decoder([&](const uint8_t*, size_t n) { total += n; });
    const uint8_t junk[] = {0xff, 0xf1, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    decoder.decode(junk, sizeof junk);
    EXPECT_FALSE(decoder.initialised());
    for (const std::string& f : frames())
        decoder.decode(reinterpret_cast<const uint8_t*>(f.data()), f.size());
    EXPECT_TRUE(decoder.initialised());
    EXPECT_GT(total, 100000u);
}

class PulseCapture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pulse_.ready()); }
    PulseServer pulse_;
    TempDir dir_;
    std::unique_ptr<platform::SoundCapture> system_ = platform::makeSystemSoundCapture();
};

TEST_F(PulseCapture, TheNullSinkMonitorIsTheLoopback) {
    EXPECT_TRUE(system_->serverRunning());
    const auto list = listOf(*system_);
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.back().name, "Loopback");
    EXPECT_EQ(list.back().kind, kLoopback);
    EXPECT_EQ(list.back().deviceId, pulse_.monitor());
    for (const auto& e : list) {
        if (e.kind == kCaptureSource) {
            EXPECT_EQ(e.deviceId.find(".monitor"), std::string::npos) << e.deviceId;
        }
    }
    // With a server, ALSA devices are not listed by name.
    EXPECT_TRUE(system_->namedDevices().empty());
}

TEST_F(PulseCapture, AToneIntoTheSinkIsCapturedFromTheLoopback) {
    AudioInput input(*system_);
    Delivered delivered(input);
    int channels = 0, rate = 0, bits = 0;
    ASSERT_TRUE(input.open(listOf(*system_).back(), channels, rate, bits));
    EXPECT_TRUE(input.isFloat());
    EXPECT_EQ(bits, 32);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(rate, 44100);  // the null sink's rate
    TonePlayer tone(pulse_, dir_.path(), 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(input.start());
    const size_t want = size_t(rate) * 8 * 2;  // two seconds
    delivered.waitForBytes(want, std::chrono::milliseconds(6000));
    input.stop();
    const std::vector<uint8_t> captured = delivered.bytes();
    ASSERT_GE(captured.size(), want);
    std::vector<double> left;
    for (size_t i = captured.size() - size_t(rate) * 8; i + 8 <= captured.size(); i += 8) {
        float v;
        std::memcpy(&v, captured.data() + i, 4);
        left.push_back(v);
    }
    EXPECT_GT(rms(left), 0.2);
    EXPECT_GT(toneLevel(left, 1000, rate), 0.3);
    EXPECT_LT(toneLevel(left, 700, rate), 0.02);
}

TEST_F(PulseCapture, ASourceByNameDeliversBlocksOf4096Frames) {
    AudioInput input(*system_);
    Delivered delivered(input);
    int channels = 2, rate = 44100, bits = 16;
    ASSERT_TRUE(input.open({"monitor", pulse_.monitor(), kCaptureSource}, channels, rate, bits));
    TonePlayer tone(pulse_, dir_.path(), 1000);
    ASSERT_TRUE(input.start());
    delivered.waitForBlocks(3, std::chrono::milliseconds(5000));
    input.stop();
    const std::vector<size_t> sizes = delivered.sizes();
    ASSERT_GE(sizes.size(), 3u);
    for (size_t n : sizes) EXPECT_EQ(n, 16384u);

    AudioInput missing(*system_);
    EXPECT_FALSE(missing.open({"x", "no_such_source", kCaptureSource}, channels, rate, bits));
}
