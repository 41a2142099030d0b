// SPDX-License-Identifier: GPL-2.0-or-later
// Reading sectioned dictionaries: every layout's row, textures reached
// through the section sizes (mip levels, extension sections, layouts that
// are not read), the 16-bit count, and the bounds of the entry. Plus the
// decoding of one level of every layout, against pixels worked out by hand.
#include "formats/sectioned_dictionary_layout.h"
#include "formats/texel_layout.h"
#include "formats/texture_dictionary.h"

#include "platform/byte_order.h"
#include "platform/streams.h"
#include "support/archive_builder.h"
#include "support/texel_cases.h"

#include <gtest/gtest.h>

using namespace texel_cases;

namespace {

TextureListing readAt(const std::vector<uint8_t>& file, int64_t offset, int64_t entryEnd)
{
    TReadOnlyMemoryStream s(file.data(), static_cast<int64_t>(file.size()));
    return readTextureDictionary(s, offset, entryEnd);
}

TextureListing read(const std::vector<uint8_t>& file)
{
    return readAt(file, 0, int64_t(file.size()));
}

std::vector<uint8_t> build(const SectionedDictionary& d, std::vector<WrittenSectionedTexture>* written = nullptr)
{
    return buildSectionedDictionary(d, written);
}

SectionedTexture simple(const std::string& name, TexelFormat format = TexelFormat::Rgb565, int w = 4, int h = 4)
{
    return mipTexture(name, format, w, h, 1);
}

void expectListedWithoutKind(const TextureRow& r, const std::string& name, const std::string& mask, int w, int h)
{
    EXPECT_EQ(r.name, name);
    EXPECT_EQ(r.maskName, mask);
    EXPECT_EQ(r.width, w);
    EXPECT_EQ(r.height, h);
    EXPECT_FALSE(r.hasData);
    EXPECT_EQ(r.type, "");
    EXPECT_EQ(r.imagePos, 0);
    EXPECT_EQ(r.bits, 0);
}

}  // namespace

TEST(TexelDecode, EveryLayoutGivesThePixelsItsBitsStandFor)
{
    for (const TexelCase& c : allCases()) {
        SCOPED_TRACE(c.label);
        ASSERT_EQ(int64_t(c.level.size()), texelLevelBytes(c.layout.format, c.layout.width, c.layout.height));
        std::vector<uint8_t> out(size_t(c.layout.width) * c.layout.height * 4, 0xCD);
        decodeTexelLevel(c.layout, c.palette.data(), c.level.data(), c.layout.width, c.layout.height, out.data());
        EXPECT_EQ(out, c.bgra);
    }
}

TEST(TexelDecode, ABlockTextureSmallerThanItsBlockKeepsTheTopLeftPixels)
{
    // One 4x4 block (rows red, red, blue, blue) decoded as a 2x3 level.
    TexelLayout layout;
    layout.format = TexelFormat::Dxt1;
    layout.width = 2;
    layout.height = 3;
    const uint8_t block[8] = {0x00, 0xF8, 0x1F, 0x00, 0x00, 0x00, 0x55, 0x55};
    std::vector<uint8_t> out(2 * 3 * 4, 0xCD);
    decodeTexelLevel(layout, nullptr, block, 2, 3, out.data());
    const std::vector<uint8_t> expected = {0, 0, 255, 255, 0,   0, 255, 255, 0,   0, 255, 255,
                                           0, 0, 255, 255, 255, 0, 0,   255, 255, 0, 0,   255};
    EXPECT_EQ(out, expected);
}

TEST(SectionedDictionary, EveryLayoutIsListedWithItsTypeDepthAndOffsets)
{
    SectionedDictionary d;
    const auto cases = allCases();
    for (const TexelCase& c : cases)
        d.textures.push_back(textureOf(c));
    std::vector<WrittenSectionedTexture> written;
    const auto file = build(d, &written);
    const auto listing = read(file);
    EXPECT_EQ(listing.end, TextureListEnd::Complete);
    EXPECT_EQ(listing.storedCount, int(cases.size()));
    ASSERT_EQ(listing.rows.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const TextureRow& r = listing.rows[i];
        const TexelCase& c = cases[i];
        SCOPED_TRACE(c.label);
        EXPECT_EQ(r.pos, int64_t(i + 1));
        EXPECT_EQ(r.name, "tex " + c.label);
        EXPECT_EQ(r.maskName, "mask " + c.label);
        EXPECT_TRUE(r.hasData);
        EXPECT_TRUE(r.sectioned);
        EXPECT_EQ(r.type, c.typeName);
        EXPECT_EQ(r.width, c.layout.width);
        EXPECT_EQ(r.height, c.layout.height);
        // ImagePos: 112 bytes after the texture section's start.
        EXPECT_EQ(r.imagePos, written[i].sectionOffset + 112);
        EXPECT_EQ(r.dataSize, int64_t(c.level.size()));
        EXPECT_EQ(r.paletted, c.layout.format == TexelFormat::Paletted8);
        // The depth byte as stored, at 108 from the section's start.
        EXPECT_EQ(r.bits, file[size_t(written[i].sectionOffset + 108)]);
        EXPECT_EQ(r.layout.format, c.layout.format);
        EXPECT_EQ(r.layout.dxt1Alpha, c.layout.dxt1Alpha);
        EXPECT_EQ(r.layout.levels, 1);
    }
}

TEST(SectionedDictionary, MipMappedTexturesAreFollowedByTheTexturesAfterThem)
{
    SectionedDictionary d;
    d.textures.push_back(mipTexture("mips8888", TexelFormat::Bgra8888, 16, 8, 5));
    d.textures.push_back(mipTexture("mipsDxt1", TexelFormat::Dxt1, 8, 8, 4, 8));
    d.textures.push_back(mipTexture("palMips", TexelFormat::Paletted8, 4, 4, 3));
    d.textures.push_back(simple("last", TexelFormat::Argb4444, 2, 2));
    std::vector<WrittenSectionedTexture> written;
    const auto listing = read(build(d, &written));
    ASSERT_EQ(listing.rows.size(), 4u);
    const int levels[] = {5, 4, 3, 1};
    // Level 0's size: 16*8*4, two 4x4 blocks of 8 bytes, 4*4 indices, 2*2*2.
    const int64_t sizes[] = {512, 32, 16, 8};
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(listing.rows[i].hasData);
        EXPECT_EQ(listing.rows[i].layout.levels, levels[i]);
        EXPECT_EQ(listing.rows[i].dataSize, sizes[i]);
        EXPECT_EQ(listing.rows[i].imagePos, written[i].sectionOffset + 112);
    }
    EXPECT_EQ(listing.rows[3].name, "last");
    // The next texture starts right after the previous one's extension section.
    EXPECT_EQ(written[3].sectionOffset, written[2].endOffset);
}

TEST(SectionedDictionary, ANonEmptyExtensionSectionIsSkippedThroughTheTextureSize)
{
    SectionedDictionary d;
    d.textures.push_back(simple("first"));
    d.textures[0].extension = std::vector<uint8_t>(77, 0x15);  // bytes that look like section types
    d.textures.push_back(simple("second", TexelFormat::Lum8));
    d.extension = std::vector<uint8_t>(20, 0xAB);
    const auto listing = read(build(d));
    ASSERT_EQ(listing.rows.size(), 2u);
    EXPECT_EQ(listing.rows[1].name, "second");
    EXPECT_EQ(listing.rows[1].type, "8bit grey");
    EXPECT_EQ(listing.end, TextureListEnd::Complete);
}

TEST(SectionedDictionary, TheCountIsSixteenBitsWhateverTheDeviceNumberBeside)
{
    // Device 9 beside a count of 2: read as 32 bits, 0x00090002 textures.
    SectionedDictionary d;
    d.device = 9;
    d.textures.push_back(simple("one"));
    d.textures.push_back(simple("two"));
    const auto file = build(d);
    ASSERT_EQ(readLe32(file.data() + 24), 0x00090002u);
    const auto listing = read(file);
    EXPECT_EQ(listing.storedCount, 2);
    EXPECT_EQ(listing.rows.size(), 2u);
    EXPECT_EQ(listing.end, TextureListEnd::Complete);
}

TEST(SectionedDictionary, ALayoutThatIsNotReadIsListedAndTheListGoesOn)
{
    struct Case {
        const char* label;
        void (*spoil)(SectionedTexture&);
    };
    const Case cases[] = {
        {"4-bit palette", [](SectionedTexture& t) { t.rasterFormat = 0x0500 | 0x4000; }},
        {"cube map", [](SectionedTexture& t) { t.compressionOrFlags = 0x02; }},
        {"other platform", [](SectionedTexture& t) { t.platformField = 6; }},
        {"unknown platform-9 code", [](SectionedTexture& t) { t.alphaOrCode = 0x34545844; }},
        {"raster type other than a texture", [](SectionedTexture& t) { t.rasterType = 2; }},
        {"depth not of its layout", [](SectionedTexture& t) { t.depth = 32; }},
        {"level size not of its layout", [](SectionedTexture& t) { t.levelSizeFields = {uint32_t(31)}; }},
        {"more levels than stored", [](SectionedTexture& t) { t.levelCount = 2; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SectionedDictionary d;
        d.textures.push_back(simple("before"));
        SectionedTexture odd = simple("odd", TexelFormat::Rgb565, 8, 2);
        odd.maskName = "oddMask";
        c.spoil(odd);
        d.textures.push_back(odd);
        d.textures.push_back(simple("after", TexelFormat::Argb1555));
        std::vector<WrittenSectionedTexture> written;
        const auto listing = read(build(d, &written));
        ASSERT_EQ(listing.rows.size(), 3u);
        EXPECT_TRUE(listing.rows[0].hasData);
        expectListedWithoutKind(listing.rows[1], "odd", "oddMask", 8, 2);
        EXPECT_EQ(listing.rows[2].name, "after");
        EXPECT_TRUE(listing.rows[2].hasData);
        EXPECT_EQ(listing.rows[2].type, "16bit 1555");
        EXPECT_EQ(listing.rows[2].imagePos, written[2].sectionOffset + 112);
        EXPECT_EQ(listing.end, TextureListEnd::Complete);
    }
}

TEST(SectionedDictionary, ATextureWhoseSectionsAreBrokenEndsTheList)
{
    // The second texture's sizes point past the entry or out of its own
    // section; the dictionary sits at 2048 inside a larger file whose bytes
    // after the entry are 0xEE.
    struct Case {
        const char* label;
        void (*spoil)(SectionedTexture&);
        bool listed;  // its header fields are a texture's, so it is listed without kind
    };
    const Case cases[] = {
        {"texture size past the entry", [](SectionedTexture& t) { t.textureSectionSize = 100000; }, true},
        {"struct larger than its texture", [](SectionedTexture& t) { t.structSectionSize = 5000; }, true},
        {"struct shorter than the header", [](SectionedTexture& t) { t.structSectionSize = 40; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SectionedDictionary d;
        d.textures.push_back(simple("good"));
        SectionedTexture broken = simple("broken");
        c.spoil(broken);
        d.textures.push_back(broken);
        d.textures.push_back(simple("never"));
        const auto dict = build(d);
        std::vector<uint8_t> file(2048, 0);
        file.insert(file.end(), dict.begin(), dict.end());
        file.resize(file.size() + 200000, 0xEE);
        const auto listing = readAt(file, 2048, 2048 + int64_t(dict.size()));
        ASSERT_EQ(listing.rows.size(), c.listed ? 2u : 1u);
        EXPECT_TRUE(listing.rows[0].hasData);
        EXPECT_EQ(listing.rows[0].imagePos, 2048 + 28 + 112);
        if (c.listed)
            expectListedWithoutKind(listing.rows[1], "broken", "", 4, 4);
        EXPECT_EQ(listing.end, TextureListEnd::DataPastEnd);
    }
}

TEST(SectionedDictionary, TheEntryEndBoundsTheListNotTheFileEnd)
{
    // A count of 3 over two textures; the next entry's bytes hold a third
    // texture section, which is never read.
    SectionedDictionary d;
    d.countField = 3;
    d.textures.push_back(simple("a"));
    d.textures.push_back(simple("b"));
    auto file = build(d);
    const int64_t entryEnd = int64_t(file.size()) - 12;  // without the closing extension
    SectionedDictionary next;
    next.textures.push_back(simple("foreign"));
    const auto other = build(next);
    file.resize(size_t(entryEnd));
    file.insert(file.end(), other.begin() + 28, other.end());  // a texture section right at the entry's end
    const auto listing = readAt(file, 0, entryEnd);
    ASSERT_EQ(listing.rows.size(), 2u);
    EXPECT_EQ(listing.rows[1].name, "b");
    EXPECT_EQ(listing.end, TextureListEnd::HeaderPastEnd);
    // The same file read up to its end does list the third texture.
    EXPECT_EQ(read(file).rows.size(), 3u);
}

TEST(SectionedDictionary, BytesThatAreNoTextureSectionGiveNoRow)
{
    SectionedDictionary d;
    d.countField = 2;
    d.textures.push_back(simple("only"));
    d.extension = std::vector<uint8_t>(300, 0x41);  // 'A's where a second texture would be
    auto file = build(d);
    const auto listing = read(file);
    ASSERT_EQ(listing.rows.size(), 1u);
    EXPECT_EQ(listing.end, TextureListEnd::HeaderPastEnd);
}

TEST(SectionedDictionary, DictionariesWithoutTheSectionHeadersAreReadThePlainWay)
{
    // The plain three-kind dictionary, then the same with only some of the
    // section headers in its first bytes: each is read by the plain layout.
    const auto plain = buildTextureDictionary(archive_fixture::threeKindsDictionary());
    auto onlyDictionary = archive_fixture::threeKindsDictionary();
    onlyDictionary.header[0] = 0x16;  // no struct section at 12
    auto withoutTexture = archive_fixture::threeKindsDictionary();
    withoutTexture.header[0] = 0x16;
    withoutTexture.header[12] = 0x01;
    withoutTexture.header[16] = 4;  // a struct of 4 bytes, but the first texture has no 0x15 header
    for (const auto& bytes : {plain, buildTextureDictionary(onlyDictionary), buildTextureDictionary(withoutTexture)}) {
        const auto listing = read(bytes);
        ASSERT_EQ(listing.rows.size(), 3u);
        const char* types[] = {"8bit paletted", "16bit", "32bit"};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_FALSE(listing.rows[i].sectioned);
            EXPECT_EQ(listing.rows[i].type, types[i]);
            EXPECT_EQ(listing.rows[i].layout.format, TexelFormat::Unknown);
        }
    }
}

TEST(SectionedDictionary, ATextureIsReadableExactlyWhenItsSectionEndsAtOrBeforeTheEntryEnd)
{
    SectionedDictionary d;
    d.textures.push_back(simple("first"));
    d.textures.push_back(simple("a", TexelFormat::Rgb565, 4, 4));
    std::vector<WrittenSectionedTexture> written;
    const auto file = build(d, &written);
    const int64_t textureEnd = written[1].endOffset;
    const auto whole = readAt(file, 0, textureEnd);
    ASSERT_EQ(whole.rows.size(), 2u);
    EXPECT_TRUE(whole.rows[1].hasData);
    // One byte short of the texture's section: no data (the section would
    // reach into the next entry).
    const auto cut = readAt(file, 0, textureEnd - 1);
    ASSERT_EQ(cut.rows.size(), 2u);
    EXPECT_TRUE(cut.rows[0].hasData);
    EXPECT_FALSE(cut.rows[1].hasData);
}

TEST(SectionedDictionary, ALevelIsReadableExactlyWhenItEndsAtOrBeforeItsStructEnd)
{
    // One 4 x 4 565 texture of two levels: 112 header bytes (of which 24 are
    // the two section headers), then 4 + 32 and 4 + 8 level bytes.
    const uint32_t structBody = 112 - 24 + 4 + 32 + 4 + 8;
    for (const uint32_t size : {structBody, structBody - 1}) {
        SectionedDictionary d;
        d.textures.push_back(mipTexture("a", TexelFormat::Rgb565, 4, 4, 2));
        d.textures[0].structSectionSize = size;
        const auto listing = read(build(d));
        ASSERT_EQ(listing.rows.size(), 1u);
        EXPECT_EQ(listing.rows[0].hasData, size == structBody) << size;
    }
}

TEST(SectionedDictionary, LevelsOfOddSidesHaveTheSizesOfTheirHalvedSides)
{
    // 5 x 3 with three levels: 5 x 3, 2 x 1, 1 x 1.
    struct Case {
        TexelFormat format;
        std::vector<size_t> sizes;  // bytes of each level, worked out by hand
        bool readable;
    };
    const Case cases[] = {
        {TexelFormat::Bgra8888, {60, 8, 4}, true},
        {TexelFormat::Rgb565, {30, 4, 2}, true},
        {TexelFormat::Lum8, {15, 2, 1}, true},
        // Two 4 x 4 blocks across level 0, one block for each smaller level.
        {TexelFormat::Dxt1, {16, 8, 8}, true},
        {TexelFormat::Dxt5, {32, 16, 16}, true},
        // Sides rounded up instead of down (3 x 2, then 2 x 1): not this layout.
        {TexelFormat::Bgra8888, {60, 24, 8}, false},
        {TexelFormat::Lum8, {15, 6, 2}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(texelFormatName(c.format) + std::string(c.readable ? " readable" : " rounded up"));
        SectionedTexture t;
        t.name = "odd";
        t.layout.format = c.format;
        t.layout.width = 5;
        t.layout.height = 3;
        t.layout.levels = 3;
        for (const size_t s : c.sizes)
            t.levels.push_back(std::vector<uint8_t>(s, 0x42));
        SectionedDictionary d;
        d.textures.push_back(t);
        d.textures.push_back(simple("after"));
        const auto listing = read(build(d));
        ASSERT_EQ(listing.rows.size(), 2u);
        EXPECT_EQ(listing.rows[0].hasData, c.readable);
        if (c.readable) {
            EXPECT_EQ(listing.rows[0].dataSize, int64_t(c.sizes[0]));
        }
        EXPECT_TRUE(listing.rows[1].hasData);
    }
}
