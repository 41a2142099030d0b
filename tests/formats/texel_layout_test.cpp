// SPDX-License-Identifier: GPL-2.0-or-later
// The layout table as the files see it: every layout written with either
// texture header carries the codes the format defines and is read back as
// itself; the one rule a narrow channel is widened by; the lookups by name
// and the length of a full mip chain.
#include "formats/sectioned_dictionary_writer.h"
#include "formats/texel_layout.h"
#include "formats/texture_dictionary.h"
#include "formats/texture_dictionary_writer.h"

#include "platform/byte_order.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "support/texel_cases.h"

#include <gtest/gtest.h>

namespace {

// What a layout's header holds, written out by hand from the format's
// definition (not taken from the table).
struct HeaderCase {
    TexelFormat format;
    bool dxt1Alpha;
    const char* name;
    uint32_t rasterLayout;  // bits 8-11 of the raster format
    uint8_t depth;
    int olderCompression;  // -1: the older header cannot hold it
    uint32_t newerCode;
    bool alpha;
};

const HeaderCase kHeaderCases[] = {
    {TexelFormat::Paletted8, false, "P8", 5, 8, 0, 41, false},
    {TexelFormat::Bgra8888, false, "8888", 5, 32, 0, 21, true},
    {TexelFormat::Bgrx888, false, "888", 6, 32, 0, 22, false},
    {TexelFormat::Argb1555, false, "1555", 1, 16, 0, 25, true},
    {TexelFormat::Rgb555, false, "555", 0xA, 16, 0, 24, false},
    {TexelFormat::Rgb565, false, "565", 2, 16, 0, 23, false},
    {TexelFormat::Argb4444, false, "4444", 3, 16, 0, 26, true},
    {TexelFormat::Lum8, false, "LUM8", 4, 8, 0, 50, false},
    {TexelFormat::Dxt1, false, "DXT1", 2, 16, 1, 0x31545844, false},
    {TexelFormat::Dxt1, true, "DXT1", 1, 16, 1, 0x31545844, true},
    {TexelFormat::Dxt3, false, "DXT3", 3, 32, 3, 0x33545844, true},
    {TexelFormat::Dxt5, false, "DXT5", 3, 32, -1, 0x35545844, true},
};

TextureListing listingOf(const std::vector<uint8_t>& file)
{
    TReadOnlyMemoryStream s(file.data(), int64_t(file.size()));
    return readTextureDictionary(s, 0, s.Size());
}

}  // namespace

TEST(LayoutTable, EveryLayoutIsWrittenWithItsCodesAndReadBackAsItselfOnEitherHeader)
{
    for (const HeaderCase& c : kHeaderCases) {
        for (const uint32_t platform : {8u, 9u}) {
            SCOPED_TRACE(std::string(c.name) + (c.dxt1Alpha ? " with alpha" : "") + " platform "
                         + std::to_string(platform));
            SectionedTexture t = texel_cases::mipTexture("t", c.format, 8, 4, 2, platform);
            t.layout.dxt1Alpha = c.dxt1Alpha;
            SectionedDictionary d;
            d.textures.push_back(t);
            if (platform == 8 && c.olderCompression < 0) {
                EXPECT_THROW(buildSectionedDictionary(d), Exception);
                continue;
            }
            std::vector<WrittenSectionedTexture> written;
            const std::vector<uint8_t> file = buildSectionedDictionary(d, &written);
            const uint8_t* h = file.data() + written[0].sectionOffset;
            const uint32_t raster = readLe32(h + 96);
            EXPECT_EQ((raster >> 8) & 0xF, c.rasterLayout);
            EXPECT_EQ(raster & 0x2000, c.format == TexelFormat::Paletted8 ? 0x2000u : 0u);
            EXPECT_EQ(raster & 0x8000, 0x8000u);  // two levels stored
            EXPECT_EQ(h[108], c.depth);
            if (platform == 8) {
                EXPECT_EQ(readLe32(h + 100), c.alpha ? 1u : 0u);
                EXPECT_EQ(h[111], c.olderCompression);
            } else {
                EXPECT_EQ(readLe32(h + 100), c.newerCode);
                const bool compressed =
                    c.format == TexelFormat::Dxt1 || c.format == TexelFormat::Dxt3 || c.format == TexelFormat::Dxt5;
                EXPECT_EQ(h[111], (c.alpha ? 1 : 0) | (compressed ? 8 : 0));
            }

            const TextureListing listing = listingOf(file);
            ASSERT_EQ(listing.rows.size(), 1u);
            const TextureRow& r = listing.rows[0];
            ASSERT_TRUE(r.hasData);
            EXPECT_EQ(r.layout.format, c.format);
            EXPECT_EQ(r.layout.dxt1Alpha, c.dxt1Alpha);
            EXPECT_EQ(r.layout.levels, 2);
            EXPECT_EQ(texelFormatName(r.layout.format), std::string(c.name));
            EXPECT_EQ(texelLayoutHasAlpha(r.layout), c.alpha);
        }
    }
}

TEST(LayoutTable, ANarrowChannelIsWidenedByOneRuleWhereverItIsRead)
{
    // Every 16-bit value as a 555 texel through the level decoder and
    // through the fixtures' decodeTexel16: both give (v * 255 + 15) div 31
    // per channel, worked out here.
    std::vector<uint8_t> level(65536 * 2);
    for (unsigned v = 0; v < 65536; ++v)
        writeLe16(level.data() + 2 * v, uint16_t(v));
    TexelLayout layout;
    layout.format = TexelFormat::Rgb555;
    std::vector<uint8_t> bgra(65536 * 4);
    decodeTexelLevel(layout, nullptr, level.data(), 256, 256, bgra.data());
    for (unsigned v = 0; v < 65536; ++v) {
        const uint8_t b = uint8_t(((v & 31) * 255 + 15) / 31);
        const uint8_t g = uint8_t((((v >> 5) & 31) * 255 + 15) / 31);
        const uint8_t r = uint8_t((((v >> 10) & 31) * 255 + 15) / 31);
        ASSERT_EQ(bgra[4 * v], b) << v;
        ASSERT_EQ(bgra[4 * v + 1], g) << v;
        ASSERT_EQ(bgra[4 * v + 2], r) << v;
        ASSERT_EQ(bgra[4 * v + 3], 255) << v;
        const Rgba fixture = decodeTexel16(uint16_t(v));
        ASSERT_EQ(fixture.b, b) << v;
        ASSERT_EQ(fixture.g, g) << v;
        ASSERT_EQ(fixture.r, r) << v;
        ASSERT_EQ(fixture.a, (v & 0x8000) ? 255 : 0) << v;
    }
}

TEST(LayoutTable, RowsAreFoundByTheirShortNameInAnyLetterCase)
{
    for (const HeaderCase& c : kHeaderCases) {
        const LayoutRow* row = layoutRowByName(c.name);
        ASSERT_NE(row, nullptr) << c.name;
        EXPECT_EQ(row->format, c.format);
    }
    ASSERT_NE(layoutRowByName("dxt5"), nullptr);
    EXPECT_EQ(layoutRowByName("dxt5")->format, TexelFormat::Dxt5);
    EXPECT_EQ(layoutRowByName("lum8")->format, TexelFormat::Lum8);
    for (const char* other : {"", "DXT2", "P4", "32bit", "8888 ", "RGBA"})
        EXPECT_EQ(layoutRowByName(other), nullptr) << other;
}

TEST(LayoutTable, AFullChainEndsAtOneByOne)
{
    const struct {
        int w, h, levels;
    } cases[] = {{1, 1, 1}, {2, 1, 2}, {1, 2, 2}, {3, 5, 3}, {256, 32, 9}, {4096, 4096, 13}, {4095, 1, 12}};
    for (const auto& c : cases)
        EXPECT_EQ(fullLevelCount(c.w, c.h), c.levels) << c.w << "x" << c.h;
}
