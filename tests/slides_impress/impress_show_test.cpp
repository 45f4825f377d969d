// A real slide show: the program with its slide helper and LibreOffice
// Impress on a private X server. A three-slide presentation (red, green, blue
// slides) is pushed from the reference client; its images must be announced
// and served on port 27272, the show must start, move and end on the phone's
// word, and the screen must show the slides (checked with ImageMagick).
#include "common/eventually.h"
#include "common/loopback.h"
#include "common/private_xvfb.h"
#include "e2e/pc_program.h"
#include "phone/phone_client.h"
#include "protocol/message_names.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
const std::string kPhone = std::string(LUMACRO3_BIN_DIR) + "/lumacro3-phone";

// Three empty slides whose backgrounds are pure red, green and blue.
std::string threeSlides() {
    std::string pages, styles;
    const char* colours[] = {"#ff0000", "#00ff00", "#0000ff"};
    for (int i = 0; i < 3; ++i) {
        const std::string n = std::to_string(i + 1);
        styles += "<style:style style:name=\"dp" + n +
                  "\" style:family=\"drawing-page\"><style:drawing-page-properties draw:fill=\"solid\" "
                  "draw:fill-color=\"" + colours[i] + "\" presentation:background-visible=\"true\"/></style:style>\n";
        pages += "<draw:page draw:name=\"s" + n + "\" draw:style-name=\"dp" + n +
                 "\" draw:master-page-name=\"Default\"/>\n";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
           "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
           "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
           "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
           "xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\" "
           "office:version=\"1.2\" office:mimetype=\"application/vnd.oasis.opendocument.presentation\">\n"
           "<office:automatic-styles><style:page-layout style:name=\"PM1\"><style:page-layout-properties "
           "fo:page-width=\"28cm\" fo:page-height=\"15.75cm\"/></style:page-layout>\n" +
           styles +
           "</office:automatic-styles><office:master-styles><style:master-page style:name=\"Default\" "
           "style:page-layout-name=\"PM1\"/></office:master-styles>\n"
           "<office:body><office:presentation>\n" + pages + "</office:presentation></office:body></office:document>\n";
}

// "srgb(255,0,0)"-style colour of one pixel of an image file, by ImageMagick.
std::string pixel(const std::string& file, int x, int y) {
    auto r = e2e::runProgram("/usr/bin/convert",
                             {file, "-format", "%[pixel:p{" + std::to_string(x) + "," + std::to_string(y) + "}]",
                              "info:"},
                             {"PATH=/usr/bin:/bin"});
    return r.out;
}

bool isColour(const std::string& magick, const std::string& name) {
    // ImageMagick prints pure colours by name ("red", "lime", "blue") or as srgb(...).
    if (name == "red") return magick == "red" || magick == "srgb(255,0,0)";
    if (name == "green") return magick == "lime" || magick == "srgb(0,255,0)";
    return magick == "blue" || magick == "srgb(0,0,255)";
}

// The colour of the whole screen, through `import -window root`: the centre
// and a point near the top left corner (where the editing view has its
// toolbars) must agree, else the text says what each is. The screenshots
// stay in $LUMACRO3_SHOT_DIR when that is set, for a person to look at.
std::string screenColour(const std::string& folder, const std::string& name) {
    const char* keep = std::getenv("LUMACRO3_SHOT_DIR");
    const std::string shot = (keep && *keep ? std::string(keep) : folder) + "/impress-" + name + ".png";
    auto r = e2e::runProgram("/usr/bin/import", {"-window", "root", shot},
                             {"PATH=/usr/bin:/bin", std::string("DISPLAY=") + std::getenv("DISPLAY")});
    if (r.exitCode != 0) return "import failed: " + r.err;
    const std::string centre = pixel(shot, 960, 540), corner = pixel(shot, 20, 20);
    return centre == corner ? centre : centre + " / " + corner;
}

// Ends the LibreOffice processes that use `profile`, by pid.
void endOffice(const std::string& profile) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        std::string args((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (args.find("soffice") != std::string::npos && args.find(profile) != std::string::npos)
            ::kill(std::stoi(pid), SIGKILL);
    }
}

// Waits for a MsgPPT with `action`; others are skipped.
bool waitPpt(phone::PhoneClient& client, int action, Json::Value& out, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        phone::ReceivedFrame frame;
        const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 end - std::chrono::steady_clock::now()).count());
        if (client.waitFor(protocol::MsgPPT, frame, std::max(left, 1)) != phone::ReadResult::Frame) return false;
        if (frame.message["action"].asInt() == action) {
            out = frame.message;
            return true;
        }
    }
    return false;
}

TEST(ImpressShow, PushedDeckIsAnnouncedShownMovedAndEnded) {
    testing_support::PrivateXvfb x(1920, 1080);
    ASSERT_TRUE(x.ok());
    const std::string address = testing_support::uniqueLoopbackAddress(63);
    char pattern[] = "/tmp/lumacro3-impress-XXXXXX";
    const std::string work = ::mkdtemp(pattern);
    const std::string profile = work + "/office-profile";
    struct Cleanup {
        std::string work, profile;
        ~Cleanup() {
            endOffice(profile);
            endOffice(work + "/convert-profile");
            std::error_code ec;
            fs::remove_all(work, ec);
        }
    } cleanup{work, profile};

    // The deck: a flat ODF file made here, saved as .pptx by LibreOffice.
    std::ofstream(work + "/three.fodp") << threeSlides();
    auto converted = e2e::runProgram(
        "/usr/bin/soffice",
        {"--headless", "--norestore", "-env:UserInstallation=file://" + work + "/convert-profile", "--convert-to",
         "pptx", "--outdir", work, work + "/three.fodp"},
        {"PATH=/usr/bin:/bin", "HOME=" + work});
    ASSERT_TRUE(fs::exists(work + "/three.pptx")) << converted.out << converted.err;

    e2e::PcProgram::Options options;
    options.env = {"LUMACRO3_SLIDEBRIDGE_PROFILE=" + profile};
    // The deck comes from a second phone while the teacher's phone stays the
    // controller: a classroom that lets watching phones act.
    options.settings = "[SET]\nWATCH_ONLY=0\n";
    e2e::PcProgram pc(address, options);
    // A failed check must still let the program stop its web server and helper.
    bool terminated = false;
    struct Stop {
        e2e::PcProgram& pc;
        bool& done;
        ~Stop() {
            if (!done) pc.terminate();
        }
    } stop{pc, terminated};
    ASSERT_TRUE(pc.waitReady()) << pc.log();
    ASSERT_TRUE(pc.waitForLog("start-up complete")) << pc.log();
    // The helper takes a moment to load the UNO bridge; a file pushed before
    // it listens would find nobody to open it.
    ASSERT_TRUE(pc.waitForLog("slidebridge: listening")) << pc.log();

    phone::PhoneClient client;
    ASSERT_TRUE(client.connect(address));
    phone::ClientInfoOptions info;
    info.uniqueId = "teacher-phone";
    info.admin = true;
    ASSERT_TRUE(client.handshake(info));

    // Pushed from a second, watching phone so the teacher's phone stays the controller
    // (the settings above let watching phones act).
    auto push = e2e::runProgram(kPhone, {"push", "--address", address, "--no-admin", work + "/three.pptx"},
                                {"PATH=/usr/bin:/bin"});
    ASSERT_EQ(push.exitCode, 0) << push.err;

    Json::Value images;
    ASSERT_TRUE(waitPpt(client, 2, images, 60000)) << pc.log();
    ASSERT_EQ(images["urls"].size(), 3u);
    const char* expected[] = {"red", "green", "blue"};
    for (Json::ArrayIndex i = 0; i < 3; ++i) {
        const std::string url = images["urls"][i].asString();
        EXPECT_EQ(url.rfind("http://" + address + ":27272/.temp/", 0), 0u) << url;
        const std::string file = work + "/slide" + std::to_string(i) + ".png";
        auto got = e2e::runProgram("/usr/bin/curl", {"-sS", "-o", file, "-w", "%{http_code}", url},
                                   {"PATH=/usr/bin:/bin"});
        ASSERT_EQ(got.out, "200") << url << " " << got.err << pc.log();
        EXPECT_TRUE(isColour(pixel(file, 100, 100), expected[i])) << url << " " << pixel(file, 100, 100);
    }

    // Start: the first slide fills the screen.
    Json::Value start(Json::objectValue);
    start["action"] = 0;
    ASSERT_TRUE(client.sendMessage(protocol::MsgPPT, start));
    Json::Value changed;
    ASSERT_TRUE(waitPpt(client, 4, changed, 15000)) << pc.log();
    EXPECT_EQ(changed["slideIndex"].asInt(), 1);
    EXPECT_EQ(changed["slideCount"].asInt(), 3);
    std::string centre;
    EXPECT_TRUE(testing_support::waitUntil([&] { return isColour(centre = screenColour(work, "first"), "red"); }, 5000))
        << centre;

    // The editing window put over the show (as a click on it would): a
    // second start brings the show back to the front.
    const std::vector<std::string> xenv = {"PATH=/usr/bin:/bin", std::string("DISPLAY=") + std::getenv("DISPLAY")};
    auto found = e2e::runProgram("/usr/bin/xdotool", {"search", "--name", "LibreOffice Impress"}, xenv);
    ASSERT_FALSE(found.out.empty()) << found.err;
    for (size_t at = 0, end; at < found.out.size(); at = end + 1) {
        end = found.out.find('\n', at);
        if (end == std::string::npos) end = found.out.size();
        e2e::runProgram("/usr/bin/xdotool", {"windowraise", found.out.substr(at, end - at)}, xenv);
    }
    EXPECT_TRUE(testing_support::waitUntil([&] { return !isColour(centre = screenColour(work, "covered"), "red"); },
                                           5000))
        << centre;
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // the start limit
    ASSERT_TRUE(client.sendMessage(protocol::MsgPPT, start));
    EXPECT_TRUE(testing_support::waitUntil([&] { return isColour(centre = screenColour(work, "raised"), "red"); },
                                           5000))
        << centre;

    // Slide 3.
    Json::Value go(Json::objectValue);
    go["action"] = 1;
    go["slideIndex"] = 3;
    ASSERT_TRUE(client.sendMessage(protocol::MsgPPT, go));
    // The second start reported slide 1 again; slide 3 follows.
    do {
        ASSERT_TRUE(waitPpt(client, 4, changed, 10000)) << pc.log();
    } while (changed["slideIndex"].asInt() == 1);
    EXPECT_EQ(changed["slideIndex"].asInt(), 3);
    EXPECT_EQ(changed["slideCount"].asInt(), 3);
    EXPECT_TRUE(testing_support::waitUntil([&] { return isColour(centre = screenColour(work, "third"), "blue"); }, 5000))
        << centre;

    // The teacher ends the show at the PC.
    auto escape = e2e::runProgram("/usr/bin/xdotool", {"key", "Escape"},
                                  {"PATH=/usr/bin:/bin", std::string("DISPLAY=") + std::getenv("DISPLAY")});
    EXPECT_EQ(escape.exitCode, 0) << escape.err;
    Json::Value ended;
    EXPECT_TRUE(waitPpt(client, 3, ended, 10000)) << pc.log();

    client.closeGracefully(2000);
    terminated = true;
    EXPECT_EQ(pc.terminate(), 0) << pc.log();
}

}  // namespace
