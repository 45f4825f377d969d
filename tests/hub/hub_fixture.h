// A QtMainHub on a real session server (loopback, fake adapter list) with a
// phone on the other end, and feature windows that record what they are told.
#pragma once

#include "app/program/qt_main_hub.h"
#include "common/loopback.h"
#include "common/qt_loop.h"
#include "core/settings.h"
#include "net/session_server.h"
#include "phone/phone_client.h"
#include "platform/fakes/fake_network_adapters.h"
#include "support/strings.h"
#include "ui/main/dispatcher.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace hubtest {

inline QApplication& qtApp() { return testing_support::qtApp("test_hub"); }

// Runs the UI loop until `done` holds or `ms` passed.
template <typename Pred>
bool spinUntil(Pred done, int ms = 3000) {
    return testing_support::spinUntil(done, ms);
}

class FakeWindow : public ui::HubWindow {
public:
    bool isVisible() override { return visible; }
    void showWindow() override {
        visible = true;
        log.push_back("show");
    }
    void hideWindow() override {
        visible = false;
        log.push_back("hide");
    }
    void handle(uint32_t message, int64_t wParam, int64_t lParam,
                std::unique_ptr<core::HeapBlock> block) override {
        log.push_back("msg " + std::to_string(message) + " " + std::to_string(wParam));
        if ((message == core::UM_BRUSH || message == core::UM_SPOT) && wParam == 0) visible = false;
        if ((message == core::UM_BRUSH || message == core::UM_SPOT) && wParam == 1) visible = true;
        lastBlock = std::move(block);
    }
    bool visible = false;
    std::vector<std::string> log;
    std::unique_ptr<core::HeapBlock> lastBlock;
};

class FakeConnectWindow : public ui::ConnectWindow {
public:
    bool isVisible() override { return visible; }
    void showWindow() override { visible = true; ++shows; }
    void hideWindow() override { visible = false; }
    void handle(uint32_t, int64_t, int64_t, std::unique_ptr<core::HeapBlock>) override {}
    void setClientAddress(uint32_t a) override { address = a; }
    bool visible = false;
    int shows = 0;
    uint32_t address = 0;
};

class HubTest : public ::testing::Test {
protected:
    static constexpr uint16_t kPort = 49873;

    void SetUp() override {
        qtApp();
        address_ = testing_support::uniqueLoopbackAddress(60);
        adapters_.set({support::string2ip(address_)});
        server_ = std::make_unique<net::SessionServer>(adapters_, screen_);
        context_.server = server_.get();
        context_.settings = &settings_;
        uint32_t bound = support::string2ip(address_);
        ASSERT_TRUE(server_->start(bound, kPort, ui::onSessionEvent, &context_));
        settings_.setInt(core::setting::SET, "AUTO_HIDE", 1);
    }

    // As the program quits: no session thread is inside the dispatcher once
    // the hub goes.
    void TearDown() override {
        if (hub_) hub_->stopTakingMessages();
        context_.gate.close();
        hub_.reset();
        server_->shutdown();
    }

    app::HubDependencies deps() {
        app::HubDependencies d;
        d.server = server_.get();
        d.settings = &settings_;
        d.adapters = &adapters_;
        d.windows.annotation = &annotation_;
        d.windows.spotlight = &spotlight_;
        d.windows.magnifier = &magnifier_;
        d.windows.photoWall = &photoWall_;
        d.windows.connect = &connect_;
        d.showTray = false;
        return d;
    }

    void makeHub(app::HubDependencies d) {
        hub_ = std::make_unique<app::QtMainHub>(std::move(d));
        context_.hub = hub_.get();
        hub_->create();
    }

    // A phone that finished its handshake (admin unless said otherwise).
    std::unique_ptr<phone::PhoneClient> connectPhone(bool admin = true) {
        auto p = std::make_unique<phone::PhoneClient>();
        EXPECT_TRUE(p->connect(address_, kPort));
        phone::ClientInfoOptions o;
        o.uniqueId = "hub-test-" + std::to_string(++phones_);
        o.admin = admin;
        EXPECT_TRUE(p->handshake(o));
        phone::ReceivedFrame f;
        EXPECT_EQ(p->waitFor("com.quorvel.qm.msg.MsgServerInfo", f, 3000), phone::ReadResult::Frame);
        return p;
    }

    std::string address_;
    platform::FakeNetworkAdapters adapters_;
    platform::FakeScreenInfo screen_;
    core::MemorySettings settings_;
    ui::CommandContext context_;
    std::unique_ptr<net::SessionServer> server_;
    std::unique_ptr<app::QtMainHub> hub_;
    FakeWindow annotation_, spotlight_, magnifier_, photoWall_;
    FakeConnectWindow connect_;
    int phones_ = 0;
};

}  // namespace hubtest
