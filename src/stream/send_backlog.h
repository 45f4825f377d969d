// What a viewer's connection has yet to deliver. Bytes handed to the kernel
// are not gone: until the peer acknowledges them they wait in the socket's
// send buffer, which the kernel may grow to megabytes. The lag limits count
// those pictures too, so a slow viewer is held to the same few seconds as a
// stalled program queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

namespace stream {

// Bytes the kernel still holds for socket `fd`: not yet sent or not yet
// acknowledged by the peer. 0 when the socket cannot tell.
size_t unsentInKernel(int fd);

// Pictures written to a socket, by where each ends in the bytes written.
class WrittenPictures {
public:
    // `bytes` more were written to the socket.
    void advance(size_t bytes) { position_ += bytes; }
    // A picture ends at the current position.
    void pictureEnds() { ends_.push_back(position_); }
    // Pictures not wholly delivered while the kernel holds `unsent` bytes.
    size_t pending(size_t unsent);
    void clear() { ends_.clear(); }

private:
    uint64_t position_ = 0;
    std::deque<uint64_t> ends_;
};

// The newest pictures queued on a connection whose queue the program does
// not see into (only its byte count): how many of them are still waiting,
// given the bytes still waiting in the queue and in the kernel.
class RecentPictures {
public:
    explicit RecentPictures(size_t keep = 256) : keep_(keep) {}
    void queued(size_t bytes);
    // Pictures, newest first, needed to cover `waiting` bytes: the ones not
    // yet delivered. Other messages sharing the queue make this an upper
    // bound.
    size_t pending(size_t waiting) const;
    void setKeep(size_t keep);

private:
    size_t keep_;
    std::deque<size_t> sizes_;  // oldest first
};

}  // namespace stream
