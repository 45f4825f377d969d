#include "capture/screen_capture_service.h"

#include "platform/screen_grabber.h"
#include "support/clock.h"
#include "support/logger.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace capture {

namespace {

constexpr float kMinRate = 5.0f;

// Lets a queued cursor nudge end early once the service is gone, so the job
// never touches the pointer after the destructor returned.
struct NudgeGate {
    std::mutex mutex;
    std::condition_variable wake;
    bool cancelled = false;

    // Waits `ms`; false when cancelled meanwhile.
    bool pause(int ms) {
        std::unique_lock<std::mutex> lock(mutex);
        return !wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return cancelled; });
    }
};

// Rows covered by the areas a grab rewrote.
std::vector<RowSpan> rowsOf(const std::vector<platform::ScreenRect>& areas) {
    std::vector<RowSpan> rows;
    for (const auto& a : areas)
        if (a.height > 0 && a.width > 0) rows.push_back({a.y, a.y + a.height});
    return rows;
}

void mergeRows(std::vector<RowSpan>& rows) {
    std::sort(rows.begin(), rows.end(),
              [](const RowSpan& a, const RowSpan& b) { return a.begin < b.begin; });
    std::vector<RowSpan> merged;
    for (const RowSpan& r : rows) {
        if (r.end <= r.begin) continue;
        if (!merged.empty() && r.begin <= merged.back().end)
            merged.back().end = std::max(merged.back().end, r.end);
        else
            merged.push_back(r);
    }
    rows.swap(merged);
}

}  // namespace

bool FrameChanges::rowsSince(uint64_t since, std::vector<RowSpan>& rows) const {
    rows.clear();
    if (since == serial_) return true;
    if (since > serial_ || log_.empty() || log_.front().serial > since + 1) return false;
    for (const Entry& e : log_)
        if (e.serial > since) rows.insert(rows.end(), e.rows.begin(), e.rows.end());
    mergeRows(rows);
    return true;
}

void FrameChanges::record(const std::vector<RowSpan>& rows) {
    ++serial_;
    log_.push_back(Entry{serial_, rows});
    if (log_.size() > kKept) log_.pop_front();
}

struct ScreenCaptureService::Impl {
    std::unique_ptr<platform::ScreenGrabber> grabber;
    platform::CursorControl* cursor = nullptr;
    support::ThreadPool* pool = nullptr;

    std::thread captureThread;
    uint32_t consumerCount = 0;
    support::MyMutex consumerLock;  // consumerCount, consumerRates, start and stop
    support::MyMutex frameLock;     // the frame's pixels and its pointer
    // The shared picture, width x height BGRA while running: the grabber's own
    // buffer when it keeps one in place (captures land there directly), else
    // `frame`, into which each capture is copied.
    std::vector<uint8_t> frame;
    std::atomic<uint8_t*> frameData{nullptr};  // changed under frameLock
    std::atomic<int> frameStride{0};
    bool direct = false;
    std::atomic<float> captureRate{kMinRate};
    std::map<int64_t, float> consumerRates;
    std::atomic<bool> stopFlag{true};
    std::atomic<bool> running{false};  // a capture thread is running
    std::atomic<int> width{0};
    std::atomic<int> height{0};
    FrameChanges changes;  // guarded by frameLock
    std::atomic<uint64_t> serial{0};
    std::atomic<uint64_t> grabs{0};
    std::atomic<bool> tracking{false};
    std::mutex frameSignalMutex;  // wakes consumers waiting for a new picture
    std::condition_variable frameSignal;

    std::mutex sleepMutex;  // wakes the capture thread out of its pause at stop
    std::condition_variable sleepWake;

    std::shared_ptr<NudgeGate> nudgeGate = std::make_shared<NudgeGate>();

    void captureLoop(const std::atomic<bool>& drawCursor);
    void trackingLoop(const std::atomic<bool>& drawCursor);
    // One grab (whole, or what changed when tracking); frame lock taken here.
    bool grabOnce(bool drawCursor, bool onlyChanges);
    // Called with frameLock held after a grab that rewrote `rows`.
    void published(const std::vector<RowSpan>& rows);
    void pause(int64_t ms);
    void stopThread();
};

void ScreenCaptureService::Impl::published(const std::vector<RowSpan>& rows) {
    changes.record(rows);
    grabs.fetch_add(1);
    {
        std::lock_guard<std::mutex> lock(frameSignalMutex);
        serial.store(changes.serial());
    }
    frameSignal.notify_all();
}

bool ScreenCaptureService::Impl::grabOnce(bool drawCursor, bool onlyChanges) {
    std::vector<platform::ScreenRect> updated;
    if (direct) {
        // The grabber's buffer is the frame: grab under the lock.
        std::lock_guard<support::MyMutex> lock(frameLock);
        const bool ok = onlyChanges ? grabber->captureChanges(drawCursor, updated)
                                    : grabber->capture(drawCursor);
        if (ok && !onlyChanges) updated.push_back({0, 0, width.load(), height.load()});
        if (!updated.empty()) published(rowsOf(updated));
        return ok;
    }
    const bool ok = onlyChanges ? grabber->captureChanges(drawCursor, updated)
                                : grabber->capture(drawCursor);
    if (ok && !onlyChanges) updated.push_back({0, 0, width.load(), height.load()});
    if (updated.empty()) return ok;
    std::lock_guard<support::MyMutex> lock(frameLock);
    if (uint8_t* pixels = frameData.load()) {
        grabber->copyTo(pixels, frameStride.load());
        published(rowsOf(updated));
    }
    return ok;
}

void ScreenCaptureService::Impl::pause(int64_t ms) {
    if (ms <= 0) return;
    std::unique_lock<std::mutex> lock(sleepMutex);
    sleepWake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopFlag.load(); });
}

// Without change tracking: a whole grab every 1000 / captureRate ms.
void ScreenCaptureService::Impl::captureLoop(const std::atomic<bool>& drawCursor) {
    while (!stopFlag.load()) {
        const int64_t t0 = support::gettime2();
        grabOnce(drawCursor.load(), false);
        const int interval = int(1000.0f / captureRate.load());
        pause(interval - (support::gettime2() - t0));
    }
}

// With change tracking: nothing is grabbed while the screen (and, when it is
// painted, the pointer) stays as it is; a change is grabbed as soon as it
// arrives, but never sooner than 1000 / captureRate ms after the last grab.
void ScreenCaptureService::Impl::trackingLoop(const std::atomic<bool>& drawCursor) {
    // How long one wait for a change lasts before the stop flag is looked at.
    constexpr int kWaitSliceMs = 20;
    int64_t lastGrab = support::gettime2();
    while (!stopFlag.load()) {
        const int interval = int(1000.0f / captureRate.load());
        pause(lastGrab + interval - support::gettime2());
        if (stopFlag.load()) break;
        if (!grabber->waitForChanges(drawCursor.load(), kWaitSliceMs)) continue;
        // Every attempt counts against the rate, also one that found nothing
        // to grab (damage outside the primary area, a cursor that cannot be
        // read) or failed: such a source is not asked again at once.
        lastGrab = support::gettime2();
        grabOnce(drawCursor.load(), true);
    }
}

void ScreenCaptureService::Impl::stopThread() {
    {
        std::lock_guard<std::mutex> lock(sleepMutex);
        stopFlag.store(true);
    }
    sleepWake.notify_all();
    if (captureThread.joinable()) captureThread.join();
    running.store(false);
}

ScreenCaptureService::ScreenCaptureService(std::unique_ptr<platform::ScreenGrabber> grabber,
                                           platform::CursorControl* cursor,
                                           support::ThreadPool* pool)
    : impl_(std::make_unique<Impl>()) {
    impl_->grabber = std::move(grabber);
    impl_->cursor = cursor;
    impl_->pool = pool;
}

ScreenCaptureService::~ScreenCaptureService() {
    {
        std::lock_guard<std::mutex> lock(impl_->nudgeGate->mutex);
        impl_->nudgeGate->cancelled = true;
    }
    impl_->nudgeGate->wake.notify_all();
    std::lock_guard<support::MyMutex> lock(impl_->consumerLock);
    impl_->stopThread();
    {
        std::lock_guard<support::MyMutex> frameLock(impl_->frameLock);
        impl_->frameData = nullptr;
        impl_->frame = {};
    }
    if (impl_->grabber) impl_->grabber->close();
}

int64_t ScreenCaptureService::start(float rate) {
    Impl& d = *impl_;
    int64_t token;
    {
        std::lock_guard<support::MyMutex> lock(d.consumerLock);
        if (d.consumerCount == 0) {
            d.stopFlag.store(false);
            if (d.grabber && d.grabber->open()) {
                const int w = d.grabber->width(), h = d.grabber->height();
                d.width.store(w);
                d.height.store(h);
                {
                    std::lock_guard<support::MyMutex> frameLock(d.frameLock);
                    uint8_t* own = d.grabber->picture();
                    d.direct = own != nullptr;
                    if (d.direct) {
                        d.frameData = own;
                        d.frameStride = d.grabber->pictureStride();
                    } else {
                        d.frame.assign(size_t(w) * h * 4, 0);
                        d.frameData = d.frame.data();
                        d.frameStride = w * 4;
                    }
                    d.changes.reset();
                    // The first picture is there before start() returns.
                    if (d.grabber->capture(drawCursor.load())) {
                        if (!d.direct) d.grabber->copyTo(d.frameData.load(), w * 4);
                        d.published({{0, h}});
                    }
                }
                d.tracking.store(d.grabber->tracksChanges());
                d.running.store(true);
                if (d.tracking.load())
                    d.captureThread = std::thread([this] { impl_->trackingLoop(drawCursor); });
                else
                    d.captureThread = std::thread([this] { impl_->captureLoop(drawCursor); });
            } else {
                LOGOUT("ScreenCaptureService: no capture source");
                d.width.store(0);
                d.height.store(0);
            }
        }
        // A NaN rate compares false and leaves the rate as it is.
        if (rate > d.captureRate.load()) d.captureRate.store(rate);
        // Tokens are the registration time; a second registration in the same
        // millisecond takes the next free value, so each consumer keeps its
        // own rate entry.
        token = support::gettime();
        while (d.consumerRates.count(token)) ++token;
        d.consumerRates[token] = rate;
        d.consumerCount += 1;
    }

    if (d.pool && d.cursor) {
        // Moving the pointer a little makes the desktop redraw it, so the
        // first pictures show a fresh cursor.
        std::shared_ptr<NudgeGate> gate = d.nudgeGate;
        platform::CursorControl* cursor = d.cursor;
        d.pool->submit([gate, cursor] {
            if (!gate->pause(200)) return;
            int x = 0, y = 0;
            {
                std::lock_guard<std::mutex> lock(gate->mutex);
                if (gate->cancelled || !cursor->cursorPosition(x, y)) return;
                cursor->moveCursorTo(x + 1, y);
            }
            if (!gate->pause(200)) return;
            {
                std::lock_guard<std::mutex> lock(gate->mutex);
                if (gate->cancelled) return;
                cursor->moveCursorTo(x - 1, y);
            }
            if (!gate->pause(200)) return;
            std::lock_guard<std::mutex> lock(gate->mutex);
            if (!gate->cancelled) cursor->moveCursorTo(x, y);
        });
    }
    return token;
}

void ScreenCaptureService::stop(int64_t token) {
    Impl& d = *impl_;
    std::lock_guard<support::MyMutex> lock(d.consumerLock);
    if (d.consumerCount == 0) return;
    d.consumerCount -= 1;
    if (d.consumerCount > 0) {
        d.consumerRates.erase(token);
        float rate = kMinRate;
        for (const auto& entry : d.consumerRates) rate = std::max(rate, entry.second);
        d.captureRate.store(rate);
        return;
    }
    d.stopThread();
    {
        std::lock_guard<support::MyMutex> frameLock(d.frameLock);
        d.frameData = nullptr;
        d.frame = {};
    }
    if (d.grabber) d.grabber->close();
    d.width.store(0);
    d.height.store(0);
    d.captureRate.store(kMinRate);
    d.consumerRates.clear();
    LOGOUT("ScreenCaptureService stopped");
}

int ScreenCaptureService::width() {
    return impl_->stopFlag.load() || !impl_->running.load() ? 0 : impl_->width.load();
}

int ScreenCaptureService::height() {
    return impl_->stopFlag.load() || !impl_->running.load() ? 0 : impl_->height.load();
}

float ScreenCaptureService::captureRate() { return impl_->captureRate.load(); }

uint32_t ScreenCaptureService::consumerCount() {
    std::lock_guard<support::MyMutex> lock(impl_->consumerLock);
    return impl_->consumerCount;
}

FrameAccess ScreenCaptureService::lockFrame() {
    // The pointer and size change only in start() and stop() of the first and
    // last consumer; a registered consumer sees them stable.
    Impl& d = *impl_;
    uint8_t* pixels = d.frameData.load();
    const int w = pixels ? d.width.load() : 0;
    const int h = pixels ? d.height.load() : 0;
    return FrameAccess(d.frameLock, pixels, pixels ? d.frameStride.load() : 0, w, h, &d.changes);
}

uint64_t ScreenCaptureService::frameSerial() { return impl_->serial.load(); }

bool ScreenCaptureService::waitForFrame(uint64_t serial, int timeoutMs) {
    Impl& d = *impl_;
    std::unique_lock<std::mutex> lock(d.frameSignalMutex);
    return d.frameSignal.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)),
                                  [&] { return d.serial.load() != serial; });
}

bool ScreenCaptureService::tracksChanges() { return impl_->tracking.load(); }

uint64_t ScreenCaptureService::grabCount() { return impl_->grabs.load(); }

}  // namespace capture
