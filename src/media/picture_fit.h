// Picture geometry shared by the player's decoding threads, its picture
// control and its input handling.
#pragma once

#include <cstddef>
#include <cstdint>

namespace media {

struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size& o) const { return width == o.width && height == o.height; }
};

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Widest picture the decoding threads produce.
inline constexpr int kMaxPictureWidth = 1920;

// The size the video threads convert pictures of w x h to: fitted into the
// display without enlargement (even sizes), or the whole display in
// mirroring mode; never wider than 1920.
Size fitToScreen(int w, int h, Size display, bool mirroring);

// Where the picture control draws a frame of `frame` size in an area of
// `area` size: scaled down to fit (never enlarged) and centred, or
// stretched over the area in mirroring mode.
Rect pictureTarget(Size frame, Size area, bool mirroring);

// The picture size the pointer coordinates of "mouse-event" are relative
// to: the video (w x h) scaled to fit the client area, sizes truncated.
Size pointerPictureSize(Size video, Size client);

// The close square in the top-right corner of the player's client area:
// 32 x 32, left and top edges inclusive.
bool inCloseSquare(int x, int y, int clientWidth);

// Live view: whether a compressed picture starts a decodable sequence (an
// H.264/HEVC access unit with parameter sets or an IRAP picture, a VP8 key
// frame). codecIndex 0 H.264, 1 VP8, 2 HEVC.
bool isLiveKeyFrame(int codecIndex, const uint8_t* data, size_t length);

}  // namespace media
