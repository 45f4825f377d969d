#include "record/voice_decoder.h"

#include "support/logger.h"

#include <neaacdec.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>
#include <vector>

namespace record {

namespace {
constexpr int kRate = 44100;

// AAC-LC, 44.1 kHz, two channels: taken when the phone sends raw frames
// without a configuration first.
unsigned char kDefaultConfig[2] = {0x12, 0x10};

// Whether a message can be an AudioSpecificConfig: a few bytes naming an
// AAC object type the phones use (Main, LC, SBR, PS), a sampling rate from
// the table and a channel layout. A raw frame starts with a syntax element
// and its tag instead, which reads as none of these for the usual tag 0.
bool looksLikeConfig(const uint8_t* data, size_t length) {
    if (length < 2 || length > 16) return false;
    const int objectType = data[0] >> 3;
    const int rateIndex = ((data[0] & 7) << 1) | (data[1] >> 7);
    const int channels = (data[1] >> 3) & 0xf;
    const bool knownType = objectType == 1 || objectType == 2 || objectType == 5 || objectType == 29;
    return knownType && rateIndex <= 12 && channels >= 1 && channels <= 7;
}
}  // namespace

VoiceDecoder::VoiceDecoder(Sink sink) : sink_(std::move(sink)) {
    handle_ = NeAACDecOpen();
    if (!handle_) return;
    NeAACDecConfigurationPtr config = NeAACDecGetCurrentConfiguration(handle_);
    config->outputFormat = FAAD_FMT_16BIT;
    config->downMatrix = 1;
    NeAACDecSetConfiguration(handle_, config);
}

VoiceDecoder::~VoiceDecoder() {
    if (handle_) NeAACDecClose(handle_);
    swr_free(&resampler_);
}

size_t VoiceDecoder::decode(const uint8_t* data, size_t length) {
    if (!handle_ || !data || length == 0) return 0;
    auto* bytes = const_cast<unsigned char*>(data);
    size_t pos = 0;
    if (!initialised_) {
        unsigned long rate = 0;
        unsigned char channels = 0;
        const bool adts = length >= 2 && data[0] == 0xff && (data[1] & 0xf6) == 0xf0;
        if (adts) {
            const long used = NeAACDecInit(handle_, bytes, static_cast<unsigned long>(length), &rate, &channels);
            if (used < 0) {
                LOGOUT("voice: cannot read the AAC stream header");
                return 0;
            }
            pos = size_t(used);
        } else if (looksLikeConfig(data, length) &&
                   NeAACDecInit2(handle_, bytes, static_cast<unsigned long>(length), &rate, &channels) >= 0) {
            // Raw frames follow; this message is their configuration.
            pos = length;
        } else {
            // Raw frames without a configuration: the first one is decoded
            // like the rest, with the defaults.
            if (NeAACDecInit2(handle_, kDefaultConfig, sizeof kDefaultConfig, &rate, &channels) < 0) {
                LOGOUT("voice: cannot set up the AAC decoder");
                return 0;
            }
            LOGOUT("voice: raw AAC without a configuration, taken as 44100 Hz stereo");
        }
        initialised_ = true;
    }
    produced_ = 0;
    while (pos < length) {
        NeAACDecFrameInfo info{};
        void* samples = NeAACDecDecode(handle_, &info, bytes + pos, static_cast<unsigned long>(length - pos));
        if (info.error) {
            LOGOUT("voice: %s", NeAACDecGetErrorMessage(info.error));
            break;
        }
        if (info.bytesconsumed == 0) break;
        pos += info.bytesconsumed;
        if (samples && info.samples > 0 && info.channels > 0)
            collect(static_cast<const int16_t*>(samples), info.samples, info.channels, info.samplerate);
    }
    flush();
    return produced_;
}

// Collects stereo 44.1 kHz PCM in the output buffer. A frame that does not fit
// the room left sends what is collected first, so nothing is overwritten or
// lost however much one message holds.
void VoiceDecoder::collect(const int16_t* samples, size_t count, int channels, unsigned long rate) {
    std::vector<int16_t> converted;
    if (channels != 2 || rate != kRate) {
        if (!resampler_ || resamplerChannels_ != channels || resamplerRate_ != rate) {
            swr_free(&resampler_);
            AVChannelLayout in{}, out{};
            av_channel_layout_default(&in, channels);
            av_channel_layout_default(&out, 2);
            if (swr_alloc_set_opts2(&resampler_, &out, AV_SAMPLE_FMT_S16, kRate, &in, AV_SAMPLE_FMT_S16,
                                    int(rate), 0, nullptr) < 0 ||
                swr_init(resampler_) < 0) {
                swr_free(&resampler_);
                return;
            }
            resamplerChannels_ = channels;
            resamplerRate_ = rate;
        }
        const int inFrames = int(count / size_t(channels));
        const int outFrames = int(int64_t(inFrames) * kRate / int64_t(rate)) + 256;
        converted.resize(size_t(outFrames) * 2);
        auto* out = reinterpret_cast<uint8_t*>(converted.data());
        auto* in = reinterpret_cast<const uint8_t*>(samples);
        const int got = swr_convert(resampler_, &out, outFrames, &in, inFrames);
        if (got <= 0) return;
        converted.resize(size_t(got) * 2);
        samples = converted.data();
        count = converted.size();
    }
    const auto* pcm = reinterpret_cast<const uint8_t*>(samples);
    size_t bytes = count * 2;
    while (bytes > 0) {
        if (outputUsed_ == kOutputBytes) flush();
        const size_t n = std::min(bytes, kOutputBytes - outputUsed_);
        std::memcpy(output_ + outputUsed_, pcm, n);
        outputUsed_ += n;
        pcm += n;
        bytes -= n;
    }
}

void VoiceDecoder::flush() {
    if (outputUsed_ == 0) return;
    if (sink_) sink_(output_, outputUsed_);
    produced_ += outputUsed_;
    outputUsed_ = 0;
}

}  // namespace record
