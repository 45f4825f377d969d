#include "stream/live_service.h"

#include "stream/send_backlog.h"

#include "protocol/fields.h"
#include "protocol/message_names.h"
#include "support/clock.h"
#include "support/logger.h"

// Boost 1.74's Asio uses std::exchange without including <utility>.
#include <utility>

#include <boost/asio.hpp>

#include <array>
#include <deque>
#include <vector>

namespace stream {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

constexpr int64_t kKeyRequestIntervalMs = 500;
constexpr int kQueueSeconds = 2;

struct QueuedFrame {
    net::Frame frame;
    // Where each picture inside ends (a merged write holds several; other
    // messages none).
    std::vector<uint32_t> pictureEnds;
};

struct Client {
    explicit Client(tcp::socket s) : socket(std::move(s)) {}
    tcp::socket socket;
    std::array<uint8_t, 16384> readBuffer{};
    std::vector<uint8_t> received;  // bytes not yet taken as frames
    std::deque<QueuedFrame> queue;  // the front is being written while `writing`
    size_t frontWritten = 0;        // bytes of the front already written
    size_t queuedBytes = 0;
    int queuedPictures = 0;         // pictures not yet wholly written
    WrittenPictures written;        // pictures the kernel may still hold
    bool writing = false;
    bool lagging = false;  // pictures are dropped until the next key frame
    bool closed = false;
};

}  // namespace

struct LiveService::Impl {
    Impl(LiveService& owner, ScreenEncodeService& encoder)
        : owner(owner), encoder(encoder), acceptor(io) {}

    LiveService& owner;
    ScreenEncodeService& encoder;
    asio::io_context io;
    tcp::acceptor acceptor;
    std::vector<std::shared_ptr<Client>> clients;  // I/O thread only
    std::mutex lock;                               // liveSubscription
    uint64_t liveSubscription = 0;
    std::thread ioThread;
    bool started = false;
    int frameRate = 20;           // of the current stream; I/O thread only
    int64_t lastKeyRequest = 0;   // I/O thread only

    static void onEncoder(int event, const uint8_t* data, int size, int keyFrame, void* self);

    void accept();
    void onAccept(tcp::socket socket);
    void read(const std::shared_ptr<Client>& c);
    bool takeFrames(Client& c);
    void queueFrame(const std::shared_ptr<Client>& c, const net::Frame& frame, bool picture);
    int pendingPictures(Client& c);
    void queuePicture(const std::shared_ptr<Client>& c, const net::Frame& frame, bool keyFrame);
    void dropQueuedPictures(Client& c);
    void write(const std::shared_ptr<Client>& c);
    void onWritten(const std::shared_ptr<Client>& c, size_t n);
    void close(const std::shared_ptr<Client>& c);
    void askForKeyFrame();
    void pop(Client& c);
};

void LiveService::Impl::onEncoder(int event, const uint8_t* data, int size, int keyFrame,
                                  void* self) {
    // Runs on the encoder thread: encode once, then hand the frame to the
    // I/O thread, which alone touches the clients.
    auto* d = static_cast<Impl*>(self);
    if (event == kEncodedPicture) {
        Json::Value message(Json::objectValue);
        message[protocol::field::keyFrame] = keyFrame != 0;
        net::Frame frame = net::encodeFrame(protocol::MsgLiveData, message, data, size_t(size));
        if (!net::isSendable(frame)) return;
        const bool key = keyFrame != 0;
        asio::post(d->io, [d, frame, key] {
            auto clients = d->clients;
            for (const auto& c : clients) d->queuePicture(c, frame, key);
        });
    } else if (event == kEncoderEnded) {
        net::Frame frame =
            net::encodeFrame(protocol::MsgLiveClose, Json::Value(Json::objectValue), nullptr, 0);
        asio::post(d->io, [d, frame] {
            auto clients = d->clients;
            for (const auto& c : clients) d->queueFrame(c, frame, false);
        });
    }
}

void LiveService::Impl::accept() {
    acceptor.async_accept([this](const boost::system::error_code& ec, tcp::socket socket) {
        if (!ec) onAccept(std::move(socket));
        if (acceptor.is_open()) accept();
    });
}

void LiveService::Impl::onAccept(tcp::socket socket) {
    boost::system::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    auto c = std::make_shared<Client>(std::move(socket));
    clients.push_back(c);
    owner.clientCount_.store(clients.size());
    {
        std::lock_guard<std::mutex> guard(lock);
        // A subscription the encoder no longer knows (closed from outside) is
        // replaced by a new one.
        if (liveSubscription == 0 || !encoder.isSubscribed(liveSubscription))
            liveSubscription = encoder.subscribe(&Impl::onEncoder, this);
        if (encoder.waitUntilReady(liveSubscription)) {
            const StreamInfo info = encoder.streamInfo();
            frameRate = info.frameRate > 0 ? info.frameRate : 20;
            queueFrame(c, net::encodeFrame(protocol::MsgLiveOpen, info.toJson(), nullptr, 0), false);
            encoder.requestKeyFrame();
        } else {
            liveSubscription = 0;
        }
    }
    read(c);
}

void LiveService::Impl::read(const std::shared_ptr<Client>& c) {
    c->socket.async_read_some(
        asio::buffer(c->readBuffer), [this, c](const boost::system::error_code& ec, size_t n) {
            if (c->closed) return;
            if (ec) return close(c);
            c->received.insert(c->received.end(), c->readBuffer.begin(), c->readBuffer.begin() + n);
            if (!takeFrames(*c)) return close(c);
            read(c);
        });
}

// Takes the complete frames off the front of the received bytes. Clients
// have nothing to say here: the frames are checked and dropped. False when
// the client sent something malformed.
bool LiveService::Impl::takeFrames(Client& c) {
    const uint8_t* p = c.received.data();
    const size_t size = c.received.size();
    size_t pos = 0;
    for (;;) {
        const size_t avail = size - pos;
        if (avail < 4) break;
        const uint32_t total = net::readLE32(p + pos);
        if (total == 0) {  // keep-alive
            pos += 4;
            continue;
        }
        if (avail < 8) break;
        const int32_t headLength = int32_t(net::readLE32(p + pos + 4));
        if (total < 4 || total > 0xFFFFFF || headLength < 0) return false;
        if (avail < size_t(total) + 4) break;
        net::DecodedMessage message;
        if (net::decodeFrameBody(p + pos + 4, total, message) != net::DecodeResult::Ok)
            return false;
        pos += size_t(total) + 4;
    }
    c.received.erase(c.received.begin(), c.received.begin() + pos);
    return true;
}

void LiveService::Impl::queueFrame(const std::shared_ptr<Client>& c, const net::Frame& frame,
                                   bool picture) {
    if (c->closed) return;
    QueuedFrame queued{frame, {}};
    if (picture) queued.pictureEnds.push_back(uint32_t(frame->size()));
    c->queue.push_back(std::move(queued));
    c->queuedBytes += frame->size();
    c->queuedPictures += picture ? 1 : 0;
    owner.queuedBytes_.fetch_add(frame->size());
    if (!c->writing) write(c);
}

void LiveService::Impl::queuePicture(const std::shared_ptr<Client>& c, const net::Frame& frame,
                                     bool keyFrame) {
    if (c->closed) return;
    // What the kernel still holds counts as waiting too: it is as far from
    // the viewer as the queue.
    const size_t byteLimit = owner.queueLimit_.load();
    const int pictureLimit = kQueueSeconds * frameRate;
    auto over = [&] {
        return c->queuedBytes + unsentInKernel(c->socket.native_handle()) + frame->size() > byteLimit ||
               pendingPictures(*c) >= pictureLimit;
    };
    if (!c->lagging && !over()) {
        queueFrame(c, frame, true);
        return;
    }
    if (!c->lagging) {
        // Fell behind: what waits is stale. Keep only what is being written
        // and the non-picture messages, and go on from a key frame.
        dropQueuedPictures(*c);
        c->lagging = true;
    }
    // Behind: only a key frame the connection has room for lets it go on.
    if (keyFrame && !over()) {
        c->lagging = false;
        queueFrame(c, frame, true);
        return;
    }
    owner.dropped_.fetch_add(1);
    if (pendingPictures(*c) < pictureLimit / 2 + 1 &&
        c->queuedBytes + unsentInKernel(c->socket.native_handle()) < byteLimit / 2)
        askForKeyFrame();
}

int LiveService::Impl::pendingPictures(Client& c) {
    return c.queuedPictures + int(c.written.pending(unsentInKernel(c.socket.native_handle())));
}

void LiveService::Impl::dropQueuedPictures(Client& c) {
    auto it = c.queue.begin();
    if ((c.writing || c.frontWritten > 0) && it != c.queue.end()) ++it;  // in flight
    while (it != c.queue.end()) {
        if (!it->pictureEnds.empty()) {
            c.queuedBytes -= it->frame->size();
            c.queuedPictures -= int(it->pictureEnds.size());
            owner.queuedBytes_.fetch_sub(it->frame->size());
            owner.dropped_.fetch_add(uint64_t(it->pictureEnds.size()));
            it = c.queue.erase(it);
        } else {
            ++it;
        }
    }
}

void LiveService::Impl::askForKeyFrame() {
    const int64_t now = support::gettime2();
    if (now - lastKeyRequest < kKeyRequestIntervalMs) return;
    lastKeyRequest = now;
    encoder.requestKeyFrame();
}

// Writes the rest of the front frame. Partial writes are followed here, so
// the pictures handed to the kernel are known to the byte.
void LiveService::Impl::write(const std::shared_ptr<Client>& c) {
    c->writing = true;
    const net::Frame& frame = c->queue.front().frame;
    c->socket.async_write_some(
        asio::buffer(frame->data() + c->frontWritten, frame->size() - c->frontWritten),
        [this, c](const boost::system::error_code& ec, size_t n) {
            c->writing = false;
            if (c->closed) return;
            if (ec) return close(c);
            onWritten(c, n);
        });
}

void LiveService::Impl::pop(Client& c) {
    QueuedFrame& front = c.queue.front();
    c.queuedBytes -= front.frame->size();
    owner.queuedBytes_.fetch_sub(front.frame->size());
    c.queue.pop_front();
}

void LiveService::Impl::onWritten(const std::shared_ptr<Client>& c, size_t n) {
    QueuedFrame& front = c->queue.front();
    const size_t from = c->frontWritten, to = from + n;
    size_t at = from;
    for (uint32_t end : front.pictureEnds) {
        if (end <= from || end > to) continue;
        c->written.advance(end - at);
        c->written.pictureEnds();
        c->queuedPictures -= 1;
        at = end;
    }
    c->written.advance(to - at);
    c->frontWritten = to;
    if (to < front.frame->size()) return write(c);
    c->frontWritten = 0;
    pop(*c);
    if (c->queue.size() > 1) {
        // Several waiting: join them into one write of just over the merge limit.
        auto merged = std::make_shared<std::vector<uint8_t>>();
        std::vector<uint32_t> ends;
        while (!c->queue.empty() && merged->size() <= kMergeLimit) {
            const QueuedFrame& next = c->queue.front();
            for (uint32_t end : next.pictureEnds) ends.push_back(uint32_t(merged->size()) + end);
            merged->insert(merged->end(), next.frame->begin(), next.frame->end());
            pop(*c);
        }
        c->queuedBytes += merged->size();
        owner.queuedBytes_.fetch_add(merged->size());
        c->queue.push_front({merged, std::move(ends)});
    }
    if (!c->queue.empty()) write(c);
}

void LiveService::Impl::close(const std::shared_ptr<Client>& c) {
    if (c->closed) return;
    c->closed = true;
    boost::system::error_code ignored;
    c->socket.close(ignored);
    owner.queuedBytes_.fetch_sub(c->queuedBytes);
    c->queue.clear();
    c->queuedBytes = 0;
    c->queuedPictures = 0;
    c->frontWritten = 0;
    c->written.clear();
    std::erase(clients, c);
    owner.clientCount_.store(clients.size());
    if (!clients.empty()) return;
    uint64_t id;
    {
        std::lock_guard<std::mutex> guard(lock);
        id = liveSubscription;
        liveSubscription = 0;
    }
    // Outside the lock: the last unsubscription waits for the encoder thread.
    if (id != 0) encoder.unsubscribe(id);
}

LiveService::LiveService(ScreenEncodeService& encoder)
    : impl_(std::make_unique<Impl>(*this, encoder)) {}

LiveService::~LiveService() { shutdown(); }

bool LiveService::start(const std::string& address, uint16_t port) {
    Impl& d = *impl_;
    if (d.started) return true;
    boost::system::error_code ec;
    const char* step = "open";
    const auto ip = asio::ip::make_address_v4(address, ec);
    if (!ec) d.acceptor.open(tcp::v4(), ec);
    if (!ec) {
        step = "set_option";
        d.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    }
    if (!ec) {
        step = "bind";
        d.acceptor.bind(tcp::endpoint(ip, port), ec);
    }
    if (!ec) {
        step = "listen";
        d.acceptor.listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        LOGOUT("bind failed: %s: %s", step, ec.message().c_str());
        boost::system::error_code ignored;
        d.acceptor.close(ignored);
        return false;
    }
    port_.store(d.acceptor.local_endpoint(ec).port());
    d.accept();
    d.started = true;
    d.ioThread = std::thread([this] {
        impl_->io.run();
        LOGOUT("LiveService main_loop returned");
    });
    return true;
}

void LiveService::shutdown() {
    Impl& d = *impl_;
    auto unsubscribe = [&d] {
        uint64_t id;
        {
            std::lock_guard<std::mutex> guard(d.lock);
            id = d.liveSubscription;
            d.liveSubscription = 0;
        }
        if (id != 0) d.encoder.unsubscribe(id);
    };
    if (d.started) {
        d.started = false;
        // On the I/O thread, so no accept can subscribe again afterwards.
        asio::post(d.io, [&d, unsubscribe] {
            boost::system::error_code ignored;
            d.acceptor.close(ignored);
            for (const auto& c : d.clients) {
                c->closed = true;
                c->socket.close(ignored);
            }
            d.clients.clear();
            d.owner.clientCount_.store(0);
            d.owner.queuedBytes_.store(0);
            unsubscribe();
            d.io.stop();
        });
        if (d.ioThread.joinable()) d.ioThread.join();
        port_.store(0);
    }
    unsubscribe();
}

bool LiveService::subscribed() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->liveSubscription != 0 && impl_->encoder.isSubscribed(impl_->liveSubscription);
}

}  // namespace stream
