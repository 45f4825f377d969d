// The encoder on a capture that grabs only what changed: a still screen
// keeps the stream's rate without new grabs or conversions, and a change in
// one corner reaches the stream with the rest of the picture as it was.
#include "stream/stream_rig.h"

#include "capture/colour_window.h"
#include "common/run_command.h"

#include <cstdio>
#include <fstream>
#include <unistd.h>

using namespace stream_test;

TEST(DamageStream, StillScreenKeepsTheRateWithoutNewGrabsOrConversions) {
    EncoderRig rig(320, 240);
    rig.fake->tracking = true;
    rig.set(20, 2);
    Sink sink;
    const uint64_t id = sink.subscribe(*rig.encoder);
    ASSERT_TRUE(sink.waitFor(12));
    EXPECT_EQ(rig.fake->captures.load(), 1);  // the first picture only
    EXPECT_EQ(rig.encoder->conversions(), 1u);

    // A key frame asked for on a still screen comes from libx264 at once.
    const size_t before = sink.count();
    rig.encoder->requestKeyFrame();
    ASSERT_TRUE(sink.waitFor(before + 3));
    EXPECT_TRUE(sink.keyAt(before) || sink.keyAt(before + 1));

    // A change: grabbed, converted once, and the stream goes on.
    rig.fake->change({0, 0, 320, 16});
    ASSERT_TRUE(eventually([&] { return rig.encoder->conversions() == 2; }));
    const size_t seen = sink.count();
    ASSERT_TRUE(sink.waitFor(seen + 6));
    EXPECT_EQ(rig.fake->captures.load(), 2);
    EXPECT_EQ(rig.encoder->conversions(), 2u);
    rig.encoder->unsubscribe(id);
    // libx264 saw the first picture, the key frame and the change only;
    // every other picture was a repeat.
    EXPECT_EQ(rig.encoder->picturesEncoded() - rig.encoder->repeats(), 3u);
    EXPECT_EQ(sink.count(), rig.encoder->picturesEncoded());
}

namespace {

struct Rgb {
    int r, g, b;
};

// The last picture of an H.264 stream file, decoded by ffmpeg, as RGB24.
std::vector<uint8_t> lastPicture(const std::string& file, int w, int h) {
    const std::string raw = file + ".rgb";
    const std::string command = "ffmpeg -nostdin -v warning -xerror -y -i '" + file +
                                "' -f rawvideo -pix_fmt rgb24 '" + raw + "' 2>&1";
    const testing_support::CommandResult r = testing_support::runCommand(command);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "");  // not a single warning
    std::ifstream in(raw, std::ios::binary);
    std::vector<uint8_t> all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(raw.c_str());
    const size_t size = size_t(w) * h * 3;
    if (all.size() < size || all.size() % size != 0) return {};
    return std::vector<uint8_t>(all.end() - std::ptrdiff_t(size), all.end());
}

::testing::AssertionResult near(const std::vector<uint8_t>& rgb, int w, int x, int y, Rgb want) {
    const uint8_t* p = rgb.data() + (size_t(y) * w + x) * 3;
    if (std::abs(p[0] - want.r) <= 12 && std::abs(p[1] - want.g) <= 12 && std::abs(p[2] - want.b) <= 12)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << x << "," << y << ") decodes to " << int(p[0]) << ","
                                         << int(p[1]) << "," << int(p[2]) << ", want " << want.r << ","
                                         << want.g << "," << want.b;
}

}  // namespace

TEST(DamageStream, CornerChangeDecodesToNewCornerAndOldPictureElsewhere) {
    testing_support::PrivateXvfb xvfb(640, 480);
    ASSERT_TRUE(xvfb.ok());
    testing_support::ColourWindow background(
        0, 0, 640, 480, {{0, 0, 320, 480, 0x2040c0}, {320, 0, 320, 480, 0x30a040}});
    testing_support::ColourWindow corner(576, 0, 64, 48, {{0, 0, 64, 48, 0x30a040}});
    ASSERT_TRUE(background.ok() && corner.ok());

    EncoderRig rig(640, 480, true);
    rig.set(20, 2);  // 640x480 pictures, no scaling
    Sink sink;
    const uint64_t id = sink.subscribe(*rig.encoder);
    ASSERT_TRUE(rig.capture->tracksChanges());
    ASSERT_TRUE(sink.waitFor(10));
    const uint64_t conversions = rig.encoder->conversions();

    corner.setFills({{0, 0, 64, 48, 0xff8000}});
    ASSERT_TRUE(eventually([&] { return rig.encoder->conversions() > conversions; }));
    const size_t seen = sink.count();
    ASSERT_TRUE(sink.waitFor(seen + 10));
    rig.encoder->unsubscribe(id);
    // The still periods before and after the change went out as repeats.
    EXPECT_GT(rig.encoder->repeats(), 5u);

    const std::string file = std::string(::testing::TempDir()) + "/corner-" +
                             std::to_string(::getpid()) + ".h264";
    {
        std::lock_guard<std::mutex> lock(sink.mutex);
        std::ofstream out(file, std::ios::binary);
        for (const auto& p : sink.pictures)
            out.write(reinterpret_cast<const char*>(p.data.data()), std::streamsize(p.data.size()));
    }
    const std::vector<uint8_t> rgb = lastPicture(file, 640, 480);
    std::remove(file.c_str());
    ASSERT_FALSE(rgb.empty());
    EXPECT_TRUE(near(rgb, 640, 608, 24, {0xff, 0x80, 0x00}));  // the corner is new
    EXPECT_TRUE(near(rgb, 640, 580, 4, {0xff, 0x80, 0x00}));
    EXPECT_TRUE(near(rgb, 640, 608, 60, {0x30, 0xa0, 0x40}));  // below it, as before
    EXPECT_TRUE(near(rgb, 640, 560, 24, {0x30, 0xa0, 0x40}));  // left of it, same rows
    EXPECT_TRUE(near(rgb, 640, 100, 24, {0x20, 0x40, 0xc0}));
    EXPECT_TRUE(near(rgb, 640, 100, 400, {0x20, 0x40, 0xc0}));
    EXPECT_TRUE(near(rgb, 640, 500, 400, {0x30, 0xa0, 0x40}));
}
