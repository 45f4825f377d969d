#include "net/frame_codec.h"

#include "net/json_text.h"
#include "protocol/fields.h"

#include <atomic>
#include <cstring>

namespace net {

namespace {
std::atomic<uint64_t> encodedFrames{0};
}

uint64_t encodedFrameCount() { return encodedFrames.load(std::memory_order_relaxed); }

namespace {

// The JSON head of a frame whose tail holds `dataLength` bytes.
std::string headTextFor(std::string_view className, const Json::Value& message, size_t dataLength) {
    Json::Value object = message.isObject() ? message : Json::Value(Json::objectValue);
    object[protocol::field::dataLength] = Json::Value::UInt64(dataLength);
    Json::Value head(Json::objectValue);
    head[protocol::field::className] = std::string(className);
    head[protocol::field::msgJson] = writeCompact(object);
    return writeCompact(head);
}

}  // namespace

std::vector<uint8_t> encodeFrameHead(std::string_view className, const Json::Value& message,
                                     size_t dataLength) {
    const std::string headText = headTextFor(className, message, dataLength);
    std::vector<uint8_t> bytes(8);
    writeLE32(bytes.data(), uint32_t(headText.size() + dataLength + 4));
    writeLE32(bytes.data() + 4, uint32_t(headText.size()));
    bytes.insert(bytes.end(), headText.begin(), headText.end());
    encodedFrames.fetch_add(1, std::memory_order_relaxed);
    return bytes;
}

Frame encodeFrame(std::string_view className, const Json::Value& message,
                  const void* data, size_t dataLength) {
    const std::string headText = headTextFor(className, message, dataLength);

    const size_t headLength = headText.size();
    const size_t totalLength = headLength + dataLength + 4;
    // Built by appending, so the tail is written once (no zero-fill first).
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    bytes->reserve(totalLength + 4);
    bytes->resize(8);
    writeLE32(bytes->data(), uint32_t(totalLength));
    writeLE32(bytes->data() + 4, uint32_t(headLength));
    bytes->insert(bytes->end(), headText.begin(), headText.end());
    if (dataLength > 0 && data != nullptr) {
        const auto* tail = static_cast<const uint8_t*>(data);
        bytes->insert(bytes->end(), tail, tail + dataLength);
    } else {
        bytes->resize(totalLength + 4);
    }
    encodedFrames.fetch_add(1, std::memory_order_relaxed);
    return bytes;
}

Frame keepAliveFrame() {
    static const Frame frame = std::make_shared<const std::vector<uint8_t>>(4, uint8_t(0));
    return frame;
}

DecodeResult decodeFrameBody(const uint8_t* body, size_t totalLength, DecodedMessage& out) {
    out = DecodedMessage();
    if (totalLength < 4) return DecodeResult::BadHeadLength;
    const uint32_t headLength = readLE32(body);
    if (headLength > totalLength - 4) return DecodeResult::BadHeadLength;

    const char* headText = reinterpret_cast<const char*>(body + 4);
    Json::Value head;
    if (!parseJson(std::string_view(headText, headLength), head) || !head.isObject())
        return DecodeResult::HeadNotJson;

    const Json::Value& name = head[protocol::field::className];
    const Json::Value& msgJson = head[protocol::field::msgJson];
    if (!name.isString() || !msgJson.isString()) return DecodeResult::BadMessage;

    const char* begin = nullptr;
    const char* end = nullptr;
    msgJson.getString(&begin, &end);
    Json::Value message;
    if (!parseJson(std::string_view(begin, size_t(end - begin)), message) || !message.isObject())
        return DecodeResult::BadMessage;

    out.className = name.asString();
    out.message = std::move(message);
    out.dataLength = totalLength - 4 - headLength;
    out.data = out.dataLength ? body + 4 + headLength : nullptr;
    return DecodeResult::Ok;
}

}  // namespace net
