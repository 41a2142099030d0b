// SPDX-License-Identifier: GPL-2.0-or-later
// A texture's content built from a picture: the mip chain down to 1 x 1 (the
// smallest DXT1 levels hold the picture's mean colour, never black), the
// layout add-texture chooses, DXT1's 1-bit alpha, a picture kept at its own
// size, resampling as the import does, and the limits checked before the
// picture changes.
#include "texture/texture_build.h"

#include "imaging/import_pipeline.h"
#include "platform/byte_order.h"
#include "support/picture_builder.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// The pixels (B, G, R, A) of level k of a content, decoded.
std::vector<uint8_t> decodedLevel(const TextureContent& c, int k)
{
    const TexelLayout& l = c.layout;
    const uint8_t* palette = c.data.data();
    int64_t at = texelFormatIsPaletted(l.format) ? 1024 : 0;
    for (int i = 0; i < k; ++i)
        at += 4 + readLe32(c.data.data() + at);
    const int w = mipLevelSize(l.width, k), h = mipLevelSize(l.height, k);
    EXPECT_EQ(int64_t(readLe32(c.data.data() + at)), texelLevelBytes(l.format, w, h));
    std::vector<uint8_t> bgra(size_t(w) * h * 4);
    decodeTexelLevel(l, palette, c.data.data() + at + 4, w, h, bgra.data());
    return bgra;
}

// An 8 x 8 picture of four 4 x 4 quadrants (top left, top right, bottom
// left, bottom right), colours 0x00RRGGBB.
std::unique_ptr<TDibGraphic> quadrants(uint32_t tl, uint32_t tr, uint32_t bl, uint32_t br)
{
    return MakeRgb24Picture(8, 8, [=](int x, int y) { return y < 4 ? (x < 4 ? tl : tr) : (x < 4 ? bl : br); });
}

void expectNear(const uint8_t* bgra, uint32_t rgb, int tolerance, const std::string& what)
{
    EXPECT_NEAR(bgra[0], int(rgb & 0xFF), tolerance) << what << " blue";
    EXPECT_NEAR(bgra[1], int((rgb >> 8) & 0xFF), tolerance) << what << " green";
    EXPECT_NEAR(bgra[2], int((rgb >> 16) & 0xFF), tolerance) << what << " red";
    EXPECT_EQ(bgra[3], 255) << what << " alpha";
}

// The rounded mean of four 0x00RRGGBB colours, per channel.
uint32_t meanOf(std::initializer_list<uint32_t> colours)
{
    uint32_t out = 0;
    for (int shift : {0, 8, 16}) {
        unsigned sum = 0;
        for (uint32_t c : colours)
            sum += (c >> shift) & 0xFF;
        out |= ((sum + 2) / 4) << shift;
    }
    return out;
}

TextureBuildRequest asIs(std::optional<TexelFormat> format, LevelsChoice levels = {LevelsChoice::All, 0})
{
    TextureBuildRequest r;
    r.format = format;
    r.levels = levels;
    return r;
}

template <typename F>
std::string errorOf(F&& f)
{
    try {
        f();
    } catch (const Exception& e) {
        return e.message();
    }
    return "<no error>";
}

}  // namespace

TEST(TextureBuild, TheSmallestLevelsOfADxt1ChainHoldThePicturesMeanColour)
{
    // Greys along one line, so that the 2 x 2 level (one block of four
    // colours) can hold them; and four colours whose mean only the 1 x 1
    // level shows.
    const struct {
        const char* label;
        uint32_t tl, tr, bl, br;
        int tolerance2x2;
    } cases[] = {{"greys", 0x282828, 0x646464, 0xA0A0A0, 0xDCDCDC, 10},
                 {"colours", 0xC82828, 0x28C828, 0x2828C8, 0xC8C828, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto picture = quadrants(c.tl, c.tr, c.bl, c.br);
        const TextureContent content = buildTextureContent(*picture, {}, asIs(TexelFormat::Dxt1));
        ASSERT_EQ(content.layout.levels, 4);
        EXPECT_FALSE(content.layout.dxt1Alpha);
        if (c.tolerance2x2 > 0) {
            const std::vector<uint8_t> twoByTwo = decodedLevel(content, 2);
            const uint32_t want[] = {c.tl, c.tr, c.bl, c.br};
            for (int i = 0; i < 4; ++i)
                expectNear(twoByTwo.data() + 4 * i, want[i], c.tolerance2x2, "2x2 pixel " + std::to_string(i));
        }
        // A single colour in a block is matched to within 565's steps.
        const std::vector<uint8_t> one = decodedLevel(content, 3);
        ASSERT_EQ(one.size(), 4u);
        expectNear(one.data(), meanOf({c.tl, c.tr, c.bl, c.br}), 6, "1x1");
    }
}

TEST(TextureBuild, AddTextureChoosesTheLayoutFromThePicturesAlphaAndSize)
{
    const struct {
        int w, h;
        uint8_t leastAlpha;  // one pixel's alpha, the others 255 (255: no alpha plane)
        uint32_t platform;
        TexelFormat format;
    } cases[] = {
        {8, 8, 255, 9, TexelFormat::Dxt1}, {8, 8, 254, 9, TexelFormat::Dxt5},     {8, 8, 0, 8, TexelFormat::Dxt3},
        {8, 4, 255, 8, TexelFormat::Dxt1}, {6, 8, 255, 9, TexelFormat::Bgra8888}, {5, 3, 10, 8, TexelFormat::Bgra8888},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " alpha " + std::to_string(c.leastAlpha));
        auto picture = MakeRgb24Picture(c.w, c.h, [](int x, int y) { return uint32_t(0x102030 + 0x10 * x + y); });
        std::vector<uint8_t> alpha;
        if (c.leastAlpha != 255) {
            alpha.assign(size_t(c.w) * c.h, 255);
            alpha[1] = c.leastAlpha;
        }
        TextureBuildRequest r = asIs(std::nullopt);
        r.platform = c.platform;
        const TextureContent content = buildTextureContent(*picture, alpha, r);
        EXPECT_EQ(content.layout.format, c.format);
        EXPECT_EQ(content.layout.levels, fullLevelCount(c.w, c.h));
        EXPECT_EQ(int64_t(content.data.size()), texelDataBytes(content.layout));
    }
}

TEST(TextureBuild, Dxt1TakesItsOneBitAlphaOnlyWhereAPixelIsBelowHalf)
{
    for (const uint8_t least : {uint8_t(127), uint8_t(128)}) {
        SCOPED_TRACE(int(least));
        auto picture = MakeRgb24Picture(4, 4, [](int, int) { return 0x3366CCu; });
        std::vector<uint8_t> alpha(16, 255);
        alpha[5] = least;
        const TextureContent content = buildTextureContent(*picture, alpha, asIs(TexelFormat::Dxt1, {}));
        EXPECT_EQ(content.layout.levels, 1);
        const bool transparent = least < 128;
        EXPECT_EQ(content.layout.dxt1Alpha, transparent);
        const std::vector<uint8_t> level = decodedLevel(content, 0);
        EXPECT_EQ(level[4 * 5 + 3], transparent ? 0 : 255);
        EXPECT_EQ(level[4 * 6 + 3], 255);
    }
}

TEST(TextureBuild, APictureAtItsOwnSizeIsNotResampled)
{
    // Odd sizes, one of a single pixel: kept exactly in 8888, alpha and all.
    for (const auto& [w, h] : {std::pair{3, 5}, std::pair{1, 1}, std::pair{7, 1}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const auto colourAt = [](int x, int y) { return uint32_t(0x010203 * (x + 1) + 0x400000 * y); };
        auto picture = MakeRgb24Picture(w, h, colourAt);
        std::vector<uint8_t> alpha(size_t(w) * h);
        for (size_t i = 0; i < alpha.size(); ++i)
            alpha[i] = uint8_t(37 * i);
        const TextureContent content =
            buildTextureContent(*picture, alpha, asIs(TexelFormat::Bgra8888, {LevelsChoice::Count, 1}));
        ASSERT_EQ(content.layout.width, w);
        ASSERT_EQ(content.layout.height, h);
        std::vector<uint8_t> want;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint32_t c = colourAt(x, y);
                want.insert(want.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), alpha[size_t(y) * w + x]});
            }
        EXPECT_EQ(decodedLevel(content, 0), want);
    }
}

TEST(TextureBuild, ASizeResamplesThePictureAsTheImportDoes)
{
    auto picture = MakePhotoLikePicture(24, 12, 3);
    auto same = MakePhotoLikePicture(24, 12, 3);
    PrepareImportPicture(*same, QSize(16, 8), ifRgb24);
    TextureBuildRequest r = asIs(TexelFormat::Bgrx888, {});
    r.size = QSize(16, 8);
    r.previousLevels = 3;  // the texture had levels: the full chain
    const TextureContent content = buildTextureContent(*picture, {}, r);
    EXPECT_EQ(content.layout.levels, 5);
    EXPECT_EQ(decodedLevel(content, 0), pictureBgra(*same, {}));
    // Level 1: each pixel the rounded mean of the 2 x 2 above it.
    const std::vector<uint8_t> top = pictureBgra(*same, {});
    const std::vector<uint8_t> next = decodedLevel(content, 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            for (int ch = 0; ch < 3; ++ch) {
                unsigned sum = 0;
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx)
                        sum += top[size_t(((2 * y + dy) * 16 + 2 * x + dx) * 4 + ch)];
                ASSERT_EQ(next[size_t((y * 8 + x) * 4 + ch)], (sum + 2) / 4) << x << "," << y;
            }
}

TEST(TextureBuild, APalettedChainHasAnOpaquePaletteAndItsSmallestLevelNearTheMean)
{
    // Large enough for the colour reduction to keep colours of its own (it
    // drops those seen on few pixels).
    auto picture = MakePhotoLikePicture(64, 64, 5);
    const std::vector<uint8_t> top = pictureBgra(*MakePhotoLikePicture(64, 64, 5), {});
    const TextureContent content = buildTextureContent(*picture, {}, asIs(TexelFormat::Paletted8));
    ASSERT_EQ(content.layout.levels, 7);
    for (int k = 0; k < 256; ++k)
        EXPECT_EQ(content.data[size_t(4 * k + 3)], 255);
    const std::vector<uint8_t> one = decodedLevel(content, 6);
    for (int ch = 0; ch < 3; ++ch) {
        unsigned sum = 0;
        for (size_t i = 0; i < 64 * 64; ++i)
            sum += top[4 * i + size_t(ch)];
        EXPECT_NEAR(one[size_t(ch)], int(sum / (64 * 64)), 24) << ch;
    }
}

TEST(TextureBuild, TheLimitsAreCheckedBeforeThePictureChanges)
{
    const struct {
        const char* label;
        int w, h;  // the picture's
        std::optional<QSize> size;
        TexelFormat format;
        LevelsChoice levels;
        uint32_t platform;
        const char* says;
    } cases[] = {
        {"DXT at its own odd size", 6, 6, std::nullopt, TexelFormat::Dxt1, {}, 9, "--size"},
        {"DXT resampled to an odd size", 8, 8, QSize(8, 6), TexelFormat::Dxt5, {}, 9, "--size"},
        {"too wide", 8, 8, QSize(4097, 8), TexelFormat::Bgra8888, {}, 9, "from 1 to 4096"},
        {"DXT5 in the older header", 8, 8, std::nullopt, TexelFormat::Dxt5, {}, 8, "older texture header"},
        {"too many levels", 8, 8, std::nullopt, TexelFormat::Rgb565, {LevelsChoice::Count, 5}, 9, "1 to 4"},
        {"resampled to 1 pixel", 8, 8, QSize(1, 8), TexelFormat::Bgra8888, {}, 9, "2 x 2 pixels or more"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto picture = MakeRgb24Picture(c.w, c.h, [](int x, int y) { return uint32_t(x * 20 + y); });
        TextureBuildRequest r = asIs(c.format, c.levels);
        r.size = c.size;
        r.platform = c.platform;
        const std::string message = errorOf([&] { buildTextureContent(*picture, {}, r); });
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        EXPECT_EQ(picture->Width(), c.w);
        EXPECT_EQ(picture->ImageFormat(), ifRgb24);
        EXPECT_EQ(picture->GetPixelColor(3, 2), 62u);
    }
}
