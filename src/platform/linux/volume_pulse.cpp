// Master volume through PulseAudio (also PipeWire's pulse server). Requests
// are carried out on the control's own thread, so a slow or hung sound server
// never holds up the session that asked; every step has a deadline.
#include "platform/volume_control.h"
#include "support/clock.h"
#include "support/logger.h"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace platform {
namespace {

constexpr int64_t kRequestDeadlineMs = 2000;

class PulseVolumeControl : public VolumeControl {
public:
    PulseVolumeControl() : worker_([this] { run(); }) {}

    ~PulseVolumeControl() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            if (loop_) pa_mainloop_wakeup(loop_);
        }
        changed_.notify_all();
        worker_.join();
    }

    void setMasterVolume(int percent) override {
        if (percent < 0 || percent > 100) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pending_ = percent;  // only the latest level matters
        }
        changed_.notify_all();
    }

    bool waitIdle(int timeoutMs) override {
        std::unique_lock<std::mutex> lock(mutex_);
        return idle_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return !pending_ && !busy_; });
    }

private:
    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stop_ || pending_; });
            if (stop_) break;
            const int percent = *pending_;
            pending_.reset();
            busy_ = true;
            lock.unlock();
            apply(percent);
            lock.lock();
            busy_ = false;
            if (!pending_) idle_.notify_all();
        }
        pending_.reset();
        idle_.notify_all();
    }

    // Runs the loop until `done` or the deadline; false on time-out, stop or error.
    bool runUntil(pa_mainloop* loop, const std::function<bool()>& done, int64_t deadline) {
        while (!done()) {
            if (stop_) return false;
            const int64_t left = deadline - support::gettime2();
            if (left <= 0) return false;
            if (pa_mainloop_prepare(loop, int(left * 1000)) < 0 || pa_mainloop_poll(loop) < 0 ||
                pa_mainloop_dispatch(loop) < 0)
                return false;
        }
        return true;
    }

    bool waitOperation(pa_mainloop* loop, pa_operation* op, int64_t deadline) {
        if (!op) return false;
        const bool ok = runUntil(
            loop, [&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, deadline);
        if (!ok) pa_operation_cancel(op);
        pa_operation_unref(op);
        return ok;
    }

    struct SinkState {
        std::string defaultSink;
        bool haveSink = false;
        pa_channel_map map{};
        uint8_t channels = 0;
        bool muted = false;
        bool success = true;
    };

    void apply(int percent) {
        pa_mainloop* loop = pa_mainloop_new();
        if (!loop) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            loop_ = loop;
        }
        const int64_t deadline = support::gettime2() + kRequestDeadlineMs;
        pa_context* ctx = pa_context_new(pa_mainloop_get_api(loop), "Lumacro3");
        if (ctx && pa_context_connect(ctx, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
            runUntil(loop, [&] { return PA_CONTEXT_IS_GOOD(pa_context_get_state(ctx)) == 0 ||
                                        pa_context_get_state(ctx) == PA_CONTEXT_READY; },
                     deadline) &&
            pa_context_get_state(ctx) == PA_CONTEXT_READY) {
            applyOn(loop, ctx, percent, deadline);
        } else {
            LOGOUT("volume: no sound server, level %d not set", percent);
        }
        if (ctx) {
            pa_context_disconnect(ctx);
            pa_context_unref(ctx);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            loop_ = nullptr;
        }
        pa_mainloop_free(loop);
    }

    void applyOn(pa_mainloop* loop, pa_context* ctx, int percent, int64_t deadline) {
        SinkState state;
        auto serverInfo = [](pa_context*, const pa_server_info* info, void* user) {
            auto* s = static_cast<SinkState*>(user);
            if (info && info->default_sink_name) s->defaultSink = info->default_sink_name;
        };
        if (!waitOperation(loop, pa_context_get_server_info(ctx, serverInfo, &state), deadline) ||
            state.defaultSink.empty()) {
            LOGOUT("volume: no default sound output");
            return;
        }
        auto sinkInfo = [](pa_context*, const pa_sink_info* info, int eol, void* user) {
            auto* s = static_cast<SinkState*>(user);
            if (eol || !info) return;
            s->haveSink = true;
            s->map = info->channel_map;
            s->channels = info->volume.channels;
            s->muted = info->mute != 0;
        };
        const char* sink = state.defaultSink.c_str();
        if (!waitOperation(loop, pa_context_get_sink_info_by_name(ctx, sink, sinkInfo, &state), deadline) ||
            !state.haveSink || state.channels == 0) {
            LOGOUT("volume: sound output %s not found", sink);
            return;
        }
        auto done = [](pa_context*, int success, void* user) {
            static_cast<SinkState*>(user)->success = success != 0;
        };
        if (state.muted && percent != 0) {
            if (!waitOperation(loop, pa_context_set_sink_mute_by_name(ctx, sink, 0, done, &state), deadline) ||
                !state.success) {
                LOGOUT("volume: unmute failed");
                return;
            }
        }
        pa_cvolume level;
        pa_cvolume_set(&level, state.channels, pa_volume_t(uint64_t(PA_VOLUME_NORM) * unsigned(percent) / 100));
        if (!waitOperation(loop, pa_context_set_sink_volume_by_name(ctx, sink, &level, done, &state), deadline) ||
            !state.success)
            LOGOUT("volume: setting level %d failed", percent);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::condition_variable idle_;
    std::optional<int> pending_;
    bool busy_ = false;
    std::atomic<bool> stop_{false};
    pa_mainloop* loop_ = nullptr;
    std::thread worker_;  // last: starts after the members above exist
};

}  // namespace

std::unique_ptr<VolumeControl> makePulseVolumeControl() { return std::make_unique<PulseVolumeControl>(); }

}  // namespace platform
