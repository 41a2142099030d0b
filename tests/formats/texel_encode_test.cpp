// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/texel_layout.h"

#include <squish.h>

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

// Five pixels of B, G, R, A: the expected bytes below are worked out from the
// layout table by hand ((v * 31 + 127) div 255 and so on), not by the encoder.
const std::vector<uint8_t> kPixels = {
    0x10, 0x80, 0xF0, 0x40,  // alpha below 128
    0xFF, 0x00, 0x7F, 0xC8, 0x00, 0x00, 0x00, 0x00,
    0xFF, 0xFF, 0xFF, 0xFF, 0x08, 0x84, 0x7C, 0x80,  // alpha exactly 128: opaque in 1555
};

struct UncompressedCase {
    TexelFormat format;
    std::vector<uint8_t> expected;
};

class UncompressedEncoding : public ::testing::TestWithParam<UncompressedCase> {};

TEST_P(UncompressedEncoding, BytesFollowTheLayoutTable)
{
    const UncompressedCase& c = GetParam();
    TexelLayout layout;
    layout.format = c.format;
    layout.width = 5;
    layout.height = 1;
    std::vector<uint8_t> out(size_t(texelLevelBytes(c.format, 5, 1)), 0xEE);
    ASSERT_EQ(out.size(), c.expected.size());
    encodeTexelLevel(layout, kPixels.data(), 5, 1, out.data());
    EXPECT_EQ(out, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    EveryUncompressedLayout, UncompressedEncoding,
    ::testing::Values(
        UncompressedCase{TexelFormat::Bgra8888, kPixels},
        UncompressedCase{TexelFormat::Bgrx888, {0x10, 0x80, 0xF0, 0xFF, 0xFF, 0x00, 0x7F, 0xFF, 0x00, 0x00,
                                                0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x08, 0x84, 0x7C, 0xFF}},
        UncompressedCase{TexelFormat::Argb1555, {0x02, 0x76, 0x1F, 0xBC, 0x00, 0x00, 0xFF, 0xFF, 0x01, 0xBE}},
        UncompressedCase{TexelFormat::Rgb555, {0x02, 0xF6, 0x1F, 0xBC, 0x00, 0x80, 0xFF, 0xFF, 0x01, 0xBE}},
        UncompressedCase{TexelFormat::Rgb565, {0x02, 0xEC, 0x1F, 0x78, 0x00, 0x00, 0xFF, 0xFF, 0x21, 0x7C}},
        UncompressedCase{TexelFormat::Argb4444, {0x81, 0x4E, 0x0F, 0xC7, 0x00, 0x00, 0xFF, 0xFF, 0x80, 0x87}},
        UncompressedCase{TexelFormat::Lum8, {0x95, 0x43, 0x00, 0xFF, 0x73}}));

// Channel values that 5 and 6 bits hold exactly (bit replication, as the
// block decoder widens them).
constexpr std::array<uint8_t, 4> kExact5 = {0x00, 0xFF, 0x84, 0x42};  // 0, 31, 16, 8
constexpr std::array<uint8_t, 4> kExact6 = {0x00, 0xFF, 0x82, 0x28};  // 0, 63, 32, 10

// A picture of width x height made of flat 4 x 4 blocks, each of its own
// colour (and alpha), so a swapped channel, a flipped row or a misplaced
// block shows.
std::vector<uint8_t> flatBlocks(int width, int height, bool withAlpha)
{
    std::vector<uint8_t> bgra(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int block = (y / 4) * ((width + 3) / 4) + x / 4;
            uint8_t* p = bgra.data() + 4 * (size_t(y) * width + x);
            p[0] = kExact5[block % 4];
            p[1] = kExact6[(block / 2) % 4];
            p[2] = kExact5[(block / 3 + 1) % 4];
            p[3] = withAlpha ? uint8_t(17 * ((block * 5 + 3) % 16)) : 255;
        }
    }
    return bgra;
}

std::vector<uint8_t> decodeWithLibrary(const std::vector<uint8_t>& blocks, int width, int height, int flags)
{
    std::vector<uint8_t> rgba(size_t(width) * height * 4);
    squish::DecompressImage(rgba.data(), width, height, blocks.data(), flags);
    std::vector<uint8_t> bgra(rgba.size());
    for (size_t i = 0; i < rgba.size(); i += 4) {
        bgra[i] = rgba[i + 2];
        bgra[i + 1] = rgba[i + 1];
        bgra[i + 2] = rgba[i];
        bgra[i + 3] = rgba[i + 3];
    }
    return bgra;
}

struct CompressedCase {
    TexelFormat format;
    int flags;
    bool keepsAlpha;
};

class CompressedEncoding : public ::testing::TestWithParam<CompressedCase> {};

TEST_P(CompressedEncoding, FlatBlocksOfExactColoursComeBackExactly)
{
    const CompressedCase& c = GetParam();
    for (const auto& [w, h] : {std::pair{12, 8}, std::pair{8, 12}, std::pair{4, 4}}) {
        TexelLayout layout;
        layout.format = c.format;
        layout.width = w;
        layout.height = h;
        const std::vector<uint8_t> picture = flatBlocks(w, h, c.keepsAlpha);
        std::vector<uint8_t> blocks(size_t(texelLevelBytes(c.format, w, h)));
        encodeTexelLevel(layout, picture.data(), w, h, blocks.data());
        EXPECT_EQ(decodeWithLibrary(blocks, w, h, c.flags), picture) << w << "x" << h;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryBlockLayout, CompressedEncoding,
                         ::testing::Values(CompressedCase{TexelFormat::Dxt1, squish::kDxt1, false},
                                           CompressedCase{TexelFormat::Dxt3, squish::kDxt3, true},
                                           CompressedCase{TexelFormat::Dxt5, squish::kDxt5, true}));

TEST(CompressedEncoding, Dxt1AlphaIsOneBitWithItsRasterAndOpaqueWithout)
{
    // Left half alpha 127 (transparent), right half 128 (opaque), 8 x 4.
    std::vector<uint8_t> picture = flatBlocks(8, 4, false);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            picture[4 * (size_t(y) * 8 + x) + 3] = x < 4 ? 127 : 128;
    TexelLayout layout;
    layout.format = TexelFormat::Dxt1;
    layout.width = 8;
    layout.height = 4;
    std::vector<uint8_t> blocks(16);

    layout.dxt1Alpha = true;
    encodeTexelLevel(layout, picture.data(), 8, 4, blocks.data());
    std::vector<uint8_t> back = decodeWithLibrary(blocks, 8, 4, squish::kDxt1);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) {
            const uint8_t* p = back.data() + 4 * (size_t(y) * 8 + x);
            const uint8_t* q = picture.data() + 4 * (size_t(y) * 8 + x);
            EXPECT_EQ(p[3], x < 4 ? 0 : 255) << x << "," << y;
            if (x >= 4) {
                EXPECT_TRUE(p[0] == q[0] && p[1] == q[1] && p[2] == q[2]) << x << "," << y;
            }
        }
    }

    layout.dxt1Alpha = false;
    encodeTexelLevel(layout, picture.data(), 8, 4, blocks.data());
    back = decodeWithLibrary(blocks, 8, 4, squish::kDxt1);
    for (size_t i = 0; i < back.size(); i += 4) {
        EXPECT_EQ(back[i + 3], 255);
        EXPECT_TRUE(back[i] == picture[i] && back[i + 1] == picture[i + 1] && back[i + 2] == picture[i + 2]);
    }
}

TEST(CompressedEncoding, APhotoComesBackClose)
{
    // A smooth gradient with some texture: every channel within a few steps.
    const int w = 32, h = 32;
    std::vector<uint8_t> picture(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = picture.data() + 4 * (size_t(y) * w + x);
            p[0] = uint8_t(x * 8);
            p[1] = uint8_t(y * 8);
            p[2] = uint8_t((x * y) % 256);
            p[3] = uint8_t(255 - x * 4);
        }
    for (const auto& [format, flags] :
         {std::pair{TexelFormat::Dxt3, int(squish::kDxt3)}, std::pair{TexelFormat::Dxt5, int(squish::kDxt5)}}) {
        TexelLayout layout;
        layout.format = format;
        layout.width = w;
        layout.height = h;
        std::vector<uint8_t> blocks(size_t(texelLevelBytes(format, w, h)));
        encodeTexelLevel(layout, picture.data(), w, h, blocks.data());
        const std::vector<uint8_t> back = decodeWithLibrary(blocks, w, h, flags);
        double error = 0;
        for (size_t i = 0; i < back.size(); ++i)
            error += std::abs(int(back[i]) - int(picture[i]));
        EXPECT_LT(error / double(back.size()), 8.0);
    }
}

TEST(MipLevels, EachPixelIsTheRoundedMeanOfTheFourAboveIt)
{
    // 5 x 2 -> 2 x 1: the fifth column is left out; sums of 3 and 9 round up,
    // sums of 1 down.
    const std::vector<uint8_t> level0 = {
        0, 0, 0, 0, 1, 0, 1, 9, 200, 10, 0, 255, 100, 10, 0, 255, 7, 7, 7, 7,
        1, 1, 0, 0, 1, 0, 0, 0, 201, 11, 1, 250, 102, 10, 0, 254, 7, 7, 7, 7,
    };
    const std::vector<uint8_t> next = nextMipLevel(level0.data(), 5, 2);
    // (0+1+1+1+2)/4=1, (0+0+1+0+2)/4=0, (0+1+0+0+2)/4=0, (0+9+0+0+2)/4=2;
    // (200+100+201+102+2)/4=151, (10+10+11+10+2)/4=10, (0+0+1+0+2)/4=0, (255+255+250+254+2)/4=254
    EXPECT_EQ(next, (std::vector<uint8_t>{1, 0, 0, 2, 151, 10, 0, 254}));
}

TEST(MipLevels, OnePixelWideOrHighLevelsAverageTwo)
{
    const std::vector<uint8_t> column = {10, 0, 0, 0, 11, 0, 0, 0, 20, 1, 2, 3, 30, 2, 2, 3};  // 1 x 4
    EXPECT_EQ(nextMipLevel(column.data(), 1, 4), (std::vector<uint8_t>{11, 0, 0, 0, 25, 2, 2, 3}));
    EXPECT_EQ(nextMipLevel(column.data(), 4, 1), (std::vector<uint8_t>{11, 0, 0, 0, 25, 2, 2, 3}));
}

}  // namespace
