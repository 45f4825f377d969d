#include "net/frame_reader.h"

#include "support/logger.h"

namespace net {

FrameReader::FrameReader(ByteSource& source, std::string peer)
    : source_(source), peer_(std::move(peer)), buffer_(kInitialBuffer) {}

ReadStatus FrameReader::next(DecodedMessage& out) {
    for (;;) {
        uint8_t lengthBytes[4];
        long r = source_.readExactly(lengthBytes, 4);
        if (r != 4) {
            LOGOUT("%s TcpRecv(totalLen 4): %ld, err: %d", peer_.c_str(), r, source_.lastError());
            return ReadStatus::End;
        }
        const uint32_t totalLength = readLE32(lengthBytes);
        if (totalLength == 0) continue;  // keep-alive
        if (!isValidTotalLength(totalLength)) {
            LOGOUT("%s totalLen: %u is invalid", peer_.c_str(), totalLength);
            return ReadStatus::End;
        }
        uint8_t* body = buffer_.getBuffer(totalLength);
        r = source_.readExactly(body, totalLength);
        if (r != long(totalLength)) {
            LOGOUT("%s TcpRecv(json & data : %u): %ld, err: %d", peer_.c_str(), totalLength, r,
                   source_.lastError());
            return ReadStatus::End;
        }
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
