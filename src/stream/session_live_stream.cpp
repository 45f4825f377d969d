#include "stream/session_live_stream.h"

#include "protocol/fields.h"
#include "protocol/message_names.h"
#include "stream/send_backlog.h"
#include "support/clock.h"

namespace stream {

namespace {
// A phone that fell behind asks for a key frame at most this often.
constexpr int64_t kKeyRequestIntervalMs = 500;
// A phone is behind when more than this many seconds of pictures wait for it.
constexpr int kQueueSeconds = 2;
}  // namespace

SessionLiveStream::SessionLiveStream(net::SessionServer& server, ScreenEncodeService& encoder)
    : server_(server), encoder_(encoder) {}

SessionLiveStream::~SessionLiveStream() { dropViewers(); }

void SessionLiveStream::liveRequest(int /*socket*/, int action) {
    if (action != 0)
        addViewer();
    else
        removeViewer();
}

void SessionLiveStream::addViewer() {
    std::lock_guard<std::mutex> lock(liveLock_);
    liveViewers_ += 1;
    // A subscription the encoder no longer knows (it was closed from outside)
    // is replaced by a new one.
    if (liveSubscription_ == 0 || !encoder_.isSubscribed(liveSubscription_))
        liveSubscription_ = encoder_.subscribe(&SessionLiveStream::onEncoder, this);
    if (!encoder_.waitUntilReady(liveSubscription_)) {
        liveSubscription_ = 0;
        return;
    }
    const StreamInfo info = encoder_.streamInfo();
    frameRate_.store(info.frameRate > 0 ? info.frameRate : 20);
    server_.send(protocol::MsgLiveOpen, info.toJson(), nullptr, 0, -1);
    encoder_.requestKeyFrame();
}

void SessionLiveStream::removeViewer() {
    std::lock_guard<std::mutex> lock(liveLock_);
    if (liveViewers_ > 0) liveViewers_ -= 1;
    if (liveViewers_ == 0 && liveSubscription_ != 0) {
        encoder_.unsubscribe(liveSubscription_);
        liveSubscription_ = 0;
    }
}

void SessionLiveStream::dropViewers() {
    std::lock_guard<std::mutex> lock(liveLock_);
    liveViewers_ = 0;
    if (liveSubscription_ != 0) {
        encoder_.unsubscribe(liveSubscription_);
        liveSubscription_ = 0;
    }
}

int SessionLiveStream::viewers() {
    std::lock_guard<std::mutex> lock(liveLock_);
    return liveViewers_;
}

bool SessionLiveStream::hasSubscription() {
    std::lock_guard<std::mutex> lock(liveLock_);
    return liveSubscription_ != 0 && encoder_.isSubscribed(liveSubscription_);
}

void SessionLiveStream::requestKeyFrame() { encoder_.requestKeyFrame(); }

void SessionLiveStream::onEncoder(int event, const uint8_t* data, int size, int keyFrame,
                                  void* self) {
    auto* live = static_cast<SessionLiveStream*>(self);
    if (event == kEncodedPicture) {
        live->picture(data, size, keyFrame != 0);
    } else if (event == kEncoderEnded) {
        live->lagging_.clear();
        live->recent_.clear();
        live->server_.send(protocol::MsgLiveClose, Json::Value(Json::objectValue), nullptr, 0, -1);
    }
}

void SessionLiveStream::picture(const uint8_t* data, int size, bool keyFrame) {
    Json::Value message(Json::objectValue);
    message[protocol::field::keyFrame] = keyFrame;
    net::Frame frame = net::encodeFrame(protocol::MsgLiveData, message, data, size_t(size));
    if (!net::isSendable(frame)) return;

    const size_t limit = queueLimit_.load();
    const size_t pictureLimit = size_t(kQueueSeconds * frameRate_.load());
    const size_t frameSize = frame->size();
    std::set<int> stillLagging;
    std::map<int, RecentPictures> recent;
    bool wantKeyFrame = false;
    uint64_t heldBack = 0;
    server_.sendFrameIf(frame, [&](int socket, size_t queued) {
        // The session's queue and what the kernel still holds of it both
        // wait between this picture and the phone.
        const size_t waiting = queued + unsentInKernel(socket);
        RecentPictures& pictures = recent.emplace(socket, std::move(recent_[socket])).first->second;
        pictures.setKeep(pictureLimit + 1);
        const bool fits = waiting + frameSize <= limit && pictures.pending(waiting) < pictureLimit;
        if (lagging_.count(socket)) {
            // Behind: only a key frame that fits lets the phone go on.
            if (keyFrame && fits) {
                pictures.queued(frameSize);
                return true;
            }
            if (waiting < limit / 2 && pictures.pending(waiting) <= pictureLimit / 2) wantKeyFrame = true;
        } else if (fits) {
            pictures.queued(frameSize);
            return true;
        }
        stillLagging.insert(socket);
        ++heldBack;
        return false;
    });
    // Sessions that are gone drop out of both here.
    lagging_.swap(stillLagging);
    recent_.swap(recent);
    heldBack_.fetch_add(heldBack);
    if (wantKeyFrame) {
        const int64_t now = support::gettime2();
        if (now - lastKeyRequest_ >= kKeyRequestIntervalMs) {
            lastKeyRequest_ = now;
            encoder_.requestKeyFrame();
        }
    }
}

}  // namespace stream
