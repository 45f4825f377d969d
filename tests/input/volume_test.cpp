// Master volume on a PulseAudio null sink, checked with pactl.
#include "common/pulse_server.h"
#include "platform/volume_control.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace input_test {
namespace {

std::string volumeOf(const testing_support::PulseServer& pulse) {
    return pulse.pactl("get-sink-volume " + pulse.sink());
}
bool mutedOf(const testing_support::PulseServer& pulse) {
    return pulse.pactl("get-sink-mute " + pulse.sink()).find("yes") != std::string::npos;
}

TEST(VolumeTest, SetsTheLevelAndUnmutesOnlyForANonZeroLevel) {
    testing_support::PulseServer pulse;
    ASSERT_TRUE(pulse.ready());
    auto volume = platform::makePulseVolumeControl();

    volume->setMasterVolume(37);
    ASSERT_TRUE(volume->waitIdle(5000));
    EXPECT_NE(volumeOf(pulse).find(" 37% "), std::string::npos) << volumeOf(pulse);

    pulse.pactl("set-sink-mute " + pulse.sink() + " 1");
    volume->setMasterVolume(0);
    ASSERT_TRUE(volume->waitIdle(5000));
    EXPECT_TRUE(mutedOf(pulse));
    EXPECT_NE(volumeOf(pulse).find(" 0% "), std::string::npos) << volumeOf(pulse);

    volume->setMasterVolume(100);
    ASSERT_TRUE(volume->waitIdle(5000));
    EXPECT_FALSE(mutedOf(pulse));
    EXPECT_NE(volumeOf(pulse).find(" 100% "), std::string::npos) << volumeOf(pulse);

    // Out of range: ignored, the mute state untouched too.
    pulse.pactl("set-sink-mute " + pulse.sink() + " 1");
    volume->setMasterVolume(150);
    volume->setMasterVolume(-5);
    ASSERT_TRUE(volume->waitIdle(5000));
    EXPECT_TRUE(mutedOf(pulse));
    EXPECT_NE(volumeOf(pulse).find(" 100% "), std::string::npos);

    // A burst ends at the last level asked for.
    for (int level = 1; level <= 60; ++level) volume->setMasterVolume(level);
    ASSERT_TRUE(volume->waitIdle(5000));
    EXPECT_NE(volumeOf(pulse).find(" 60% "), std::string::npos) << volumeOf(pulse);
}

TEST(VolumeTest, MissingOrHungSoundServerNeitherBlocksNorCrashes) {
    // No server at all.
    setenv("PULSE_SERVER", "unix:/nonexistent/lumacro3/native", 1);
    {
        auto volume = platform::makePulseVolumeControl();
        volume->setMasterVolume(50);
        EXPECT_TRUE(volume->waitIdle(5000));
    }
    // A server that accepts the connection and never answers.
    char dir[] = "/tmp/lumacro3-hung-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string path = std::string(dir) + "/native";
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);
    {
        auto volume = platform::makePulseVolumeControl();
        volume->setMasterVolume(20);   // returns at once
        volume->setMasterVolume(30);
        EXPECT_TRUE(volume->waitIdle(10000));  // each request gives up at its deadline
        volume->setMasterVolume(40);
    }  // and it can be destroyed while a request hangs
    close(listener);
    unlink(path.c_str());
    rmdir(dir);
    unsetenv("PULSE_SERVER");
}

}  // namespace
}  // namespace input_test
