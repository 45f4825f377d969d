// What the recorder tests run against: their own Xvfb of a chosen size, a
// private PulseAudio with a null sink, a tone played into it by paplay,
// ffprobe/ffmpeg to read the result, and a session port that keeps the
// states the recorder sends.
#pragma once

#include "capture/screen_capture_service.h"
#include "common/private_xvfb.h"
#include "common/pulse_server.h"
#include "net/session_types.h"
#include "platform/screen_grabber.h"
#include "protocol/message_names.h"
#include "record/tone.h"

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testing_support {

inline pid_t spawn(const std::vector<std::string>& args) {
    std::fflush(nullptr);  // the child must not write our buffered output again
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

inline void killAndReap(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
}

// An Xvfb of its own size with a black root window; DISPLAY points at it.
class OwnDisplay : public testing_support::PrivateXvfb {
public:
    OwnDisplay(int width, int height) : PrivateXvfb(width, height, {"-br"}) {}
    bool ready() const { return ok(); }
    const std::string& name() const { return display(); }
};

// A session port that keeps every MsgMediaRecordState.
class StateLog : public net::SessionPort {
public:
    void send(std::string_view className, const Json::Value& message, const void*, size_t,
              int target) override {
        if (className != protocol::MsgMediaRecordState) return;
        std::lock_guard<std::mutex> lock(mutex_);
        states_.push_back(message["state"].asInt());
        targets_.push_back(target);
        changed_.notify_all();
    }
    bool isAdmin(int) override { return true; }
    uint32_t boundAddress() override { return 0; }

    std::vector<int> states() {
        std::lock_guard<std::mutex> lock(mutex_);
        return states_;
    }
    std::vector<int> targets() {
        std::lock_guard<std::mutex> lock(mutex_);
        return targets_;
    }
    bool waitForCount(size_t n, int seconds) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(seconds), [&] { return states_.size() >= n; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> states_;
    std::vector<int> targets_;
};

// A WAV tone made by ffmpeg and played into the server's default sink.
class TonePlayer {
public:
    TonePlayer(const PulseServer& pulse, const std::string& folder, int frequency, int seconds = 60) {
        wav_ = folder + "/tone" + std::to_string(frequency) + ".wav";
        // Half of full scale.
        std::system(("ffmpeg -v error -y -f lavfi -i 'aevalsrc=0.5*sin(2*PI*" + std::to_string(frequency) +
                     "*t):s=44100:d=" + std::to_string(seconds) + "' -ac 2 '" + wav_ + "'")
                        .c_str());
        pid_ = spawn({"paplay", "--server=" + pulse.server(), "-d", pulse.sink(), wav_});
    }
    ~TonePlayer() { killAndReap(pid_); }
    void stop() { killAndReap(pid_); }

private:
    std::string wav_;
    pid_t pid_ = -1;
};

inline Json::Value parseJson(const std::string& text) {
    Json::Value v;
    Json::CharReaderBuilder b;
    std::string errors;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    r->parse(text.data(), text.data() + text.size(), &v, &errors);
    return v;
}

// ffprobe's view of a file: format and streams.
inline Json::Value probe(const std::string& path) {
    return parseJson(commandOutput("ffprobe -v error -print_format json -show_format -show_streams '" + path +
                               "' 2>/dev/null"));
}

inline const Json::Value* streamOf(const Json::Value& info, const std::string& type) {
    for (const auto& s : info["streams"])
        if (s["codec_type"].asString() == type) return &s;
    return nullptr;
}

// Presentation times of the video packets, in seconds.
inline std::vector<double> videoPacketTimes(const std::string& path) {
    std::vector<double> times;
    const std::string out = commandOutput("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time "
                                      "-of csv=p=0 '" + path + "' 2>/dev/null");
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(pos, end - pos);
        if (!line.empty()) times.push_back(std::atof(line.c_str()));
        pos = end + 1;
    }
    std::sort(times.begin(), times.end());
    return times;
}

// The audio decoded by ffmpeg: left channel, 44.1 kHz, as fractions.
inline std::vector<double> decodedAudio(const std::string& path) {
    const std::string pcm = commandOutput("ffmpeg -v error -i '" + path + "' -vn -f s16le -ac 2 -ar 44100 - 2>/dev/null");
    return leftOf16(reinterpret_cast<const uint8_t*>(pcm.data()), pcm.size());
}

// One decoded frame at `seconds` as BGRA bytes.
inline std::string decodedFrame(const std::string& path, double seconds) {
    return commandOutput("ffmpeg -v error -ss " + std::to_string(seconds) + " -i '" + path +
                     "' -frames:v 1 -f rawvideo -pix_fmt bgra - 2>/dev/null");
}

// The file's top-level MP4 boxes in order, as ffprobe's trace names them.
inline std::vector<std::string> topLevelBoxes(const std::string& path) {
    std::vector<std::string> boxes;
    const std::string out = commandOutput("ffprobe -v trace '" + path + "' 2>&1");
    const std::string marker = "type:'";
    for (size_t pos = out.find(marker); pos != std::string::npos; pos = out.find(marker, pos + 1)) {
        const size_t end = out.find('\'', pos + marker.size());
        const size_t lineEnd = out.find('\n', pos);
        if (end == std::string::npos) break;
        if (out.substr(end, lineEnd - end).find("parent:'root'") == std::string::npos) continue;
        boxes.push_back(out.substr(pos + marker.size(), end - pos - marker.size()));
    }
    return boxes;
}

inline bool hasBox(const std::vector<std::string>& boxes, const std::string& name) {
    return std::find(boxes.begin(), boxes.end(), name) != boxes.end();
}

// Index of the first box called `name`, or -1.
inline int boxIndex(const std::vector<std::string>& boxes, const std::string& name) {
    const auto it = std::find(boxes.begin(), boxes.end(), name);
    return it == boxes.end() ? -1 : int(it - boxes.begin());
}

inline std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) names.push_back(e.path().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace testing_support
