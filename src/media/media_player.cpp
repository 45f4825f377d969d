#include "media/media_player.h"

#include "audio/pcm_output.h"
#include "protocol/fields.h"
#include "protocol/message_names.h"
#include "support/logger.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cstring>

namespace media {

namespace field = protocol::field;
using namespace std::chrono_literals;

namespace {

int64_t nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void sleepUs(int64_t us) {
    if (us > 0) std::this_thread::sleep_for(std::chrono::microseconds(us));
}

std::string extensionOf(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return {};
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) c = char(std::toupper(static_cast<unsigned char>(c)));
    return ext;
}

std::string avError(int rc) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(rc, text, sizeof text);
    return text;
}

AVCodecContext* openDecoder(const AVStream* stream) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) return nullptr;
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx) return nullptr;
    if (avcodec_parameters_to_context(ctx, stream->codecpar) < 0) {
        avcodec_free_context(&ctx);
        return nullptr;
    }
    ctx->pkt_timebase = stream->time_base;
    // A decoder that does not open leaves its stream silent or dark.
    if (avcodec_open2(ctx, codec, nullptr) < 0)
        LOGOUT("decoder for %s not opened", avcodec_get_name(stream->codecpar->codec_id));
    return ctx;
}

void closeDecoder(AVCodecContext*& ctx) {
    if (!ctx) return;
    if (avcodec_is_open(ctx)) avcodec_flush_buffers(ctx);
    avcodec_free_context(&ctx);
}

// Channel layout of a decoded frame: its own when it names as many channels
// as the frame has, else the default one for that count.
void frameLayout(const AVFrame* frame, AVChannelLayout* out) {
    if (frame->ch_layout.nb_channels > 0 && frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_copy(out, &frame->ch_layout);
    else
        av_channel_layout_default(out, std::max(frame->ch_layout.nb_channels, 1));
}

// Scales decoded pictures to the size they are shown at, in one pixel order;
// the scaler is made again when a picture's size or layout changes.
class PictureScaler {
public:
    PictureScaler(AVPixelFormat out, int flags) : out_(out), flags_(flags) {}
    ~PictureScaler() { sws_freeContext(sws_); }
    PictureScaler(const PictureScaler&) = delete;
    PictureScaler& operator=(const PictureScaler&) = delete;

    // True when `frame` has another shape than the one before.
    bool prepare(const AVFrame* frame, Size screen, bool mirroring) {
        if (frame->width == width_ && frame->height == height_ && frame->format == format_) return false;
        sws_freeContext(sws_);
        width_ = frame->width;
        height_ = frame->height;
        format_ = frame->format;
        display_ = fitToScreen(width_, height_, screen, mirroring);
        sws_ = sws_getContext(width_, height_, AVPixelFormat(format_), display_.width, display_.height, out_,
                              flags_, nullptr, nullptr, nullptr);
        picture_.assign(size_t(display_.width) * display_.height * 4, 0);
        return true;
    }
    void show(const AVFrame* frame, VideoOutput& output) {
        if (!sws_ || picture_.empty()) return;
        uint8_t* dst[4] = {picture_.data(), nullptr, nullptr, nullptr};
        int pitch[4] = {display_.width * 4, 0, 0, 0};
        sws_scale(sws_, frame->data, frame->linesize, 0, height_, dst, pitch);
        output.showFrame(display_.width, display_.height, picture_.data());
    }

private:
    const AVPixelFormat out_;
    const int flags_;
    SwsContext* sws_ = nullptr;
    int width_ = 0, height_ = 0, format_ = -1;
    Size display_;
    std::vector<uint8_t> picture_;
};

}  // namespace

MediaPlayer::MediaPlayer(VideoOutput& output, PlayerLink link)
    : output_(output), link_(std::move(link)), source_([this](const Json::Value& m) {
          if (link_.broadcast && !quiet_) link_.broadcast(protocol::MsgMediaPlayer, m);
      }) {}

MediaPlayer::~MediaPlayer() {
    // No messages from a player that is going away with the program.
    quiet_ = true;
    stop();
}

bool MediaPlayer::mirroring() { return link_.controllerTag && link_.controllerTag() == "win_mira"; }

void MediaPlayer::sendState(int state) {
    if (!link_.broadcast || quiet_) return;
    Json::Value m(Json::objectValue);
    m[field::state] = state;
    link_.broadcast(protocol::MsgMediaPlayState, m);
}

void MediaPlayer::sendInfo() {
    if (!link_.broadcast || quiet_) return;
    Json::Value m(Json::objectValue);
    m[field::position] = Json::Int64(0);
    m[field::duration] = static_cast<Json::Int64>(duration_);
    m[field::canSeek] = true;
    m[field::canPause] = true;
    link_.broadcast(protocol::MsgMediaPlayInfo, m);
}

void MediaPlayer::reportPosition() {
    if (stopFlag_ || paused_ || opening_ || !link_.broadcast) return;
    Json::Value m(Json::objectValue);
    m[field::position] = static_cast<Json::Int64>(currentPosition());
    link_.broadcast(protocol::MsgMediaPlayInfo, m);
}

bool MediaPlayer::setupStreams() {
    duration_ = input_->duration > 0 ? input_->duration : 0;
    videoIndex_ = audioIndex_ = -1;
    for (unsigned i = 0; i < input_->nb_streams; ++i) {
        const AVStream* s = input_->streams[i];
        const AVMediaType type = s->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO && videoIndex_ < 0) videoIndex_ = int(i);
        if (type == AVMEDIA_TYPE_AUDIO && audioIndex_ < 0) audioIndex_ = int(i);
    }
    if (videoIndex_ >= 0) {
        const AVStream* s = input_->streams[videoIndex_];
        videoDecoder_ = openDecoder(s);
        videoWidth_ = s->codecpar->width;
        videoHeight_ = s->codecpar->height;
        if (s->avg_frame_rate.num > 0 && s->avg_frame_rate.den > 0)
            frameRate_ = av_q2d(s->avg_frame_rate);
        else if (s->nb_frames > 0 && s->duration > 0)
            frameRate_ = double(s->nb_frames) / (double(s->duration) * av_q2d(s->time_base));
        else
            frameRate_ = 0;
    }
    if (audioIndex_ >= 0) audioDecoder_ = openDecoder(input_->streams[audioIndex_]);
    return videoIndex_ >= 0 || audioIndex_ >= 0;
}

bool MediaPlayer::openLocal(const std::string& pathOrUrl) {
    stop();
    inputRemote_ = false;
    const std::string path = pathOrUrl.substr(0, 2048);
    int rc = avformat_open_input(&input_, path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        LOGOUT("avformat_open_input failed: %s", avError(rc).c_str());
        LOGOUT("open failed: %s", path.c_str());
        input_ = nullptr;
        sendState(-1);
        return false;
    }
    rc = avformat_find_stream_info(input_, nullptr);
    if (rc < 0 || !setupStreams()) {
        LOGOUT("no playable streams: %s", path.c_str());
        releaseMedia();
        sendState(-1);
        return false;
    }
    inputRemote_ = false;
    startPlayback(false, path);
    return true;
}

void MediaPlayer::openRemote(const std::string& name, int64_t fileSize, int socket) {
    stop();
    const uint64_t generation = ++generation_;
    remoteName_ = name;
    opening_ = true;
    stopFlag_ = false;
    LOGOUT("open phone file %s (%lld bytes)", name.c_str(), static_cast<long long>(fileSize));
    source_.begin();
    fileOwner_ = socket;
    // Probing asks the phone for bytes and waits for them: off the UI thread.
    openThread_ = std::thread([this, generation, name, fileSize] {
        probed_ = source_.open(fileSize, name);
        output_.runOnUi([this, generation] { finishRemoteOpen(generation); });
    });
}

void MediaPlayer::finishRemoteOpen(uint64_t generation) {
    if (generation != generation_ || !opening_) return;  // stopped or replaced meanwhile
    if (openThread_.joinable()) openThread_.join();
    opening_ = false;
    input_ = probed_;
    probed_ = nullptr;
    inputRemote_ = true;
    if (!input_ || !setupStreams()) {
        releaseMedia();
        stopFlag_ = true;
        sendState(-1);
        return;
    }
    startPlayback(true, remoteName_);
}

void MediaPlayer::startPlayback(bool remote, const std::string& name) {
    {
        std::lock_guard<std::mutex> lock(liveMutex_);
        livePending_.clear();
    }
    stopFlag_ = false;
    paused_ = false;
    live_ = false;
    underruns_ = 0;
    const uint64_t generation = remote ? generation_.load() : ++generation_;
    if (audioIndex_ >= 0) {
        audioOut_ = std::make_unique<audio::PcmOutput>();
        auto fill = [this](uint8_t* b, int n) { fillAudio(b, n); };
        const bool device = link_.useSoundDevice && audioOut_->open(fill, kFramesPerHalf);
        if (!device) {
            if (remote) {
                // A phone's file does not play without sound.
                LOGOUT("no sound device for the phone's file");
                audioOut_.reset();
                releaseMedia();
                stopFlag_ = true;
                sendState(-1);
                return;
            }
            audioOut_->openClockOnly(fill, kFramesPerHalf);
        }
    }
    audioOnlyName_ = extensionOf(name) == "MP3";
    audioClock_ = videoClock_ = 0;
    const bool showVideo = videoIndex_ >= 0 && (remote || !audioOnlyName_);
    videoShown_ = showVideo;
    if (showVideo) {
        output_.showFullScreen();
        videoThread_ = std::thread(&MediaPlayer::videoLoop, this);
    }
    if (audioOut_) audioOut_->start();
    seekTarget_ = remote ? 0 : -1;
    demuxThread_ = std::thread(&MediaPlayer::demuxLoop, this, generation);
    LOGOUT("playing %s: %s%s, %lld us", name.c_str(), videoIndex_ >= 0 ? "video " : "",
           audioIndex_ >= 0 ? "audio" : "", static_cast<long long>(duration_));
    sendState(1);
    sendInfo();
}

bool MediaPlayer::openLive(int pixelOrder, int width, int height, int codecIndex) {
    stop();
    AVCodecID id;
    switch (codecIndex) {
    case 0: id = AV_CODEC_ID_H264; break;
    case 1: id = AV_CODEC_ID_VP8; break;
    case 2: id = AV_CODEC_ID_HEVC; break;
    default: return false;
    }
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec || width <= 0 || height <= 0) return false;
    videoDecoder_ = avcodec_alloc_context3(codec);
    if (!videoDecoder_) return false;
    videoDecoder_->codec_type = AVMEDIA_TYPE_VIDEO;
    videoDecoder_->width = width;
    videoDecoder_->height = height;
    videoDecoder_->bit_rate = int64_t(width) * height * 4;
    videoDecoder_->pix_fmt = AV_PIX_FMT_YUV420P;
    videoDecoder_->has_b_frames = 1;
    if (avcodec_open2(videoDecoder_, codec, nullptr) < 0) {
        avcodec_free_context(&videoDecoder_);
        return false;
    }
    ++generation_;
    live_ = true;
    liveCodec_ = codecIndex;
    livePixelOrder_ = pixelOrder & 1;
    videoWidth_ = width;
    videoHeight_ = height;
    frameRate_ = 100.0;
    {
        std::lock_guard<std::mutex> lock(liveMutex_);
        liveQueue_.swap(livePending_);
        livePending_.clear();
        liveBytes_ = 0;
        for (const auto& p : liveQueue_) liveBytes_ += p.size();
        liveSkipToKey_ = false;
        paused_ = false;
        stopFlag_ = false;
    }
    output_.showFullScreen();
    liveThread_ = std::thread(&MediaPlayer::liveLoop, this);
    LOGOUT("live view %dx%d codec %d %s", width, height, codecIndex, livePixelOrder_ ? "BGRA" : "RGBA");
    return true;
}

void MediaPlayer::stop() {
    if (stopFlag_.exchange(true)) return;
    ++generation_;
    fileOwner_ = -1;
    source_.cancel();
    liveArrived_.notify_all();
    if (openThread_.joinable()) openThread_.join();
    if (probed_) source_.close(probed_);
    opening_ = false;
    if (demuxThread_.joinable()) demuxThread_.join();
    if (liveThread_.joinable()) liveThread_.join();
    if (videoThread_.joinable()) videoThread_.join();
    if (audioOut_) {
        audioOut_->close();
        audioOut_.reset();
    }
    releaseMedia();
    output_.hideWindow();
    output_.clearFrame();
    sendState(0);
}

void MediaPlayer::releaseMedia() {
    audioQueue_.clear();
    videoQueue_.clear();
    {
        std::lock_guard<std::mutex> lock(liveMutex_);
        liveQueue_.clear();
        liveBytes_ = 0;
        // Pictures that wait for a view that has not opened yet are kept; a
        // view that ran leaves nothing behind.
        if (live_) livePending_.clear();
    }
    closeDecoder(videoDecoder_);
    closeDecoder(audioDecoder_);
    if (input_) {
        if (inputRemote_)
            source_.close(input_);
        else
            avformat_close_input(&input_);
    }
    input_ = nullptr;
    inputRemote_ = false;
    swr_free(&resampler_);
    pcmLeftover_.clear();
    pcmLeftoverPos_ = 0;
    flushAudio_ = flushVideo_ = false;
    audioOnlyName_ = false;
    live_ = false;
    videoIndex_ = audioIndex_ = -1;
    videoWidth_ = videoHeight_ = 0;
    duration_ = 0;
    audioClock_ = videoClock_ = 0;
    paused_ = false;
}

void MediaPlayer::setPaused(bool paused) {
    if (stopFlag_) return;
    paused_ = paused;
    if (audioOut_) audioOut_->pause(paused);
}

bool MediaPlayer::seekTo(int64_t position) {
    if (stopFlag_ || live_ || position < 0 || position >= duration_) return false;
    seekTarget_ = position;
    return true;
}

int64_t MediaPlayer::currentPosition() {
    if (stopFlag_ || (!input_ && !live_)) return 0;
    int64_t position = 0;
    if (audioIndex_ >= 0)
        position = audioClock_;
    else if (videoIndex_ >= 0)
        position = videoClock_;
    return std::clamp<int64_t>(position, 0, duration_);
}

void MediaPlayer::readAnswer(const uint8_t* data, size_t length) { source_.pushData(data, length); }

void MediaPlayer::seekDone() { source_.seekDone(); }

void MediaPlayer::phoneLeft(int socket) {
    int owner = socket;
    if (socket < 0 || !fileOwner_.compare_exchange_strong(owner, -1)) return;
    // Its reads will never be answered: the open fails (-1) or the playback
    // ends with what was read.
    LOGOUT("the phone serving the media file left");
    source_.cancel();
}

// Demux thread: keeps the packet queues filled up to their limits, carries
// out seeks, and at the end of the input waits for the queues to be played
// before it closes the player.
void MediaPlayer::demuxLoop(uint64_t generation) {
    size_t budget = kByteBudget;
    if (audioOnlyName_ && audioDecoder_) budget = size_t(std::max<int64_t>(2 * audioDecoder_->bit_rate, 1 << 20));
    AVPacket* packet = av_packet_alloc();
    bool ended = false;
    while (!stopFlag_ && packet) {
        const int64_t target = seekTarget_.exchange(-1);
        if (target >= 0) {
            if (avformat_seek_file(input_, -1, INT64_MIN, target, target, 0) >= 0) {
                if (audioIndex_ >= 0) {
                    audioQueue_.clear();
                    flushAudio_ = true;
                }
                if (videoIndex_ >= 0) {
                    videoQueue_.clear();
                    flushVideo_ = true;
                }
            } else {
                LOGOUT("seek to %lld failed", static_cast<long long>(target));
            }
        }
        const bool wantAudio = audioIndex_ >= 0 && audioQueue_.count() < kAudioQueuePackets;
        const bool wantVideo = videoIndex_ >= 0 && !audioOnlyName_ && videoQueue_.count() < kVideoQueuePackets;
        if (!paused_ && (wantAudio || wantVideo) && audioQueue_.bytes() + videoQueue_.bytes() < budget) {
            const int rc = av_read_frame(input_, packet);
            if (rc < 0) {
                if (rc != AVERROR_EOF) LOGOUT("av_read_frame: %s", avError(rc).c_str());
                ended = true;
                break;
            }
            if (packet->stream_index == audioIndex_) {
                audioQueue_.push(av_packet_clone(packet));
            } else if (packet->stream_index == videoIndex_ && videoShown_) {
                videoQueue_.push(av_packet_clone(packet));
            }
            av_packet_unref(packet);
            continue;
        }
        std::this_thread::sleep_for(20ms);
    }
    av_packet_free(&packet);
    if (!ended) return;
    // End of input: the player closes once what was read has been played.
    while (!stopFlag_) {
        if (audioQueue_.count() == 0 && videoQueue_.count() == 0) {
            if (audioOut_) std::this_thread::sleep_for(std::chrono::microseconds(
                               int64_t(audioOut_->bufferedSeconds() * 1e6)));
            output_.runOnUi([this, generation] {
                if (generation == generation_ && !stopFlag_) {
                    LOGOUT("end of media");
                    stop();
                }
            });
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
}

// Video thread: decodes the video packets and shows each picture at its
// time, paced by the audio clock when there is sound.
void MediaPlayer::videoLoop() {
    const int64_t frameDelay = frameRate_ > 1 ? int64_t(1000000 / frameRate_) : 100000;
    const AVRational timeBase = input_->streams[videoIndex_]->time_base;
    AVFrame* frame = av_frame_alloc();
    PictureScaler scaler(AV_PIX_FMT_BGRA, SWS_BILINEAR);
    int64_t renderTime = 0;
    while (!stopFlag_ && frame) {
        if (paused_) {
            std::this_thread::sleep_for(20ms);
            continue;
        }
        AVPacket* packet = videoQueue_.pop();
        if (!packet) {
            sleepUs(std::min<int64_t>(frameDelay, 20000));
            continue;
        }
        const int64_t t0 = nowUs();
        if (flushVideo_.exchange(false)) avcodec_flush_buffers(videoDecoder_);
        int rc = avcodec_send_packet(videoDecoder_, packet);
        av_packet_free(&packet);
        if (rc < 0 && rc != AVERROR(EAGAIN)) continue;
        while (!stopFlag_ && avcodec_receive_frame(videoDecoder_, frame) == 0) {
            if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
                videoClock_ = av_rescale_q(frame->best_effort_timestamp, timeBase, AV_TIME_BASE_Q);
            int64_t wait = std::max<int64_t>(frameDelay - (nowUs() - t0) - renderTime, 0);
            if (audioIndex_ >= 0 && audioOut_) {
                // Until the device has taken its first block nothing tells
                // when the sound starts: the first picture waits for that
                // (half a second at most, so a stuck device does not hold
                // the picture).
                for (int i = 0; i < 25 && !stopFlag_ && audioOut_->deviceMode() && !audioOut_->deviceTaking(); ++i)
                    sleepUs(20000);
                const int64_t audioPos = audioClock_ - int64_t(audioOut_->bufferedSeconds() * 1e6);
                const int64_t diff = videoClock_ - audioPos;
                if (diff > 300000)
                    wait = frameDelay + 2 * wait;
                else if (diff > 150000)
                    wait = wait * 3 / 2;
                else if (diff < -300000)
                    wait = 0;
                else if (diff < -150000)
                    wait = wait / 2;
                else
                    // Near the sound, the picture is due when the sound
                    // reaches its time: sleep until then less the time the
                    // picture takes to reach the screen (converting it here,
                    // then the window's drawing). Sleeping a whole frame's
                    // time first, then adding the offset, showed every
                    // picture one frame late. At most one frame's extra
                    // wait per picture, so a larger lead is taken out over
                    // a few pictures.
                    wait = std::clamp<int64_t>(diff - renderTime - output_.presentDelayUs(), 0, wait + frameDelay);
            }
            // Sleep in short steps so that a stop or a pause is not held up.
            for (int64_t end = nowUs() + wait; !stopFlag_ && nowUs() < end;)
                sleepUs(std::min<int64_t>(end - nowUs(), 20000));
            const int64_t r0 = nowUs();
            scaler.prepare(frame, output_.displaySize(), mirroring());
            scaler.show(frame, output_);
            renderTime = nowUs() - r0;
            av_frame_unref(frame);
        }
    }
    av_frame_free(&frame);
    if (videoDecoder_) avcodec_flush_buffers(videoDecoder_);
    LOGOUT("dispProc returned");
}

// Audio fill on the output's thread: decoded and resampled sound from the
// audio queue; audioClock follows the end of what was handed out.
void MediaPlayer::fillAudio(uint8_t* buffer, int size) {
    constexpr int64_t kBps = audio::PcmOutput::kBytesPerSecond;
    const size_t n = size_t(size);
    if (paused_) {
        // The clock-only output keeps calling while paused: hand out silence
        // and keep the sound for the resume.
        std::memset(buffer, 0, n);
        return;
    }
    size_t have = pcmLeftover_.size() - pcmLeftoverPos_;
    if (have >= n) {
        std::memcpy(buffer, pcmLeftover_.data() + pcmLeftoverPos_, n);
        pcmLeftoverPos_ += n;
        audioClock_ += int64_t(n) * 1000000 / kBps;
        return;
    }
    if (have > 0) std::memcpy(buffer, pcmLeftover_.data() + pcmLeftoverPos_, have);
    size_t filled = have;
    const int64_t leftoverUs = int64_t(have) * 1000000 / kBps;
    pcmLeftover_.clear();
    pcmLeftoverPos_ = 0;
    bool firstFrame = true;
    bool advanced = false;
    int64_t firstPts = 0;
    const AVRational timeBase = input_->streams[audioIndex_]->time_base;
    AVFrame* frame = av_frame_alloc();
    std::vector<uint8_t> out;
    while (filled < n && frame && audioDecoder_ && avcodec_is_open(audioDecoder_)) {
        AVPacket* packet = audioQueue_.pop();
        if (!packet) break;
        if (flushAudio_.exchange(false)) avcodec_flush_buffers(audioDecoder_);
        const int rc = avcodec_send_packet(audioDecoder_, packet);
        av_packet_free(&packet);
        if (rc < 0) continue;
        while (avcodec_receive_frame(audioDecoder_, frame) == 0) {
            if (firstFrame && frame->best_effort_timestamp != AV_NOPTS_VALUE) {
                firstPts = av_rescale_q(frame->best_effort_timestamp, timeBase, AV_TIME_BASE_Q);
                firstFrame = false;
                advanced = true;
            }
            if (!resampler_) {
                AVChannelLayout in{};
                frameLayout(frame, &in);
                AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
                if (swr_alloc_set_opts2(&resampler_, &stereo, AV_SAMPLE_FMT_S16, audio::PcmOutput::kSampleRate,
                                        &in, AVSampleFormat(frame->format), frame->sample_rate, 0,
                                        nullptr) < 0 ||
                    swr_init(resampler_) < 0) {
                    LOGOUT("audio resampler not made");
                    swr_free(&resampler_);
                }
                av_channel_layout_uninit(&in);
            }
            if (resampler_ && frame->sample_rate > 0) {
                const int room = int(int64_t(frame->nb_samples) * audio::PcmOutput::kSampleRate /
                                     frame->sample_rate) + 256;
                out.resize(size_t(room) * 4);
                uint8_t* dst[1] = {out.data()};
                const int got = swr_convert(resampler_, dst, room, const_cast<const uint8_t**>(frame->extended_data),
                                            frame->nb_samples);
                if (got > 0) {
                    const size_t bytes = size_t(got) * 4;
                    const size_t take = std::min(bytes, n - filled);
                    std::memcpy(buffer + filled, out.data(), take);
                    filled += take;
                    if (take < bytes) pcmLeftover_.insert(pcmLeftover_.end(), out.begin() + take, out.begin() + bytes);
                }
            }
            av_frame_unref(frame);
        }
    }
    av_frame_free(&frame);
    // The clock stands at the end of what this call handed out: the first
    // decoded frame's time, less the leftover played before it, plus all
    // that was filled.
    if (advanced)
        audioClock_ = firstPts - leftoverUs + int64_t(filled) * 1000000 / kBps;
    else
        audioClock_ += int64_t(filled) * 1000000 / kBps;
    if (filled < n) {
        std::memset(buffer + filled, 0, n - filled);
        if (!stopFlag_) {
            ++underruns_;
            LOGOUT("*");
        }
    }
}

void MediaPlayer::pushLive(const uint8_t* data, size_t length) {
    if (!data || length == 0) return;
    {
        std::lock_guard<std::mutex> lock(liveMutex_);
        if (stopFlag_ || !live_) {
            if (livePending_.size() >= kLiveQueueLimit) livePending_.clear();
            livePending_.emplace_back(data, data + length);
            return;
        }
    }
    const bool key = isLiveKeyFrame(liveCodec_, data, length);
    {
        std::lock_guard<std::mutex> lock(liveMutex_);
        if (liveSkipToKey_ && !key) return;
        liveSkipToKey_ = false;
        if (liveQueue_.size() >= kLiveQueueLimit || liveBytes_ + length > kLiveQueueBytes) {
            // The decoder is behind: what waits is dropped and decoding
            // starts again at the next key frame.
            LOGOUT("live view behind: %zu pictures dropped", liveQueue_.size());
            liveQueue_.clear();
            liveBytes_ = 0;
            if (!key) {
                liveSkipToKey_ = true;
                return;
            }
        }
        liveQueue_.emplace_back(data, data + length);
        liveBytes_ += length;
    }
    liveArrived_.notify_one();
}

size_t MediaPlayer::liveQueued() {
    std::lock_guard<std::mutex> lock(liveMutex_);
    return liveQueue_.size();
}

// Live thread: decodes the phone's pictures as they arrive and shows each at once.
void MediaPlayer::liveLoop() {
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    PictureScaler scaler(livePixelOrder_ ? AV_PIX_FMT_BGRA : AV_PIX_FMT_RGBA, SWS_FAST_BILINEAR);
    while (!stopFlag_ && frame && packet) {
        std::vector<uint8_t> data;
        {
            std::unique_lock<std::mutex> lock(liveMutex_);
            liveArrived_.wait_for(lock, 100ms, [this] { return stopFlag_ || !liveQueue_.empty(); });
            if (stopFlag_) break;
            if (liveQueue_.empty()) continue;
            data = std::move(liveQueue_.front());
            liveQueue_.pop_front();
            liveBytes_ -= data.size();
        }
        // The decoder reads up to 64 bytes past the end.
        data.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        packet->data = data.data();
        packet->size = int(data.size() - AV_INPUT_BUFFER_PADDING_SIZE);
        const int rc = avcodec_send_packet(videoDecoder_, packet);
        av_packet_unref(packet);
        if (rc < 0 && rc != AVERROR(EAGAIN)) continue;
        while (avcodec_receive_frame(videoDecoder_, frame) == 0) {
            if (scaler.prepare(frame, output_.displaySize(), mirroring())) {
                videoWidth_ = frame->width;
                videoHeight_ = frame->height;
            }
            scaler.show(frame, output_);
            av_frame_unref(frame);
        }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
}

}  // namespace media
