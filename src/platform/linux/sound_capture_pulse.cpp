// Sound capture through PulseAudio's threaded main loop (PipeWire's pulse
// server works the same way). Each listing opens a short-lived connection;
// each stream keeps its own connection and buffers what arrives until the
// owner takes it.
#include "platform/sound_capture.h"

#include "platform/linux/captured_sound.h"
#include "support/logger.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

// How much a stream keeps for an owner that does not take it in time.
constexpr int kStreamBufferMs = 2000;

class PulseConnection {
public:
    PulseConnection() = default;
    ~PulseConnection() {
        if (loop_) pa_threaded_mainloop_stop(loop_);
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        if (loop_) pa_threaded_mainloop_free(loop_);
    }
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    bool connect() {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) return false;
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Lumacro3");
        if (!context_) return false;
        pa_context_set_state_callback(context_, &PulseConnection::onState, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
        Lock lock(*this);
        if (pa_threaded_mainloop_start(loop_) < 0) return false;
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context_);
            if (state == PA_CONTEXT_READY) return true;
            if (!PA_CONTEXT_IS_GOOD(state)) return false;
            pa_threaded_mainloop_wait(loop_);
        }
    }

    // Waits for an operation, with the loop locked; releases it.
    void wait(pa_operation* op) {
        if (!op) return;
        while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop_);
        pa_operation_unref(op);
    }
    void signal() { pa_threaded_mainloop_signal(loop_, 0); }

    struct Lock {
        explicit Lock(PulseConnection& c) : loop(c.loop_) { pa_threaded_mainloop_lock(loop); }
        ~Lock() { pa_threaded_mainloop_unlock(loop); }
        pa_threaded_mainloop* loop;
    };

    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }

private:
    static void onState(pa_context*, void* self) { static_cast<PulseConnection*>(self)->signal(); }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
};

struct SinkFacts {
    std::string monitor;
    pa_sample_spec sampleFormat{};
    bool found = false;
};

// Default output's monitor source and sample format.
SinkFacts defaultSink(PulseConnection& c) {
    struct Query {
        PulseConnection* c;
        std::string defaultSink;
        SinkFacts facts;
    } q{&c, {}, {}};
    PulseConnection::Lock lock(c);
    c.wait(pa_context_get_server_info(
        c.context(),
        [](pa_context*, const pa_server_info* info, void* user) {
            auto* q = static_cast<Query*>(user);
            if (info && info->default_sink_name) q->defaultSink = info->default_sink_name;
            q->c->signal();
        },
        &q));
    if (q.defaultSink.empty()) return {};
    c.wait(pa_context_get_sink_info_by_name(
        c.context(), q.defaultSink.c_str(),
        [](pa_context*, const pa_sink_info* info, int eol, void* user) {
            auto* q = static_cast<Query*>(user);
            if (info && eol == 0) {
                if (info->monitor_source_name) q->facts.monitor = info->monitor_source_name;
                q->facts.sampleFormat = info->sample_spec;
                q->facts.found = true;
            }
            q->c->signal();
        },
        &q));
    return q.facts;
}

class PulseStream : public SoundStream {
public:
    PulseStream(std::unique_ptr<PulseConnection> connection, const SoundFormat& format,
                int bufferFrames)
        : connection_(std::move(connection)), format_(format), bufferFrames_(bufferFrames) {
        const size_t frameBytes = size_t(format.channels * format.bitsPerSample / 8);
        sound_.setFormat(frameBytes, size_t(format.sampleRate) * frameBytes * kStreamBufferMs / 1000);
    }

    ~PulseStream() override {
        stop();
        if (stream_) {
            PulseConnection::Lock lock(*connection_);
            pa_stream_set_read_callback(stream_, nullptr, nullptr);
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        connection_.reset();
    }

    bool connect(const std::string& source, bool corked, int fragmentMs) {
        pa_sample_spec sampleFormat{};
        sampleFormat.format = format_.isFloat ? PA_SAMPLE_FLOAT32LE : PA_SAMPLE_S16LE;
        sampleFormat.rate = uint32_t(format_.sampleRate);
        sampleFormat.channels = uint8_t(format_.channels);
        if (!pa_sample_spec_valid(&sampleFormat) || format_.bitsPerSample != (format_.isFloat ? 32 : 16))
            return false;
        PulseConnection::Lock lock(*connection_);
        stream_ = pa_stream_new(connection_->context(), "Lumacro3 capture", &sampleFormat, nullptr);
        if (!stream_) return false;
        pa_stream_set_state_callback(stream_, &PulseStream::onState, this);
        pa_stream_set_read_callback(stream_, &PulseStream::onRead, this);
        pa_buffer_attr attr;
        std::memset(&attr, 0xff, sizeof attr);
        attr.fragsize = uint32_t(pa_usec_to_bytes(pa_usec_t(fragmentMs) * 1000, &sampleFormat));
        auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | (corked ? PA_STREAM_START_CORKED : 0));
        if (pa_stream_connect_record(stream_, source.c_str(), &attr, flags) < 0) return false;
        for (;;) {
            const pa_stream_state_t state = pa_stream_get_state(stream_);
            if (state == PA_STREAM_READY) return true;
            if (!PA_STREAM_IS_GOOD(state)) return false;
            pa_threaded_mainloop_wait(connection_->loop());
        }
    }

    SoundFormat format() const override { return format_; }
    int bufferFrames() const override { return bufferFrames_; }

    bool start() override {
        if (!sound_.open()) return false;
        PulseConnection::Lock lock(*connection_);
        if (pa_stream_is_corked(stream_) > 0)
            connection_->wait(pa_stream_cork(stream_, 0, &PulseStream::onDone, this));
        return true;
    }

    void stop() override { sound_.close(); }
    bool wait(size_t minBytes, int timeoutMs) override { return sound_.wait(minBytes, timeoutMs); }
    size_t read(void* dest, size_t max) override { return sound_.read(dest, max); }
    uint64_t dropped() const override { return sound_.dropped(); }

private:
    static void onDone(pa_stream*, int, void* self) {
        static_cast<PulseStream*>(self)->connection_->signal();
    }

    static void onState(pa_stream* s, void* self) {
        auto* me = static_cast<PulseStream*>(self);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s))) me->sound_.fail();
        me->connection_->signal();
    }

    static void onRead(pa_stream* s, size_t, void* self) {
        auto* me = static_cast<PulseStream*>(self);
        const void* data = nullptr;
        size_t n = 0;
        while (pa_stream_readable_size(s) > 0) {
            if (pa_stream_peek(s, &data, &n) < 0) return;
            if (n == 0) return;
            if (data) me->sound_.append(static_cast<const uint8_t*>(data), n);
            pa_stream_drop(s);
        }
    }

    std::unique_ptr<PulseConnection> connection_;
    pa_stream* stream_ = nullptr;
    SoundFormat format_;
    int bufferFrames_;
    CapturedSound sound_;
};

class SystemSoundCapture : public SoundCapture {
public:
    bool serverRunning() override {
        PulseConnection c;
        return c.connect();
    }

    std::vector<CaptureSourceInfo> captureSources() override {
        std::vector<CaptureSourceInfo> out;
        PulseConnection c;
        if (!c.connect()) return out;
        struct Query {
            PulseConnection* c;
            std::vector<CaptureSourceInfo>* out;
        } q{&c, &out};
        PulseConnection::Lock lock(c);
        c.wait(pa_context_get_source_info_list(
            c.context(),
            [](pa_context*, const pa_source_info* info, int eol, void* user) {
                auto* q = static_cast<Query*>(user);
                if (info && eol == 0 && info->monitor_of_sink == PA_INVALID_INDEX && info->name) {
                    CaptureSourceInfo s;
                    s.name = info->name;
                    s.description = info->description ? info->description : info->name;
                    if (const char* ff = pa_proplist_gets(info->proplist, PA_PROP_DEVICE_FORM_FACTOR))
                        s.formFactor = ff;
                    q->out->push_back(std::move(s));
                }
                if (eol) q->c->signal();
            },
            &q));
        return out;
    }

    std::string loopbackSource() override {
        PulseConnection c;
        if (!c.connect()) return {};
        return defaultSink(c).monitor;
    }

    std::vector<std::string> namedDevices() override;

    std::unique_ptr<SoundStream> openSource(const std::string& name,
                                            const SoundFormat& format) override {
        auto c = std::make_unique<PulseConnection>();
        if (!c->connect()) return nullptr;
        // Blocks of 4096 frames are what the owner takes; 20 ms fragments
        // keep the latency low.
        auto stream = std::make_unique<PulseStream>(std::move(c), format, 4096);
        if (!stream->connect(name, true, 20)) {
            LOGOUT("sound capture: cannot open source %s", name.c_str());
            return nullptr;
        }
        return stream;
    }

    std::unique_ptr<SoundStream> openLoopback(int bufferMs) override {
        auto c = std::make_unique<PulseConnection>();
        if (!c->connect()) return nullptr;
        const SinkFacts sink = defaultSink(*c);
        if (!sink.found || sink.monitor.empty()) return nullptr;
        SoundFormat format;
        format.channels = sink.sampleFormat.channels;
        format.sampleRate = int(sink.sampleFormat.rate);
        format.bitsPerSample = 32;
        format.isFloat = true;
        const int frames = int(int64_t(format.sampleRate) * bufferMs / 1000);
        auto stream = std::make_unique<PulseStream>(std::move(c), format, frames);
        // Sound arrives in half-buffer fragments; it is kept from the start
        // of start() on.
        if (!stream->connect(sink.monitor, false, std::max(bufferMs / 2, 5))) {
            LOGOUT("sound capture: cannot open the monitor %s", sink.monitor.c_str());
            return nullptr;
        }
        return stream;
    }

    std::unique_ptr<SoundStream> openNamed(const std::string& displayName,
                                           const SoundFormat& format) override;
};

}  // namespace

// Declared in the ALSA part.
std::vector<std::string> alsaCaptureDevices();
std::unique_ptr<SoundStream> openAlsaCapture(const std::string& displayName, const SoundFormat& format);

std::vector<std::string> SystemSoundCapture::namedDevices() {
    // With a server every capture device is one of its sources already.
    if (serverRunning()) return {};
    return alsaCaptureDevices();
}

std::unique_ptr<SoundStream> SystemSoundCapture::openNamed(const std::string& displayName,
                                                           const SoundFormat& format) {
    return openAlsaCapture(displayName, format);
}

std::unique_ptr<SoundCapture> makeSystemSoundCapture() {
    return std::make_unique<SystemSoundCapture>();
}

}  // namespace platform
