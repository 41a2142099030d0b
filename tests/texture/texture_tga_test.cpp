// SPDX-License-Identifier: GPL-2.0-or-later
// Texture to TGA: the header, the three kinds' pixel data, the 32-bit byte
// exchange of the export, the refusals that keep every read inside the
// texture's own bytes, the export file name and the export file itself.
#include "texture/texture_tga.h"

#include "formats/texture_dictionary.h"
#include "imaging/picture_registry.h"
#include "imaging/row_bands.h"
#include "platform/streams.h"
#include "support/archive_builder.h"
#include "support/texel_cases.h"
#include "tests/texture/built_dictionary.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace archive_fixture;

namespace {

TextureRef refOf(const TextureRow& row)
{
    return textureRefOf(row);
}

using Built = BuiltDictionary;

Built build(const TextureDictionary& d)
{
    return buildAndList(d);
}

TextureTga tgaOf(const std::vector<uint8_t>& file, const TextureRef& t)
{
    TReadOnlyMemoryStream s(file.data(), int64_t(file.size()));
    return buildTextureTga(s, t);
}

std::vector<uint8_t> header(uint16_t w, uint16_t h, uint8_t bits, uint8_t descriptor)
{
    return {0,    0,         2, 0, 0, 0, 0, 0, 0, 0, 0, 0, uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8),
            bits, descriptor};
}

std::vector<uint8_t> cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(TextureTga, PalettedTexelsBecomePaletteEntriesAsBlueGreenRedAlpha)
{
    std::vector<Rgba> palette(256);
    palette[0] = {0x0A, 0x14, 0x1E, 0x28};
    palette[1] = {1, 2, 3, 4};
    TextureDictionary d;
    d.textures.push_back(makeTexturePaletted8("p", "", 2, 1, palette, {0, 0}));
    const Built b = build(d);
    const auto expected = cat(header(2, 1, 32, 0x28), {0x1E, 0x14, 0x0A, 0x28, 0x1E, 0x14, 0x0A, 0x28});
    const TextureTga tga = tgaOf(b.file, refOf(b.rows.at(0)));
    ASSERT_EQ(tga.problem, TextureProblem::None);
    EXPECT_EQ(tga.bytes, expected);
}

TEST(TextureTga, TrueColourTexelsAreCopiedInTheTgaOwnBlueGreenRedAlphaOrder)
{
    TextureDictionary d;
    d.textures.push_back(makeTexture32("t", "", 1, 1, {{0x33, 0x22, 0x11, 0x44}}));  // stored 11 22 33 44
    // A data size of 6 holds one whole texel; the two bytes left over are dropped.
    TextureRecord six = makeTexture32("six", "", 1, 1, {{0x33, 0x22, 0x11, 0x44}});
    six.texels.push_back(0x99);
    six.texels.push_back(0x98);
    d.textures.push_back(six);
    const Built b = build(d);
    for (const TextureRow& row : b.rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(tgaOf(b.file, refOf(row)).bytes, cat(header(1, 1, 32, 0x28), {0x11, 0x22, 0x33, 0x44}));
    }

    // The TGA decodes to the stored colour: blue 0x11, green 0x22, red 0x33,
    // first stored row at the top; an exported file shows what the preview shows.
    TextureDictionary two;
    two.textures.push_back(makeTexture32("t", "", 1, 2, {{0x33, 0x22, 0x11, 0xFF}, {0xAA, 0xBB, 0xCC, 0xFF}}));
    const Built c = build(two);
    TMemoryStream s(tgaOf(c.file, refOf(c.rows.at(0))).bytes);
    const auto picture = LoadPictureFromStream(s, "TGA", 1);
    EXPECT_EQ(picture->ImageFormat(), ifRgb24);
    EXPECT_EQ(picture->GetPixelColor(0, 0), 0x332211u);
    EXPECT_EQ(picture->GetPixelColor(0, 1), 0xAABBCCu);
}

TEST(TextureTga, OtherKindsCopyTheirTexelsBehindABottomUp16BitHeader)
{
    // 4 x 2 at 16 bits: D = 16, a 34-byte TGA, shown with the first stored row at the bottom.
    std::vector<Rgba> pixels(8, Rgba{0, 0, 255, 255});
    for (int x = 0; x < 4; ++x)
        pixels[size_t(x)] = {255, 0, 0, 255};  // first stored row red
    TextureDictionary d;
    d.textures.push_back(makeTexture16("h", "", 4, 2, pixels));
    const Built b = build(d);
    const TextureTga tga = tgaOf(b.file, refOf(b.rows.at(0)));
    ASSERT_EQ(tga.bytes.size(), 34u);
    EXPECT_EQ(tga.bytes[16], 0x10);
    EXPECT_EQ(tga.bytes[17], 0x00);
    EXPECT_EQ(std::vector<uint8_t>(tga.bytes.begin() + 18, tga.bytes.end()), d.textures[0].texels);

    TMemoryStream s(tga.bytes);
    const auto picture = LoadPictureFromStream(s, "TGA", 1);
    EXPECT_EQ(picture->GetPixelColor(0, 1) & 0xF80000u, 0xF80000u);  // red at the bottom
    EXPECT_EQ(picture->GetPixelColor(0, 0) & 0xF8F8F8u, 0x0000F8u);  // blue at the top
}

TEST(TextureTga, SectionedTexturesOfEveryLayoutShowLevelZeroAs32BitTopFirst)
{
    // One dictionary with a texture of each layout; the one after each case
    // has mip levels, which the preview leaves out.
    SectionedDictionary d;
    const auto cases = texel_cases::allCases();
    for (const auto& c : cases) {
        SectionedTexture t = texel_cases::textureOf(c);
        t.layout.levels = 3;
        t.levels.push_back(texel_cases::filledLevel(c.layout.format, mipLevelSize(c.layout.width, 1),
                                                    mipLevelSize(c.layout.height, 1), 0x5A));
        t.levels.push_back(texel_cases::filledLevel(c.layout.format, mipLevelSize(c.layout.width, 2),
                                                    mipLevelSize(c.layout.height, 2), 0xA5));
        d.textures.push_back(t);
    }
    const auto file = buildSectionedDictionary(d);
    TReadOnlyMemoryStream s(file.data(), int64_t(file.size()));
    const auto rows = readTextureDictionary(s, 0, s.Size()).rows;
    ASSERT_EQ(rows.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.label);
        const TextureTga tga = tgaOf(file, refOf(rows[i]));
        ASSERT_EQ(tga.problem, TextureProblem::None);
        EXPECT_EQ(tga.bytes, cat(header(uint16_t(c.layout.width), uint16_t(c.layout.height), 32, 0x28), c.bgra));
    }
}

TEST(TextureTga, ABlockTextureOfOddSizeDecodesAlikeInAnyNumberOfBands)
{
    // 301 x 203: the last block column and row are cut off. Every block is
    // one colour whose 565 channels are 0 or full (so they widen exactly),
    // with an alpha of its own for DXT5; all indices 0 pick colour0 / alpha0.
    const int w = 301, h = 203, bw = (w + 3) / 4, bh = (h + 3) / 4;
    auto colourOf = [](int bx, int by) { return unsigned(bx * 7 + by * 3) % 8; };  // bits: red, green, blue
    auto alphaOf = [](int bx, int by) { return uint8_t((bx * 5 + by * 11) % 256); };
    for (const TexelFormat format : {TexelFormat::Dxt1, TexelFormat::Dxt5}) {
        const bool dxt5 = format == TexelFormat::Dxt5;
        SCOPED_TRACE(dxt5 ? "DXT5" : "DXT1");
        std::vector<uint8_t> level;
        for (int by = 0; by < bh; ++by)
            for (int bx = 0; bx < bw; ++bx) {
                const unsigned c = colourOf(bx, by);
                const unsigned v565 = ((c & 4) ? 0xF800u : 0) | ((c & 2) ? 0x07E0u : 0) | ((c & 1) ? 0x001Fu : 0);
                if (dxt5)
                    level.insert(level.end(), {alphaOf(bx, by), 0, 0, 0, 0, 0, 0, 0});
                level.insert(level.end(),
                             {uint8_t(v565), uint8_t(v565 >> 8), uint8_t(v565), uint8_t(v565 >> 8), 0, 0, 0, 0});
            }
        std::vector<uint8_t> expected = header(uint16_t(w), uint16_t(h), 32, 0x28);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const unsigned c = colourOf(x / 4, y / 4);
                expected.insert(expected.end(),
                                {uint8_t((c & 1) ? 255 : 0), uint8_t((c & 2) ? 255 : 0), uint8_t((c & 4) ? 255 : 0),
                                 dxt5 ? alphaOf(x / 4, y / 4) : uint8_t(255)});
            }

        SectionedTexture t;
        t.name = "blocks";
        t.layout.format = format;
        t.layout.width = w;
        t.layout.height = h;
        t.levels = {level};
        SectionedDictionary d;
        d.textures.push_back(t);
        const auto file = buildSectionedDictionary(d);
        TReadOnlyMemoryStream s(file.data(), int64_t(file.size()));
        const auto rows = readTextureDictionary(s, 0, s.Size()).rows;
        ASSERT_EQ(rows.size(), 1u);
        for (const int workers : {1, 2, 3, 8}) {
            SCOPED_TRACE(workers);
            SetRowBandWorkers(workers);
            const TextureTga tga = tgaOf(file, refOf(rows[0]));
            ASSERT_EQ(tga.problem, TextureProblem::None);
            EXPECT_TRUE(tga.bytes == expected);
        }
    }
    SetRowBandWorkers(0);
}

TEST(TextureTga, ASectionedLevelWhoseSizeNoLongerFitsIsRefused)
{
    // The file changed after it was listed: level 0's size field now says
    // one byte more than the layout gives, or nothing.
    SectionedDictionary d;
    d.textures.push_back(texel_cases::mipTexture("t", TexelFormat::Rgb565, 4, 4, 1));
    std::vector<WrittenSectionedTexture> written;
    auto file = buildSectionedDictionary(d, &written);
    TReadOnlyMemoryStream s(file.data(), int64_t(file.size()));
    const TextureRef ref = refOf(readTextureDictionary(s, 0, s.Size()).rows.at(0));
    const size_t sizeField = size_t(written[0].levelOffsets[0]);
    file[sizeField] = 33;
    EXPECT_EQ(tgaOf(file, ref).problem, TextureProblem::SizeMismatch);
    file[sizeField] = 0;
    EXPECT_EQ(tgaOf(file, ref).problem, TextureProblem::EmptyData);
    file.resize(sizeField + 10);
    file[sizeField] = 32;
    EXPECT_EQ(tgaOf(file, ref).problem, TextureProblem::PastEnd);
}

TEST(TextureTga, WidthAndHeightAreStoredLowByteFirst)
{
    TextureDictionary d;
    d.textures.push_back(makeTexture32("w", "", 300, 1, std::vector<Rgba>(300)));
    const Built b = build(d);
    const TextureTga tga = tgaOf(b.file, refOf(b.rows.at(0)));
    EXPECT_EQ(tga.bytes[12], 0x2C);
    EXPECT_EQ(tga.bytes[13], 0x01);
    EXPECT_EQ(tga.bytes[14], 0x01);
    EXPECT_EQ(tga.bytes[15], 0x00);
}

TEST(TextureTga, TexturesWithoutUsableDataGiveNothingAndReadNothingOutside)
{
    TextureDictionary d;
    d.textures.push_back(makeTexture32("ok", "", 1, 1, {{1, 2, 3, 4}}));
    const Built b = build(d);
    const TextureRef good = refOf(b.rows.at(0));

    TextureRef none;
    EXPECT_EQ(tgaOf(b.file, none).problem, TextureProblem::NoTexture);
    TextureRef unknown = good;
    unknown.hasData = false;
    EXPECT_EQ(tgaOf(b.file, unknown).problem, TextureProblem::NoData);

    // The stored data size changed after the list was read.
    const size_t sizeAt = size_t(good.imagePos);
    for (int32_t d32 : {0, -4, 5}) {
        std::vector<uint8_t> file = b.file;
        file[sizeAt] = uint8_t(d32);
        file[sizeAt + 1] = uint8_t(d32 >> 8);
        file[sizeAt + 2] = uint8_t(d32 >> 16);
        file[sizeAt + 3] = uint8_t(d32 >> 24);
        file.resize(sizeAt + 4 + 4);  // exactly the one texel left
        const TextureTga tga = tgaOf(file, good);
        EXPECT_EQ(tga.problem, d32 <= 0 ? TextureProblem::EmptyData : TextureProblem::PastEnd) << d32;
        EXPECT_TRUE(tga.bytes.empty());
    }

    // A file that now ends inside the palette or the size field.
    TextureDictionary p;
    p.textures.push_back(makeTexturePaletted8("p", "", 1, 1, {{1, 2, 3, 4}}, {0}));
    const Built pb = build(p);
    const TextureRef pal = refOf(pb.rows.at(0));
    for (size_t cut : {size_t(pal.imagePos) + 100, size_t(pal.imagePos) + 1026}) {
        const std::vector<uint8_t> file(pb.file.begin(), pb.file.begin() + long(cut));
        try {
            tgaOf(file, pal);
            ADD_FAILURE() << "no error at " << cut;
        } catch (const EReadError& e) {
            EXPECT_EQ(e.message(), "Stream read error");
        }
    }
}

TEST(TextureTga, ExportFileNameReplacesTheExtension)
{
    const std::pair<const char*, const char*> cases[] = {
        {"grass", "grass.tga"},
        {"sign.old", "sign.tga"},
        {"road", "road.tga"},
        {"a.b.c", "a.b.tga"},
        {"dir.x\\name", "dir.x\\name.tga"},
        {"c:file", "c:file.tga"},
        {"", ".tga"},
        {"x.", "x.tga"},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(tgaFileNameForTexture(name), expected) << name;
}

TEST(TextureTga, ExportWritesTheWholeFileOrNothing)
{
    ScratchDir dir;
    TextureDictionary d;
    d.textures.push_back(makeTexture32("t", "", 1, 1, {{0x33, 0x22, 0x11, 0x44}}));
    const Built b = build(d);
    const std::string archive = dir.file("a.txd");
    writeBytes(archive, b.file);
    const TextureRef t = refOf(b.rows.at(0));

    const std::string out = dir.file("t.tga");
    writeBytes(out, {9, 9, 9});
    exportTextureTga(archive, t, out);  // replaces an existing file without asking
    EXPECT_EQ(readBytes(out), cat(header(1, 1, 32, 0x28), {0x11, 0x22, 0x33, 0x44}));

    // Refused: the old file stays, no new file appears.
    TextureRef none;
    EXPECT_THROW(exportTextureTga(archive, none, out), ETextureError);
    EXPECT_THROW(exportTextureTga(archive, none, dir.file("new.tga")), ETextureError);
    EXPECT_EQ(readBytes(out).size(), 22u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("new.tga")));

    // The archive itself is never replaced by its own export.
    EXPECT_THROW(exportTextureTga(archive, t, archive), EFCreateError);
    EXPECT_EQ(readBytes(archive), b.file);

    // A folder that does not exist; an archive that cannot be opened.
    const std::string nowhere = dir.file("no/such/dir/x.tga");
    try {
        exportTextureTga(archive, t, nowhere);
        ADD_FAILURE();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.message(), "Cannot create file " + nowhere);
    }
    EXPECT_THROW(exportTextureTga(dir.file("missing.img"), t, out), EFOpenError);
    size_t files = 0;
    for ([[maybe_unused]] const auto& f : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 2u) << "no temporary file is left behind";
}

TEST(TextureTga, ExportAsPngKeepsTheColoursAndTheAlpha)
{
    ScratchDir dir;
    TextureDictionary d;
    d.textures.push_back(
        makeTexture32("t", "", 2, 2, {{255, 0, 0, 0}, {0, 255, 0, 128}, {0, 0, 255, 255}, {9, 8, 7, 6}}));
    const Built b = build(d);
    const std::string archive = dir.file("a.txd");
    writeBytes(archive, b.file);
    const TextureRef t = refOf(b.rows.at(0));

    const std::string out = dir.file("t.png");
    exportTexturePng(archive, t, out);
    const std::vector<uint8_t> bytes = readBytes(out);
    ASSERT_GE(bytes.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8),
              (std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    const auto picture = LoadPictureFromFile(out, 1, true);
    ASSERT_EQ(picture->Width(), 2);
    ASSERT_EQ(picture->Height(), 2);
    EXPECT_EQ(picture->GetPixelColor(0, 0), 0xFF0000u);
    EXPECT_EQ(picture->GetPixelColor(1, 0), 0x00FF00u);
    EXPECT_EQ(picture->GetPixelColor(0, 1), 0x0000FFu);
    EXPECT_EQ(picture->GetPixelColor(1, 1), 0x090807u);
    EXPECT_EQ(picture->AlphaPlane, (std::vector<uint8_t>{0, 128, 255, 6}));

    // Refused like the TGA export: nothing is written, the archive is never the target.
    EXPECT_THROW(exportTexturePng(archive, TextureRef{}, dir.file("none.png")), ETextureError);
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.png")));
    EXPECT_THROW(exportTexturePng(archive, t, archive), EFCreateError);
    EXPECT_EQ(readBytes(archive), b.file);
}
