// SPDX-License-Identifier: GPL-2.0-or-later
// The stored levels of a texture: every level of a sectioned texture decodes
// to the pixels it holds, a damaged size field or a short file is a problem
// and not a read past the texture, and a level becomes a 32-bit TGA.
#include "texture/texture_levels.h"

#include "formats/sectioned_dictionary_writer.h"
#include "formats/texture_dictionary.h"
#include "imaging/picture_registry.h"
#include "platform/byte_order.h"
#include "platform/streams.h"
#include "tests/texture/built_dictionary.h"

#include <gtest/gtest.h>

#include <array>

namespace {

// Pixel (x, y) of level k of the 8888 texture, B, G, R, A.
std::array<uint8_t, 4> bgraPixel(int k, int x, int y)
{
    return {uint8_t(40 * k + x), uint8_t(10 * y + 1), uint8_t(200 + k), uint8_t(255 - 60 * k)};
}

// Palette entry i of the paletted texture, R, G, B, A; and its index at (x, y) of level k.
std::array<uint8_t, 4> paletteEntry(int i)
{
    return {uint8_t(i), uint8_t(2 * i), uint8_t(3 * i), uint8_t(255 - i)};
}
uint8_t paletteIndex(int k, int x, int y)
{
    return uint8_t(16 * k + 4 * y + x);
}

struct Fixture {
    std::vector<uint8_t> file;
    std::vector<WrittenSectionedTexture> written;
    std::vector<TextureRow> rows;
};

Fixture build()
{
    SectionedDictionary d;
    SectionedTexture bgra;
    bgra.name = "bgra";
    bgra.layout = {TexelFormat::Bgra8888, false, 8, 4, 4};
    for (int k = 0; k < 4; ++k) {
        std::vector<uint8_t> level;
        for (int y = 0; y < mipLevelSize(4, k); ++y)
            for (int x = 0; x < mipLevelSize(8, k); ++x)
                for (uint8_t b : bgraPixel(k, x, y))
                    level.push_back(b);
        bgra.levels.push_back(level);
    }
    d.textures.push_back(bgra);

    SectionedTexture pal;
    pal.name = "pal";
    pal.layout = {TexelFormat::Paletted8, false, 4, 4, 3};
    for (int i = 0; i < 256; ++i)
        for (uint8_t b : paletteEntry(i))
            pal.palette.push_back(b);
    for (int k = 0; k < 3; ++k) {
        std::vector<uint8_t> level;
        for (int y = 0; y < mipLevelSize(4, k); ++y)
            for (int x = 0; x < mipLevelSize(4, k); ++x)
                level.push_back(paletteIndex(k, x, y));
        pal.levels.push_back(level);
    }
    d.textures.push_back(pal);

    Fixture f;
    f.file = buildSectionedDictionary(d, &f.written);
    TReadOnlyMemoryStream s(f.file.data(), int64_t(f.file.size()));
    f.rows = readTextureDictionary(s, 0, s.Size()).rows;
    return f;
}

TextureLevel levelOf(const std::vector<uint8_t>& file, const TextureRef& t, int k)
{
    TReadOnlyMemoryStream s(file.data(), int64_t(file.size()));
    return readTextureLevel(s, t, k);
}

}  // namespace

TEST(TextureLevels, EveryStoredLevelDecodesToItsPixels)
{
    const Fixture f = build();
    ASSERT_EQ(f.rows.size(), 2u);
    const TextureRef bgra = textureRefOf(f.rows[0]);
    const TextureRef pal = textureRefOf(f.rows[1]);
    EXPECT_EQ(textureLevelCount(bgra), 4);
    EXPECT_EQ(textureLevelCount(pal), 3);

    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const TextureLevel level = levelOf(f.file, bgra, k);
        ASSERT_EQ(level.problem, TextureProblem::None);
        ASSERT_EQ(level.width, std::max(1, 8 >> k));
        ASSERT_EQ(level.height, std::max(1, 4 >> k));
        std::vector<uint8_t> expected;
        for (int y = 0; y < level.height; ++y)
            for (int x = 0; x < level.width; ++x)
                for (uint8_t b : bgraPixel(k, x, y))
                    expected.push_back(b);
        EXPECT_EQ(level.bgra, expected);
    }
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        const TextureLevel level = levelOf(f.file, pal, k);
        ASSERT_EQ(level.problem, TextureProblem::None);
        std::vector<uint8_t> expected;
        for (int y = 0; y < level.height; ++y)
            for (int x = 0; x < level.width; ++x) {
                const auto e = paletteEntry(paletteIndex(k, x, y));
                expected.insert(expected.end(), {e[2], e[1], e[0], e[3]});
            }
        EXPECT_EQ(level.bgra, expected);
    }
    EXPECT_THROW(levelOf(f.file, pal, 3), ETextureError);
    EXPECT_THROW(levelOf(f.file, pal, -1), ETextureError);
}

TEST(TextureLevels, DamagedSizeFieldsAndShortFilesAreProblemsNotReads)
{
    const Fixture f = build();
    const TextureRef t = textureRefOf(f.rows[0]);
    const std::vector<int64_t>& sizeFields = f.written[0].levelOffsets;
    ASSERT_EQ(sizeFields.size(), 4u);

    // Level 1's size field changed after the listing: levels from 1 on are
    // refused, level 0 still reads.
    std::vector<uint8_t> changed = f.file;
    writeLe32(changed.data() + sizeFields[1], 9999);
    EXPECT_EQ(levelOf(changed, t, 0).problem, TextureProblem::None);
    EXPECT_EQ(levelOf(changed, t, 1).problem, TextureProblem::SizeMismatch);
    EXPECT_EQ(levelOf(changed, t, 3).problem, TextureProblem::SizeMismatch);
    writeLe32(changed.data() + sizeFields[1], 0);
    EXPECT_EQ(levelOf(changed, t, 2).problem, TextureProblem::EmptyData);

    // The file ends inside level 2's texels, then inside its size field.
    std::vector<uint8_t> cut(f.file.begin(), f.file.begin() + sizeFields[2] + 4 + 3);
    EXPECT_EQ(levelOf(cut, t, 1).problem, TextureProblem::None);
    const TextureLevel past = levelOf(cut, t, 2);
    EXPECT_EQ(past.problem, TextureProblem::PastEnd);
    EXPECT_TRUE(past.bgra.empty());
    cut.resize(size_t(sizeFields[2] + 2));
    EXPECT_EQ(levelOf(cut, t, 2).problem, TextureProblem::PastEnd);

    // No row, or one without data.
    EXPECT_EQ(levelOf(f.file, TextureRef{}, 0).problem, TextureProblem::NoTexture);
    EXPECT_EQ(textureLevelCount(TextureRef{}), 0);
}

TEST(TextureLevels, ATextureThatIsNotSectionedHasItsOneLevel)
{
    TextureDictionary d;
    d.textures.push_back(makeTexture32("t", "", 2, 1, {{1, 2, 3, 4}, {5, 6, 7, 8}}));
    const BuiltDictionary b = buildAndList(d);
    const TextureRef t = textureRefOf(b.rows.at(0));
    EXPECT_EQ(textureLevelCount(t), 1);
    const TextureLevel level = levelOf(b.file, t, 0);
    ASSERT_EQ(level.problem, TextureProblem::None);
    EXPECT_EQ(level.width, 2);
    EXPECT_EQ(level.height, 1);
    // Stored B, G, R, A: Rgba {1, 2, 3, 4} is stored as 3, 2, 1, 4.
    EXPECT_EQ(level.bgra, (std::vector<uint8_t>{3, 2, 1, 4, 7, 6, 5, 8}));
    EXPECT_THROW(levelOf(b.file, t, 1), ETextureError);
}

TEST(TextureLevels, ALevelBecomesATopDownTgaWithItsAlpha)
{
    TextureLevel level;
    level.width = 2;
    level.height = 1;
    level.bgra = {10, 20, 30, 0, 40, 50, 60, 255};
    const std::vector<uint8_t> tga = tgaOfTextureLevel(level);
    const std::vector<uint8_t> header = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 32, 0x28};
    ASSERT_EQ(tga.size(), 18u + 8u);
    EXPECT_EQ(std::vector<uint8_t>(tga.begin(), tga.begin() + 18), header);
    EXPECT_EQ(std::vector<uint8_t>(tga.begin() + 18, tga.end()), level.bgra);

    TReadOnlyMemoryStream s(tga.data(), int64_t(tga.size()));
    const auto picture = LoadPictureFromStream(s, "TGA", 1, true);
    EXPECT_EQ(picture->GetPixelColor(0, 0), 0x1E140Au);
    EXPECT_EQ(picture->GetPixelColor(1, 0), 0x3C3228u);
    EXPECT_EQ(picture->AlphaPlane, (std::vector<uint8_t>{0, 255}));
}
