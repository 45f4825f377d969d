// Heap arguments of posted hub messages. Ownership passes with the message;
// the handler (or the hub, when it drops the message) frees them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace core {

struct HeapBlock {
    virtual ~HeapBlock() = default;
};

// Limits of the text blocks, in UTF-16 code units without the terminating NUL.
inline constexpr size_t kUrlBlockUnits = 2047;         // 4096-byte URL or path block
inline constexpr size_t kScreenshotPathUnits = 511;    // 1024-byte screenshot path block
inline constexpr size_t kMediaFileNameUnits = 255;     // name part of the 520-byte media-file block

// A URL or path (UTF-8), already cut to its block's limit.
struct TextBlock : HeapBlock {
    std::string text;
};

// A signed 64-bit media position in microseconds.
struct PositionBlock : HeapBlock {
    int64_t position = 0;
};

// A media file streamed from the phone: its name and size.
struct MediaFileBlock : HeapBlock {
    std::string name;
    int64_t size = 0;
    int socket = -1;  // the session of the phone that serves the file
};

// An erase path for the annotation overlay: point radius and x0, y0, x1, y1, ...
struct StrokeBlock : HeapBlock {
    double pointRadius = 0;
    std::vector<double> points;
};

// A callable run on the UI thread with a pair of integers.
struct RunOnUiBlock : HeapBlock {
    std::function<void(int64_t, int64_t)> callable;
    int64_t first = 0;
    int64_t second = 0;
};

// Makes a text block whose text is `utf8` cut at a character boundary to at
// most `maxUnits` UTF-16 code units.
std::unique_ptr<TextBlock> makeTextBlock(const std::string& utf8, size_t maxUnits);

}  // namespace core
