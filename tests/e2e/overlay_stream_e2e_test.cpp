// What the students receive shows the overlays: the live stream and the
// lesson recording of the running program, decoded by ffmpeg, hold the
// annotation ink along its stroke and the spotlight's dark surround, on a
// plain X server and under a compositing manager.
#include "common/loopback.h"
#include "common/private_xvfb.h"
#include "common/pulse_server.h"
#include "common/run_command.h"
#include "pc_program.h"
#include "phone/phone_client.h"
#include "protocol/message_names.h"

#include <X11/Xlib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using e2e::PcProgram;
using testing_support::runCommand;

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr int kTolerance = 40;   // per channel, for H.264 colour error
constexpr int kStrokeY = 300;
constexpr uint32_t kInk = 0x0000C000;  // a green the phone picks: (0, 192, 0)
constexpr int kInkR = 0, kInkG = 192, kInkB = 0;

std::string quoted(const std::string& s) { return "'" + s + "'"; }

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* at(int x, int y) const { return rgb.data() + (size_t(y) * width + x) * 3; }
    std::string describe(int x, int y) const {
        const uint8_t* p = at(x, y);
        std::ostringstream s;
        s << "(" << x << "," << y << ")=" << int(p[0]) << "/" << int(p[1]) << "/" << int(p[2]);
        return s.str();
    }
};

// All pictures of a video file, decoded by ffmpeg to RGB.
std::vector<Picture> decode(const std::string& video) {
    const auto size = runCommand("ffprobe -v error -select_streams v:0 -show_entries stream=width,height "
                                 "-of csv=p=0:s=x " + quoted(video) + " 2>/dev/null");
    Picture shape;
    if (std::sscanf(size.output.c_str(), "%dx%d", &shape.width, &shape.height) != 2) return {};
    const std::string raw = video + ".rgb";
    if (runCommand("ffmpeg -v error -y -i " + quoted(video) + " -an -f rawvideo -pix_fmt rgb24 " +
                   quoted(raw) + " 2>&1").status != 0)
        return {};
    std::ifstream in(raw, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(raw);
    const size_t frameBytes = size_t(shape.width) * shape.height * 3;
    std::vector<Picture> pictures;
    for (size_t at = 0; frameBytes && at + frameBytes <= bytes.size(); at += frameBytes) {
        Picture p = shape;
        p.rgb.assign(bytes.begin() + at, bytes.begin() + at + frameBytes);
        pictures.push_back(std::move(p));
    }
    return pictures;
}

bool near(const uint8_t* p, int r, int g, int b) {
    return std::abs(p[0] - r) <= kTolerance && std::abs(p[1] - g) <= kTolerance && std::abs(p[2] - b) <= kTolerance;
}

// Several points along the stroke carry the ink; a point well off it does
// not. Returns what is wrong, empty when the picture is right.
std::string inkFault(const Picture& picture) {
    if (picture.width != kWidth || picture.height != kHeight)
        return "size " + std::to_string(picture.width) + "x" + std::to_string(picture.height);
    std::string fault;
    for (int x = 150; x <= 600; x += 75)
        if (!near(picture.at(x, kStrokeY), kInkR, kInkG, kInkB)) fault += " no ink at " + picture.describe(x, kStrokeY);
    if (near(picture.at(400, 150), kInkR, kInkG, kInkB)) fault += " ink off the stroke at " + picture.describe(400, 150);
    return fault;
}

// The surround is shaded almost black; the lit circle in the middle is not.
std::string spotlightFault(const Picture& picture) {
    if (picture.width != kWidth || picture.height != kHeight)
        return "size " + std::to_string(picture.width) + "x" + std::to_string(picture.height);
    std::string fault;
    for (auto [x, y] : {std::pair{30, 30}, {kWidth - 30, 30}, {30, kHeight - 30}, {kWidth - 30, kHeight - 30}})
        if (!near(picture.at(x, y), 0, 0, 0)) fault += " surround not shaded at " + picture.describe(x, y);
    const uint8_t* centre = picture.at(kWidth / 2, kHeight / 2);
    if (!(centre[0] > 100 && centre[1] > 100 && centre[2] > 100))
        fault += " lit circle dark at " + picture.describe(kWidth / 2, kHeight / 2);
    return fault;
}

// xcompmgr on the test's display, ended with the test.
class Compositor {
public:
    Compositor() {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::execlp("xcompmgr", "xcompmgr", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Compositor() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    // True once the compositing manager owns its selection on screen 0.
    bool waitRunning() const {
        Display* display = XOpenDisplay(nullptr);
        if (!display) return false;
        const Atom selection = XInternAtom(display, "_NET_WM_CM_S0", False);
        bool running = false;
        for (int i = 0; i < 250 && !running; ++i) {
            running = XGetSelectionOwner(display, selection) != None;
            if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        XCloseDisplay(display);
        return running;
    }

private:
    pid_t pid_ = -1;
};

class OverlayStream : public ::testing::TestWithParam<bool> {
protected:
    std::string phoneCommand(const std::string& words) const {
        return std::string(LUMACRO3_BIN_DIR) + "/lumacro3-phone " + words + " --address " + address_ + " 2>&1";
    }
    bool waitState(phone::PhoneClient& phone, const char* className, bool shown) {
        for (int i = 0; i < 5; ++i) {
            phone::ReceivedFrame frame;
            if (phone.waitFor(className, frame, 5000) != phone::ReadResult::Frame) return false;
            if (frame.message["state"].asBool() == shown) return true;
        }
        return false;
    }
    // A second of the live stream as a watching phone sees it; its last picture.
    std::optional<Picture> livePicture(const std::string& file) {
        const auto r = runCommand(phoneCommand("live --no-admin --seconds 1 --out " + quoted(file)));
        if (r.status != 0) {
            ADD_FAILURE() << "live: " << r.output;
            return std::nullopt;
        }
        auto pictures = decode(file);
        if (pictures.empty()) {
            ADD_FAILURE() << "no picture decoded from " << file << ": " << r.output;
            return std::nullopt;
        }
        return pictures.back();
    }
    // The live stream's picture once `fault` finds nothing wrong in it; the
    // program paints the overlay in its own time (slowly in sanitizer builds),
    // so a second that ends too early is watched again, a few times at most.
    std::string liveFault(const std::string& file, std::string (*fault)(const Picture&)) {
        std::string last = "no picture";
        for (int attempt = 0; attempt < 6; ++attempt) {
            const auto picture = livePicture(file);
            if (!picture) return "no live picture";
            last = fault(*picture);
            if (last.empty()) return last;
        }
        return last;
    }
    std::string address_;
};

TEST_P(OverlayStream, LiveStreamAndRecordingShowInkAndSpotlight) {
    std::signal(SIGPIPE, SIG_IGN);
    const bool composited = GetParam();
    // A white desktop, so the shade and the ink stand out against it.
    testing_support::PrivateXvfb x(kWidth, kHeight, {"-wr"});
    ASSERT_TRUE(x.ok());
    std::optional<Compositor> compositor;
    if (composited) {
        if (std::system("command -v xcompmgr >/dev/null") != 0) GTEST_SKIP() << "no xcompmgr here";
        compositor.emplace();
        ASSERT_TRUE(compositor->waitRunning()) << "xcompmgr did not take the compositing selection";
    }
    // The recorder needs a sound device.
    testing_support::PulseServer pulse;
    ASSERT_TRUE(pulse.ready());
    address_ = testing_support::uniqueLoopbackAddress(58);
    PcProgram::Options options;
    options.env = {"PULSE_SERVER=" + pulse.server()};
    PcProgram program(address_, options);
    ASSERT_TRUE(program.waitForLog("start-up complete")) << program.log();
    ASSERT_TRUE(program.waitReady()) << program.log();
    // LUMACRO3_KEEP_FRAMES=DIR keeps the received videos there to look at.
    const char* keep = std::getenv("LUMACRO3_KEEP_FRAMES");
    const std::string work = (keep ? std::string(keep) : program.home()) + (composited ? "/composited" : "/plain");
    std::filesystem::create_directories(work);

    phone::PhoneClient teacher;
    ASSERT_TRUE(teacher.connect(address_));
    phone::ClientInfoOptions info;
    info.uniqueId = "overlay-teacher";
    info.admin = true;
    ASSERT_TRUE(teacher.handshake(info)) << program.log();

    // Ink: a colour and a broad pen, the annotation shown, one stroke across.
    using namespace protocol;
    auto send = [&](const char* className, Json::Value message) {
        ASSERT_TRUE(teacher.sendMessage(className, message)) << className;
    };
    Json::Value m(Json::objectValue);
    m["action"] = 3, m["color"] = Json::Int64(kInk);
    send(MsgBrush, m);
    m = Json::Value(Json::objectValue), m["action"] = 5, m["size"] = 16;
    send(MsgBrush, m);
    m = Json::Value(Json::objectValue), m["action"] = 1;
    send(MsgBrush, m);
    ASSERT_TRUE(waitState(teacher, MsgBrushState, true)) << program.log();
    auto motion = [&](int action, int x) {
        Json::Value e(Json::objectValue);
        e["action"] = action, e["absolute"] = true, e["dx"] = x, e["dy"] = kStrokeY;
        send(MsgMotionEvent, e);
    };
    motion(0, 100);
    for (int x = 130; x < 700; x += 30) motion(2, x);
    motion(1, 700);

    {
        const std::string fault = liveFault(work + "/ink.h264", inkFault);
        ASSERT_EQ(fault, "") << "live stream:" << fault << "\n" << program.log();
    }
    // The recording starts once the ink is on screen (the live picture shows
    // it) and ends under the spotlight.
    // The controlling phone drives the recorder; a watching phone may not.
    m = Json::Value(Json::objectValue), m["action"] = 1;
    send(MsgMediaRecord, m);
    ASSERT_TRUE(waitState(teacher, MsgMediaRecordState, true)) << program.log();

    m = Json::Value(Json::objectValue), m["action"] = 1;
    send(MsgSpot, m);
    ASSERT_TRUE(waitState(teacher, MsgSpotState, true)) << program.log();
    {
        const std::string fault = liveFault(work + "/spot.h264", spotlightFault);
        ASSERT_EQ(fault, "") << "live stream:" << fault << "\n" << program.log();
    }

    m = Json::Value(Json::objectValue), m["action"] = 0;
    send(MsgMediaRecord, m);
    ASSERT_TRUE(waitState(teacher, MsgMediaRecordState, false)) << program.log();
    std::string recording;
    for (int i = 0; i < 250 && recording.empty(); ++i) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(program.home()))
            if (entry.path().parent_path().filename() == "Record" && entry.is_regular_file() &&
                (entry.path().extension() == ".MP4" || entry.path().extension() == ".mp4"))
                recording = entry.path();
        if (recording.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_FALSE(recording.empty()) << program.log();
    if (keep) std::filesystem::copy_file(recording, work + "/recording.mp4",
                                         std::filesystem::copy_options::overwrite_existing);
    std::vector<Picture> pictures;
    for (int i = 0; i < 100 && pictures.empty(); ++i) {
        pictures = decode(recording);
        if (pictures.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_GE(pictures.size(), 2u) << recording;
    EXPECT_EQ(inkFault(pictures.front()), "") << "recording, first picture";
    EXPECT_EQ(spotlightFault(pictures.back()), "") << "recording, last picture";

    teacher.close();
    EXPECT_EQ(program.terminate(), 0) << program.log();
}

INSTANTIATE_TEST_SUITE_P(Overlay, OverlayStream, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Composited" : "Plain"; });

}  // namespace
