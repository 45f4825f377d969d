// Windows cursor files: .cur / .ico (DIB or PNG entries) and the RIFF .ani
// container of animated cursors. Files come from users (a custom cursor path),
// so every size and offset is checked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace input {

struct CursorFrame {
    int width = 0;
    int height = 0;
    int hotX = 0;
    int hotY = 0;
    // Non-premultiplied 0xAARRGGBB pixels, top row first; empty for a PNG entry.
    std::vector<uint32_t> argb;
    // A PNG entry's bytes, for the caller to decode (the hotspot still applies).
    std::string png;
};

struct CursorFile {
    std::vector<CursorFrame> frames;
    // Display order as indexes into frames, with each step's time.
    std::vector<size_t> sequence;
    std::vector<int> delaysMs;
    bool animated() const { return sequence.size() > 1; }
};

// Larger files are refused.
inline constexpr size_t kMaxCursorFileBytes = 8 * 1024 * 1024;

// Reads a .cur, .ico or .ani file's bytes (the kind is told by its contents).
// False, with a reason in `error`, when the bytes are not a usable cursor.
bool parseCursorFile(std::string_view bytes, CursorFile& out, std::string* error = nullptr);
bool loadCursorFile(const std::string& path, CursorFile& out, std::string* error = nullptr);

}  // namespace input
