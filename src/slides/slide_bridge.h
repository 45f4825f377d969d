// The PC side of the slide-show helper: the helper program (ppt/slidebridge)
// drives the presentation program; the bridge talks to it in small JSON
// datagrams over local UDP (it listens on 16162, the helper on 16161),
// relays the phone's slide commands, turns the helper's notifications into
// MsgPPT broadcasts and offers exported slide images through the helper web
// server (port 27272, folder ".temp" of the document folder).
//
// Slides are numbered from 1 on the wire; 0 means "no show".
//
// Threads: one receive thread handles the helper's datagrams and broadcasts
// from there; it also runs the watchdog that restarts a helper that did not
// come up. startShow and gotoSlide run on session threads, publishSlides on
// the UI thread or the file-receive path, openPresentation blocks its caller
// for up to `openWaitMs`. The destructor stops the thread, wakes a waiting
// openPresentation and ends the helper; callers must have stopped calling in.
#pragma once

#include "core/features.h"

#include <json/value.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace core {
class Settings;
}
namespace platform {
class WindowRaiser;
}
namespace support {
class ChildProcess;
}

namespace slides {

inline constexpr uint16_t kBridgePort = 16162;
inline constexpr uint16_t kHelperPort = 16161;
inline constexpr int kHttpPort = 27272;
// Slide images are dropped from the cache after this many hours.
inline constexpr int64_t kCacheHours = 120;
// The helper's process name; a leftover one of an earlier run is ended.
inline constexpr const char kHelperName[] = "slidebridge";
// Environment variable that tells the helper which address to use.
inline constexpr const char kAddressVariable[] = "LUMACRO3_SLIDEBRIDGE_ADDRESS";

struct SlideBridgeDeps {
    // Broadcasts one MsgPPT body to every phone.
    std::function<void(const Json::Value&)> broadcast;
    // Dotted address of the session server, for image URLs.
    std::function<std::string()> serverAddress;
    core::Settings* settings = nullptr;  // lastClearTemp; null: no cache expiry
    std::string cacheDir;                // document folder + "/.temp"
    // Loopback address the bridge binds (port 16162) and the helper listens
    // on (port 16161). "0.0.0.0" binds every address and talks to 127.0.0.1.
    std::string address = "0.0.0.0";
    uint16_t bridgePort = kBridgePort;
    uint16_t helperPort = kHelperPort;
    // The helper program; empty: none is started (tests run their own).
    std::string helperProgram;
    std::string helperInterpreter;  // e.g. /usr/bin/python3; empty: run the program itself
    std::string helperDir;          // working folder
    std::vector<std::string> helperEnv;  // "NAME=value" added to the helper's environment
    platform::WindowRaiser* raiser = nullptr;  // null: the show window is not raised
    // The helper could not open a file: open it with the desktop's default
    // application, then run the repair (taskagent -fix-ppt) and wait for it.
    std::function<void(const std::string&)> shellOpen;
    std::function<void()> repair;
    // Hours since 1970 (cache expiry); null: the wall clock.
    std::function<int64_t()> hoursNow;
    int openWaitMs = 5000;
    int watchdogMs = 3000;
};

class SlideBridge : public core::SlideShow {
public:
    explicit SlideBridge(SlideBridgeDeps deps);
    ~SlideBridge() override;
    SlideBridge(const SlideBridge&) = delete;
    SlideBridge& operator=(const SlideBridge&) = delete;

    // Nothing more is sent and a waiting openPresentation returns; the
    // destructor does the rest.
    void requestStop();

    // False when the UDP port could not be bound: nothing reaches the bridge.
    bool ok() const { return socket_ >= 0; }

    // MsgPPT action 0: start the show (resuming at the remembered slide) and
    // bring its window to the front.
    void attach() override { startShow(); }
    void startShow();
    // MsgPPT action 1.
    void gotoSlide(int slideIndex) override;
    // A received presentation: the helper opens it; waits for its answer.
    void openPresentation(const std::string& path);
    // Offers the slide images of `key` in `folder` to the phones: cached
    // images of a file key (MD5, 32 characters) are announced at once; any
    // other key asks the helper to export the slides it holds.
    void publishSlides(const std::string& folder, const std::string& key);

    int curSlide() const { return curSlide_.load(); }
    int slideCount() const { return slideCount_.load(); }

    // Serialises `message` and sends it to the helper (dropped once stopping).
    void sendToHelper(const Json::Value& message);
    // Handles one datagram as it came from the helper (receive thread).
    void handleDatagram(const std::string& text);

private:
    void clearExpiredCache();
    void endLeftoverHelpers();
    bool launchHelper();
    void receiveLoop();
    void watchdog();
    void raiseShowWindow();
    void broadcastPpt(Json::Value message);
    std::string imageUrl(const std::string& fileName) const;

    SlideBridgeDeps deps_;
    int socket_ = -1;
    std::string helperAddress_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> curSlide_{0};
    std::atomic<int> slideCount_{0};

    // "rep-open" as an auto-reset event.
    std::mutex openMutex_;
    std::condition_variable openCv_;
    bool openSignalled_ = false;
    bool openOk_ = false;

    std::mutex helperMutex_;
    std::unique_ptr<support::ChildProcess> helper_;
    int64_t watchdogDue_ = 0;  // monotonic ms; 0: done

    std::thread thread_;
};

// Validates the `md5` key of a helper datagram: 1 to 64 letters and digits.
bool validImageKey(const std::string& key);

}  // namespace slides
