// Reading cursor files: the shipped ones, other bit depths, and damaged input.
#include "input/cursor_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace input_test {
namespace {

std::string readShipped(const std::string& name) {
    std::ifstream in(std::string(LUMACRO3_SOURCE_DIR) + "/data/cursor/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void put16(std::string& b, size_t at, uint16_t v) {
    b[at] = char(v & 0xFF);
    b[at + 1] = char(v >> 8);
}
void put32(std::string& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = char((v >> (8 * i)) & 0xFF);
}

TEST(CursorFileTest, ShippedCursorsReadWithTheirFramesAndHotSpots) {
    const struct {
        const char* name;
        size_t frames;
        int hotX, hotY;
    } files[] = {{"0.cur", 1, 18, 18}, {"1.ani", 8, 2, 2},   {"2.cur", 1, 24, 24}, {"3.ani", 8, 24, 13},
                 {"4.cur", 1, 3, 45},  {"5.ani", 8, 2, 2},   {"6.ani", 8, 24, 18}, {"7.ani", 8, 2, 26}};
    for (const auto& f : files) {
        input::CursorFile file;
        std::string error;
        ASSERT_TRUE(input::parseCursorFile(readShipped(f.name), file, &error)) << f.name << ": " << error;
        ASSERT_EQ(file.frames.size(), f.frames) << f.name;
        EXPECT_EQ(file.sequence.size(), f.frames);
        EXPECT_EQ(file.animated(), f.frames > 1);
        const input::CursorFrame& first = file.frames[0];
        EXPECT_EQ(first.width, 48);
        EXPECT_EQ(first.height, 48);
        EXPECT_EQ(std::make_pair(first.hotX, first.hotY), std::make_pair(f.hotX, f.hotY)) << f.name;
        size_t opaque = 0;
        for (uint32_t p : first.argb) opaque += (p >> 24) == 0xFF;
        EXPECT_GT(opaque, 200u) << f.name;
        if (f.frames > 1) {
            EXPECT_GE(file.delaysMs[0], 100);
            EXPECT_NE(file.frames[0].argb, file.frames[1].argb) << f.name << " does not move";
        }
    }
}

// A 4 x 2 cursor in 1 bit per pixel with an AND mask: white, black,
// transparent, and a masked pixel with colour (screen inversion), drawn black.
TEST(CursorFileTest, MonochromeCursorUsesItsMask) {
    std::string b(6 + 16 + 40 + 8 + 2 * 4 + 2 * 4, '\0');
    put16(b, 2, 2);
    put16(b, 4, 1);
    b[6] = 4;
    b[7] = 2;
    put16(b, 10, 1);  // hot spot (1, 1)
    put16(b, 12, 1);
    put32(b, 14, uint32_t(b.size() - 22));
    put32(b, 18, 22);
    size_t at = 22;
    put32(b, at, 40);
    put32(b, at + 4, 4);
    put32(b, at + 8, 4);
    put16(b, at + 12, 1);
    put16(b, at + 14, 1);
    at += 40;
    put32(b, at, 0x000000);      // palette: black
    put32(b, at + 4, 0xFFFFFF);  // white
    at += 8;
    // Colour rows, bottom row first: bottom row = 1,0,0,1 ; top row = 1,0,0,0.
    b[at] = char(0x90);
    b[at + 4] = char(0x80);
    at += 8;
    // Mask rows: bottom row 0,0,1,1 ; top row 0,0,0,0.
    b[at] = char(0x30);
    input::CursorFile file;
    std::string error;
    ASSERT_TRUE(input::parseCursorFile(b, file, &error)) << error;
    const input::CursorFrame& f = file.frames[0];
    EXPECT_EQ(std::make_pair(f.hotX, f.hotY), std::make_pair(1, 1));
    EXPECT_EQ(f.argb, (std::vector<uint32_t>{0xFFFFFFFF, 0xFF000000, 0xFF000000, 0xFF000000,  //
                                             0xFFFFFFFF, 0xFF000000, 0x00000000, 0xFF000000}));
}

TEST(CursorFileTest, PngEntriesAreHandedOverWithTheirSize) {
    std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string("\0\0\0\x0dIHDR", 8) +
                      std::string("\0\0\0\x40\0\0\0\x20", 8) + std::string(16, '\0');
    std::string b(22, '\0');
    put16(b, 2, 2);
    put16(b, 4, 1);
    put16(b, 10, 5);
    put16(b, 12, 7);
    put32(b, 14, uint32_t(png.size()));
    put32(b, 18, 22);
    b += png;
    input::CursorFile file;
    ASSERT_TRUE(input::parseCursorFile(b, file));
    EXPECT_EQ(file.frames[0].width, 64);
    EXPECT_EQ(file.frames[0].height, 32);
    EXPECT_EQ(file.frames[0].png, png);
    EXPECT_EQ(std::make_pair(file.frames[0].hotX, file.frames[0].hotY), std::make_pair(5, 7));
}

TEST(CursorFileTest, DamagedFilesAreRefusedWithoutReadingPastThem) {
    for (const char* name : {"0.cur", "1.ani"}) {
        const std::string whole = readShipped(name);
        // Every cut: refused or read, never out of bounds.
        for (size_t cut = 0; cut < whole.size(); cut += (cut < 200 ? 1 : 97)) {
            input::CursorFile file;
            if (input::parseCursorFile(std::string_view(whole).substr(0, cut), file)) {
                ASSERT_FALSE(file.frames.empty());
                for (size_t s : file.sequence) ASSERT_LT(s, file.frames.size());
            }
        }
    }
    input::CursorFile file;
    std::string cur = readShipped("0.cur");
    put32(cur, 18, 0xFFFFFFF0);  // entry offset past the end
    EXPECT_FALSE(input::parseCursorFile(cur, file));
    cur = readShipped("0.cur");
    put32(cur, 22 + 4, 100000);  // bitmap width far too large
    EXPECT_FALSE(input::parseCursorFile(cur, file));

    std::string ani = readShipped("1.ani");
    const size_t anih = ani.find("anih");
    ASSERT_NE(anih, std::string::npos);
    std::string noIcons = ani;
    put32(noIcons, anih + 8 + 32, 0);  // frames flagged as raw bitmaps
    EXPECT_FALSE(input::parseCursorFile(noIcons, file));
    std::string hugeChunk = ani;
    put32(hugeChunk, anih + 4, 0x7FFFFFFF);
    EXPECT_FALSE(input::parseCursorFile(hugeChunk, file));
    // A sequence that names a frame that does not exist.
    std::string withSeq = ani;
    const std::string seq = std::string("seq ", 4) + std::string("\x04\0\0\0\x09\0\0\0", 8);
    withSeq.insert(anih, seq);
    put32(withSeq, 4, uint32_t(withSeq.size() - 8));
    EXPECT_FALSE(input::parseCursorFile(withSeq, file));
    EXPECT_FALSE(input::parseCursorFile("", file));
    EXPECT_FALSE(input::parseCursorFile(std::string("RIFF\x04\0\0\0ACON", 12), file));
    EXPECT_FALSE(input::loadCursorFile("/nonexistent/file.cur", file));
}

}  // namespace
}  // namespace input_test
