// Repeated pictures made without the encoder: libx264 encodes the real
// pictures, H264Repeater adds pictures of skipped macroblocks between them
// and renumbers libx264's slices; ffmpeg must decode the result without a
// warning, every repeat to exactly the picture before it.
#include "stream/stream_rig.h"

#include "common/run_command.h"
#include "support/h264_repeat.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

using namespace stream_test;

namespace {

struct X264 {
    // `preset` veryfast codes with CABAC (the live stream), ultrafast with
    // CAVLC (the recorder).
    X264(int w, int h, const char* preset, int gop, const char* extra = nullptr) {
        av_log_set_level(AV_LOG_ERROR);
        const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
        ctx = avcodec_alloc_context3(codec);
        ctx->time_base = AVRational{1, 20};
        ctx->framerate = AVRational{20, 1};
        ctx->width = w;
        ctx->height = h;
        ctx->gop_size = gop;
        ctx->pix_fmt = AV_PIX_FMT_YUV420P;
        ctx->max_b_frames = 0;
        ctx->thread_count = 1;
        av_opt_set(ctx->priv_data, "preset", preset, 0);
        av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
        av_opt_set(ctx->priv_data, "crf", "35", 0);
        if (extra) av_opt_set(ctx->priv_data, "x264-params", extra, 0);
        ok = avcodec_open2(ctx, codec, nullptr) == 0;
        frame = av_frame_alloc();
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = w;
        frame->height = h;
        ok = ok && av_frame_get_buffer(frame, 32) == 0;
        packet = av_packet_alloc();
    }
    ~X264() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    }
    // A pattern that moves with `n`; `key` asks for a key frame.
    std::vector<uint8_t> encode(int n, bool key = false) {
        av_frame_make_writable(frame);
        for (int plane = 0; plane < 3; ++plane) {
            const int pw = plane ? frame->width / 2 : frame->width;
            const int ph = plane ? frame->height / 2 : frame->height;
            for (int y = 0; y < ph; ++y)
                for (int x = 0; x < pw; ++x)
                    frame->data[plane][y * frame->linesize[plane] + x] =
                        uint8_t(plane ? 128 + ((x / 4 + n) % 3) * 20 : ((x + 3 * n) ^ (y * 2 + n)) * 5);
        }
        frame->pts = pts++;
        frame->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        std::vector<uint8_t> out;
        if (avcodec_send_frame(ctx, frame) == 0)
            while (avcodec_receive_packet(ctx, packet) == 0) {
                out.insert(out.end(), packet->data, packet->data + packet->size);
                av_packet_unref(packet);
            }
        return out;
    }

    AVCodecContext* ctx = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int64_t pts = 0;
    bool ok = false;
};

std::string tempFile(const char* name) {
    return "/tmp/lumacro3-repeat-" + std::to_string(::getpid()) + "-" + name;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                std::streamsize(bytes.size()));
}

// The MD5 of every decoded picture, from ffmpeg's framemd5; `warnings` gets
// whatever ffmpeg says at level warning and above.
std::vector<std::string> pictureHashes(const std::string& file, std::string& warnings) {
    const std::string log = file + ".log";
    const testing_support::CommandResult r = testing_support::runCommand(
        "ffmpeg -nostdin -v warning -xerror -i '" + file + "' -f framemd5 - 2>'" + log + "'");
    std::ifstream logIn(log);
    warnings.assign(std::istreambuf_iterator<char>(logIn), std::istreambuf_iterator<char>());
    if (r.status != 0) warnings += "\n(ffmpeg exit status " + std::to_string(r.status) + ")";
    std::remove(log.c_str());
    std::vector<std::string> hashes;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        hashes.push_back(line.substr(line.rfind(',') + 1));
    }
    return hashes;
}

// Real pictures (numbers from the pattern) and runs of repeats between them.
struct Step {
    int picture;  // -1: a run of repeats
    int repeats;
    bool key;
};

// Encodes `steps`, writes the encoder's own stream (real pictures only) and
// the stream with repeats, decodes both and checks that the second decodes
// picture for picture to the first with every repeat a copy.
void checkStream(X264& x264, const std::vector<Step>& steps, const char* name) {
    ASSERT_TRUE(x264.ok);
    support::H264Repeater repeater;
    std::vector<uint8_t> plain, withRepeats;
    std::vector<int> realIndex;  // for each picture of withRepeats: the real picture it shows
    int reals = 0;
    for (const Step& step : steps) {
        if (step.picture >= 0) {
            const std::vector<uint8_t> bytes = x264.encode(step.picture, step.key);
            ASSERT_FALSE(bytes.empty());
            plain.insert(plain.end(), bytes.begin(), bytes.end());
            const support::H264Repeater::Bytes out = repeater.pass(bytes.data(), int(bytes.size()));
            withRepeats.insert(withRepeats.end(), out.data, out.data + out.size);
            realIndex.push_back(reals++);
        } else {
            for (int i = 0; i < step.repeats; ++i) {
                ASSERT_TRUE(repeater.canRepeat());
                const std::vector<uint8_t>& same = repeater.repeat();
                EXPECT_LT(same.size(), 2000u);
                withRepeats.insert(withRepeats.end(), same.begin(), same.end());
                realIndex.push_back(reals - 1);
            }
        }
    }
    const std::string plainFile = tempFile((std::string(name) + "-plain.h264").c_str());
    const std::string repeatFile = tempFile((std::string(name) + "-repeats.h264").c_str());
    writeFile(plainFile, plain);
    writeFile(repeatFile, withRepeats);
    std::string plainWarnings, warnings;
    const std::vector<std::string> want = pictureHashes(plainFile, plainWarnings);
    const std::vector<std::string> got = pictureHashes(repeatFile, warnings);
    EXPECT_EQ(plainWarnings, "");
    EXPECT_EQ(warnings, "");
    ASSERT_EQ(want.size(), size_t(reals));
    ASSERT_EQ(got.size(), realIndex.size());
    int wrong = 0;
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i] != want[size_t(realIndex[i])] && ++wrong <= 5)
            ADD_FAILURE() << name << ": picture " << i << " should show real picture " << realIndex[i];
    EXPECT_EQ(wrong, 0);
    std::remove(plainFile.c_str());
    std::remove(repeatFile.c_str());
}

}  // namespace

// Still periods between changes, a key frame on request in the middle of
// repeats, and repeats right after a key frame; both entropy coders, and a
// picture size that is not a whole number of macroblocks.
TEST(H264Repeat, RepeatsDecodeToThePictureBeforeAndChangesAfterThemDecodeRight) {
    const std::vector<Step> steps = {
        {0, 0, false},  {-1, 5, false}, {1, 0, false},  {-1, 40, false}, {2, 0, false},
        {3, 0, false},  {-1, 1, false}, {4, 0, true},   {-1, 7, false},  {5, 0, false},
        {-1, 2, false}, {6, 0, false},  {7, 0, false},  {-1, 3, false},
    };
    {
        X264 live(200, 120, "veryfast", 400);
        checkStream(live, steps, "cabac");
    }
    {
        X264 recorder(200, 120, "ultrafast", 400);
        checkStream(recorder, steps, "cavlc");
    }
    {
        // The live stream's size at the default quality: thousands of
        // macroblocks in one arithmetic-coded slice.
        X264 full(1366, 768, "veryfast", 400);
        checkStream(full, {{0, 0, false}, {-1, 3, false}, {1, 0, false}, {-1, 2, false}}, "full");
    }
}

// frame_num has a few bits only: a still period longer than its range wraps
// it, in the repeats and in the renumbered slices after them.
TEST(H264Repeat, LongStillPeriodWrapsTheFrameNumber) {
    X264 live(64, 48, "veryfast", 100000);
    checkStream(live, {{0, 0, false}, {1, 0, false}, {-1, 1100, false}, {2, 0, false},
                       {-1, 1100, false}, {3, 0, false}, {4, 0, false}},
                "wrap");
}

// With more than one reference frame, a repeat would shift which picture the
// encoder's reference indices mean: such a stream gets no repeats.
TEST(H264Repeat, NoRepeatsWhereTheyWouldNotBeExact) {
    support::H264Repeater repeater;
    X264 many(64, 48, "veryfast", 100, "ref=3");
    ASSERT_TRUE(many.ok);
    const std::vector<uint8_t> first = many.encode(0);
    repeater.pass(first.data(), int(first.size()));
    EXPECT_FALSE(repeater.canRepeat());
    // Before any picture there is nothing to repeat.
    support::H264Repeater fresh;
    EXPECT_FALSE(fresh.canRepeat());
    // Bytes that are no stream at all are passed on and change nothing.
    const uint8_t junk[] = {0, 0, 1, 0x67, 0xff, 0xff, 0, 0, 1, 0x68, 0xff, 0, 0, 1, 0x41, 0x9a};
    const support::H264Repeater::Bytes out = fresh.pass(junk, int(sizeof junk));
    EXPECT_EQ(out.data, junk);
    EXPECT_FALSE(fresh.canRepeat());
}
