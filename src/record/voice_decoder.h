// The phone's voice while it records: AAC (ADTS frames, or raw frames after a
// first message that holds the decoder configuration, or raw frames alone,
// taken as 44.1 kHz stereo LC) decoded with FAAD2 to 44,100 Hz stereo signed
// 16-bit PCM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>


struct SwrContext;

namespace record {

class VoiceDecoder {
public:
    static constexpr size_t kOutputBytes = 8192;
    // Receives decoded PCM (44.1 kHz stereo s16), in pieces of at most kOutputBytes.
    using Sink = std::function<void(const uint8_t* pcm, size_t length)>;

    explicit VoiceDecoder(Sink sink);
    ~VoiceDecoder();
    VoiceDecoder(const VoiceDecoder&) = delete;
    VoiceDecoder& operator=(const VoiceDecoder&) = delete;

    bool initialised() const { return initialised_; }
    // Decodes one message's tail; the first one initialises the decoder
    // (an ADTS header or a configuration; otherwise it is the first raw
    // frame). Returns the PCM bytes produced.
    size_t decode(const uint8_t* data, size_t length);

private:
    // Sends what is collected in output_ to the sink.
    void flush();
    void collect(const int16_t* samples, size_t count, int channels, unsigned long rate);

    void* handle_ = nullptr;  // FAAD2 decoder
    bool initialised_ = false;
    Sink sink_;
    uint8_t output_[kOutputBytes];
    size_t outputUsed_ = 0;
    size_t produced_ = 0;
    SwrContext* resampler_ = nullptr;
    int resamplerChannels_ = 0;
    unsigned long resamplerRate_ = 0;
};

}  // namespace record
