// Lets session threads into the features until the program starts to free
// them. Every delivery from the session server (and the server's remote
// record commands) passes the gate; shutdown closes it before the first
// feature is freed: new deliveries are refused and close() returns once the
// ones already inside have left.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace ui {

class DispatchGate {
public:
    // Held for the length of one delivery; false when the gate refused it.
    class Pass {
    public:
        Pass() = default;
        Pass(Pass&& other) noexcept : gate_(other.gate_) { other.gate_ = nullptr; }
        Pass& operator=(Pass&&) = delete;
        ~Pass() {
            if (gate_) gate_->leave();
        }
        explicit operator bool() const { return gate_ != nullptr; }

    private:
        friend class DispatchGate;
        explicit Pass(DispatchGate* gate) : gate_(gate) {}
        DispatchGate* gate_ = nullptr;
    };

    DispatchGate() = default;
    DispatchGate(const DispatchGate&) = delete;
    DispatchGate& operator=(const DispatchGate&) = delete;

    // Waits while the gate is held (start-up has not finished wiring the
    // features), then lets the delivery in, or refuses it once closed.
    Pass enter();
    // Deliveries wait in enter() until open(): the program holds the gate
    // from before its session server starts until every feature is in place,
    // so no session thread reads the feature table while it is written.
    void hold();
    void open();
    // Refuses every later enter() at once; returns when no delivery is inside.
    // A delivery that waits for the UI thread must be let go by its waiter
    // (the main hub stops serving synchronous sends first).
    void close();
    bool closed() const;
    // Deliveries refused since close().
    uint64_t refused() const;

private:
    void leave();

    mutable std::mutex mutex_;
    std::condition_variable idle_;
    std::condition_variable opened_;
    int inside_ = 0;
    bool closed_ = false;
    bool held_ = false;
    uint64_t refused_ = 0;
};

}  // namespace ui
