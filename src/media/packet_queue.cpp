#include "media/packet_queue.h"

extern "C" {
#include <libavcodec/packet.h>
}

namespace media {

void PacketQueue::push(AVPacket* packet) {
    if (!packet) return;
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_ += size_t(packet->size);
    packets_.push_back(packet);
}

AVPacket* PacketQueue::pop() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (packets_.empty()) return nullptr;
    AVPacket* packet = packets_.front();
    packets_.pop_front();
    bytes_ -= size_t(packet->size);
    return packet;
}

void PacketQueue::clear() {
    std::deque<AVPacket*> old;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        old.swap(packets_);
        bytes_ = 0;
    }
    for (AVPacket* p : old) av_packet_free(&p);
}

size_t PacketQueue::count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return packets_.size();
}

size_t PacketQueue::bytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}

}  // namespace media
