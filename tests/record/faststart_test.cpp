// The rewrite of a finished fragmented recording into a regular MP4: the
// index in front and no fragments after it; a rewrite that fails, or a
// process killed in the middle of one, leaves the fragmented file as it was.
#include "common/temp_dir.h"
#include "record/mp4_faststart.h"
#include "record/mp4_writer.h"
#include "record/record_fixture.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace testing_support;

namespace {

// A fragmented recording of `seconds` made by the recorder's writer: moving
// grey levels at 10 pictures a second and a quiet tone. From picture
// `stillFrom` on, the picture stays as it is and is handed over as unchanged;
// `repeats` gets how many of those went in without the encoder.
std::string makeFragmented(const std::string& folder, int seconds, int stillFrom = -1,
                           uint64_t* repeats = nullptr) {
    const std::string path = folder + "/20261209-10.00.00.MP4";
    record::Mp4Writer writer;
    record::Mp4Settings s;
    s.width = 320;
    s.height = 240;
    s.frameRate = 10;
    s.bitRate = 300000;
    if (!writer.open(path, s)) return {};
    const int samples = writer.audioFrameSamples() > 0 ? writer.audioFrameSamples() : 1024;
    std::vector<int16_t> pcm(size_t(samples) * 2);
    int64_t audioPts = 0;
    for (int i = 0; i < seconds * 10; ++i) {
        const bool still = stillFrom >= 0 && i > stillFrom;
        if (!still) {
            AVFrame* picture = writer.videoPicture();
            av_frame_make_writable(picture);
            for (int y = 0; y < 240; ++y)
                std::memset(picture->data[0] + y * picture->linesize[0], (i * 7 + y) & 0xff, 320);
            for (int p = 1; p < 3; ++p)
                for (int y = 0; y < 120; ++y) std::memset(picture->data[p] + y * picture->linesize[p], 128, 160);
        }
        writer.encodeVideo(i, still);
        while (audioPts < int64_t(i + 1) * 4410) {
            for (int k = 0; k < samples; ++k)
                pcm[2 * k] = pcm[2 * k + 1] = int16_t(3000 * ((audioPts + k) / 50 % 2 ? 1 : -1));
            audioPts += samples;
            writer.encodeAudio(pcm.data(), samples, audioPts);
        }
    }
    writer.drainVideo();
    if (repeats) *repeats = writer.videoRepeats();
    return writer.finish() ? path : std::string();
}

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every packet decodes without a complaint from ffmpeg.
void expectPlayable(const std::string& path) {
    const CommandResult r = runCommand("ffmpeg -nostdin -v warning -xerror -i '" + path + "' -f null - 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "");
}

double durationOf(const std::string& path) {
    return std::atof(probe(path)["format"]["duration"].asString().c_str());
}

}  // namespace

TEST(RegularMp4, RewriteMovesTheIndexInFrontAndKeepsEveryPacket) {
    TempDir dir;
    const std::string path = makeFragmented(dir.path(), 4);
    ASSERT_FALSE(path.empty());
    const auto before = topLevelBoxes(path);
    ASSERT_TRUE(hasBox(before, "moof"));  // what the writer makes during the lesson
    const auto framesBefore = videoPacketTimes(path).size();

    ASSERT_TRUE(record::rewriteAsRegularMp4(path));
    const auto boxes = topLevelBoxes(path);
    ASSERT_GE(boxIndex(boxes, "moov"), 0);
    EXPECT_LT(boxIndex(boxes, "moov"), boxIndex(boxes, "mdat"));
    EXPECT_FALSE(hasBox(boxes, "moof"));
    EXPECT_EQ(videoPacketTimes(path).size(), framesBefore);
    EXPECT_NEAR(durationOf(path), 4.0, 0.15);
    const Json::Value info = probe(path);
    ASSERT_TRUE(streamOf(info, "audio"));
    EXPECT_EQ((*streamOf(info, "video"))["codec_name"].asString(), "h264");
    expectPlayable(path);
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{path});  // no temporary file left
}

TEST(RegularMp4, AFailedRewriteLeavesTheFragmentedFileAsItWas) {
    TempDir dir;
    const std::string path = makeFragmented(dir.path(), 2);
    ASSERT_FALSE(path.empty());
    const std::string original = contents(path);
    // The temporary file cannot be made: a folder of that name is in the way.
    const std::string temp = record::rewriteTempPath(path);
    std::filesystem::create_directories(temp + "/inside");
    EXPECT_FALSE(record::rewriteAsRegularMp4(path));
    EXPECT_EQ(contents(path), original);

    // Nor is a file that is no recording replaced by anything.
    std::filesystem::remove_all(temp);
    const std::string junk = dir.path() + "/20261209-11.00.00.MP4";
    std::ofstream(junk) << "not a recording";
    EXPECT_FALSE(record::rewriteAsRegularMp4(junk));
    EXPECT_EQ(contents(junk), "not a recording");
    EXPECT_FALSE(std::filesystem::exists(record::rewriteTempPath(junk)));
}

TEST(RegularMp4, AProcessKilledDuringTheRewriteLeavesThePlayableFragmentedFile) {
    TempDir dir;
    const std::string path = makeFragmented(dir.path(), 6);
    ASSERT_FALSE(path.empty());
    const std::string original = contents(path);

    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Halfway through the packets the process dies as a crash or a
        // kill would end it: no clean-up of any kind runs.
        record::rewriteAsRegularMp4(path, [](int64_t packets) {
            if (packets == 60) ::raise(SIGKILL);
            return true;
        });
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the rewrite ended before it was killed";

    EXPECT_EQ(contents(path), original);
    EXPECT_TRUE(hasBox(topLevelBoxes(path), "moof"));
    expectPlayable(path);
    EXPECT_NEAR(durationOf(path), 6.0, 0.15);
    // The half-written temporary file goes at the next recording's start.
    const std::string temp = record::rewriteTempPath(path);
    EXPECT_TRUE(std::filesystem::exists(temp));
    record::removeStaleRewrites(dir.path());
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{path});
}

// A still screen goes into the file as repeats of the last picture: the file
// plays without a warning for its whole length, every repeat decodes to the
// picture before it, and key frames still come every five seconds.
TEST(RegularMp4, AStillScreenIsWrittenAsRepeatsAndPlaysForItsFullLength) {
    TempDir dir;
    uint64_t repeats = 0;
    const std::string path = makeFragmented(dir.path(), 12, 15, &repeats);
    ASSERT_FALSE(path.empty());
    EXPECT_GE(repeats, 100u);  // 104 pictures after the 16th, less the key frames
    ASSERT_TRUE(record::rewriteAsRegularMp4(path));
    expectPlayable(path);
    EXPECT_NEAR(durationOf(path), 12.0, 0.15);
    EXPECT_EQ(videoPacketTimes(path).size(), 120u);

    const CommandResult keys = runCommand("ffprobe -v error -select_streams v:0 -show_entries packet=flags "
                                          "-of csv=p=0 '" + path + "' | grep -c K");
    EXPECT_EQ(std::atoi(keys.output.c_str()), 3);  // at 0, 5 and 10 s

    const CommandResult hashes = runCommand("ffmpeg -nostdin -v error -i '" + path +
                                            "' -map 0:v -f framemd5 - 2>/dev/null | grep -v '^#'");
    std::vector<std::string> md5;
    std::istringstream lines(hashes.output);
    for (std::string line; std::getline(lines, line);) md5.push_back(line.substr(line.rfind(',') + 1));
    ASSERT_EQ(md5.size(), 120u);
    EXPECT_NE(md5[14], md5[15]);  // still moving
    for (size_t i = 16; i < md5.size(); ++i) EXPECT_EQ(md5[i], md5[15]) << "picture " << i;
}
