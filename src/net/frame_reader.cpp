#include "net/frame_reader.h"

#include "support/logger.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace net {

FrameReader::FrameReader(ByteSource& source, std::string peer)
    : source_(source), peer_(std::move(peer)) {
    // new[] of a byte array leaves the pages untouched until data arrives.
    reserve(kInitialBuffer, 0);
}

void FrameReader::reserve(size_t capacity, size_t keep) {
    if (capacity <= capacity_) return;
    std::unique_ptr<uint8_t[]> bigger(new uint8_t[capacity]);
    if (keep > 0) std::memcpy(bigger.get(), buffer_.get(), keep);
    buffer_ = std::move(bigger);
    capacity_ = capacity;
}

long FrameReader::readBody(size_t totalLength) {
    size_t done = 0;
    while (done < totalLength) {
        // The next step fills the room there is, or at least as much again as
        // has arrived: a frame that is announced but never sent costs little
        // (recv touches only the bytes it writes) and a real one is copied
        // O(log n) times while the buffer grows to it.
        const size_t step =
            std::min(totalLength - done, std::max({kMinReadStep, done, capacity_ - done}));
        if (done + step > capacity_)
            reserve(std::min(totalLength, std::max(done + step, capacity_ * 2)), done);
        const long r = source_.readExactly(buffer_.get() + done, step);
        if (r != long(step)) return r;
        done += step;
    }
    return long(totalLength);
}

ReadStatus FrameReader::next(DecodedMessage& out) {
    for (;;) {
        uint8_t lengthBytes[4];
        long r = source_.readFrameStart(lengthBytes, 4);
        if (r != 4) {
            LOGOUT("%s TcpRecv(totalLen 4): %ld, err: %d", peer_.c_str(), r, source_.lastError());
            if (r < 0 && source_.lastError() == ETIMEDOUT)
                LOGOUT("%s partial frame made no progress, session ended", peer_.c_str());
            return ReadStatus::End;
        }
        const uint32_t totalLength = readLE32(lengthBytes);
        if (totalLength == 0) continue;  // keep-alive
        if (!isValidTotalLength(totalLength)) {
            LOGOUT("%s totalLen: %u is invalid", peer_.c_str(), totalLength);
            return ReadStatus::End;
        }
        if (totalLength > frameLimit_) {
            LOGOUT("%s totalLen: %u is over %u before the handshake", peer_.c_str(), totalLength,
                   frameLimit_);
            return ReadStatus::End;
        }
        r = readBody(totalLength);
        if (r != long(totalLength)) {
            LOGOUT("%s TcpRecv(json & data : %u): %ld, err: %d", peer_.c_str(), totalLength, r,
                   source_.lastError());
            if (r < 0 && source_.lastError() == ETIMEDOUT)
                LOGOUT("%s partial frame made no progress, session ended", peer_.c_str());
            return ReadStatus::End;
        }
        const uint8_t* body = buffer_.get();
        switch (decodeFrameBody(body, totalLength, out)) {
        case DecodeResult::Ok:
            return ReadStatus::Message;
        case DecodeResult::BadHeadLength:
            LOGOUT("%s headLen: %u exceeds totalLen: %u", peer_.c_str(), readLE32(body), totalLength);
            return ReadStatus::End;
        case DecodeResult::HeadNotJson:
            LOGOUT("%s head is not a JSON object", peer_.c_str());
            return ReadStatus::End;
        case DecodeResult::BadMessage:
            LOGOUT("%s parse buffer failed!!!!!", peer_.c_str());
            return ReadStatus::Dropped;
        }
    }
}

}  // namespace net
