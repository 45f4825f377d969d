// The built lumacro3 program started for one test with a private home,
// configuration and runtime folder, on its own loopback address and the
// test's display.
#pragma once

#include "loopback_fakes.h"
#include "phone/discovery.h"
#include "protocol/constants.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

class PcProgram {
public:
    struct Options {
        std::vector<std::string> args;
        std::vector<std::string> env;     // added to the base environment
        std::vector<std::string> prefix;  // e.g. {"unshare", "-n"}: run the program through it
        bool listenOnAddress = true;      // LUMACRO3_LISTEN_ADDRESS=address
        std::string home;                 // reuse a home (second instance); empty: a new one
        std::string settings;             // INI text the program finds as its settings
    };

    explicit PcProgram(std::string address) : PcProgram(std::move(address), Options{}) {}
    PcProgram(std::string address, Options options) : address_(std::move(address)) {
        if (options.home.empty()) {
            char pattern[] = "/tmp/lumacro3-e2e-XXXXXX";
            home_ = ::mkdtemp(pattern);
            ownsHome_ = true;
        } else {
            home_ = options.home;
        }
        if (!options.settings.empty()) {
            std::filesystem::create_directories(home_ + "/config/Quorvel");
            std::ofstream(home_ + "/config/Quorvel/Lumacro3.ini") << options.settings;
        }
        static int serial = 0;
        const std::string tag = std::to_string(serial++);
        out_ = home_ + "/out" + tag + ".log";
        err_ = home_ + "/err" + tag + ".log";
        std::vector<std::string> env = environment(options.listenOnAddress);
        for (const auto& extra : options.env) {
            const std::string key = extra.substr(0, extra.find('=') + 1);
            std::erase_if(env, [&](const std::string& e) { return e.rfind(key, 0) == 0; });
            env.push_back(extra);
        }
        std::string program = LUMACRO3_BIN_DIR "/lumacro3";
        std::vector<std::string> args = options.args;
        if (!options.prefix.empty()) {
            args.insert(args.begin(), program);
            args.insert(args.begin(), options.prefix.begin() + 1, options.prefix.end());
            program = options.prefix[0];
        }
        child_ = std::make_unique<ChildProcess>(program, args, env, out_, err_);
    }
    ~PcProgram() {
        child_.reset();
        if (ownsHome_) {
            std::error_code ignored;
            std::filesystem::remove_all(home_, ignored);
        }
    }

    // The environment every run gets: private folders, logging on, the display.
    std::vector<std::string> environment(bool listenOnAddress) const {
        std::vector<std::string> env{"HOME=" + home_, "XDG_CONFIG_HOME=" + home_ + "/config",
                                     "XDG_RUNTIME_DIR=" + home_, "LUMACRO3_LOG=1",
                                     "PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
        if (listenOnAddress) env.push_back("LUMACRO3_LISTEN_ADDRESS=" + address_);
        if (const char* display = std::getenv("DISPLAY")) env.push_back(std::string("DISPLAY=") + display);
        // Sanitizer builds: the program runs with the test's sanitizer options.
        for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS",
                                 "SDL_RENDER_DRIVER", "SDL_FRAMEBUFFER_ACCELERATION"})
            if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
        return env;
    }

    // Waits until "hello" is answered.
    bool waitReady(int timeoutMs = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (child_->started() && std::chrono::steady_clock::now() < end)
            if (phone::discover(address_, protocol::kDiscoveryPort, 100)) return true;
        return false;
    }
    // Waits until the log holds `text`.
    bool waitForLog(const std::string& text, int timeoutMs = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            if (log().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    int terminate() {
        child_->signal(SIGTERM);
        return child_->wait(15000);
    }
    int wait(int timeoutMs) { return child_->wait(timeoutMs); }
    std::string log() const { return readFile(out_) + readFile(err_); }
    const std::string& address() const { return address_; }
    const std::string& home() const { return home_; }

private:
    std::string address_;
    std::string home_;
    bool ownsHome_ = false;
    std::string out_, err_;
    std::unique_ptr<ChildProcess> child_;
};

}  // namespace e2e
