#include "support/buffer.h"

#include <gtest/gtest.h>
#include <string>

using support::MyBuffer;
using support::MyBufferList;

namespace {

std::string held(const MyBuffer& b) {
    return std::string(reinterpret_cast<const char*>(b.getBuffer()), b.getLen());
}

}  // namespace

TEST(MyBuffer, TakeAndEraseRemoveFromTheFrontInOrder) {
    MyBuffer b("hello", 5);
    b.appendBuffer(" world", 6);
    char out[16] = {};
    EXPECT_EQ(b.takeData(out, 3), 3u);
    EXPECT_EQ(std::string(out, 3), "hel");
    b.eraseData(2);
    EXPECT_EQ(held(b), " world");
    EXPECT_EQ(b.takeData(out, sizeof out), 6u);  // more asked than held
    EXPECT_EQ(std::string(out, 6), " world");
    EXPECT_EQ(b.getLen(), 0u);
    EXPECT_EQ(b.takeData(out, 4), 0u);
    b.eraseData(100);
    EXPECT_EQ(b.getLen(), 0u);
}

TEST(MyBuffer, TakeIntoNullKeepsTheData) {
    MyBuffer b("abc", 3);
    EXPECT_EQ(b.takeData(nullptr, 2), 0u);
    EXPECT_EQ(held(b), "abc");
}

TEST(MyBuffer, ReceiveSizeGrowsKeepsCapacityAndFrontData) {
    MyBuffer b;
    b.getBuffer(1000);
    EXPECT_EQ(b.getLen(), 1000u);
    const size_t grown = b.capacity();
    EXPECT_GE(grown, 1000u);
    b.resetBuffer();
    EXPECT_EQ(b.getLen(), 0u);
    EXPECT_EQ(b.capacity(), grown);
    b.getBuffer(10);
    EXPECT_EQ(b.capacity(), grown);

    MyBuffer c("abcdef", 6);
    c.eraseData(2);
    uint8_t* p = c.getBuffer(8);  // bytes still held stay at the front
    EXPECT_EQ(std::string(reinterpret_cast<char*>(p), 4), "cdef");
    EXPECT_EQ(c.getLen(), 8u);
}

TEST(MyBuffer, AppendFromItsOwnBytes) {
    MyBuffer b("xyz", 3);
    for (int i = 0; i < 6; ++i) b.appendBuffer(b.getBuffer(), b.getLen());
    EXPECT_EQ(b.getLen(), 3u << 6);
    EXPECT_EQ(held(b).substr(189), "xyz");
}

// A stream pushed through append/take in uneven pieces comes out unchanged,
// across every internal compaction.
TEST(MyBuffer, StreamSurvivesInterleavedAppendAndTake) {
    MyBuffer b(16);
    std::string sent, received;
    for (int i = 0; i < 2000; ++i) {
        const std::string piece = std::to_string(i) + ";";
        sent += piece;
        b.appendBuffer(piece.data(), piece.size());
        char out[5];
        const size_t n = b.takeData(out, i % 3 == 0 ? 1 : 5);
        received.append(out, n);
    }
    received += held(b);
    EXPECT_EQ(received, sent);
}

TEST(MyBufferList, FirstInFirstOut) {
    MyBufferList list;
    EXPECT_EQ(list.pop(), nullptr);
    list.push(std::make_unique<MyBuffer>("1", 1));
    list.push(std::make_unique<MyBuffer>("2", 1));
    list.push(nullptr);  // ignored
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(held(*list.pop()), "1");
    EXPECT_EQ(held(*list.pop()), "2");
    EXPECT_EQ(list.pop(), nullptr);
    list.push(std::make_unique<MyBuffer>("3", 1));
    list.clear();
    EXPECT_EQ(list.pop(), nullptr);
}
