// A media file that stays on the phone, read through the session: to the
// demuxer it is a seekable byte stream of known size; every read and every
// seek is a MsgMediaPlayer request to the phones, answered with chunks of
// the file and seek acknowledgements that the session threads hand in.
#pragma once

#include <json/value.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVIOContext;

namespace media {

class RemoteSource {
public:
    // Sends one MsgMediaPlayer message to every phone.
    using Send = std::function<void(const Json::Value& message)>;

    static constexpr int kReadBytes = 65536;
    static constexpr int kWaitMs = 1500;
    // Unanswered read requests after which an open gives up.
    static constexpr int kOpenRequestLimit = 20;
    // Chunks a phone sends ahead of our requests are dropped beyond this.
    static constexpr size_t kIncomingLimit = 16 * 1024 * 1024;

    explicit RemoteSource(Send send) : send_(std::move(send)) {}
    ~RemoteSource();
    RemoteSource(const RemoteSource&) = delete;
    RemoteSource& operator=(const RemoteSource&) = delete;

    // Accepts chunks again and lets open() run; called on the thread that
    // may also cancel(), before the open starts, so a cancel is never lost.
    void begin();
    // Opens a demuxer over the phone's file of `fileSize` bytes and reads its
    // stream information. Blocks while the phone is asked for the first
    // bytes, so it runs off the UI thread; gives up after kOpenRequestLimit
    // unanswered requests or when cancel() is called. Null on failure.
    AVFormatContext* open(int64_t fileSize, const std::string& name);
    // Closes a context made by open() (and the byte stream under it).
    void close(AVFormatContext*& input);

    // From the session receive threads.
    void pushData(const uint8_t* data, size_t length);
    void seekDone();

    // Pending and later reads return an error; chunks are ignored until the
    // next open.
    void cancel();
    bool cancelled() const { return stopped_; }

    // The demuxer's read and seek functions (public for tests).
    int readPacket(uint8_t* buffer, int size);
    int64_t seek(int64_t offset, int whence);

    // Read requests sent since the last answer (tests).
    int unanswered() const { return unanswered_; }
    // The wait for an answer and the open's request limit (tests shorten them).
    void setTiming(int waitMs, int openRequestLimit) {
        waitMs_ = waitMs;
        openLimit_ = openRequestLimit;
    }

private:
    void reset(int64_t fileSize);

    Send send_;
    std::atomic<bool> stopped_{true};
    std::atomic<int> requestLimit_{0};  // 0: no limit
    std::atomic<int> waitMs_{kWaitMs};
    std::atomic<int> openLimit_{kOpenRequestLimit};
    std::atomic<int> unanswered_{0};
    int64_t fileSize_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<uint8_t>> incoming_;
    size_t incomingBytes_ = 0;
    bool dataArrived_ = false;
    bool seekAck_ = false;

    // Touched only by the reader.
    std::vector<uint8_t> leftover_;
    size_t leftoverPos_ = 0;
};

}  // namespace media
