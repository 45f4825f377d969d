#include "camera/camera_engine.h"
#include "common/run_command.h"
#include "common/temp_dir.h"
#include "platform/fakes/fake_camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using camera::CameraEngine;
using platform::CameraFormat;
using platform::FakeCameraConfig;
using platform::FakeCameraSystem;
using platform::fixedSize;
namespace pixel = platform::pixel;

namespace {

FakeCameraConfig cam(const std::string& name, std::vector<platform::CameraSizeRange> sizes) {
    FakeCameraConfig config;
    config.name = name;
    config.sizes = std::move(sizes);
    return config;
}

// The pixel (blue, green, red) at x, y of a top-down 24-bit picture, as 0xRRGGBB.
uint32_t rgbAt(const std::vector<uint8_t>& picture, int width, int x, int y) {
    const uint8_t* p = &picture[(size_t(y) * width + x) * 3];
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

bool near(uint32_t a, uint32_t b, int tolerance) {
    for (int shift : {0, 8, 16})
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance) return false;
    return true;
}

std::string hex(uint32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "#%06x", c);
    return text;
}

// The window's path (GetPicture) against the GetPixels path on the same
// pattern: at the frame's size every pixel matches the upright 24-bit
// picture with opaque alpha; made smaller, the quadrants keep their colours.
void expectPictureMatchesPixels(CameraEngine& engine, int w, int h, int tolerance, const std::string& what) {
    std::vector<uint8_t> pixels(size_t(w) * h * 3), picture(size_t(w) * h * 4 + 64, 0x55);
    ASSERT_TRUE(engine.GetPixels(0, pixels.data(), false, true));
    ASSERT_TRUE(engine.GetPicture(0, picture.data(), w, h, w * 4));
    int worst = 0;
    size_t opaque = 0;
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        for (int k = 0; k < 3; ++k) worst = std::max(worst, std::abs(int(pixels[i * 3 + k]) - int(picture[i * 4 + k])));
        opaque += picture[i * 4 + 3] == 0xFF;
    }
    EXPECT_LE(worst, tolerance) << what;
    EXPECT_EQ(opaque, size_t(w) * h) << what;
    EXPECT_EQ(picture[size_t(w) * h * 4], 0x55) << what << ": wrote past the picture";

    // Smaller, at an odd size, with padded rows.
    const int tw = 201, th = 151, stride = tw * 4 + 12;
    std::vector<uint8_t> small(size_t(stride) * th);
    ASSERT_TRUE(engine.GetPicture(0, small.data(), tw, th, stride));
    auto at = [&](int x, int y) {
        const uint8_t* p = &small[size_t(y) * stride + size_t(x) * 4];
        return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    };
    auto want = [&](int x, int y) { return rgbAt(pixels, w, x * w / tw, y * h / th); };
    for (auto [x, y] : {std::pair{50, 37}, {150, 37}, {50, 112}, {150, 112}})
        EXPECT_TRUE(near(at(x, y), want(x, y), tolerance + 4))
            << what << " small at " << x << "," << y << ": " << hex(at(x, y)) << " want " << hex(want(x, y));
}

struct LayoutCase {
    const char* name;
    uint32_t layout;
    int tolerance;  // lossy layouts (5-bit colour, JPEG) stray further
    int padding = 0;  // bytes the device adds to every row
};

class EveryLayout : public ::testing::TestWithParam<LayoutCase> {};

// A device offering 1920 x 1080 in any layout of the table is opened at that
// size in that layout, whatever else it offers, and its frames reach the
// caller right way up and in the right colours; the swap option exchanges
// red and blue.
TEST_P(EveryLayout, OpensAtFullHdAndDeliversThePatternUpright) {
    const LayoutCase c = GetParam();
    FakeCameraSystem system;
    FakeCameraConfig config = cam("USB camera", {fixedSize(pixel::YUYV, 640, 480), fixedSize(c.layout, 1920, 1080),
                                             fixedSize(c.layout, 1280, 720)});
    config.padding = c.padding;
    platform::FakeCameraState& state = system.add(config);
    CameraEngine engine(system);
    ASSERT_EQ(engine.enumerateCameras(), 1);
    ASSERT_TRUE(engine.openCamera(0));
    EXPECT_EQ(engine.width(0), 1920);
    EXPECT_EQ(engine.height(0), 1080);
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        EXPECT_EQ(state.format, (CameraFormat{c.layout, 1920, 1080}));
    }
    std::vector<uint8_t> picture(size_t(1920) * 1080 * 3);
    ASSERT_TRUE(engine.GetPixels(0, picture.data(), false, true));
    const int tol = c.tolerance;
    expectPictureMatchesPixels(engine, 1920, 1080, 3, c.name);
    auto expect = [&](int x, int y, uint32_t want) {
        const uint32_t got = rgbAt(picture, 1920, x, y);
        EXPECT_TRUE(near(got, want, tol)) << c.name << " at " << x << "," << y << ": " << hex(got);
    };
    if (c.layout == pixel::GREY) {
        // Brightness only: blue < red < green < white.
        const uint32_t order[] = {rgbAt(picture, 1920, 480, 810), rgbAt(picture, 1920, 480, 270),
                                  rgbAt(picture, 1920, 1440, 270), rgbAt(picture, 1920, 1440, 810)};
        for (int i = 0; i < 3; ++i) EXPECT_LT(order[i] & 0xFF, order[i + 1] & 0xFF) << hex(order[i]);
        return;
    }
    expect(480, 270, platform::kPatternTopLeft);
    expect(1440, 270, platform::kPatternTopRight);
    expect(480, 810, platform::kPatternBottomLeft);
    expect(1440, 810, platform::kPatternBottomRight);

    ASSERT_TRUE(engine.GetPixels(0, picture.data(), true, false));  // swapped, bottom-up
    expect(480, 810, 0x0000FF);  // red top-left, now at the bottom, blue
    expect(480, 270, 0xFF0000);  // blue bottom-left, now at the top, red
}

INSTANTIATE_TEST_SUITE_P(
    Camera, EveryLayout,
    ::testing::Values(LayoutCase{"BGR24", pixel::BGR24, 2}, LayoutCase{"BGR32", pixel::BGR32, 2},
                      LayoutCase{"RGB565", pixel::RGB565, 8}, LayoutCase{"RGB555", pixel::RGB555, 8},
                      LayoutCase{"YVYU", pixel::YVYU, 12}, LayoutCase{"UYVY", pixel::UYVY, 12},
                      LayoutCase{"YU12", pixel::YUV420, 12}, LayoutCase{"YV12", pixel::YVU420, 12},
                      LayoutCase{"GREY", pixel::GREY, 12}, LayoutCase{"MJPEG", pixel::MJPEG, 24},
                      LayoutCase{"UYVY_padded_rows", pixel::UYVY, 12, 256},
                      LayoutCase{"YV12_padded_rows", pixel::YVU420, 12, 128}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

// Without 1920 x 1080 the nearest offered size wins by the sum of the width
// and height differences: 1280 x 720 (1000) over 640 x 480 (1880), in the
// layout that offered it.
TEST(CameraEngine, TakesTheNearestSizeWhenFullHdIsMissing) {
    FakeCameraSystem system;
    platform::FakeCameraState& state =
        system.add(cam("Doc cam", {fixedSize(pixel::YUYV, 640, 480), fixedSize(pixel::MJPEG, 1280, 720)}));
    CameraEngine engine(system);
    ASSERT_TRUE(engine.openCamera(0));
    EXPECT_EQ(engine.width(0), 1280);
    EXPECT_EQ(engine.height(0), 720);
    std::lock_guard<std::mutex> lock(state.mutex);
    EXPECT_EQ(state.format, (CameraFormat{pixel::MJPEG, 1280, 720}));
    // The table was tried at 1920 x 1080 first, the requested layout first.
    ASSERT_FALSE(state.tried.empty());
    EXPECT_EQ(state.tried.front(), (CameraFormat{pixel::BGR24, 1920, 1080}));
}

TEST(CameraEngine, ClosestSizeWalksRangesAndSkipsWhatCannotBeShown) {
    using platform::CameraSizeRange;
    CameraFormat best;
    // A range containing the size: exact.
    ASSERT_TRUE(camera::closestSize({{pixel::YUYV, 160, 2560, 16, 120, 1440, 8}}, 1920, 1080, nullptr, best));
    EXPECT_EQ(best, (CameraFormat{pixel::YUYV, 1920, 1080}));
    // Steps that miss it: the nearest step each way (a tie takes the lower).
    ASSERT_TRUE(camera::closestSize({{pixel::YUYV, 100, 2000, 40, 100, 1100, 20}}, 1920, 1080, nullptr, best));
    EXPECT_EQ(best, (CameraFormat{pixel::YUYV, 1900, 1080}));
    ASSERT_TRUE(camera::closestSize({{pixel::YUYV, 320, 1600, 16, 240, 1200, 16}}, 1920, 1080, nullptr, best));
    EXPECT_EQ(best, (CameraFormat{pixel::YUYV, 1600, 1072}));
    // A later capability must be strictly better; a step of 0 is passed over.
    ASSERT_TRUE(camera::closestSize({fixedSize(pixel::YUYV, 1280, 720), fixedSize(pixel::MJPEG, 1280, 720),
                                     {pixel::BGR24, 1920, 1920, 0, 1080, 1080, 0}},
                                    1920, 1080, nullptr, best));
    EXPECT_EQ(best, (CameraFormat{pixel::YUYV, 1280, 720}));
    // Layouts that cannot be shown do not count.
    auto noH264 = [](uint32_t layout) { return layout != pixel::H264; };
    ASSERT_TRUE(camera::closestSize({fixedSize(pixel::H264, 1920, 1080), fixedSize(pixel::YUYV, 640, 480)}, 1920,
                                    1080, noH264, best));
    EXPECT_EQ(best, (CameraFormat{pixel::YUYV, 640, 480}));
    EXPECT_FALSE(camera::closestSize({fixedSize(pixel::H264, 1920, 1080)}, 1920, 1080, noH264, best));
}

// A device that offers nothing the engine can show is refused; one whose
// sizes give no usable range keeps its own format.
TEST(CameraEngine, FallsBackToTheDeviceFormatAndRefusesWhatItCannotShow) {
    FakeCameraSystem system;
    FakeCameraConfig h264 = cam("H.264 only", {fixedSize(pixel::H264, 1920, 1080)});
    system.add(h264);
    FakeCameraConfig odd = cam("Odd ranges", {{pixel::YUYV, 800, 800, 0, 600, 600, 0}});
    odd.initial = {pixel::YUYV, 800, 600};
    system.add(odd);
    CameraEngine engine(system);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(engine.openCamera(0));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("ERROR: Couldn't config the stream!"), std::string::npos) << out;
    EXPECT_FALSE(engine.isSetUp(0));
    ASSERT_TRUE(engine.openCamera(1));
    EXPECT_EQ(engine.width(1), 800);
    EXPECT_EQ(engine.height(1), 600);
}

// Nodes that cannot capture (metadata nodes beside each camera) are not
// counted and take no place in the name table; names keep every character
// and are cut to 253 bytes without splitting one.
TEST(CameraEngine, EnumerationCountsCaptureNodesOnlyAndKeepsNames) {
    FakeCameraSystem system;
    system.add(cam("Integrated Camera", {fixedSize(pixel::YUYV, 640, 480)}));
    FakeCameraConfig meta = cam("Integrated Camera", {});
    meta.canCapture = false;
    system.add(meta);
    system.add(cam("高拍仪 文档摄像头", {fixedSize(pixel::YUYV, 1920, 1080)}));
    std::string longName;
    while (longName.size() < 300) longName += "摄";
    system.add(cam(longName, {fixedSize(pixel::YUYV, 640, 480)}));
    CameraEngine engine(system);
    EXPECT_EQ(engine.enumerateCameras(), 3);
    EXPECT_EQ(engine.cameraName(0), "Integrated Camera");
    EXPECT_EQ(engine.cameraName(1), "高拍仪 文档摄像头");
    EXPECT_EQ(engine.cameraName(2), longName.substr(0, 252));  // 84 whole characters of 3 bytes
    EXPECT_EQ(engine.cameraName(3), "");
    ASSERT_TRUE(engine.openCamera(1));  // the document camera, not the metadata node
    EXPECT_EQ(engine.width(1), 1920);
    EXPECT_FALSE(engine.openCamera(3));
}

// Records and names cover 20 devices: the 21st is refused (and so is an index
// beyond the devices), a device already set up is refused until closed, and
// a closed device can be opened again.
TEST(CameraEngine, TwentyDevicesAtMostAndOneSetUpEach) {
    FakeCameraSystem system;
    std::vector<platform::FakeCameraState*> states;
    for (int i = 0; i < 21; ++i)
        states.push_back(&system.add(cam("Camera " + std::to_string(i), {fixedSize(pixel::YUYV, 320, 240)})));
    CameraEngine engine(system);
    EXPECT_EQ(engine.enumerateCameras(), 21);
    EXPECT_EQ(engine.cameraName(19), "Camera 19");
    EXPECT_EQ(engine.cameraName(20), "");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(engine.openCamera(20));
    EXPECT_FALSE(engine.openCamera(25));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("SETUP: device[20] not found - you have 21 devices available"), std::string::npos) << out;
    EXPECT_EQ(states[20]->opens.load(), 0);

    ASSERT_TRUE(engine.openCamera(19));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(engine.openCamera(19));
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("SETUP: can't setup, device 19 is currently being used"), std::string::npos) << out;
    EXPECT_EQ(states[19]->opens.load(), 1);
    engine.closeCamera(19);
    EXPECT_EQ(states[19]->open.load(), 0);
    EXPECT_FALSE(engine.hasNewFrame(19));
    ASSERT_TRUE(engine.openCamera(19));
    EXPECT_EQ(states[19]->open.load(), 1);
}

// A device that sends nothing: GetPixels gives up after a second. Frames
// not taken are not queued: after a pause only the newest one is there.
TEST(CameraEngine, NoFrameForASecondFailsAndUntakenFramesAreDropped) {
    FakeCameraSystem system;
    FakeCameraConfig silent = cam("Silent", {fixedSize(pixel::YUYV, 320, 240)});
    silent.silent = true;
    system.add(silent);
    FakeCameraConfig busy = cam("Busy", {fixedSize(pixel::YUYV, 320, 240)});
    busy.framesPerSecond = 100;
    platform::FakeCameraState& busyState = system.add(busy);
    CameraEngine engine(system);
    ASSERT_TRUE(engine.openCamera(0));
    ASSERT_TRUE(engine.openCamera(1));
    std::vector<uint8_t> picture(320 * 240 * 3);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(engine.hasNewFrame(0));
    EXPECT_FALSE(engine.GetPixels(0, picture.data(), false, true));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(950));

    // The busy camera kept sending while nobody took its frames.
    EXPECT_GT(busyState.frames.load(), 20);
    EXPECT_TRUE(engine.hasNewFrame(1));
    // A picture size the frame cannot give is refused without using it up.
    std::vector<uint8_t> bgra(321 * 241 * 4);
    EXPECT_FALSE(engine.GetPicture(1, bgra.data(), 321, 240, 321 * 4));
    EXPECT_FALSE(engine.GetPicture(1, bgra.data(), 320, 0, 320 * 4));
    EXPECT_FALSE(engine.GetPicture(1, bgra.data(), 320, 240, 319 * 4));
    EXPECT_TRUE(engine.hasNewFrame(1));
    EXPECT_TRUE(engine.GetPixels(1, picture.data(), false, true));
    // Taking frames as they come works on.
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(engine.GetPixels(1, picture.data(), false, true));
}

// A device that fails every request at once (unplugged) is not asked in a
// tight loop: a few requests in a quarter of a second, not millions.
TEST(CameraEngine, AFailingDeviceIsNotPolledInATightLoop) {
    FakeCameraSystem system;
    FakeCameraConfig gone = cam("Unplugged", {fixedSize(pixel::YUYV, 320, 240)});
    gone.broken = true;
    platform::FakeCameraState& state = system.add(gone);
    CameraEngine engine(system);
    ASSERT_TRUE(engine.openCamera(0));
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_LT(state.requests.load(), 20);
    EXPECT_FALSE(engine.hasNewFrame(0));
}

// Closing a device wakes a reader waiting for its frame; destroying the
// engine stops every device still set up.
TEST(CameraEngine, DestroyingTheEngineStopsEveryDevice) {
    FakeCameraSystem system;
    platform::FakeCameraState& a = system.add(cam("A", {fixedSize(pixel::YUYV, 320, 240)}));
    platform::FakeCameraState& b = system.add(cam("B", {fixedSize(pixel::MJPEG, 320, 240)}));
    {
        CameraEngine engine(system);
        ASSERT_TRUE(engine.openCamera(0));
        ASSERT_TRUE(engine.openCamera(1));
        EXPECT_EQ(a.open.load() + b.open.load(), 2);
        // A reader waiting for a frame while the device closes returns.
        std::thread reader([&] {
            std::vector<uint8_t> picture(320 * 240 * 3);
            for (int i = 0; i < 50; ++i) engine.GetPixels(0, picture.data(), false, true);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        engine.closeCamera(0);
        reader.join();
    }
    EXPECT_EQ(a.open.load(), 0);
    EXPECT_EQ(b.open.load(), 0);
}

// A video file as the demonstration camera: listed under its own name, at
// the file's size, with the file's pictures (red, made by ffmpeg), looping
// past the file's end. Files without video give no camera.
TEST(DemoCamera, PlaysAVideoFileAsACamera) {
    testing_support::TempDir dir;
    const std::string clip = dir.path() + "/red.mp4";
    const auto made = testing_support::runCommand(
        "ffmpeg -v error -y -f lavfi -i color=c=red:size=320x240:rate=30 -t 0.2 -c:v libx264 -pix_fmt yuv420p " +
        clip + " 2>&1");
    ASSERT_EQ(made.status, 0) << made.output;
    auto system = platform::makeDemoCameraSystem(clip);
    ASSERT_NE(system, nullptr);
    CameraEngine engine(*system);
    ASSERT_EQ(engine.enumerateCameras(), 1);
    EXPECT_EQ(engine.cameraName(0), "Demo camera (video file)");
    ASSERT_TRUE(engine.openCamera(0));
    EXPECT_EQ(engine.width(0), 320);
    EXPECT_EQ(engine.height(0), 240);
    std::vector<uint8_t> picture(320 * 240 * 3);
    for (int i = 0; i < 12; ++i) {  // 6 frames in the file: twice round
        ASSERT_TRUE(engine.GetPixels(0, picture.data(), false, true)) << "frame " << i;
        EXPECT_TRUE(near(rgbAt(picture, 320, 160, 120), 0xFF0000, 12)) << hex(rgbAt(picture, 320, 160, 120));
    }
    // The device hands over the decoder's planes; the window's picture is
    // made from them.
    std::vector<uint8_t> small(160 * 120 * 4);
    ASSERT_TRUE(engine.GetPicture(0, small.data(), 160, 120, 160 * 4));
    EXPECT_TRUE(near(uint32_t(small[6002]) << 16 | uint32_t(small[6001]) << 8 | small[6000], 0xFF0000, 12));

    EXPECT_EQ(platform::makeDemoCameraSystem(dir.path() + "/missing.mp4"), nullptr);
    const std::string sound = dir.path() + "/tone.wav";
    ASSERT_EQ(testing_support::runCommand("ffmpeg -v error -y -f lavfi -i sine -t 0.2 " + sound + " 2>&1").status, 0);
    EXPECT_EQ(platform::makeDemoCameraSystem(sound), nullptr);
}

// No capture device on the machines this is built on: the V4L2 backend lists
// what /dev holds and opens nothing that is not a capture node.
TEST(V4l2Cameras, ListsNodesAndRefusesWhatIsNotACamera) {
    auto system = platform::makeV4l2CameraSystem();
    for (const platform::CameraNode& node : system->nodes()) {
        EXPECT_EQ(node.id.rfind("/dev/video", 0), 0u) << node.id;
        if (!node.canCapture) {
            EXPECT_EQ(system->open(node.id), nullptr);
        }
    }
    EXPECT_EQ(system->open("/dev/null"), nullptr);
    EXPECT_EQ(system->open("/nonexistent/video0"), nullptr);
}

}  // namespace
