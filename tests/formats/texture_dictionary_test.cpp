// SPDX-License-Identifier: GPL-2.0-or-later
// Reading a texture dictionary's list: the row fields, absolute offsets, the
// name rule, and the bounds that keep damaged files from producing rows that
// point outside the file.
#include "formats/texture_dictionary.h"

#include "platform/byte_order.h"
#include "platform/streams.h"
#include "support/archive_builder.h"

#include <gtest/gtest.h>

using namespace archive_fixture;

namespace {

// The dictionary's entry ends at `entryEnd` (the file's end by default).
TextureListing readAt(const std::vector<uint8_t>& file, int64_t offset, int64_t entryEnd = INT64_MAX)
{
    TReadOnlyMemoryStream s(file.data(), static_cast<int64_t>(file.size()));
    return readTextureDictionary(s, offset, entryEnd);
}

// The dictionary placed at `offset` of a file, with `tail` bytes after it.
std::vector<uint8_t> placed(const std::vector<uint8_t>& dict, size_t offset, size_t tail = 0)
{
    std::vector<uint8_t> file(offset + dict.size() + tail, 0xEE);
    std::copy(dict.begin(), dict.end(), file.begin() + long(offset));
    return file;
}

TextureRecord plain32(const std::string& name, uint16_t w, uint16_t h)
{
    return makeTexture32(name, "", w, h, std::vector<Rgba>(size_t(w) * h, Rgba{1, 2, 3, 4}));
}

}  // namespace

TEST(TextureDictionary, ThreeKindsGiveTheirRowsAndAbsoluteOffsets)
{
    std::vector<WrittenTexture> written;
    const auto dict = buildTextureDictionary(threeKindsDictionary(), &written);
    const auto listing = readAt(placed(dict, 2048), 2048);

    EXPECT_EQ(listing.end, TextureListEnd::Complete);
    EXPECT_EQ(listing.storedCount, 3);
    ASSERT_EQ(listing.rows.size(), 3u);
    struct Expected {
        const char* name;
        const char* mask;
        const char* type;
        int bits;
        bool paletted;
        const char* dimensions;
        int64_t size;
    };
    const Expected expected[] = {
        {"indexed", "indexedMask", "8bit paletted", 8, true, "4x2", 8},
        {"hicolor", "", "16bit", 16, false, "2x2", 8},
        {"truecolor", "truecolorA", "32bit", 32, false, "3x1", 12},
    };
    for (size_t i = 0; i < 3; ++i) {
        const TextureRow& r = listing.rows[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(r.pos, int64_t(i + 1));
        EXPECT_EQ(r.name, expected[i].name);
        EXPECT_EQ(r.maskName, expected[i].mask);
        EXPECT_TRUE(r.hasData);
        EXPECT_EQ(r.type, expected[i].type);
        EXPECT_EQ(r.bits, expected[i].bits);
        EXPECT_EQ(r.paletted, expected[i].paletted);
        EXPECT_EQ(r.dimensions(), expected[i].dimensions);
        EXPECT_EQ(r.dataSize, expected[i].size);
        EXPECT_EQ(r.imagePos, 2048 + written[i].imagePos);
    }
    // The first texture's data starts right after the dictionary header and its own.
    EXPECT_EQ(listing.rows[0].imagePos, 2048 + 28 + 112);
}

TEST(TextureDictionary, NextHeaderFollowsPaletteSizeTexelsAndTrailer)
{
    // An 8-bit texture of 4096 texels at offset 2048: the next header starts at
    // 2188 + 1024 + 4 + 4096 + 12 = 7324.
    TextureDictionary d;
    d.textures.push_back(makeTexturePaletted8("big", "", 64, 64, {{1, 2, 3, 4}}, std::vector<uint8_t>(4096, 0)));
    d.textures.push_back(plain32("next", 1, 1));
    std::vector<WrittenTexture> written;
    const auto listing = readAt(placed(buildTextureDictionary(d, &written), 2048), 2048);
    ASSERT_EQ(listing.rows.size(), 2u);
    EXPECT_EQ(listing.rows[0].imagePos, 2188);
    EXPECT_EQ(2048 + written[1].headerOffset, 7324);
    EXPECT_EQ(listing.rows[1].imagePos, 7324 + 112);

    // A 16-bit first texture of a standalone dictionary at offset 0.
    TextureDictionary one;
    one.textures.push_back(makeTexture16("h", "", 1, 1, {{0, 0, 0, 255}}));
    EXPECT_EQ(readAt(buildTextureDictionary(one), 0).rows.at(0).imagePos, 140);
}

TEST(TextureDictionary, NamesTakeUpToTheFirstNulOrAll32Bytes)
{
    const std::string name32 = "abcdefghijklmnopqrstuvwxyz012345";
    ASSERT_EQ(name32.size(), 32u);
    TextureDictionary d;
    d.textures.push_back(plain32(name32, 1, 1));
    d.textures.push_back(plain32(std::string("\0hidden", 7), 1, 1));
    d.textures.back().maskName = std::string("m\0junk", 6);
    d.textures.push_back(plain32("\x8A\xE8ko", 1, 1));  // Windows-1250 bytes pass through
    const auto listing = readAt(buildTextureDictionary(d), 0);
    ASSERT_EQ(listing.rows.size(), 3u);
    EXPECT_EQ(listing.rows[0].name, name32);
    EXPECT_EQ(listing.rows[1].name, "");
    EXPECT_EQ(listing.rows[1].maskName, "m");
    EXPECT_EQ(listing.rows[2].name, "\x8A\xE8ko");
}

TEST(TextureDictionary, CountOfZeroOrLessGivesNoRows)
{
    for (int32_t count : {0, -1, INT32_MIN}) {
        TextureDictionary d;
        d.textures.push_back(plain32("never", 1, 1));
        d.countField = count;
        const auto listing = readAt(buildTextureDictionary(d), 0);
        EXPECT_TRUE(listing.rows.empty()) << count;
        EXPECT_EQ(listing.storedCount, count);
    }
    // A file that ends before the count, or an offset past the end: no rows, no error.
    EXPECT_TRUE(readAt(std::vector<uint8_t>(27, 0), 0).rows.empty());
    EXPECT_TRUE(readAt(std::vector<uint8_t>(100, 0), 5000).rows.empty());
}

TEST(TextureDictionary, UnknownKindIsListedWithoutDataAndEndsTheList)
{
    TextureDictionary d;
    d.textures.push_back(plain32("first", 2, 2));
    TextureRecord odd = plain32("odd", 2, 2);
    odd.kind = 0x40118;
    d.textures.push_back(odd);
    // Bytes after the unknown texture look like further headers; none may be read.
    d.textures.push_back(plain32("after", 2, 2));
    const auto listing = readAt(buildTextureDictionary(d), 0);
    ASSERT_EQ(listing.rows.size(), 2u);
    EXPECT_EQ(listing.end, TextureListEnd::UnknownKind);
    const TextureRow& r = listing.rows[1];
    EXPECT_EQ(r.name, "odd");
    EXPECT_EQ(r.dimensions(), "2x2");
    EXPECT_EQ(r.kind, 0x40118u);
    EXPECT_FALSE(r.hasData);
    EXPECT_EQ(r.type, "");
    EXPECT_EQ(r.bits, 0);
}

TEST(TextureDictionary, ListStopsWhereTheFileEnds)
{
    // Each case cuts a dictionary of [32-bit 2x2, 8-bit 2x2] at a byte count;
    // the second texture's header starts at 28 + 112 + 4 + 16 + 12 = 172.
    TextureDictionary d;
    d.textures.push_back(plain32("a", 2, 2));
    d.textures.push_back(makeTexturePaletted8("b", "", 2, 2, {{9, 9, 9, 9}}, {0, 0, 0, 0}));
    const auto full = buildTextureDictionary(d);
    ASSERT_EQ(full.size(), 172u + 112 + 1024 + 4 + 4 + 12);
    struct Case {
        size_t length;
        size_t rows;
        bool lastHasData;
        TextureListEnd end;
    };
    const Case cases[] = {
        {full.size(), 2, true, TextureListEnd::Complete},
        {full.size() - 12, 2, true, TextureListEnd::Complete},          // only the trailer is missing
        {full.size() - 13, 2, false, TextureListEnd::DataPastEnd},      // one texel short
        {172 + 112 + 1024 + 2, 2, false, TextureListEnd::DataPastEnd},  // inside the size field
        {172 + 112 + 500, 2, false, TextureListEnd::DataPastEnd},       // inside the palette
        {172 + 111, 1, true, TextureListEnd::HeaderPastEnd},            // header one byte short
        {172, 1, true, TextureListEnd::HeaderPastEnd},
        {28 + 112 + 4 + 15, 1, false, TextureListEnd::DataPastEnd},
        {28 + 50, 0, false, TextureListEnd::HeaderPastEnd},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        const std::vector<uint8_t> cut(full.begin(), full.begin() + long(c.length));
        const auto listing = readAt(cut, 0);
        ASSERT_EQ(listing.rows.size(), c.rows);
        EXPECT_EQ(listing.end, c.end);
        if (c.rows > 0) {
            EXPECT_EQ(listing.rows.back().hasData, c.lastHasData);
        }
        for (const TextureRow& r : listing.rows) {
            if (r.hasData) {
                EXPECT_LE(r.imagePos + (r.paletted ? 1024 : 0) + 4 + r.dataSize, int64_t(c.length));
            }
        }
    }
}

TEST(TextureDictionary, HugeCountsAndSizesAreBoundedByTheFile)
{
    // A count of two billion on a small file lists what is there, at once.
    TextureDictionary d;
    d.textures.push_back(plain32("only", 1, 1));
    d.countField = 2000000000;
    const auto listing = readAt(buildTextureDictionary(d), 0);
    ASSERT_EQ(listing.rows.size(), 1u);
    EXPECT_TRUE(listing.rows[0].hasData);
    EXPECT_EQ(listing.end, TextureListEnd::HeaderPastEnd);

    // A data size that is negative, or larger than the file: no data offset.
    for (int32_t size : {-12, -1, INT32_MAX}) {
        TextureDictionary bad;
        bad.textures.push_back(plain32("bad", 1, 1));
        bad.textures.back().dataSizeField = size;
        bad.textures.push_back(plain32("never", 1, 1));
        const auto l = readAt(buildTextureDictionary(bad), 0);
        ASSERT_EQ(l.rows.size(), 1u) << size;
        EXPECT_FALSE(l.rows[0].hasData);
        EXPECT_EQ(l.end, TextureListEnd::DataPastEnd);
    }
}

TEST(TextureDictionary, EntryNamesHoldingTxdAnywhereAreDictionaries)
{
    for (const char* yes : {"menu.txd", "MENU.TXD", "a.txd.old", "readme.txd.txt", "x.TxD"})
        EXPECT_TRUE(entryIsTextureDictionary(yes)) << yes;
    for (const char* no : {"menu.tx", "txd", "menu_txd", "", "m.t xd"})
        EXPECT_FALSE(entryIsTextureDictionary(no)) << no;
}

TEST(TextureDictionary, NoTextureReachesPastTheEndOfItsEntry)
{
    // Two 2 x 2 32-bit textures: the first at 28..172, the second's header
    // at 172..284, its size field at 284, texels 288..304, trailer to 316.
    TextureDictionary d;
    d.textures.push_back(plain32("one", 2, 2));
    d.textures.push_back(plain32("two", 2, 2));
    const std::vector<uint8_t> dict = buildTextureDictionary(d);
    ASSERT_EQ(dict.size(), 316u);
    for (size_t at : {size_t(0), size_t(2048)}) {
        SCOPED_TRACE(at);
        // The next entry's bytes follow: the file goes on well past the fence.
        const std::vector<uint8_t> file = placed(dict, at, 5000);
        const int64_t base = int64_t(at);
        struct Case {
            int64_t end;  // from the dictionary's start
            size_t rows;
            bool secondHasData;
            TextureListEnd how;
        };
        for (const Case& c :
             {Case{316, 2, true, TextureListEnd::Complete},
              Case{304, 2, true, TextureListEnd::Complete},  // the trailer is not needed
              Case{303, 2, false, TextureListEnd::DataPastEnd}, Case{287, 2, false, TextureListEnd::DataPastEnd},
              Case{283, 1, false, TextureListEnd::HeaderPastEnd}, Case{0, 0, false, TextureListEnd::Complete}}) {
            SCOPED_TRACE(c.end);
            const TextureListing l = readAt(file, base, base + c.end);
            ASSERT_EQ(l.rows.size(), c.rows);
            if (c.rows == 0) {
                EXPECT_EQ(l.storedCount, 0);  // a Size 0 entry lists nothing
                continue;
            }
            EXPECT_TRUE(l.rows[0].hasData);
            EXPECT_EQ(l.end, c.how);
            if (c.rows == 2) {
                EXPECT_EQ(l.rows[1].hasData, c.secondHasData);
                EXPECT_EQ(l.rows[1].name, "two");
                if (!c.secondHasData) {
                    EXPECT_EQ(l.rows[1].imagePos, 0);
                }
            }
        }
    }
    // A fence past the file's end is the file's end.
    const std::vector<uint8_t> cut(dict.begin(), dict.end() - 20);
    EXPECT_FALSE(readAt(cut, 0, 1 << 20).rows.at(1).hasData);
}
