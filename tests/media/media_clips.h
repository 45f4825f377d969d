// Short media files made with ffmpeg for the player tests, and a stand-in
// for the player window that collects what the engine shows and runs the
// engine's UI tasks when the test pumps them.
#pragma once

#include "common/run_command.h"
#include "media/media_player.h"

#include <json/value.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace media_test {

// Runs ffmpeg quietly with `args`; true when it succeeded.
inline bool ffmpeg(const std::string& args) {
    return testing_support::runCommand("ffmpeg -nostdin -v error -y " + args + " 2>&1").status == 0;
}

// A clip of `seconds` in one colour (`colour` as ffmpeg names it) with a
// 440 Hz tone, H.264 and AAC in MP4.
inline bool makeClip(const std::string& path, int width, int height, double seconds,
                     const std::string& colour = "0x3060C0", int rate = 25, bool sound = true) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string d = std::to_string(seconds);
    std::string args = "-f lavfi -i color=c=" + colour + ":size=" + size + ":rate=" + std::to_string(rate) +
                       ":duration=" + d;
    if (sound) args += " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=" + d;
    args += " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 25";
    if (sound) args += " -c:a aac -b:a 96k";
    return ffmpeg(args + " -shortest " + path);
}

// An MP3 with an embedded cover picture.
inline bool makeMp3WithCover(const std::string& dir, const std::string& path, double seconds) {
    const std::string cover = dir + "/cover.png";
    return ffmpeg("-f lavfi -i color=c=red:size=160x160 -frames:v 1 " + cover) &&
           ffmpeg("-f lavfi -i sine=frequency=660:sample_rate=44100:duration=" + std::to_string(seconds) + " -i " +
                  cover + " -map 0 -map 1 -c:a libmp3lame -b:a 128k -c:v png -disposition:v attached_pic "
                          "-id3v2_version 3 " + path);
}

// A video-only elementary stream for the live view: "h264", "hevc" or "vp8" (IVF).
inline bool makeLiveStream(const std::string& path, const std::string& codec, const std::string& colour,
                           int frames = 10, int width = 320, int height = 240) {
    const std::string input = "-f lavfi -i color=c=" + colour + ":size=" + std::to_string(width) + "x" +
                              std::to_string(height) + ":rate=25 -frames:v " + std::to_string(frames) +
                              " -pix_fmt yuv420p ";
    if (codec == "h264") return ffmpeg(input + "-c:v libx264 -preset ultrafast -bf 0 -f h264 " + path);
    if (codec == "hevc")
        return ffmpeg(input + "-c:v libx265 -preset ultrafast -x265-params log-level=error:bframes=0 -f hevc " + path);
    return ffmpeg(input + "-c:v libvpx -deadline realtime -f ivf " + path);
}

// Messages the engine broadcast.
class Sent {
public:
    std::function<void(const std::string&, const Json::Value&)> sink() {
        return [this](const std::string& name, const Json::Value& m) {
            std::function<void(const Json::Value&)> phone;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                messages_.emplace_back(name, m);
                phone = phone_;
            }
            if (phone && name == "com.quorvel.qm.msg.MsgMediaPlayer") phone(m);
        };
    }
    // Called with every MsgMediaPlayer request (the phone's side).
    void onPlayerRequest(std::function<void(const Json::Value&)> phone) {
        std::lock_guard<std::mutex> lock(mutex_);
        phone_ = std::move(phone);
    }
    std::vector<int> states() {
        std::vector<int> out;
        for (auto& [name, m] : all())
            if (name == "com.quorvel.qm.msg.MsgMediaPlayState") out.push_back(m["state"].asInt());
        return out;
    }
    std::vector<Json::Value> named(const std::string& name) {
        std::vector<Json::Value> out;
        for (auto& [n, m] : all())
            if (n == name) out.push_back(m);
        return out;
    }
    std::vector<std::pair<std::string, Json::Value>> all() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<std::string, Json::Value>> messages_;
    std::function<void(const Json::Value&)> phone_;
};

class FakeWindow : public media::VideoOutput {
public:
    void showFrame(int width, int height, const uint8_t* pixels) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++frames_;
        size_ = {width, height};
        last_.assign(pixels, pixels + size_t(width) * height * 4);
    }
    void clearFrame() override {}
    void showFullScreen() override { ++fullScreens_; visible_ = true; }
    void hideWindow() override { visible_ = false; }
    media::Size displaySize() override { return {1920, 1080}; }
    void runOnUi(std::function<void()> task) override {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    // Runs the posted UI tasks until `done` or `ms` pass.
    bool pumpUntil(const std::function<bool()>& done, int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            pump();
            if (done()) return true;
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    void pump() {
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (tasks_.empty()) return;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
    }
    int frames() {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }
    media::Size size() {
        std::lock_guard<std::mutex> lock(mutex_);
        return size_;
    }
    // The pixel (4 bytes as handed over) at the centre of the last picture.
    std::vector<uint8_t> centrePixel() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (last_.empty()) return {};
        const size_t at = (size_t(size_.height / 2) * size_.width + size_.width / 2) * 4;
        return {last_[at], last_[at + 1], last_[at + 2], last_[at + 3]};
    }
    int fullScreens() const { return fullScreens_; }
    bool visible() const { return visible_; }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
    int frames_ = 0;
    media::Size size_;
    std::vector<uint8_t> last_;
    std::atomic<int> fullScreens_{0};
    std::atomic<bool> visible_{false};
};

}  // namespace media_test
