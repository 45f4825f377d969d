// Byte layout of encoded frames and the receive-side checks.
#include "net/frame_codec.h"
#include "net/frame_reader.h"
#include "net/json_text.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace net {
namespace {

std::string bytesOf(const Frame& frame) { return std::string(frame->begin(), frame->end()); }

TEST(FrameCodec, HeadBytesAreExactForAMessageWithoutData) {
    Json::Value msg(Json::objectValue);
    msg["b"] = 2;
    msg["a"] = "x";
    Frame frame = encodeFrame("com.quorvel.qm.msg.MsgSpot", msg, nullptr, 0);
    const std::string head =
        "{\"className\":\"com.quorvel.qm.msg.MsgSpot\",\"msgJson\":\"{\\\"a\\\":\\\"x\\\",\\\"b\\\":2,"
        "\\\"dataLength\\\":0}\\n\"}\n";
    const std::string bytes = bytesOf(frame);
    ASSERT_EQ(bytes.size(), 8 + head.size());
    EXPECT_EQ(readLE32(frame->data()), head.size() + 4);  // dataLength 0: head + 4
    EXPECT_EQ(readLE32(frame->data() + 4), head.size());
    EXPECT_EQ(bytes.substr(8), head);
}

TEST(FrameCodec, DataLengthIsTheActualTailAndTheCallersObjectIsUntouched) {
    Json::Value msg(Json::objectValue);
    msg["dataLength"] = 999;
    const char tail[] = {1, 2, 3, 0, 5};
    Frame frame = encodeFrame("X", msg, tail, sizeof tail);
    EXPECT_EQ(msg["dataLength"].asInt(), 999);

    DecodedMessage out;
    ASSERT_EQ(decodeFrameBody(frame->data() + 4, readLE32(frame->data()), out), DecodeResult::Ok);
    EXPECT_EQ(out.className, "X");
    EXPECT_EQ(out.message["dataLength"].asInt(), 5);
    ASSERT_EQ(out.dataLength, sizeof tail);
    EXPECT_EQ(std::memcmp(out.data, tail, sizeof tail), 0);
    EXPECT_EQ(readLE32(frame->data()), readLE32(frame->data() + 4) + 4 + sizeof tail);
}

TEST(FrameCodec, AHeadFollowedByItsTailIsTheWholeFrame) {
    Json::Value msg(Json::objectValue);
    msg["action"] = 2;
    msg["fileId"] = 7;
    std::string tail(70000, '\0');
    for (size_t i = 0; i < tail.size(); ++i) tail[i] = char(i * 13);
    const std::vector<uint8_t> head = encodeFrameHead("com.quorvel.qm.msg.MsgFile", msg, tail.size());
    const std::string joined = std::string(head.begin(), head.end()) + tail;
    EXPECT_EQ(joined, bytesOf(encodeFrame("com.quorvel.qm.msg.MsgFile", msg, tail.data(), tail.size())));
    DecodedMessage out;
    ASSERT_EQ(decodeFrameBody(reinterpret_cast<const uint8_t*>(joined.data()) + 4, joined.size() - 4, out),
              DecodeResult::Ok);
    EXPECT_EQ(out.message["dataLength"].asUInt64(), tail.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data), out.dataLength), tail);
}

TEST(FrameCodec, AFrameWhoseHeadPushesItPastTheLimitIsNotSendable) {
    std::vector<uint8_t> tail(kMaxTotalLength - 64, 0);
    EXPECT_FALSE(isSendable(encodeFrame("com.quorvel.qm.msg.MsgFile", Json::Value(), tail.data(), tail.size())));
    tail.resize(kMaxTotalLength - 200);
    EXPECT_TRUE(isSendable(encodeFrame("X", Json::Value(), tail.data(), tail.size())));
}

TEST(FrameCodec, Utf8TextTravelsUnescaped) {
    Json::Value msg(Json::objectValue);
    msg["content"] = "教室 \xF0\x9F\x98\x80";
    Frame frame = encodeFrame("X", msg, nullptr, 0);
    EXPECT_NE(bytesOf(frame).find("教室 \xF0\x9F\x98\x80"), std::string::npos);
    DecodedMessage out;
    ASSERT_EQ(decodeFrameBody(frame->data() + 4, readLE32(frame->data()), out), DecodeResult::Ok);
    EXPECT_EQ(out.message["content"].asString(), "教室 \xF0\x9F\x98\x80");
}

std::string body(const std::string& head, const std::string& tail = "") {
    std::string b(4, '\0');
    writeLE32(reinterpret_cast<uint8_t*>(&b[0]), uint32_t(head.size()));
    return b + head + tail;
}

DecodeResult decode(const std::string& b, DecodedMessage& out) {
    return decodeFrameBody(reinterpret_cast<const uint8_t*>(b.data()), b.size(), out);
}

TEST(FrameCodec, DecodeRejectsBrokenHeadsByKind) {
    DecodedMessage out;
    // Extra head members are ignored.
    EXPECT_EQ(decode(body(R"({"className":"A","extra":1,"msgJson":"{}"})"), out), DecodeResult::Ok);
    EXPECT_EQ(out.className, "A");
    // Not JSON or not an object: the session ends.
    EXPECT_EQ(decode(body("{\"className\":"), out), DecodeResult::HeadNotJson);
    EXPECT_EQ(decode(body("[1,2]"), out), DecodeResult::HeadNotJson);
    // Missing members, wrong types, msgJson that is not an object: the frame is dropped.
    EXPECT_EQ(decode(body(R"({"msgJson":"{}"})"), out), DecodeResult::BadMessage);
    EXPECT_EQ(decode(body(R"({"className":"A"})"), out), DecodeResult::BadMessage);
    EXPECT_EQ(decode(body(R"({"className":1,"msgJson":"{}"})"), out), DecodeResult::BadMessage);
    EXPECT_EQ(decode(body(R"({"className":"A","msgJson":"{bad"})"), out), DecodeResult::BadMessage);
    EXPECT_EQ(decode(body(R"({"className":"A","msgJson":"[1]"})"), out), DecodeResult::BadMessage);
    EXPECT_EQ(decode(body(R"({"className":"A","msgJson":{"a":1}})"), out), DecodeResult::BadMessage);
    // A head length that runs past the frame is never read.
    std::string b = body("{}");
    writeLE32(reinterpret_cast<uint8_t*>(&b[0]), 3);
    EXPECT_EQ(decode(b, out), DecodeResult::BadHeadLength);
    writeLE32(reinterpret_cast<uint8_t*>(&b[0]), 0xFFFFFFFFu);
    EXPECT_EQ(decode(b, out), DecodeResult::BadHeadLength);
}

// jsoncpp throws (rather than failing) on nesting past its stack limit; a
// peer's head or message text must still come back as a plain parse failure.
TEST(FrameCodec, DeeplyNestedJsonIsABrokenHeadOrMessageNotAnException) {
    DecodedMessage out;
    EXPECT_EQ(decode(body(std::string(256, '[')), out), DecodeResult::HeadNotJson);
    EXPECT_EQ(decode(body(std::string(5000, '{')), out), DecodeResult::HeadNotJson);
    const std::string deepObject = std::string(300, '[') + std::string(300, ']');
    EXPECT_EQ(decode(body(R"({"className":"A","msgJson":")" + deepObject + "\"}"), out),
              DecodeResult::BadMessage);
    Json::Value value;
    EXPECT_FALSE(parseJson(deepObject, value));
    EXPECT_TRUE(value.isNull());
    // The reader still works after a failure.
    ASSERT_TRUE(parseJson(R"({"a":[[1]]})", value));
    EXPECT_EQ(value["a"][0][0].asInt(), 1);
    EXPECT_EQ(decode(body(R"({"className":"A","msgJson":"{\"x\":2}"})"), out), DecodeResult::Ok);
    EXPECT_EQ(out.message["x"].asInt(), 2);
}

// A byte source over a string, as a socket would deliver it.
class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    long readExactly(void* buffer, size_t n) override {
        if (bytes_.size() - pos_ < n) return 0;
        std::memcpy(buffer, bytes_.data() + pos_, n);
        pos_ += n;
        return long(n);
    }
    std::string bytes_;
    size_t pos_ = 0;
};

std::string lengthBytes(uint32_t v) {
    std::string s(4, '\0');
    writeLE32(reinterpret_cast<uint8_t*>(&s[0]), v);
    return s;
}

std::string frameBytes(const std::string& className) {
    return bytesOf(encodeFrame(className, Json::Value(Json::objectValue), nullptr, 0));
}

TEST(FrameReader, KeepAlivesAreSkippedAndBadMessagesDropped) {
    const std::string badHead = body(R"({"className":"B"})");
    MemorySource source(lengthBytes(0) + frameBytes("A") + lengthBytes(0) + lengthBytes(0) +
                        lengthBytes(uint32_t(badHead.size())) + badHead + frameBytes("C"));
    FrameReader reader(source, "10.0.0.1");
    DecodedMessage out;
    ASSERT_EQ(reader.next(out), ReadStatus::Message);
    EXPECT_EQ(out.className, "A");
    EXPECT_EQ(reader.next(out), ReadStatus::Dropped);
    ASSERT_EQ(reader.next(out), ReadStatus::Message);
    EXPECT_EQ(out.className, "C");
    EXPECT_EQ(reader.next(out), ReadStatus::End);  // peer closed
}

TEST(FrameReader, TotalLengthLimits) {
    for (uint32_t bad : {1u, 3u, 0x1000000u, 0xFFFFFFFFu}) {
        MemorySource source(lengthBytes(bad) + std::string(64, 'x'));
        FrameReader reader(source, "p");
        DecodedMessage out;
        EXPECT_EQ(reader.next(out), ReadStatus::End) << bad;
    }
    // The largest valid frame is read whole and the buffer grows to it.
    const uint32_t total = 0xFFFFFF;
    const std::string head = R"({"className":"Big","msgJson":"{}"})";
    std::string frame = lengthBytes(total) + lengthBytes(uint32_t(head.size())) + head;
    frame.resize(4 + total, '\x7f');
    MemorySource source(frame);
    FrameReader reader(source, "p");
    DecodedMessage out;
    ASSERT_EQ(reader.next(out), ReadStatus::Message);
    EXPECT_EQ(out.className, "Big");
    EXPECT_EQ(out.dataLength, total - 4 - head.size());
    EXPECT_GE(reader.bufferCapacity(), size_t(total));
}

TEST(FrameReader, TruncatedBodyEndsTheSession) {
    std::string frame = frameBytes("A");
    frame.resize(frame.size() - 1);
    MemorySource source(frame);
    FrameReader reader(source, "p");
    DecodedMessage out;
    EXPECT_EQ(reader.next(out), ReadStatus::End);
}

}  // namespace
}  // namespace net
