// Doubles and a fixture for the dispatcher tests: a recording session port,
// mocks of the features, a log capture and a context wired to a RecordingHub.
#pragma once

#include "common/log_capture.h"
#include "common/recording_hub.h"
#include "core/overlay_flags.h"
#include "core/settings.h"
#include "net/json_text.h"
#include "net/session_types.h"
#include "protocol/fields.h"
#include "protocol/message_names.h"
#include "support/logger.h"
#include "ui/main/command_context.h"
#include "ui/main/dispatcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <unistd.h>

namespace dispatch_test {

namespace msg = protocol;
namespace field = protocol::field;
using ::testing::_;
using ::testing::Return;

struct RecordingSessionPort : net::SessionPort {
    struct Sent {
        std::string className;
        Json::Value message;
        int target;
    };
    void send(std::string_view name, const Json::Value& m, const void*, size_t, int target) override {
        sent.push_back(Sent{std::string(name), m, target});
    }
    bool isAdmin(int socket) override { return admins.count(socket) != 0; }
    uint32_t boundAddress() override { return bound; }

    std::vector<Sent> sent;
    std::set<int> admins;
    uint32_t bound = 0;
};

struct MockInput : core::RemoteInput {
    MOCK_METHOD(void, mouseEvent, (int, bool, float, float), (override));
    MOCK_METHOD(void, motionEvent, (int, bool, float, float), (override));
    MOCK_METHOD(void, rotateEvent, (float), (override));
    MOCK_METHOD(void, keyEvent, (int), (override));
    MOCK_METHOD(void, keyEventEx, (int, bool, bool, bool), (override));
    MOCK_METHOD(void, inputText, (const std::string&), (override));
    MOCK_METHOD(void, setVolume, (int), (override));
};
struct MockLiveStream : core::LiveStream {
    MOCK_METHOD(void, liveRequest, (int, int), (override));
    MOCK_METHOD(bool, hasSubscription, (), (override));
    MOCK_METHOD(void, requestKeyFrame, (), (override));
    MOCK_METHOD(void, dropViewers, (), (override));
};
struct MockLiveView : core::LiveView {
    MOCK_METHOD(void, videoData, (const uint8_t*, size_t), (override));
};
struct MockPhoneAudio : core::PhoneAudio {
    MOCK_METHOD(void, start, (int, int, const uint8_t*, size_t), (override));
    MOCK_METHOD(void, data, (const uint8_t*, size_t), (override));
    MOCK_METHOD(void, stop, (), (override));
};
struct MockRecorder : core::Recorder {
    MOCK_METHOD(void, start, (bool), (override));
    MOCK_METHOD(void, stop, (), (override));
    MOCK_METHOD(void, pause, (), (override));
    MOCK_METHOD(void, resume, (), (override));
    MOCK_METHOD(void, voiceData, (const uint8_t*, size_t), (override));
    MOCK_METHOD(void, endSilently, (), (override));
};
struct MockFiles : core::FileReceiver {
    MOCK_METHOD(void, fileMessage, (int, int, const Json::Value&, const uint8_t*, size_t), (override));
    MOCK_METHOD(void, openUrl, (const std::string&, int, bool), (override));
    MOCK_METHOD(void, closeAll, (), (override));
};
struct MockRemoteMedia : core::RemoteMedia {
    MOCK_METHOD(void, readAnswer, (const uint8_t*, size_t), (override));
    MOCK_METHOD(void, seekDone, (), (override));
};
struct MockSlides : core::SlideShow {
    MOCK_METHOD(void, attach, (), (override));
    MOCK_METHOD(void, gotoSlide, (int), (override));
};
struct MockBoard : core::DrawingBoard {
    MOCK_METHOD(bool, isOpened, (), (override));
    MOCK_METHOD(void, setRotateAngle, (float), (override));
    MOCK_METHOD(void, setInputText, (const std::string&), (override));
    MOCK_METHOD(void, setAnime, (int), (override));
};
struct MockPhotoWall : core::PhotoWall {
    MOCK_METHOD(void, show, (const std::vector<std::string>&, int), (override));
};
struct MockScreenshot : core::ScreenshotSaver {
    MOCK_METHOD(bool, saveJpeg, (const std::string&), (override));
};
struct MockCursors : core::CursorSchemes {
    MOCK_METHOD(void, apply, (int), (override));
};
struct MockIntegration : core::Integration {
    MOCK_METHOD(void, openEbook, (), (override));
    MOCK_METHOD(void, miracastDisplay, (), (override));
    MOCK_METHOD(void, postToWindow, (int64_t, uint32_t, int64_t, int64_t), (override));
};

using testing_support::LogCapture;

inline int64_t gFakeNow = 0;
inline int64_t fakeNow() { return gFakeNow; }

template <typename T>
using Nice = ::testing::NiceMock<T>;

class DispatchTest : public ::testing::Test {
protected:
    using Summary = testing_support::RecordingHub::Summary;
    using Summaries = std::vector<Summary>;

    DispatchTest() {
        context.server = &server;
        context.hub = &hub;
        context.settings = &settings;
        context.features = core::Features{&input, &liveStream, &liveView, &phoneAudio, &recorder,
                                        &files, &remoteMedia, &slides, &board, &photoWall,
                                        &screenshot, &cursors, &integration};
        context.monotonicMs = fakeNow;
        context.overlay = &overlay;
    }

    // Dispatches `className` with the message given as JSON text.
    void dispatch(const std::string& className, const std::string& json = "{}", int socket = 7,
                  const std::vector<uint8_t>& tail = {}) {
        Json::Value message;
        ASSERT_TRUE(net::parseJson(json, message)) << json;
        EXPECT_TRUE(ui::dispatchMessage(tail.empty() ? nullptr : tail.data(), className, &context,
                                        message, tail.size(), socket));
    }

    void event(int socket, int which, uint32_t peerAddress = 0) {
        sockaddr_in peer{};
        peer.sin_addr.s_addr = peerAddress;
        EXPECT_EQ(0, ui::onSessionEvent(socket, &peer, "", Json::Value(), nullptr, 0, which, &context));
    }

    testing_support::RecordingHub hub;

    core::OverlayFlags overlay;
    RecordingSessionPort server;
    core::MemorySettings settings;
    Nice<MockInput> input;
    Nice<MockLiveStream> liveStream;
    Nice<MockLiveView> liveView;
    Nice<MockPhoneAudio> phoneAudio;
    Nice<MockRecorder> recorder;
    Nice<MockFiles> files;
    Nice<MockRemoteMedia> remoteMedia;
    Nice<MockSlides> slides;
    Nice<MockBoard> board;
    Nice<MockPhotoWall> photoWall;
    Nice<MockScreenshot> screenshot;
    Nice<MockCursors> cursors;
    Nice<MockIntegration> integration;
    ui::CommandContext context;
};

}  // namespace dispatch_test
