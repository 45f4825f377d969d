#include "ui/settings/hotspot_wait.h"

#include "support/logger.h"
#include "support/thread_pool.h"
#include "ui/connect/hotspot.h"

#include <condition_variable>
#include <mutex>

namespace ui::settings {

struct HotspotAddressWait::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool stop = false;
    bool running = false;

    // Sleeps unless stopped first; false when stopped.
    bool sleep(std::chrono::milliseconds time) {
        std::unique_lock<std::mutex> lock(mutex);
        return !changed.wait_for(lock, time, [this] { return stop; });
    }
};

HotspotAddressWait::HotspotAddressWait(welcome::Hotspot& hotspot, std::function<void(const std::string&)> found,
                                       HotspotWaitTimes times)
    : hotspot_(hotspot), found_(std::move(found)), times_(times), state_(std::make_shared<State>()) {}

HotspotAddressWait::~HotspotAddressWait() {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->stop = true;
    state_->changed.notify_all();
    state_->changed.wait(lock, [this] { return !state_->running; });
}

bool HotspotAddressWait::running() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->running;
}

bool HotspotAddressWait::start(support::ThreadPool& pool) {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->running || state_->stop) return false;
        state_->running = true;
    }
    // The job holds the state; the owner waits for `running` to clear before
    // the hotspot and the callback go.
    std::shared_ptr<State> state = state_;
    const bool queued = pool.submit([this, state] {
        int empty = 0, unusable = 0;
        std::string address;
        bool ok = state->sleep(times_.first);
        while (ok) {
            address = hotspot_.hostedNetworkAddress();
            if (welcome::isUsableHotspotAddress(address)) break;
            if (address.empty()) {
                if (++empty >= times_.emptyLimit) {
                    ok = false;
                    break;
                }
                ok = state->sleep(times_.empty);
            } else {
                if (++unusable >= times_.unusableLimit) {
                    LOGOUT("hotspot: no usable address (last %s), giving up", address.c_str());
                    ok = false;
                    break;
                }
                ok = state->sleep(times_.unusable);
            }
        }
        if (ok) {
            LOGOUT("hotspot address %s", address.c_str());
            if (found_) found_(address);
        }
        std::lock_guard<std::mutex> lock(state->mutex);
        state->running = false;
        state->changed.notify_all();
    });
    if (!queued) {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->running = false;
        state_->changed.notify_all();
    }
    return queued;
}

}  // namespace ui::settings
