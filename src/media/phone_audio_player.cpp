#include "media/phone_audio_player.h"

#include "audio/pcm_output.h"
#include "support/logger.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>

namespace media {

PhoneAudioPlayer::~PhoneAudioPlayer() { stop(); }

void PhoneAudioPlayer::start(int channels, int sampleRate, const uint8_t* config, size_t length) {
    stop();
    std::lock_guard<std::mutex> control(controlMutex_);
    if (config && length > kMaxConfig) {
        LOGOUT("phone audio: configuration of %zu bytes rejected", length);
        return;
    }
    if (sampleRate <= 0 || sampleRate > 384000) {
        LOGOUT("phone audio: sample rate %d rejected", sampleRate);
        return;
    }
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
    decoder_ = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!decoder_) return;
    decoder_->request_sample_fmt = AV_SAMPLE_FMT_S16;
    if (channels == 2)
        decoder_->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    else
        decoder_->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    decoder_->time_base = AVRational{1, sampleRate};
    decoder_->sample_rate = sampleRate;
    if (config && length > 0) {
        decoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        decoder_->extradata = static_cast<uint8_t*>(av_mallocz(kMaxConfig + AV_INPUT_BUFFER_PADDING_SIZE));
        if (decoder_->extradata) {
            std::memcpy(decoder_->extradata, config, length);
            decoder_->extradata_size = int(length);
        }
    }
    if (avcodec_open2(decoder_, codec, nullptr) < 0) {
        LOGOUT("phone audio: AAC decoder not opened");
        avcodec_free_context(&decoder_);
        return;
    }
    accepting_ = true;
    if (mode_ != Output::Pulled) {
        output_ = std::make_unique<audio::PcmOutput>();
        auto fillFn = [this](uint8_t* b, int n) { fill(b, n); };
        if (mode_ == Output::ClockOnly || !output_->open(fillFn, kFramesPerHalf))
            output_->openClockOnly(fillFn, kFramesPerHalf);
        output_->start();
    }
    LOGOUT("phone audio: %d channels at %d Hz", channels, sampleRate);
}

void PhoneAudioPlayer::data(const uint8_t* frame, size_t length) {
    if (!accepting_ || !frame || length == 0) return;
    std::lock_guard<std::mutex> lock(packetMutex_);
    // Sound that piles up is late: the whole backlog goes.
    if (packets_.size() > kLatencyCap) packets_.clear();
    std::vector<uint8_t> copy(length + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::memcpy(copy.data(), frame, length);
    packets_.push_back(std::move(copy));
}

void PhoneAudioPlayer::stop() {
    std::lock_guard<std::mutex> control(controlMutex_);
    accepting_ = false;
    if (output_) {
        output_->close();
        output_.reset();
    }
    if (decoder_) {
        avcodec_flush_buffers(decoder_);
        avcodec_free_context(&decoder_);
    }
    swr_free(&resampler_);
    pcmLeftover_.clear();
    leftoverPos_ = 0;
    std::lock_guard<std::mutex> lock(packetMutex_);
    packets_.clear();
}

bool PhoneAudioPlayer::playing() { return accepting_; }

size_t PhoneAudioPlayer::queued() {
    std::lock_guard<std::mutex> lock(packetMutex_);
    return packets_.size();
}

void PhoneAudioPlayer::fill(uint8_t* buffer, int size) {
    const size_t n = size_t(std::max(size, 0));
    size_t filled = std::min(n, pcmLeftover_.size() - leftoverPos_);
    if (filled > 0) std::memcpy(buffer, pcmLeftover_.data() + leftoverPos_, filled);
    leftoverPos_ += filled;
    if (leftoverPos_ >= pcmLeftover_.size()) {
        pcmLeftover_.clear();
        leftoverPos_ = 0;
    }
    AVFrame* frame = filled < n && decoder_ ? av_frame_alloc() : nullptr;
    AVPacket* packet = frame ? av_packet_alloc() : nullptr;
    std::vector<uint8_t> out;
    while (filled < n && packet) {
        std::vector<uint8_t> data;
        {
            std::lock_guard<std::mutex> lock(packetMutex_);
            if (packets_.empty()) break;
            data = std::move(packets_.front());
            packets_.pop_front();
        }
        packet->data = data.data();
        packet->size = int(data.size() - AV_INPUT_BUFFER_PADDING_SIZE);
        const int rc = avcodec_send_packet(decoder_, packet);
        av_packet_unref(packet);
        if (rc < 0) continue;  // a corrupt frame: on to the next
        while (avcodec_receive_frame(decoder_, frame) == 0) {
            if (!resampler_) {
                AVChannelLayout in{};
                if (frame->ch_layout.nb_channels > 0 && frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC)
                    av_channel_layout_copy(&in, &frame->ch_layout);
                else
                    av_channel_layout_default(&in, std::max(frame->ch_layout.nb_channels, 1));
                AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
                if (swr_alloc_set_opts2(&resampler_, &stereo, AV_SAMPLE_FMT_S16, audio::PcmOutput::kSampleRate, &in,
                                        AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr) < 0 ||
                    swr_init(resampler_) < 0)
                    swr_free(&resampler_);
                av_channel_layout_uninit(&in);
            }
            if (resampler_ && frame->sample_rate > 0) {
                const int room =
                    int(int64_t(frame->nb_samples) * audio::PcmOutput::kSampleRate / frame->sample_rate) + 256;
                out.resize(size_t(room) * 4);
                uint8_t* dst[1] = {out.data()};
                const int got = swr_convert(resampler_, dst, room,
                                            const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
                if (got > 0) {
                    framesOut_ += got;
                    const size_t bytes = size_t(got) * 4;
                    const size_t take = std::min(bytes, n - filled);
                    std::memcpy(buffer + filled, out.data(), take);
                    filled += take;
                    pcmLeftover_.insert(pcmLeftover_.end(), out.begin() + take, out.begin() + bytes);
                }
            }
            av_frame_unref(frame);
        }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    if (filled < n) std::memset(buffer + filled, 0, n - filled);
}

}  // namespace media
