// BGRA to YUV 4:2:0: colours (BT.601, limited range) and scaling.
#include "stream/frame_converter.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <vector>

namespace {

struct I420 {
    I420(int w, int h) : w(w), h(h), y(size_t(w) * h), u(size_t(w / 2) * (h / 2)), v(u.size()) {}
    stream::YuvPlanes planes() { return {y.data(), w, u.data(), w / 2, v.data(), w / 2}; }
    int w, h;
    std::vector<uint8_t> y, u, v;
};

std::vector<uint8_t> solid(int w, int h, uint8_t b, uint8_t g, uint8_t r) {
    std::vector<uint8_t> p(size_t(w) * h * 4);
    for (size_t i = 0; i < p.size(); i += 4) {
        p[i] = b;
        p[i + 1] = g;
        p[i + 2] = r;
        p[i + 3] = 0;  // captured pixels carry 0 here
    }
    return p;
}

bool near(int value, int want, int tolerance = 2) { return std::abs(value - want) <= tolerance; }

}  // namespace

TEST(FrameConverter, ColoursBecomeTheirYuvValuesAtEverySize) {
    struct Colour {
        uint8_t b, g, r;
        int y, u, v;
    };
    const Colour colours[] = {
        {0, 0, 255, 82, 90, 240},    // red
        {255, 0, 0, 41, 240, 110},   // blue
        {255, 255, 255, 235, 128, 128},
        {0, 0, 0, 16, 128, 128},
    };
    for (auto [sw, sh, dw, dh] : {std::array<int, 4>{64, 48, 64, 48}, {96, 54, 64, 36}, {30, 20, 64, 40}}) {
        stream::FrameConverter converter(sw, sh, dw, dh);
        ASSERT_TRUE(converter.valid());
        for (const Colour& c : colours) {
            auto picture = solid(sw, sh, c.b, c.g, c.r);
            I420 out(dw, dh);
            ASSERT_TRUE(converter.convert(picture.data(), sw * 4, out.planes()));
            EXPECT_TRUE(near(out.y[dw * dh / 2 + dw / 2], c.y)) << int(out.y[0]) << " for r" << int(c.r);
            EXPECT_TRUE(near(out.u[out.u.size() / 2], c.u)) << int(out.u[0]);
            EXPECT_TRUE(near(out.v[out.v.size() / 2], c.v)) << int(out.v[0]);
        }
    }
}

TEST(FrameConverter, LeftAndRightHalvesStayApartWhenScaled) {
    const int sw = 200, sh = 100, dw = 100, dh = 50;
    auto picture = solid(sw, sh, 0, 0, 0);
    for (int y = 0; y < sh; ++y)
        for (int x = sw / 2; x < sw; ++x)
            for (int k = 0; k < 3; ++k) picture[(size_t(y) * sw + x) * 4 + k] = 255;
    stream::FrameConverter converter(sw, sh, dw, dh);
    I420 out(dw, dh);
    ASSERT_TRUE(converter.convert(picture.data(), sw * 4, out.planes()));
    EXPECT_TRUE(near(out.y[25 * dw + 10], 16));
    EXPECT_TRUE(near(out.y[25 * dw + 90], 235));
}

TEST(FrameConverter, EmptySizesAreRefused) {
    stream::FrameConverter none(0, 0, 1280, 720);
    EXPECT_FALSE(none.valid());
    I420 out(16, 16);
    EXPECT_FALSE(none.convert(nullptr, 0, out.planes()));
    stream::FrameConverter noOutput(64, 64, 0, 0);
    EXPECT_FALSE(noOutput.valid());
}

// Converting only the changed rows into the earlier picture's conversion
// gives exactly what converting the whole new picture gives, at the sizes the
// encoder uses (scaled down, scaled up, same size) and for bands anywhere.
TEST(FrameConverter, ChangedRowsGiveTheSameResultAsTheWholePicture) {
    uint32_t seed = 12345;
    auto noise = [&](std::vector<uint8_t>& p) {
        for (auto& b : p) {
            seed = seed * 1664525u + 1013904223u;
            b = uint8_t(seed >> 24);
        }
    };
    for (auto [sw, sh, dw, dh] : {std::array<int, 4>{1920, 1080, 1366, 768},
                                  {1920, 1080, 1280, 720},
                                  {800, 600, 800, 600},
                                  {640, 360, 1280, 720},
                                  {1280, 1024, 1280, 768}}) {
        stream::FrameConverter converter(sw, sh, dw, dh);
        std::vector<uint8_t> before(size_t(sw) * sh * 4), after;
        noise(before);
        I420 partial(dw, dh), whole(dw, dh);
        ASSERT_TRUE(converter.convert(before.data(), sw * 4, partial.planes()));
        for (auto [top, bottom] : {std::array<int, 2>{0, 1}, {1, 2}, {37, 38}, {100, 357},
                                   {sh - 1, sh}, {sh / 2 - 3, sh / 2 + 4}}) {
            after = before;
            std::vector<uint8_t> band(size_t(bottom - top) * sw * 4);
            noise(band);
            std::copy(band.begin(), band.end(), after.begin() + size_t(top) * sw * 4);
            ASSERT_TRUE(converter.convertRows(after.data(), sw * 4, partial.planes(), top, bottom));
            ASSERT_TRUE(converter.convert(after.data(), sw * 4, whole.planes()));
            ASSERT_EQ(partial.y, whole.y) << sw << "x" << sh << " -> " << dw << "x" << dh << " rows "
                                          << top << ".." << bottom;
            ASSERT_EQ(partial.u, whole.u) << sw << "x" << sh << " rows " << top << ".." << bottom;
            ASSERT_EQ(partial.v, whole.v) << sw << "x" << sh << " rows " << top << ".." << bottom;
            before = after;
        }
    }
}
