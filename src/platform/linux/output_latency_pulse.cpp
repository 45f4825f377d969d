// Playback latency of one of our own streams, from the server's sink-input
// list: "buffer_usec" is what the server still holds of the stream, and
// "sink_usec" the sink's latency after that. One measure at a time, from
// one thread (the owner's).
#include "platform/output_latency.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>

namespace platform {
namespace {

int64_t steadyUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

class PulseOutputLatency : public OutputLatency {
public:
    PulseOutputLatency() : pid_(std::to_string(getpid())) {}
    ~PulseOutputLatency() override { disconnect(); }

    bool measure(const std::string& streamName, Sample& sample, int timeoutMs) override {
        const int64_t deadline = steadyUs() + int64_t(timeoutMs) * 1000;
        if (!connected(deadline)) return false;
        struct Found {
            const std::string* pid;
            const std::string* name;
            bool found = false;
            int64_t queuedUs = 0;
        } found{&pid_, &streamName};
        auto each = [](pa_context*, const pa_sink_input_info* info, int eol, void* user) {
            auto* f = static_cast<Found*>(user);
            if (eol || !info || f->found || !info->proplist) return;
            const char* pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
            const char* name = pa_proplist_gets(info->proplist, PA_PROP_MEDIA_NAME);
            if (!pid || !name || *f->pid != pid || *f->name != name) return;
            f->found = true;
            f->queuedUs = int64_t(info->buffer_usec) + int64_t(info->sink_usec);
        };
        const int64_t asked = steadyUs();
        pa_operation* op = pa_context_get_sink_input_info_list(context_, each, &found);
        if (!waitOperation(op, deadline)) {
            // A server that does not answer is asked again on a fresh connection.
            disconnect();
            return false;
        }
        if (!found.found) return false;
        // The server measured somewhere between question and answer; on a
        // local socket both are well under a millisecond apart.
        sample.queuedUs = found.queuedUs;
        sample.atUs = asked + (steadyUs() - asked) / 2;
        return true;
    }

private:
    bool connected(int64_t deadline) {
        if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) return true;
        disconnect();
        loop_ = pa_mainloop_new();
        if (!loop_) return false;
        context_ = pa_context_new(pa_mainloop_get_api(loop_), "Lumacro3 latency");
        if (!context_ || pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            disconnect();
            return false;
        }
        const bool ok = runUntil(
            [&] {
                const pa_context_state_t s = pa_context_get_state(context_);
                return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
            },
            deadline);
        if (!ok || pa_context_get_state(context_) != PA_CONTEXT_READY) {
            disconnect();
            return false;
        }
        return true;
    }

    void disconnect() {
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        if (loop_) {
            pa_mainloop_free(loop_);
            loop_ = nullptr;
        }
    }

    bool runUntil(const std::function<bool()>& done, int64_t deadline) {
        while (!done()) {
            const int64_t left = deadline - steadyUs();
            if (left <= 0) return false;
            if (pa_mainloop_prepare(loop_, int(left)) < 0 || pa_mainloop_poll(loop_) < 0 ||
                pa_mainloop_dispatch(loop_) < 0)
                return false;
        }
        return true;
    }

    bool waitOperation(pa_operation* op, int64_t deadline) {
        if (!op) return false;
        const bool ok =
            runUntil([&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, deadline);
        if (!ok) pa_operation_cancel(op);
        const bool done = ok && pa_operation_get_state(op) == PA_OPERATION_DONE;
        pa_operation_unref(op);
        return done;
    }

    const std::string pid_;
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
};

}  // namespace

std::unique_ptr<OutputLatency> makePulseOutputLatency() { return std::make_unique<PulseOutputLatency>(); }

}  // namespace platform
