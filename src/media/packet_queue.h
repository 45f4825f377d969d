// A queue of whole demuxed packets with its packet count and byte total,
// each queue under its own lock (held only for a push, a pop or the counts).
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>

struct AVPacket;

namespace media {

class PacketQueue {
public:
    PacketQueue() = default;
    ~PacketQueue() { clear(); }
    PacketQueue(const PacketQueue&) = delete;
    PacketQueue& operator=(const PacketQueue&) = delete;

    // Takes ownership of the packet.
    void push(AVPacket* packet);
    // The oldest packet (the caller frees it), or null.
    AVPacket* pop();
    void clear();
    size_t count();
    size_t bytes();

private:
    std::mutex mutex_;
    std::deque<AVPacket*> packets_;
    size_t bytes_ = 0;
};

}  // namespace media
