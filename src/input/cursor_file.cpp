#include "input/cursor_file.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace input {
namespace {

constexpr int kMaxSide = 256;
constexpr size_t kMaxFrames = 256;
constexpr size_t kMaxSteps = 1024;

uint16_t u16(std::string_view b, size_t at) {
    return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}
uint32_t u32(std::string_view b, size_t at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
           uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}
uint32_t be32(std::string_view b, size_t at) {
    return uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 |
           uint32_t(uint8_t(b[at + 2])) << 8 | uint32_t(uint8_t(b[at + 3]));
}

bool fail(std::string* error, const char* why) {
    if (error) *error = why;
    return false;
}

bool isPng(std::string_view b) { return b.size() >= 24 && b.substr(0, 8) == "\x89PNG\r\n\x1a\n"; }

// One DIB entry: BITMAPINFOHEADER, palette, colour rows, AND-mask rows, all
// bottom-up; the header's height counts both halves.
bool readDib(std::string_view b, CursorFrame& f, std::string* error) {
    if (b.size() < 40) return fail(error, "bitmap header cut short");
    const uint32_t headerSize = u32(b, 0);
    const int32_t width = int32_t(u32(b, 4));
    const int32_t doubleHeight = int32_t(u32(b, 8));
    const uint16_t bits = u16(b, 14);
    const uint32_t compression = u32(b, 16);
    uint32_t colours = u32(b, 32);
    if (headerSize < 40 || headerSize > b.size()) return fail(error, "bad bitmap header size");
    const int height = std::abs(doubleHeight) / 2;
    if (width <= 0 || width > kMaxSide || height <= 0 || height > kMaxSide)
        return fail(error, "bad bitmap size");
    if (compression != 0 && !(compression == 3 && bits == 32)) return fail(error, "compressed bitmap");
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return fail(error, "unsupported bit count");
    size_t at = headerSize;
    if (compression == 3 && headerSize == 40) at += 12;  // colour masks (BGRA order assumed)
    std::vector<uint32_t> palette;
    if (bits <= 8) {
        if (colours == 0 || colours > (1u << bits)) colours = 1u << bits;
        if (at + size_t(colours) * 4 > b.size()) return fail(error, "palette cut short");
        for (uint32_t i = 0; i < colours; ++i) palette.push_back(0xFF000000u | (u32(b, at + i * 4) & 0xFFFFFFu));
        at += size_t(colours) * 4;
    }
    const size_t stride = (size_t(width) * bits + 31) / 32 * 4;
    const size_t maskStride = (size_t(width) + 31) / 32 * 4;
    if (at + stride * height > b.size()) return fail(error, "pixels cut short");
    const bool haveMask = at + stride * height + maskStride * height <= b.size();
    f.width = width;
    f.height = height;
    f.argb.assign(size_t(width) * height, 0);
    bool anyAlpha = false;
    for (int row = 0; row < height; ++row) {
        const size_t src = at + size_t(height - 1 - row) * stride;
        for (int x = 0; x < width; ++x) {
            uint32_t p = 0;
            switch (bits) {
            case 32: p = u32(b, src + x * 4); break;
            case 24:
                p = 0xFF000000u | uint32_t(uint8_t(b[src + x * 3])) | uint32_t(uint8_t(b[src + x * 3 + 1])) << 8 |
                    uint32_t(uint8_t(b[src + x * 3 + 2])) << 16;
                break;
            default: {
                const size_t bit = size_t(x) * bits;
                const unsigned byte = uint8_t(b[src + bit / 8]);
                const unsigned index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                p = index < palette.size() ? palette[index] : 0xFF000000u;
            }
            }
            if (bits == 32 && (p >> 24) != 0) anyAlpha = true;
            f.argb[size_t(row) * width + x] = p;
        }
    }
    // Without per-pixel alpha the AND mask says what is transparent. A masked
    // pixel with colour would invert the screen; it is drawn black instead.
    if (!(bits == 32 && anyAlpha)) {
        const size_t maskAt = at + stride * height;
        for (int row = 0; row < height; ++row) {
            for (int x = 0; x < width; ++x) {
                uint32_t& p = f.argb[size_t(row) * width + x];
                bool transparent = false;
                if (haveMask) {
                    const size_t src = maskAt + size_t(height - 1 - row) * maskStride;
                    transparent = (uint8_t(b[src + x / 8]) >> (7 - x % 8)) & 1;
                }
                if (!transparent)
                    p |= 0xFF000000u;
                else
                    p = (p & 0xFFFFFFu) ? 0xFF000000u : 0;
            }
        }
    }
    return true;
}

// A .cur or .ico file: the largest entry, the deepest colour among equals.
bool readIconFile(std::string_view b, CursorFrame& f, std::string* error) {
    if (b.size() < 6 || u16(b, 0) != 0 || (u16(b, 2) != 1 && u16(b, 2) != 2))
        return fail(error, "not a cursor or icon file");
    const bool cursor = u16(b, 2) == 2;
    const size_t count = u16(b, 4);
    if (count == 0 || 6 + count * 16 > b.size()) return fail(error, "bad entry count");
    size_t best = count;
    int64_t bestScore = -1;
    for (size_t i = 0; i < count; ++i) {
        const size_t e = 6 + i * 16;
        const int w = uint8_t(b[e]) ? uint8_t(b[e]) : 256;
        const int h = uint8_t(b[e + 1]) ? uint8_t(b[e + 1]) : 256;
        const uint32_t size = u32(b, e + 8), offset = u32(b, e + 12);
        if (offset > b.size() || size > b.size() - offset || size == 0) continue;
        const int depth = cursor ? 32 : u16(b, e + 6);
        const int64_t score = int64_t(w) * h * 64 + depth;
        if (score > bestScore) {
            bestScore = score;
            best = i;
        }
    }
    if (best == count) return fail(error, "no readable entry");
    const size_t e = 6 + best * 16;
    const std::string_view data = b.substr(u32(b, e + 12), u32(b, e + 8));
    if (isPng(data)) {
        const uint32_t w = be32(data, 16), h = be32(data, 20);
        if (w == 0 || h == 0 || w > kMaxSide || h > kMaxSide) return fail(error, "bad PNG size");
        f.width = int(w);
        f.height = int(h);
        f.png.assign(data);
    } else if (!readDib(data, f, error)) {
        return false;
    }
    if (cursor) {
        f.hotX = std::min<int>(u16(b, e + 4), f.width - 1);
        f.hotY = std::min<int>(u16(b, e + 6), f.height - 1);
    }
    return true;
}

// A RIFF "ACON" file: "anih" header, optional "rate" and "seq " tables and a
// "LIST" of type "fram" whose "icon" chunks are whole .cur/.ico files.
bool readAni(std::string_view b, CursorFile& out, std::string* error) {
    const size_t riffEnd = std::min<size_t>(b.size(), size_t(u32(b, 4)) + 8);
    uint32_t frameCount = 0, stepCount = 0, defaultRate = 0, attributes = 0;
    bool haveHeader = false;
    std::vector<uint32_t> rates, seq;
    auto readTable = [&](std::string_view chunk, std::vector<uint32_t>& table) {
        for (size_t i = 0; i + 4 <= chunk.size() && table.size() < kMaxSteps; i += 4) table.push_back(u32(chunk, i));
    };
    size_t at = 12;
    while (at + 8 <= riffEnd) {
        const std::string_view id = b.substr(at, 4);
        const uint32_t size = u32(b, at + 4);
        if (size > riffEnd - at - 8) return fail(error, "chunk runs past the file");
        const std::string_view chunk = b.substr(at + 8, size);
        if (id == "anih") {
            if (size < 36) return fail(error, "short animation header");
            frameCount = u32(chunk, 4);
            stepCount = u32(chunk, 8);
            defaultRate = u32(chunk, 28);
            attributes = u32(chunk, 32);
            haveHeader = true;
        } else if (id == "rate") {
            readTable(chunk, rates);
        } else if (id == "seq ") {
            readTable(chunk, seq);
        } else if (id == "LIST" && size >= 4 && chunk.substr(0, 4) == "fram") {
            size_t f = 4;
            while (f + 8 <= chunk.size()) {
                const uint32_t fsize = u32(chunk, f + 4);
                if (fsize > chunk.size() - f - 8) return fail(error, "frame runs past its list");
                if (chunk.substr(f, 4) == "icon") {
                    if (out.frames.size() >= kMaxFrames) return fail(error, "too many frames");
                    CursorFrame frame;
                    if (!readIconFile(chunk.substr(f + 8, fsize), frame, error)) return false;
                    out.frames.push_back(std::move(frame));
                }
                f += 8 + fsize + (fsize & 1);
            }
        }
        at += 8 + size + (size & 1);
    }
    if (!haveHeader) return fail(error, "no animation header");
    if (!(attributes & 1)) return fail(error, "raw-bitmap animation frames are not supported");
    if (out.frames.empty()) return fail(error, "no frames");
    if (frameCount != 0 && frameCount < out.frames.size()) out.frames.resize(frameCount);
    if (seq.empty()) {
        const size_t steps = std::min<size_t>(stepCount ? stepCount : out.frames.size(), kMaxSteps);
        for (size_t i = 0; i < steps; ++i) seq.push_back(uint32_t(i % out.frames.size()));
    }
    for (size_t i = 0; i < seq.size(); ++i) {
        if (seq[i] >= out.frames.size()) return fail(error, "sequence names a missing frame");
        const uint32_t jiffies = i < rates.size() ? rates[i] : defaultRate;
        out.sequence.push_back(seq[i]);
        // Rates are in 1/60 s; at least one jiffy, at most ten seconds.
        out.delaysMs.push_back(int(std::clamp<uint32_t>(jiffies, 1, 600) * 1000 / 60));
    }
    return true;
}

}  // namespace

bool parseCursorFile(std::string_view bytes, CursorFile& out, std::string* error) {
    out = CursorFile{};
    if (bytes.size() > kMaxCursorFileBytes) return fail(error, "file too large");
    if (bytes.size() >= 12 && bytes.substr(0, 4) == "RIFF" && bytes.substr(8, 4) == "ACON") {
        if (readAni(bytes, out, error)) return true;
        out = CursorFile{};
        return false;
    }
    CursorFrame frame;
    if (!readIconFile(bytes, frame, error)) return false;
    out.frames.push_back(std::move(frame));
    out.sequence.push_back(0);
    out.delaysMs.push_back(0);
    return true;
}

bool loadCursorFile(const std::string& path, CursorFile& out, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail(error, "cannot open the file");
    std::string bytes;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        bytes.append(buf, size_t(in.gcount()));
        if (bytes.size() > kMaxCursorFileBytes) return fail(error, "file too large");
    }
    return parseCursorFile(bytes, out, error);
}

}  // namespace input
