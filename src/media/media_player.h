// The media player's engine (no Qt): local files and URLs, files read from
// the phone, and the phone's live picture. It demuxes and decodes on its own
// threads, plays sound through a PcmOutput whose clock paces the pictures,
// and hands finished BGRA pictures to a VideoOutput (the player window).
#pragma once

#include "audio/pcm_output.h"
#include "core/features.h"
#include "core/heap_blocks.h"
#include "media/packet_queue.h"
#include "media/picture_fit.h"
#include "media/remote_source.h"

#include <json/value.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct SwrContext;

namespace audio {
class PcmOutput;
}

namespace media {

// What the engine needs from the window that shows its pictures.
class VideoOutput {
public:
    virtual ~VideoOutput() = default;
    // Any thread: a picture of width x height, 4 bytes a pixel (blue, green,
    // red, alpha), rows of width x 4 bytes.
    virtual void showFrame(int width, int height, const uint8_t* pixels) = 0;
    // UI thread.
    virtual void clearFrame() = 0;
    virtual void showFullScreen() = 0;
    virtual void hideWindow() = 0;
    virtual Size displaySize() = 0;
    // Any thread: how long a picture handed to showFrame recently took to
    // reach the screen; the video thread hands pictures over this much early.
    virtual int64_t presentDelayUs() { return 0; }
    // Any thread: runs `task` on the UI thread later.
    virtual void runOnUi(std::function<void()> task) = 0;
};

struct PlayerLink {
    // A message to every phone.
    std::function<void(const std::string& className, const Json::Value& message)> broadcast;
    // The controlling phone's product tag ("win_mira": mirroring mode).
    std::function<std::string()> controllerTag;
    // Sound device mode; false forces the clock-only output (tests).
    bool useSoundDevice = true;
};

class MediaPlayer : public core::RemoteMedia, public core::LiveView {
public:
    static constexpr int kFramesPerHalf = 4096;
    static constexpr size_t kAudioQueuePackets = 24;
    static constexpr size_t kVideoQueuePackets = 16;
    static constexpr size_t kByteBudget = 0x4000000;
    // Live pictures waiting beyond this are dropped up to the next key frame.
    static constexpr size_t kLiveQueueLimit = 60;
    static constexpr size_t kLiveQueueBytes = 32 * 1024 * 1024;

    MediaPlayer(VideoOutput& output, PlayerLink link);
    ~MediaPlayer() override;

    // UI thread. Sends MsgMediaPlayState 1 and MsgMediaPlayInfo on success,
    // -1 on failure.
    bool openLocal(const std::string& pathOrUrl);
    // UI thread; the open finishes later (probing runs on its own thread) and
    // reports 1 with the info, or -1.
    // `socket`: the session of the phone that serves the file.
    void openRemote(const std::string& name, int64_t fileSize, int socket = -1);
    // UI thread. False (and nothing sent) when the decoder cannot be opened.
    bool openLive(int pixelOrder, int width, int height, int codecIndex);
    // UI thread. Sends state 0 when something was playing or opening.
    void stop();
    void setPaused(bool paused);
    // Accepted when 0 <= position < duration.
    bool seekTo(int64_t position);

    int64_t currentPosition();
    int64_t duration() const { return duration_; }
    bool isPlaying() const { return !stopFlag_; }
    bool isPaused() const { return paused_; }
    bool isOpening() const { return opening_; }
    bool isLive() const { return live_; }
    bool hasVideo() const { return videoIndex_ >= 0 || live_; }
    // The decoded video's size (input coordinates), 0 x 0 without video.
    Size videoSize() const { return {videoWidth_, videoHeight_}; }
    bool mirroring();
    // MsgMediaPlayInfo with the position; nothing when stopped or paused.
    void reportPosition();
    // Audio underruns since the open (silence filled while playing).
    int underruns() const { return underruns_; }

    // core::RemoteMedia (session threads).
    void readAnswer(const uint8_t* data, size_t length) override;
    void seekDone() override;
    void phoneLeft(int socket) override;
    // core::LiveView (session threads).
    void videoData(const uint8_t* data, size_t length) override { pushLive(data, length); }
    void pushLive(const uint8_t* data, size_t length);
    size_t liveQueued();

    RemoteSource& remoteSource() { return source_; }

private:
    bool setupStreams();
    void startPlayback(bool remote, const std::string& name);
    void finishRemoteOpen(uint64_t generation);
    void releaseMedia();
    void sendState(int state);
    void sendInfo();

    void demuxLoop(uint64_t generation);
    void videoLoop();
    void liveLoop();
    void fillAudio(uint8_t* buffer, int size);

    VideoOutput& output_;
    PlayerLink link_;

    AVFormatContext* input_ = nullptr;
    bool inputRemote_ = false;
    AVCodecContext* videoDecoder_ = nullptr;
    AVCodecContext* audioDecoder_ = nullptr;
    int videoIndex_ = -1;
    int audioIndex_ = -1;
    std::atomic<int> videoWidth_{0};  // the live thread learns the size from the pictures
    std::atomic<int> videoHeight_{0};
    int64_t duration_ = 0;
    double frameRate_ = 0;
    bool audioOnlyName_ = false;
    bool videoShown_ = false;  // a video thread shows the pictures
    bool live_ = false;
    int liveCodec_ = 0;
    int livePixelOrder_ = 0;

    std::thread demuxThread_, videoThread_, liveThread_, openThread_;
    PacketQueue videoQueue_, audioQueue_;
    SwrContext* resampler_ = nullptr;
    std::unique_ptr<audio::PcmOutput> audioOut_;
    std::vector<uint8_t> pcmLeftover_;
    size_t pcmLeftoverPos_ = 0;

    std::atomic<int64_t> audioClock_{0};
    std::atomic<int64_t> videoClock_{0};
    std::atomic<int64_t> seekTarget_{-1};
    std::atomic<bool> stopFlag_{true};
    std::atomic<bool> paused_{false};
    std::atomic<bool> flushAudio_{false};
    std::atomic<bool> flushVideo_{false};
    std::atomic<bool> opening_{false};
    std::atomic<bool> quiet_{false};
    std::atomic<int> fileOwner_{-1};  // session serving the phone file  // set when the player goes: no more messages
    std::atomic<int> underruns_{0};
    // Counts opens, so a late report of an earlier one is ignored.
    std::atomic<uint64_t> generation_{0};

    RemoteSource source_;
    AVFormatContext* probed_ = nullptr;  // written by the open thread
    std::string remoteName_;

    // Live pictures.
    std::mutex liveMutex_;
    std::condition_variable liveArrived_;
    std::deque<std::vector<uint8_t>> liveQueue_;
    // Pictures that came before the view opened (the open is posted to the
    // UI thread, the pictures follow at once): handed to the next openLive.
    std::deque<std::vector<uint8_t>> livePending_;
    size_t liveBytes_ = 0;
    bool liveSkipToKey_ = false;
};

}  // namespace media
