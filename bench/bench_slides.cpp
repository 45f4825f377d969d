// Slide shows with LibreOffice Impress: the whole program and its slide helper
// on a private X server, driven by the reference phone client.
//
// 1. Push to announce: time from the start of a pushed deck's upload to the
//    MsgPPT that announces its slide images, per slide, for a cold and a warm
//    LibreOffice. Reference in the same run: the upload alone (the reference
//    client's push of the same bytes under a name that is opened elsewhere).
// 2. Goto to screen: time from sending MsgPPT goto to the slide's colour on
//    the screen (centre and top left corner, polled with XGetImage). Reference in the same run:
//    the same move made with the keyboard on the PC (XTest Right arrow),
//    which is Impress's own path without the phone, the bridge and the helper.
//
// Usage: bench_slides [--slides N] [--moves N]
#include "bench_common.h"
#include "common/private_xvfb.h"
#include "phone/phone_client.h"
#include "protocol/message_names.h"
#include "support/child_process.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using bench::Clock;

const uint32_t kColours[] = {0xff0000, 0x00ff00, 0x0000ff, 0xffff00, 0xff00ff, 0x00ffff, 0x800000, 0x008000};
constexpr int kColourCount = sizeof kColours / sizeof kColours[0];

std::string hex(uint32_t rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", rgb);
    return text;
}

void writeDeck(const std::string& path, int slides, int shift) {
    std::string styles, pages;
    for (int i = 0; i < slides; ++i) {
        const std::string n = std::to_string(i);
        styles += "<style:style style:name=\"dp" + n + "\" style:family=\"drawing-page\"><style:drawing-page-properties "
                  "draw:fill=\"solid\" draw:fill-color=\"" + hex(kColours[(i + shift) % kColourCount]) +
                  "\" presentation:background-visible=\"true\"/></style:style>\n";
        pages += "<draw:page draw:name=\"s" + n + "\" draw:style-name=\"dp" + n + "\" draw:master-page-name=\"M\"/>\n";
    }
    std::ofstream(path) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
        "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
        "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
        "xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\" office:version=\"1.2\" "
        "office:mimetype=\"application/vnd.oasis.opendocument.presentation\">\n<office:automatic-styles>"
        "<style:page-layout style:name=\"PM1\"><style:page-layout-properties fo:page-width=\"28cm\" "
        "fo:page-height=\"15.75cm\"/></style:page-layout>\n" << styles
        << "</office:automatic-styles><office:master-styles><style:master-page style:name=\"M\" "
           "style:page-layout-name=\"PM1\"/></office:master-styles><office:body><office:presentation>\n"
        << pages << "</office:presentation></office:body></office:document>\n";
}

int run(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& env) {
    support::SpawnOptions o;
    o.program = program;
    o.args = args;
    o.env = env;
    support::ChildProcess child = support::spawn(o);
    if (!child || !child.wait(std::chrono::seconds(60))) return -1;
    return child.exitCode();
}

uint32_t colourAt(Display* display, int x, int y) {
    XImage* image = XGetImage(display, DefaultRootWindow(display), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return 0xffffffff;
    const uint32_t pixel = uint32_t(XGetPixel(image, 0, 0)) & 0xffffff;
    XDestroyImage(image);
    return pixel;
}

double waitColour(Display* display, uint32_t rgb, Clock::time_point since, double limit = bench::kStallSeconds) {
    while (bench::secondsSince(since) < limit)
        // The centre and a point where the editing view has its toolbars:
        // only the show itself fills both with the slide's colour.
        if (colourAt(display, 960, 540) == rgb && colourAt(display, 20, 20) == rgb)
            return bench::secondsSince(since) * 1000;
    if (limit < bench::kStallSeconds) return -1;
    bench::fail("colour %06x never showed (centre %06x, corner %06x)", rgb, colourAt(display, 960, 540),
                colourAt(display, 20, 20));
}

bool waitPpt(phone::PhoneClient& client, int action, Json::Value& out, int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        phone::ReceivedFrame frame;
        if (client.waitFor(protocol::MsgPPT, frame, 200) == phone::ReadResult::Frame &&
            frame.message["action"].asInt() == action) {
            out = frame.message;
            return true;
        }
    }
    return false;
}

std::string stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    char text[96];
    std::snprintf(text, sizeof text, "median %6.1f ms  p90 %6.1f ms  max %6.1f ms", bench::median(v),
                  bench::percentile(v, 90), v.back());
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    int slides = 12, moves = 20;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--slides") slides = std::max(2, std::atoi(argv[i + 1]));
        if (std::string(argv[i]) == "--moves") moves = std::max(2, std::atoi(argv[i + 1]));
    }
    testing_support::PrivateXvfb x(1920, 1080);
    if (!x.ok()) bench::fail("no Xvfb");
    char pattern[] = "/tmp/lumacro3-bench-slides-XXXXXX";
    const std::string work = ::mkdtemp(pattern);
    const std::string address = "127.3.0.61";
    const std::vector<std::string> base = {"PATH=/usr/sbin:/usr/bin:/bin", "HOME=" + work};

    // Decks: two of `slides` slides (cold and warm LibreOffice), as .pptx.
    for (int d = 0; d < 2; ++d) {
        const std::string name = work + "/deck" + std::to_string(d) + ".fodp";
        writeDeck(name, slides, d);
        run("/usr/bin/soffice", {"--headless", "--norestore", "-env:UserInstallation=file://" + work + "/convert",
                                 "--convert-to", "pptx", "--outdir", work, name}, base);
        if (!fs::exists(work + "/deck" + std::to_string(d) + ".pptx")) bench::fail("deck not converted");
        fs::copy_file(work + "/deck" + std::to_string(d) + ".pptx", work + "/deck" + std::to_string(d) + ".bin");
    }

    // Decks come from a second phone while the measuring phone stays the
    // controller: watching phones may act in this classroom.
    fs::create_directories(work + "/config/Quorvel");
    std::ofstream(work + "/config/Quorvel/Lumacro3.ini") << "[SET]\nWATCH_ONLY=0\n";

    support::SpawnOptions pc;
    pc.program = LUMACRO3_BIN_DIR "/lumacro3";
    pc.env = {"HOME=" + work, "XDG_CONFIG_HOME=" + work + "/config", "XDG_RUNTIME_DIR=" + work, "LUMACRO3_LOG=1",
              "LUMACRO3_LISTEN_ADDRESS=" + address, "LUMACRO3_SLIDEBRIDGE_PROFILE=" + work + "/office",
              "PATH=/usr/sbin:/usr/bin:/bin"};
    pc.out = support::SpawnOptions::Stream::File;
    pc.file = work + "/program.log";
    support::ChildProcess program = support::spawn(pc);
    if (!program) bench::fail("program did not start");

    phone::PhoneClient client;
    for (int i = 0; i < 100 && !client.connect(address, protocol::kSessionPort, 100); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    phone::ClientInfoOptions info;
    info.uniqueId = "bench-teacher";
    info.admin = true;
    if (!client.isOpen() || !client.handshake(info)) bench::fail("no session");
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the helper loads its UNO bridge

    const std::string phoneTool = LUMACRO3_BIN_DIR "/lumacro3-phone";
    auto push = [&](const std::string& file) {
        return run(phoneTool, {"push", "--address", address, "--no-admin", file}, base);
    };

    std::printf("Push to announce, %d slides per deck\n", slides);
    double uploadMs = 0;
    for (int d = 0; d < 2; ++d) {
        auto t = Clock::now();
        if (push(work + "/deck" + std::to_string(d) + ".bin") != 0) bench::fail("push failed");
        const double upload = bench::secondsSince(t) * 1000;
        uploadMs = upload;
        t = Clock::now();
        if (push(work + "/deck" + std::to_string(d) + ".pptx") != 0) bench::fail("push failed");
        Json::Value images;
        if (!waitPpt(client, 2, images, 60000)) bench::fail("no images announced");
        const double announce = bench::secondsSince(t) * 1000;
        std::printf("  %s LibreOffice: upload alone %6.1f ms; push to announce %7.1f ms = %5.1f ms per slide; "
                    "ratio to upload %5.1f\n",
                    d == 0 ? "cold" : "warm", upload, announce, announce / slides, announce / upload);
    }
    (void)uploadMs;

    // The show of the warm deck (deck1 colours start at kColours[1]).
    Display* display = XOpenDisplay(nullptr);
    if (!display) bench::fail("no display");
    Json::Value start(Json::objectValue);
    start["action"] = 0;
    client.sendMessage(protocol::MsgPPT, start);
    Json::Value changed;
    if (!waitPpt(client, 4, changed, 20000)) bench::fail("show did not start");
    waitColour(display, kColours[1], Clock::now());

    std::vector<double> gotoScreen, gotoAnswer, keyScreen;
    int lostKeys = 0;
    int current = 1;
    for (int i = 0; i < moves; ++i) {
        // Phone: go to a slide two ahead (wrapping), so the colour changes.
        int target = (current + 1) % slides + 1;
        Json::Value go(Json::objectValue);
        go["action"] = 1;
        go["slideIndex"] = target;
        auto t = Clock::now();
        client.sendMessage(protocol::MsgPPT, go);
        const double shown = waitColour(display, kColours[(target - 1 + 1) % kColourCount], t);
        gotoScreen.push_back(shown);
        if (waitPpt(client, 4, changed, 5000)) gotoAnswer.push_back(bench::secondsSince(t) * 1000);
        current = target;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));

        // Keyboard on the PC: one slide forward (not past the end).
        if (current < slides) {
            t = Clock::now();
            const KeyCode right = XKeysymToKeycode(display, XK_Right);
            XTestFakeKeyEvent(display, right, True, 0);
            XTestFakeKeyEvent(display, right, False, 0);
            XFlush(display);
            const double ms = waitColour(display, kColours[(current + 1) % kColourCount], t, 3.0);
            if (ms < 0) {
                // Impress sometimes drops a key press right after a move; the
                // phone's next goto puts the show back on a known slide.
                ++lostKeys;
                continue;
            }
            keyScreen.push_back(ms);
            ++current;
            waitPpt(client, 4, changed, 2000);  // the helper reports the move
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
    }
    std::printf("Goto to screen, %d moves\n", moves);
    std::printf("  phone goto -> slide on screen:    %s\n", stats(gotoScreen).c_str());
    std::printf("  phone goto -> MsgPPT action 4:    %s\n", stats(gotoAnswer).c_str());
    std::printf("  PC keyboard -> slide on screen:   %s  (%d key presses without effect)\n",
                stats(keyScreen).c_str(), lostKeys);
    std::printf("  phone goto -> screen, each move:");
    for (double ms : gotoScreen) std::printf(" %.0f", ms);
    std::printf("\n  ratio phone goto / keyboard (median): %.2f\n", bench::median(gotoScreen) / bench::median(keyScreen));
    XCloseDisplay(display);

    client.closeGracefully(1000);
    program.signal(SIGTERM);
    program.wait(std::chrono::seconds(15));
    // The LibreOffice the helper started stays for the teacher; this one goes.
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        std::string args((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (args.find("soffice") != std::string::npos && args.find(work) != std::string::npos)
            ::kill(std::atoi(entry.path().filename().c_str()), SIGKILL);
    }
    std::error_code ec;
    fs::remove_all(work, ec);
    return 0;
}
