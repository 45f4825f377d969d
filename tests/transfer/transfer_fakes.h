// Stand-ins for what file receive talks to: the session server, the hub, the
// drawing board, the default application and the slide-show bridge; and a
// private document folder with a log file per test.
#pragma once

#include "common/temp_dir.h"
#include "support/logger.h"
#include "transfer/file_receiver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace transfer_test {

namespace fs = std::filesystem;
using testing_support::readText;
using testing_support::writeText;

struct SentMessage {
    std::string className;
    Json::Value message;
    int target = 0;
};

class FakeServer : public net::SessionPort {
public:
    void send(std::string_view className, const Json::Value& message, const void*, size_t,
              int target) override {
        std::lock_guard lock(mutex);
        sent.push_back({std::string(className), message, target});
    }
    bool isAdmin(int) override { return true; }
    uint32_t boundAddress() override { return bound; }
    std::vector<SentMessage> messages() {
        std::lock_guard lock(mutex);
        return sent;
    }

    uint32_t bound = 0;
    std::mutex mutex;
    std::vector<SentMessage> sent;
};

class FakeHub : public core::MainHub {
public:
    void post(uint32_t message, int64_t, int64_t, std::unique_ptr<core::HeapBlock> block) override {
        std::lock_guard lock(mutex);
        auto* text = dynamic_cast<core::TextBlock*>(block.get());
        posted.emplace_back(message, text ? text->text : std::string());
    }
    void send(uint32_t, int64_t, int64_t) override {}
    std::vector<std::pair<uint32_t, std::string>> messages() {
        std::lock_guard lock(mutex);
        return posted;
    }

    std::mutex mutex;
    std::vector<std::pair<uint32_t, std::string>> posted;
};

class FakeBoard : public core::DrawingBoard {
public:
    bool isOpened() override { return true; }
    void setRotateAngle(float) override {}
    void setInputText(const std::string&) override {}
    void setAnime(int effect) override { anime.push_back(effect); }
    std::vector<int> anime;
};

class FakeOpener : public transfer::FileOpener {
public:
    void open(const std::string& path) override {
        std::lock_guard lock(mutex);
        opened.push_back(path);
    }
    std::vector<std::string> paths() {
        std::lock_guard lock(mutex);
        return opened;
    }
    std::mutex mutex;
    std::vector<std::string> opened;
};

class FakeSlides : public transfer::PresentationOpener {
public:
    void openPresentation(const std::string& path) override { calls.push_back("open " + path); }
    void publishSlides(const std::string& folder, const std::string& key) override {
        calls.push_back("publish " + folder + " " + key);
    }
    std::vector<std::string> calls;
};

// A receiver over a private document folder, with every fake attached and
// the process log going to a file of its own. Work runs on the caller's
// thread (no pool) so the tests see its effects at once.
class ReceiverRig {
public:
    ReceiverRig() {
        char pattern[] = "/tmp/lumacro3-transfer-XXXXXX";
        root = ::mkdtemp(pattern);
        doc = root + "/doc";
        fs::create_directories(doc);
        logFile = root + "/log.txt";
        support::setLogger(std::make_unique<support::Logger>(logFile, true));
        board = std::make_unique<FakeBoard>();
        features.drawingBoard = board.get();
        transfer::FileReceiverDeps deps;
        deps.server = &server;
        deps.docDir = [this] { return doc; };
        deps.opener = &opener;
        deps.slides = &slides;
        deps.features = &features;
        deps.limits.connectTimeoutSeconds = 2;
        deps.limits.lowSpeedSeconds = 1;
        receiver = std::make_unique<transfer::FileReceiver>(std::move(deps));
        receiver->setHub(&hub);
    }
    ~ReceiverRig() {
        receiver.reset();
        support::setLogger(std::make_unique<support::Logger>("", false));
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    std::string recv() const { return doc + "/Recv"; }
    std::string log() const { return readText(logFile); }

    void file(int action, int64_t fileId, Json::Value fields = Json::Value(Json::objectValue),
              const std::string& tail = {}) {
        fields["action"] = action;
        fields["fileId"] = static_cast<Json::Int64>(fileId);
        receiver->fileMessage(7, action, fields, reinterpret_cast<const uint8_t*>(tail.data()), tail.size());
    }
    void start(int64_t fileId, const std::string& name, int64_t size = 0) {
        Json::Value m(Json::objectValue);
        m["fileName"] = name;
        m["fileSize"] = static_cast<Json::Int64>(size);
        file(1, fileId, m);
    }
    void data(int64_t fileId, const std::string& tail) { file(2, fileId, Json::Value(Json::objectValue), tail); }

    std::string root, doc, logFile;
    FakeServer server;
    FakeHub hub;
    FakeOpener opener;
    FakeSlides slides;
    std::unique_ptr<FakeBoard> board;
    core::Features features;
    std::unique_ptr<transfer::FileReceiver> receiver;
};

}  // namespace transfer_test
