// A real session server on a loopback address of the test's own, the real
// dispatcher, remote input over a fake injector, the live stream over a fake
// screen, and phones from the reference client.
#pragma once

#include "capture/screen_capture_service.h"
#include "common/phone_waits.h"
#include "common/eventually.h"
#include "common/log_capture.h"
#include "common/loopback.h"
#include "common/recording_hub.h"
#include "common/qt_loop.h"
#include "core/phone_access.h"
#include "core/settings.h"
#include "input/remote_input.h"
#include "net/session_server.h"
#include "phone/phone_client.h"
#include "platform/fakes/fake_input_injector.h"
#include "platform/fakes/fake_network_adapters.h"
#include "platform/fakes/fake_screen_grabber.h"
#include "protocol/constants.h"
#include "protocol/message_names.h"
#include "stream/screen_encode_service.h"
#include "stream/session_live_stream.h"
#include "support/logger.h"
#include "ui/main/command_context.h"
#include "ui/main/dispatcher.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <unistd.h>

namespace access_test {

using namespace std::chrono_literals;

inline QApplication& qtApp() { return testing_support::qtApp("test_access"); }

// Runs the UI loop until `done` holds or `ms` passed.
template <typename Pred>
bool spinUntil(Pred done, int ms = 5000) {
    return testing_support::spinUntil(done, ms);
}

using testing_support::LogCapture;

class RecordingClipboard : public input::ClipboardWriter {
public:
    bool setText(const std::string& utf8) override {
        std::lock_guard<std::mutex> lock(mutex);
        texts.push_back(utf8);
        return true;
    }
    size_t size() {
        std::lock_guard<std::mutex> lock(mutex);
        return texts.size();
    }
    std::mutex mutex;
    std::vector<std::string> texts;
};

class AccessRig : public ::testing::Test {
protected:
    void SetUp() override {
        log_ = std::make_unique<LogCapture>();
        address_ = testing_support::uniqueLoopbackAddress(97);
        adapters_.set({testing_support::ipv4(address_)});
        encoderSettings_.setInt("SET", "FRAME_RATE", 10);
        capture_ = std::make_unique<capture::ScreenCaptureService>(
            std::make_unique<platform::FakeScreenGrabber>(320, 240), nullptr, nullptr);
        encoder_ = std::make_unique<stream::ScreenEncodeService>(encoderSettings_, *capture_, screen_, "");
        build();
    }

    void TearDown() override {
        stopServer();
        live_.reset();
        encoder_.reset();
        capture_.reset();
    }

    // A new server, live stream and command context, as a program start makes them.
    void build() {
        server_ = std::make_unique<net::SessionServer>(adapters_, screen_);
        live_ = std::make_unique<stream::SessionLiveStream>(*server_, *encoder_);
        context_ = std::make_unique<ui::CommandContext>();
        context_->server = server_.get();
        context_->hub = &hub_;
        context_->settings = settings();
        context_->features.input = &input_;
        context_->features.liveStream = live_.get();
    }

    virtual core::Settings* settings() { return &settings_; }

    void startServer(core::PhoneAdmission* admission = nullptr) {
        server_->setAdmission(admission);
        uint32_t bound = testing_support::ipv4(address_);
        ASSERT_TRUE(server_->start(bound, protocol::kSessionPort, ui::onSessionEvent, context_.get()));
    }

    // As the program does: no delivery inside the dispatcher once the server goes.
    void stopServer() {
        if (!server_) return;
        context_->gate.close();
        server_->shutdown();
    }

    std::unique_ptr<phone::PhoneClient> connectOnly() {
        auto client = std::make_unique<phone::PhoneClient>();
        EXPECT_TRUE(client->connect(address_, protocol::kSessionPort));
        phone::ReceivedFrame greeting;
        EXPECT_EQ(client->waitFor(protocol::MsgServerInfo, greeting, 3000), phone::ReadResult::Frame);
        return client;
    }

    // A phone after its handshake, without waiting for it to be ready.
    std::unique_ptr<phone::PhoneClient> shakeHands(const std::string& id, bool admin, const std::string& tag = "") {
        auto client = connectOnly();
        phone::ClientInfoOptions options;
        options.uniqueId = id;
        options.admin = admin;
        if (!tag.empty()) options.tag = tag;
        EXPECT_TRUE(client->handshake(options));
        return client;
    }

    // Client-ready events so far (each posts UM_CLIENT_STATE 1 or 2).
    size_t readyEvents() { return hub_.count(core::UM_CLIENT_STATE); }

    // A phone that is ready: its client-ready event was reported.
    std::unique_ptr<phone::PhoneClient> readyPhone(const std::string& id, bool admin) {
        const size_t before = readyEvents();
        auto client = shakeHands(id, admin);
        EXPECT_TRUE(testing_support::eventually([&] { return readyEvents() > before; }));
        return client;
    }

    static Json::Value move(float dx, float dy) {
        Json::Value m(Json::objectValue);
        m["action"] = 4;
        m["absolute"] = false;
        m["dx"] = dx;
        m["dy"] = dy;
        return m;
    }

    // Sends MsgLive 1 and waits for a picture: the messages sent before it
    // on that phone have been handled by then.
    bool getsPictures(phone::PhoneClient& client) {
        Json::Value m(Json::objectValue);
        m["action"] = 1;
        if (!client.sendMessage(protocol::MsgLive, m)) return false;
        phone::ReceivedFrame frame;
        return client.waitFor(protocol::MsgLiveData, frame, 15000) == phone::ReadResult::Frame &&
               !frame.data.empty();
    }

    int pointerX() {
        int x = 0, y = 0;
        injector_.cursorPosition(x, y);
        return x;
    }

    static bool closedByServer(phone::PhoneClient& client, int timeoutMs = 5000) {
        return testing_support::closedByPeer(client, timeoutMs);
    }

    std::unique_ptr<LogCapture> log_;
    std::string address_;
    platform::FakeNetworkAdapters adapters_;
    platform::FakeScreenInfo screen_{1920, 1080};
    core::MemorySettings settings_;
    core::MemorySettings encoderSettings_;
    std::unique_ptr<capture::ScreenCaptureService> capture_;
    std::unique_ptr<stream::ScreenEncodeService> encoder_;
    std::unique_ptr<net::SessionServer> server_;
    std::unique_ptr<stream::SessionLiveStream> live_;
    testing_support::RecordingHub hub_;
    platform::FakeInputInjector injector_;
    core::OverlayFlags overlay_;
    core::ForwardedPointerSlot forwarded_;
    RecordingClipboard clipboard_;
    core::Features noTools_;
    input::RemoteInputHandler input_{injector_, &hub_, noTools_, overlay_, forwarded_, &clipboard_, nullptr};
    std::unique_ptr<ui::CommandContext> context_;
};

}  // namespace access_test
