// Feeds arbitrary bytes through the receive path of a session: the frame
// reader (lengths, keep-alives, head and message parsing) and then the
// dispatcher with a hub and features that only record.
#include "common/recording_hub.h"
#include "core/settings.h"
#include "net/frame_reader.h"
#include "ui/main/command_context.h"
#include "ui/main/dispatcher.h"

#include <cstring>

namespace {

class MemorySource : public net::ByteSource {
public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    long readExactly(void* buffer, size_t n) override {
        if (size_ - pos_ < n) return 0;
        std::memcpy(buffer, data_ + pos_, n);
        pos_ += n;
        return long(n);
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

class NullPort : public net::SessionPort {
public:
    void send(std::string_view, const Json::Value&, const void*, size_t, int) override {}
    bool isAdmin(int) override { return true; }
    uint32_t boundAddress() override { return 0x0100007f; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static core::MemorySettings settings;
    static NullPort port;
    testing_support::RecordingHub hub;
    ui::CommandContext context;
    context.server = &port;
    context.hub = &hub;
    context.settings = &settings;
    context.docDir = [] { return std::string("/nonexistent"); };

    MemorySource source(data, size);
    net::FrameReader reader(source, "fuzz");
    net::DecodedMessage message;
    for (int frames = 0; frames < 64; ++frames) {
        net::ReadStatus status = reader.next(message);
        if (status == net::ReadStatus::End) break;
        if (status == net::ReadStatus::Dropped) continue;
        ui::dispatchMessage(message.data, message.className, &context, message.message,
                            message.dataLength, 7);
    }
    return 0;
}
