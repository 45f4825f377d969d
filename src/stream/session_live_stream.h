// The screen stream over the phones' sessions: MsgLive requests add and
// remove viewers; while there are any, every encoded picture goes to every
// session as MsgLiveData. A phone with more than its limit of bytes or two
// seconds of pictures still waiting (in its send queue or in the kernel)
// gets no more pictures until the next key frame it has room for.
#pragma once

#include "core/features.h"
#include "net/session_server.h"
#include "stream/screen_encode_service.h"
#include "stream/send_backlog.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>

namespace stream {

class SessionLiveStream : public core::LiveStream {
public:
    static constexpr size_t kDefaultQueueLimit = 8u << 20;

    SessionLiveStream(net::SessionServer& server, ScreenEncodeService& encoder);
    // Drops the subscription (call before the encoder goes away).
    ~SessionLiveStream() override;
    SessionLiveStream(const SessionLiveStream&) = delete;
    SessionLiveStream& operator=(const SessionLiveStream&) = delete;

    // core::LiveStream
    void liveRequest(int socket, int action) override;
    bool hasSubscription() override;
    void requestKeyFrame() override;
    void dropViewers() override;

    void addViewer();
    void removeViewer();
    int viewers();

    // Bytes a session may have queued before its pictures are held back.
    void setQueueLimit(size_t bytes) { queueLimit_.store(bytes); }
    // Pictures not queued on some session because it fell behind.
    uint64_t picturesHeldBack() const { return heldBack_.load(); }

private:
    static void onEncoder(int event, const uint8_t* data, int size, int keyFrame, void* self);
    void picture(const uint8_t* data, int size, bool keyFrame);

    net::SessionServer& server_;
    ScreenEncodeService& encoder_;

    std::mutex liveLock_;  // the two fields below
    uint64_t liveSubscription_ = 0;
    int liveViewers_ = 0;

    // Touched on the encoder thread only.
    std::set<int> lagging_;
    std::map<int, RecentPictures> recent_;  // pictures queued per session
    int64_t lastKeyRequest_ = 0;
    std::atomic<int> frameRate_{20};  // of the stream, for the lag limit

    std::atomic<size_t> queueLimit_{kDefaultQueueLimit};
    std::atomic<uint64_t> heldBack_{0};
};

}  // namespace stream
