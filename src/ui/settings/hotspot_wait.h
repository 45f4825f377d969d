// The hotspot page's wait for the hotspot's address, on a pool thread: once
// the hosting device has a usable address the program is restarted on it.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace support {
class ThreadPool;
}
namespace ui::welcome {
class Hotspot;
}

namespace ui::settings {

struct HotspotWaitTimes {
    std::chrono::milliseconds first{3000};     // before the first look
    std::chrono::milliseconds empty{3000};     // after a look that found no address
    std::chrono::milliseconds unusable{5000};  // after a link-local or zero address
    int emptyLimit = 6;       // empty looks before giving up silently
    int unusableLimit = 60;   // unusable looks before giving up (five minutes)
};

class HotspotAddressWait {
public:
    // `found` runs on the pool thread with the first usable address.
    HotspotAddressWait(welcome::Hotspot& hotspot, std::function<void(const std::string&)> found,
                       HotspotWaitTimes times = {});
    // Ends a running wait and waits until its thread has let go of the
    // hotspot and the callback.
    ~HotspotAddressWait();
    HotspotAddressWait(const HotspotAddressWait&) = delete;
    HotspotAddressWait& operator=(const HotspotAddressWait&) = delete;

    // Queues the wait; false when one runs already or the pool refuses it.
    bool start(support::ThreadPool& pool);
    bool running() const;

    struct State;

private:
    welcome::Hotspot& hotspot_;
    std::function<void(const std::string&)> found_;
    HotspotWaitTimes times_;
    std::shared_ptr<State> state_;
};

}  // namespace ui::settings
