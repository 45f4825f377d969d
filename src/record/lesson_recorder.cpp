#include "record/lesson_recorder.h"

#include "capture/screen_capture_service.h"
#include "core/settings.h"
#include "platform/sound_capture.h"
#include "protocol/fields.h"
#include "protocol/message_names.h"
#include "record/mixer.h"
#include "record/mp4_faststart.h"
#include "support/files.h"
#include "support/logger.h"

#include <libyuv/convert.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <json/value.h>
#include <pthread.h>
#include <vector>

namespace record {

namespace {

constexpr const char kFrameRate[] = "RECORD_FRAME_RATE";
constexpr const char kQuality[] = "RECORD_QUALITY";
constexpr const char kWatermark[] = "WATERMARK";
constexpr const char kLastFile[] = "lastfile";
constexpr const char kClassroomWindow[] = "FSHWND";
constexpr int kFramesPerHalf = 4096;  // 16,384-byte blocks for both pacing outputs
constexpr int kBlockBytes = 4 * kFramesPerHalf;

int64_t nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// Appends to a queue that is not allowed to grow without end: the oldest
// sound goes when it is full, so what is kept stays current.
void appendBounded(support::MyBuffer& buffer, const uint8_t* data, size_t length, size_t limit,
                   const char* what) {
    if (length >= limit) {
        data += length - limit;
        length = limit;
    }
    const size_t len = buffer.getLen();
    if (len + length > limit) {
        size_t excess = len + length - limit;
        excess += excess % 4 ? 4 - excess % 4 : 0;
        buffer.eraseData(std::min(excess, len));
        LOGOUT("record: %s falls behind, %zu bytes of old sound dropped", what, excess);
    }
    buffer.appendBuffer(data, length);
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

}  // namespace

// One sound device of the PC and what it has captured. Mode 1 delivers
// 44.1 kHz stereo 16-bit as it is; mode 3 (the loopback) is converted and
// re-timed by its own pacing output.
struct LessonRecorder::Source {
    explicit Source(platform::SoundCapture& system) : input(system) {}
    ~Source() { swr_free(&resampler); }

    AudioInput input;
    int channels = 2;
    int sampleRate = 44100;
    int bitsPerSample = 16;
    int mode = 1;
    support::MyBuffer captured;
    support::MyMutex capturedLock;
    support::MyBuffer paced;
    support::MyMutex pacedLock;
    SwrContext* resampler = nullptr;
    std::vector<uint8_t> converted;
    audio::PcmOutput pace;
};

LessonRecorder::LessonRecorder(core::Settings& settings, std::function<std::string()> docDir,
                               net::SessionPort* sessions, capture::ScreenCaptureService* capture,
                               NotifyClassroom notifyClassroom, platform::SoundCapture* sound)
    : settings_(settings),
      docDir_(std::move(docDir)),
      sessions_(sessions),
      capture_(capture),
      notifyClassroom_(std::move(notifyClassroom)),
      sound_(sound) {
    if (!sound_) {
        ownSound_ = platform::makeSystemSoundCapture();
        sound_ = ownSound_.get();
    }
}

LessonRecorder::~LessonRecorder() {
    // The program is ending: a fragmented recording is complete and
    // playable, so no rewrite holds up the exit.
    abandonRewrite_ = true;
    endSilently();
    joinFailureStop();
    joinFinisher();
}

int LessonRecorder::frameRateFor(int64_t setting, int displayWidth) {
    if (displayWidth > 2048) return 5;
    return int(std::clamp<int64_t>(setting, 5, 30));
}

double LessonRecorder::qualityFactor(int64_t setting) {
    static const double factors[] = {0.25, 0.5, 1.0, 2.0};
    return factors[std::clamp<int64_t>(setting, 0, 3)];
}

int64_t LessonRecorder::bitRateFor(int64_t qualitySetting, int width, int height) {
    return int64_t(qualityFactor(qualitySetting) * double(width) * double(height));
}

std::string LessonRecorder::fileNameFor(const std::string& folder, const std::tm& t) {
    char name[64];
    std::snprintf(name, sizeof name, "%d%02d%02d-%02d.%02d.%02d.MP4", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return folder + "/" + name;
}

std::string LessonRecorder::recordFolder() const {
    const std::string doc = docDir_ ? docDir_() : std::string();
    return doc.empty() ? std::string() : doc + "/Record";
}

void LessonRecorder::sendState(int state) {
    if (!sessions_) return;
    Json::Value message(Json::objectValue);
    message[protocol::field::state] = state;
    sessions_->send(protocol::MsgMediaRecordState, message, nullptr, 0, -1);
}

void LessonRecorder::start(bool enableClientVoice) {
    joinFailureStop();
    std::lock_guard<std::mutex> lock(control_);
    joinFinisher();
    sendState(startRecording(enableClientVoice) ? kStateStarted : kStateStartFailed);
}

bool LessonRecorder::startRecording(bool enableClientVoice) {
    if (recording_) {
        LOGOUT("record: a recording is running already");
        return false;
    }
    const std::string folder = recordFolder();
    if (folder.empty() || !support::mkdir(folder)) {
        LOGOUT("record: cannot create the folder %s", folder.c_str());
        return false;
    }
    removeStaleRewrites(folder);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string path = fileNameFor(folder, local);
    const bool existed = fileExists(path);

    if (!open(path, enableClientVoice)) {
        // A file this start created (a full disk leaves it empty) goes again;
        // lastfile keeps naming the last recording there is.
        if (!existed && fileExists(path) && std::remove(path.c_str()) != 0)
            LOGOUT("record: cannot remove %s", path.c_str());
        return false;
    }
    path_ = path;
    settings_.setString(core::setting::SET, kLastFile, path);

    loadWatermark(settings_.getString(core::setting::SET, kWatermark, ""), width_, height_, watermark_);

    // Begin.
    paused_ = false;
    stopFlag_ = false;
    pausedTotal_ = 0;
    audioBytes_ = 0;
    videoStartUs_ = 0;
    ++generation_;
    recording_ = true;
    videoThread_ = std::thread(&LessonRecorder::videoThread, this);
    audioPace_.start();
    for (Source* s : {loopback_.get(), mic_.get()}) {
        if (!s) continue;
        s->input.start();
        if (s->mode == 3) s->pace.start();
    }
    LOGOUT("record: started %s", path.c_str());
    return true;
}

bool LessonRecorder::open(const std::string& path, bool voice) {
    if (videoThread_.joinable()) return false;
    if (!capture_) {
        LOGOUT("record: no screen capture");
        return false;
    }
    const int64_t rateSetting = settings_.getInt(core::setting::SET, kFrameRate, 10);
    frameRate_ = frameRateFor(rateSetting, 0);
    captureToken_ = capture_->start(float(frameRate_));
    captureRegistered_ = true;
    width_ = capture_->width();
    height_ = capture_->height();
    // Very wide displays record at 5 frames per second.
    const int rate = frameRateFor(rateSetting, width_);
    if (rate != frameRate_) {
        capture_->stop(captureToken_);
        frameRate_ = rate;
        captureToken_ = capture_->start(float(frameRate_));
    }
    bitRate_ = bitRateFor(settings_.getInt(core::setting::SET, kQuality, 1), width_, height_);

    auto fail = [&](const char* why) {
        LOGOUT("record: start failed: %s", why);
        closeSources();
        {
            std::lock_guard<std::mutex> lock(voiceLock_);
            voice_.reset();
        }
        writer_.reset();
        audioPace_.close();
        if (captureRegistered_) capture_->stop(captureToken_);
        captureRegistered_ = false;
        frameRate_ = 0;
        bitRate_ = 0;
        return false;
    };
    // H.264 4:2:0 needs even sizes; an odd last column or row is left out.
    width_ &= ~1;
    height_ &= ~1;
    if (width_ <= 0 || height_ <= 0) return fail("the screen capture has no picture");

    if (voice) {
        std::lock_guard<std::mutex> lock(voiceLock_);
        voice_ = std::make_unique<VoiceDecoder>(
            [this](const uint8_t* pcm, size_t length) { appendMixed(pcm, length); });
    } else if (!openSources()) {
        return fail("no usable sound device");
    }

    writer_ = std::make_unique<Mp4Writer>();
    Mp4Settings settings;
    settings.width = width_;
    settings.height = height_;
    settings.frameRate = frameRate_;
    settings.bitRate = bitRate_;
    if (!writer_->open(path, settings)) return fail("cannot write the file");

    if (!audioPace_.openOrClock([this](uint8_t* block, int n) { encodeAudio(block, n); }, kFramesPerHalf))
        LOGOUT("record: no sound device, the audio runs on a clock");
    capture_->drawCursor = true;
    return true;
}

bool LessonRecorder::openSources() {
    std::vector<AudioDeviceEntry> devices;
    AudioInput::listDevices(*sound_, devices);

    // The PC's playback sound: the first loopback device, re-timed (mode 3).
    for (const AudioDeviceEntry& d : devices) {
        if (d.kind != kLoopback) continue;
        auto source = std::make_unique<Source>(*sound_);
        int channels = 2, rate = 44100, bits = 16;
        if (source->input.open(d, channels, rate, bits) && source->input.isFloat() && bits == 32) {
            source->channels = channels;
            source->sampleRate = rate;
            source->bitsPerSample = bits;
            source->mode = 3;
            AVChannelLayout in{}, out{};
            av_channel_layout_default(&in, channels);
            av_channel_layout_default(&out, 2);
            if (swr_alloc_set_opts2(&source->resampler, &out, AV_SAMPLE_FMT_S16, 44100, &in,
                                    AV_SAMPLE_FMT_FLT, rate, 0, nullptr) >= 0 &&
                swr_init(source->resampler) >= 0) {
                Source* s = source.get();
                s->input.setCallback([this, s](const uint8_t* data, size_t n) { sourceData(*s, data, n); });
                s->pace.openOrClock([this, s](uint8_t* block, int n) { paceLoopback(*s, block, n); },
                                    kFramesPerHalf);
                loopback_ = std::move(source);
            }
        }
        break;
    }
    // The first microphone that gives 44.1 kHz stereo 16-bit (mode 1).
    for (const AudioDeviceEntry& d : devices) {
        if (d.kind != kCaptureSource || AudioInput::formFactor(*sound_, d.deviceId) != kFormFactorMicrophone)
            continue;
        auto source = std::make_unique<Source>(*sound_);
        int channels = 2, rate = 44100, bits = 16;
        if (!source->input.open(d, channels, rate, bits)) continue;
        source->mode = 1;
        Source* s = source.get();
        s->input.setCallback([this, s](const uint8_t* data, size_t n) { sourceData(*s, data, n); });
        mic_ = std::move(source);
        break;
    }
    if (loopback_) LOGOUT("record: sound from %s", loopback_->input.entry().deviceId.c_str());
    if (mic_) LOGOUT("record: microphone %s", mic_->input.entry().name.c_str());
    return loopback_ || mic_;
}

void LessonRecorder::closeSources() {
    // Every thread that mixes is stopped before either source goes: each of
    // them reads both.
    for (Source* source : {loopback_.get(), mic_.get()}) {
        if (!source) continue;
        source->input.stop();
        source->pace.close();
    }
    loopback_.reset();
    mic_.reset();
}

void LessonRecorder::pause() {
    if (!paused_) {
        pauseStart_ = nowUs();
        paused_ = true;
    }
}

void LessonRecorder::resume() {
    if (paused_) {
        pausedTotal_ += nowUs() - pauseStart_;
        paused_ = false;
    }
}

void LessonRecorder::stop() {
    joinFailureStop();
    std::lock_guard<std::mutex> lock(control_);
    joinFinisher();
    stopRecording(true);
}

void LessonRecorder::endSilently() {
    joinFailureStop();
    std::lock_guard<std::mutex> lock(control_);
    joinFinisher();
    if (recording_) stopRecording(false);
}

void LessonRecorder::joinFinisher() {
    std::thread done;
    {
        std::lock_guard<std::mutex> lock(finisherLock_);
        done = std::move(finisher_);
    }
    if (done.joinable()) done.join();
}

void LessonRecorder::finishFile(const std::string& path, bool sendMessages) {
    pthread_setname_np(pthread_self(), "record-finish");
    const int64_t t0 = nowUs();
    if (rewriteAsRegularMp4(path, [this](int64_t) { return !abandonRewrite_.load(); }))
        LOGOUT("record: finished %s (index in front, %lld ms)", path.c_str(),
               static_cast<long long>((nowUs() - t0) / 1000));
    else
        LOGOUT("record: finished %s", path.c_str());
    if (sendMessages) tellStopped(true);
}

void LessonRecorder::tellStopped(bool finished) {
    const int64_t window = settings_.getInt(core::setting::Interop, kClassroomWindow, 0);
    if (window != 0 && notifyClassroom_) notifyClassroom_(window, finished);
    sendState(kStateStopped);
}

bool LessonRecorder::stopRecording(bool sendMessages) {
    joinFinisher();
    stopFlag_ = true;
    closeSources();
    {
        std::lock_guard<std::mutex> lock(voiceLock_);
        voice_.reset();
    }
    audioPace_.close();
    if (videoThread_.joinable()) videoThread_.join();

    bool result = false;
    bool complete = false;
    if (writer_) {
        complete = writer_->finish();
        if (!complete) LOGOUT("record: %s may be incomplete", path_.c_str());
        writer_.reset();
        if (captureRegistered_) capture_->stop(captureToken_);
        captureRegistered_ = false;
        capture_->drawCursor = false;
        result = true;
    }
    {
        std::lock_guard<support::MyMutex> lock(audioLock_);
        mixedAudio_.resetBuffer();
    }
    watermark_.clear();
    recording_ = false;
    paused_ = false;
    frameRate_ = 0;
    bitRate_ = 0;

    if (complete) {
        // A complete recording gets its index in front on a thread of its
        // own (seconds for a long lesson); the phones hear of the stop, and
        // may ask to play lastfile, only once the file is final.
        std::lock_guard<std::mutex> lock(finisherLock_);
        finisher_ = std::thread(&LessonRecorder::finishFile, this, path_, sendMessages);
        return result;
    }
    if (sendMessages) tellStopped(result);
    return result;
}

void LessonRecorder::writeFailed() {
    if (failureStopping_.exchange(true)) return;
    const uint64_t generation = generation_;
    std::lock_guard<std::mutex> lock(failureLock_);
    failureStop_ = std::thread([this, generation] {
        std::lock_guard<std::mutex> control(control_);
        if (!recording_ || generation != generation_) return;
        LOGOUT("record: the disk is full or the file cannot grow; recording stopped");
        stopRecording(true);
    });
}

void LessonRecorder::joinFailureStop() {
    std::thread done;
    {
        std::lock_guard<std::mutex> lock(failureLock_);
        done = std::move(failureStop_);
    }
    if (done.joinable()) done.join();
    failureStopping_ = false;
}

void LessonRecorder::videoThread() {
    pthread_setname_np(pthread_self(), "record-video");
    const int64_t interval = 1000000 / frameRate_;
    AVFrame* picture = writer_->videoPicture();
    // With a watermark: the screen with the mark blended in, kept up to date
    // row by row (the shared frame stays as it is).
    std::vector<uint8_t> marked;
    const size_t row = size_t(width_) * 4;
    // `picture` holds the conversion of capture picture `converted`.
    uint64_t converted = 0;
    bool haveConverted = false;
    std::vector<capture::RowSpan> rows;
    const int64_t t0 = nowUs();
    videoStartUs_ = t0;
    int64_t lastPts = -1;
    while (!stopFlag_) {
        if (paused_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        const int64_t tFrame = nowUs();
        bool ready = false;
        bool unchanged = false;
        {
            capture::FrameAccess frame = capture_->lockFrame();
            if (frame && frame.width() >= width_ && frame.height() >= height_) {
                const uint64_t serial = frame.serial();
                if (haveConverted && serial == converted) {
                    ready = true;  // unchanged: the last conversion is the picture
                    unchanged = true;
                } else if (av_frame_make_writable(picture) >= 0) {
                    if (!haveConverted || !frame.rowsSince(converted, rows)) rows.assign(1, {0, height_});
                    ready = true;
                    for (const capture::RowSpan& span : rows) {
                        // Whole chroma rows: from an even row to an even row.
                        const int top = std::max(0, span.begin) & ~1;
                        const int bottom = std::min(height_, (span.end + 1) & ~1);
                        if (top >= bottom) continue;
                        const uint8_t* source = frame.data() + size_t(top) * size_t(frame.stride());
                        int stride = frame.stride();
                        if (!watermark_.empty()) {
                            marked.resize(row * size_t(height_));
                            for (int y = top; y < bottom; ++y)
                                std::memcpy(marked.data() + size_t(y) * row,
                                            frame.data() + size_t(y) * size_t(frame.stride()), row);
                            blendWatermark(watermark_, marked.data(), width_ * 4, width_, height_, top,
                                           bottom);
                            source = marked.data() + size_t(top) * row;
                            stride = width_ * 4;
                        }
                        const int chroma = top / 2;
                        ready = libyuv::ARGBToI420(
                                    source, stride, picture->data[0] + size_t(top) * picture->linesize[0],
                                    picture->linesize[0], picture->data[1] + size_t(chroma) * picture->linesize[1],
                                    picture->linesize[1], picture->data[2] + size_t(chroma) * picture->linesize[2],
                                    picture->linesize[2], width_, bottom - top) == 0 &&
                                ready;
                    }
                }
                haveConverted = ready;
                converted = serial;
            }
        }
        if (ready) {
            int64_t pts = (tFrame - pausedTotal_ - t0) * frameRate_ / 1000000;
            // Right after a resume the time may fall on the last frame's slot.
            if (pts <= lastPts) pts = lastPts + 1;
            writer_->encodeVideo(pts, unchanged);
            lastPts = pts;
        }
        if (writer_->writeFailed()) {
            writeFailed();
            break;
        }
        const int64_t spent = nowUs() - tFrame;
        if (spent < interval) std::this_thread::sleep_for(std::chrono::microseconds(interval - spent));
    }
    writer_->drainVideo();
}

void LessonRecorder::timelines(double& audioSeconds, double& videoSeconds) const {
    audioSeconds = double(audioBytes_.load()) / audio::PcmOutput::kBytesPerSecond;
    const int64_t start = videoStartUs_.load();
    const int64_t paused = pausedTotal_.load() + (paused_ ? nowUs() - pauseStart_.load() : 0);
    videoSeconds = start ? double(nowUs() - start - paused) / 1e6 : 0;
}

void LessonRecorder::encodeAudio(uint8_t* block, int n) {
    std::memset(block, 0, size_t(n));
    if (stopFlag_ || paused_ || !writer_) return;
    {
        std::lock_guard<support::MyMutex> lock(audioLock_);
        mixedAudio_.takeData(block, size_t(n));
    }
    const int frameSamples = writer_->audioFrameSamples();
    const int frameBytes = frameSamples > 0 ? frameSamples * 4 : n;
    for (int offset = 0; offset + frameBytes <= n; offset += frameBytes) {
        audioBytes_ += frameBytes;
        // Time base 1 / 44,100: 4 bytes per sample frame.
        const int64_t pts = audioBytes_.load() / 4;
        writer_->encodeAudio(reinterpret_cast<const int16_t*>(block + offset), frameBytes / 4, pts);
    }
    std::memset(block, 0, size_t(n));
    if (writer_->writeFailed()) writeFailed();
}

void LessonRecorder::appendMixed(const uint8_t* data, size_t length) {
    std::lock_guard<support::MyMutex> lock(audioLock_);
    appendBounded(mixedAudio_, data, length, kMaxQueuedPcm, "the audio encoder");
}

void LessonRecorder::sourceData(Source& source, const uint8_t* data, size_t length) {
    if (stopFlag_ || paused_) return;
    if (source.mode == 1) {
        {
            std::lock_guard<support::MyMutex> lock(source.capturedLock);
            appendBounded(source.captured, data, length, kMaxQueuedPcm, "the microphone");
        }
        mix();
        return;
    }
    // Mode 3: float frames at the device's rate to 44.1 kHz stereo 16-bit.
    const int frameBytes = source.channels * 4;
    const int frames = int(length / size_t(frameBytes));
    if (frames <= 0) return;
    const int outFrames = int(int64_t(frames) * 44100 / source.sampleRate) + 256;
    source.converted.resize(size_t(outFrames) * 4);
    uint8_t* out = source.converted.data();
    const uint8_t* in = data;
    const int got = swr_convert(source.resampler, &out, outFrames, &in, frames);
    if (got <= 0) return;
    std::lock_guard<support::MyMutex> lock(source.pacedLock);
    appendBounded(source.paced, out, size_t(got) * 4, kMaxQueuedPcm, "the playback sound");
}

// The loopback's pacing output: one block per call into the mix, silence
// where the PC played nothing, so its sound enters at a steady rate.
void LessonRecorder::paceLoopback(Source& source, uint8_t* block, int n) {
    std::memset(block, 0, size_t(n));
    if (stopFlag_ || paused_) return;
    {
        std::lock_guard<support::MyMutex> lock(source.pacedLock);
        source.paced.takeData(block, size_t(std::min(n, kBlockBytes)));
    }
    {
        std::lock_guard<support::MyMutex> lock(source.capturedLock);
        appendBounded(source.captured, block, size_t(n), kMaxQueuedPcm, "the playback sound");
    }
    mix();
    std::memset(block, 0, size_t(n));
}

void LessonRecorder::mix() {
    Source* loop = loopback_.get();
    Source* mic = mic_.get();
    if (loop && mic) {
        std::lock_guard<support::MyMutex> a(loop->capturedLock);
        std::lock_guard<support::MyMutex> b(mic->capturedLock);
        support::MyBuffer mixed;
        mixInto(loop->captured, mic->captured, mixed);
        if (mixed.getLen() == 0) return;
        std::lock_guard<support::MyMutex> c(audioLock_);
        appendBounded(mixedAudio_, mixed.getBuffer(), mixed.getLen(), kMaxQueuedPcm, "the audio encoder");
        return;
    }
    Source* only = loop ? loop : mic;
    if (!only) return;
    std::lock_guard<support::MyMutex> a(audioLock_);
    std::lock_guard<support::MyMutex> b(only->capturedLock);
    appendBounded(mixedAudio_, only->captured.getBuffer(), only->captured.getLen(), kMaxQueuedPcm,
                  "the audio encoder");
    only->captured.resetBuffer();
}

void LessonRecorder::voiceData(const uint8_t* data, size_t length) {
    if (stopFlag_ || paused_) return;
    std::lock_guard<std::mutex> lock(voiceLock_);
    if (!voice_) return;
    voice_->decode(data, length);
}

}  // namespace record
