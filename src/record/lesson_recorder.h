// The lesson recorder: the PC's screen (with the cursor and an optional
// watermark) as H.264 and, as AAC, either the PC's playback sound mixed with
// its microphone or the voice the controlling phone sends, in an MP4 file in
// DOC_DIR/Record. One recording at a time; phones and the classroom server
// start, pause, resume and stop it.
#pragma once

#include "audio/pcm_output.h"
#include "core/features.h"
#include "net/session_types.h"
#include "record/audio_input.h"
#include "record/mp4_writer.h"
#include "record/voice_decoder.h"
#include "record/watermark.h"
#include "support/buffer.h"
#include "support/my_mutex.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace core {
class Settings;
}
namespace capture {
class ScreenCaptureService;
}
namespace platform {
class SoundCapture;
}

namespace record {

// States sent in MsgMediaRecordState.
enum RecordState : int {
    kStateStartFailed = -1,
    kStateStopped = 0,
    kStateStarted = 1,
    kStatePaused = 2,
    kStateResumed = 3,
};

class LessonRecorder : public core::Recorder, public net::RecordControl {
public:
    // Called after every stop when the classroom server's window (setting
    // FSHWND in Interop) is known: (that window, whether a file was finished).
    using NotifyClassroom = std::function<void(int64_t window, bool finished)>;

    // `sessions` may be null (no state messages); `capture` must outlive the
    // recorder; `sound` null means the system's sound server.
    LessonRecorder(core::Settings& settings, std::function<std::string()> docDir,
                   net::SessionPort* sessions, capture::ScreenCaptureService* capture,
                   NotifyClassroom notifyClassroom = {},
                   platform::SoundCapture* sound = nullptr);
    ~LessonRecorder() override;  // ends a running recording without a message
    LessonRecorder(const LessonRecorder&) = delete;
    LessonRecorder& operator=(const LessonRecorder&) = delete;

    // core::Recorder (the dispatcher reports pause and resume itself).
    void start(bool enableClientVoice) override;
    void stop() override;
    void pause() override;
    void resume() override;
    void voiceData(const uint8_t* data, size_t length) override;
    void endSilently() override;
    // net::RecordControl: the "start-record" datagram.
    void startDefault() override { start(false); }

    // Waits until the last stopped recording is final: its file rewritten
    // with the index in front and its stop state sent.
    void waitUntilFinished() { joinFinisher(); }

    bool isRecording() const { return recording_.load(); }
    bool isPaused() const { return paused_.load(); }
    // Frame rate and bit rate the settings give for a display of this size.
    static int frameRateFor(int64_t setting, int displayWidth);
    static double qualityFactor(int64_t setting);
    // Bit rate of the recording for the quality setting and the captured size.
    static int64_t bitRateFor(int64_t qualitySetting, int width, int height);
    // Path of a recording started at `t` in `folder`.
    static std::string fileNameFor(const std::string& folder, const std::tm& t);
    // The folder recordings go to.
    std::string recordFolder() const;

    // The running recording's parameters (0 when idle), for tests.
    int frameRate() const { return frameRate_; }
    int64_t bitRate() const { return bitRate_; }
    const Watermark& watermark() const { return watermark_; }
    // Seconds on the audio timeline (sound handed to the encoder) and on the
    // video timeline (wall clock without pauses) of the running recording.
    void timelines(double& audioSeconds, double& videoSeconds) const;

    // Longest stretch of 44.1 kHz stereo PCM kept waiting for the encoder.
    static constexpr size_t kMaxQueuedPcm = 5 * audio::PcmOutput::kBytesPerSecond;

private:
    struct Source;

    bool startRecording(bool enableClientVoice);
    bool open(const std::string& path, bool voice);
    bool openSources();
    void closeSources();
    // Steps of the stop; false when no file was open.
    bool stopRecording(bool sendState);
    void videoThread();
    void encodeAudio(uint8_t* block, int n);
    void sourceData(Source& source, const uint8_t* data, size_t length);
    void paceLoopback(Source& source, uint8_t* block, int n);
    void mix();
    void appendMixed(const uint8_t* data, size_t length);
    void sendState(int state);
    // A write to the file failed: stop from a thread of its own.
    void writeFailed();
    void joinFailureStop();
    // The part of a stop that follows a complete file: the rewrite, then
    // the classroom server and the phones are told.
    void finishFile(const std::string& path, bool sendMessages);
    void tellStopped(bool finished);
    void joinFinisher();

    core::Settings& settings_;
    std::function<std::string()> docDir_;
    net::SessionPort* sessions_;
    capture::ScreenCaptureService* capture_;
    NotifyClassroom notifyClassroom_;
    std::unique_ptr<platform::SoundCapture> ownSound_;
    platform::SoundCapture* sound_;

    std::mutex control_;  // serialises start and stop
    std::string path_;
    std::unique_ptr<Source> loopback_;
    std::unique_ptr<Source> mic_;
    std::mutex voiceLock_;
    std::unique_ptr<VoiceDecoder> voice_;
    support::MyBuffer mixedAudio_;
    support::MyMutex audioLock_;
    audio::PcmOutput audioPace_;
    int width_ = 0;
    int height_ = 0;
    std::unique_ptr<Mp4Writer> writer_;
    std::atomic<int64_t> audioBytes_{0};
    std::atomic<int64_t> videoStartUs_{0};
    std::thread videoThread_;
    int frameRate_ = 0;
    int64_t bitRate_ = 0;
    std::atomic<bool> paused_{false};
    std::atomic<bool> stopFlag_{true};
    std::atomic<bool> recording_{false};
    std::atomic<int64_t> pausedTotal_{0};
    std::atomic<int64_t> pauseStart_{0};
    Watermark watermark_;
    int64_t captureToken_ = 0;
    bool captureRegistered_ = false;

    std::mutex failureLock_;
    std::thread failureStop_;
    std::atomic<bool> failureStopping_{false};
    std::atomic<uint64_t> generation_{0};  // counts recordings, so a late failure stop finds its own

    // Rewrites a stopped recording so that no caller of stop waits for it.
    std::mutex finisherLock_;
    std::thread finisher_;
    std::atomic<bool> abandonRewrite_{false};  // at destruction: leave the file fragmented
};

}  // namespace record
