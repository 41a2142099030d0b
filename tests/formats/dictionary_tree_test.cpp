// SPDX-License-Identifier: GPL-2.0-or-later
// The section tree of a sectioned dictionary: parsed as the sections lie,
// written back byte for byte, rewritten with one texture's new content (every
// size, the count and every other byte worked out here), and refused where it
// could not be rewritten safely.
#include "formats/dictionary_edit.h"
#include "formats/dictionary_tree.h"
#include "formats/texture_dictionary.h"

#include "platform/byte_order.h"
#include "platform/streams.h"
#include "support/archive_builder.h"
#include "support/section_builder.h"
#include "support/texel_cases.h"

#include <gtest/gtest.h>

using namespace section_builder;

namespace {

constexpr uint32_t kDictStamp = 0x1803FFFF;
constexpr uint32_t kStampA = 0x0A0A0A0A, kStampUnknown = 0x0B0B0B0B, kStampB = 0x0C0C0C0C, kStampC = 0x0D0D0D0D,
                   kStampEnd = 0x0E0E0E0E;

// Bytes inserted at the end of a texture section's struct (after its
// levels); the struct's and the texture's sizes grow with them.
Bytes withStructTail(Bytes texture, const Bytes& tail)
{
    const uint32_t structSize = readLe32(texture.data() + 16);
    texture.insert(texture.begin() + 24 + structSize, tail.begin(), tail.end());
    writeLe32(texture.data() + 16, structSize + uint32_t(tail.size()));
    writeLe32(texture.data() + 4, readLe32(texture.data() + 4) + uint32_t(tail.size()));
    return texture;
}

// A dictionary of three textures (8888 with two levels and an extension of
// its own; P8 with bytes after its level inside its struct; a 4-bit palette,
// a layout that is not read), a section of an unknown type between the
// first two, a closing extension with a body, each with a stamp of its own.
struct Mixed {
    Bytes texA, unknown, texB, texC, closing, dict;
};

Mixed mixed()
{
    Mixed m;
    SectionedTexture a = texel_cases::mipTexture("alpha", TexelFormat::Bgra8888, 8, 4, 2);
    a.extension = Bytes(5, 'E');
    m.texA = textureSection(a, kStampA);
    m.unknown = section(0x50E, kStampUnknown, Bytes(7, 0x77));
    SectionedTexture b = texel_cases::mipTexture("Bravo", TexelFormat::Paletted8, 4, 4, 1);
    b.maskName = "bravoMask";
    m.texB = withStructTail(textureSection(b, kStampB), {0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6});
    SectionedTexture c = texel_cases::mipTexture("charlie", TexelFormat::Argb4444, 4, 4, 1);
    c.rasterFormat = 0x4000 | 0x0500;  // a 4-bit palette: not read
    m.texC = textureSection(c, kStampC);
    m.closing = section(0x03, kStampEnd, {1, 2, 3});
    m.dict = dictionary(kDictStamp, 3, 9, {m.texA, m.unknown, m.texB, m.texC, m.closing});
    return m;
}

// The entry holding the dictionary, with bytes of the next entry after it.
Bytes entryOf(const Bytes& dict)
{
    Bytes e = dict;
    e.insert(e.end(), 100, 0xEE);
    return e;
}

template <typename F>
std::string errorOf(F&& f)
{
    try {
        f();
    } catch (const EDictionaryError& e) {
        return e.message();
    }
    return "<no error>";
}

}  // namespace

TEST(DictionaryTree, SectionsAreParsedAsTheyLieAndWrittenBackByteForByte)
{
    const Mixed m = mixed();
    const DictionaryTree tree = parseDictionaryTree(entryOf(m.dict));
    EXPECT_EQ(tree.source.size(), m.dict.size());  // the next entry's bytes are not the dictionary's
    EXPECT_EQ(tree.dictionary.stamp, kDictStamp);
    EXPECT_EQ(tree.device, 9);
    ASSERT_EQ(tree.textureCount(), 3);
    ASSERT_EQ(tree.nodes.size(), 5u);
    EXPECT_FALSE(tree.nodes[1].isTexture);
    EXPECT_EQ(tree.nodes[1].raw.type, 0x50Eu);
    EXPECT_EQ(tree.nodes[1].raw.stamp, kStampUnknown);
    EXPECT_EQ(tree.nodes[4].raw.type, 0x03u);
    EXPECT_EQ(tree.texture(0).name(), "alpha");
    EXPECT_EQ(tree.texture(0).section.stamp, kStampA);
    EXPECT_EQ(tree.texture(0).layout.format, TexelFormat::Bgra8888);
    EXPECT_EQ(tree.texture(0).layout.levels, 2);
    ASSERT_EQ(tree.texture(0).extras.size(), 1u);
    EXPECT_EQ(tree.texture(0).extras[0].size, 5u);
    EXPECT_EQ(tree.texture(1).maskName(), "bravoMask");
    EXPECT_EQ(tree.texture(1).layout.format, TexelFormat::Paletted8);
    EXPECT_EQ(tree.texture(1).sourceDataBytes, 1024 + 4 + 16);
    EXPECT_EQ(tree.texture(2).layout.format, TexelFormat::Unknown);
    EXPECT_EQ(tree.texture(2).platform(), 9u);
    EXPECT_THROW(tree.texture(3), EDictionaryError);

    EXPECT_EQ(writeDictionaryTree(tree), m.dict);
}

TEST(DictionaryTree, ANewContentGivesItsTextureAndTheDictionaryNewSizesAndLeavesEveryOtherByte)
{
    const Mixed m = mixed();
    DictionaryTree tree = parseDictionaryTree(entryOf(m.dict));
    // P8 4x4 becomes DXT1 8x8 with two levels.
    TextureContent content;
    content.layout = {TexelFormat::Dxt1, false, 8, 8, 2};
    const Bytes level0 = {0x00, 0xF8, 0x1F, 0x00, 0x00, 0x00, 0x55, 0x55};  // red over blue
    const Bytes level1 = {0x1F, 0x00, 0x00, 0xF8, 0, 0, 0, 0};
    // Level 0: 2 x 2 blocks (32 bytes); level 1: one block.
    content.data = join({{32, 0, 0, 0}, level0, level0, level0, level0, {8, 0, 0, 0}, level1});
    replaceTextureContent(tree, 1, content);
    std::vector<WrittenTreeTexture> written;
    const Bytes out = writeDictionaryTree(tree, &written);

    // The texture as it must be: its header fields with the new layout's
    // values where the layout decides them, every other header byte as it
    // was, the new levels, the six bytes that followed the old levels inside
    // its struct, and its extension.
    Bytes header(m.texB.begin() + 24, m.texB.begin() + 24 + 88);
    writeLe32(header.data() + 72, 0x8000 | 0x0200);  // 565 layout; levels stored, as texture 1 has it
    writeLe32(header.data() + 76, 0x31545844);       // "DXT1"
    writeLe16(header.data() + 80, 8);
    writeLe16(header.data() + 82, 8);
    header[84] = 16;    // depth
    header[85] = 2;     // levels
    header[87] = 0x08;  // compressed, no alpha
    const Bytes tail = {0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6};
    const Bytes extensionB(m.texB.end() - 12, m.texB.end());
    const Bytes structB = section(0x01, kStampB, join({header, content.data, tail}));
    const Bytes texB = section(0x15, kStampB, join({structB, extensionB}));
    ASSERT_EQ(structB.size(), 12u + 88 + 48 + 6);
    EXPECT_EQ(readLe32(texB.data() + 4), 154u + 12);  // its struct and its extension
    const Bytes expected = dictionary(kDictStamp, 3, 9, {m.texA, m.unknown, texB, m.texC, m.closing});
    // The dictionary section's size: everything after its header.
    EXPECT_EQ(readLe32(expected.data() + 4), uint32_t(expected.size() - 12));
    EXPECT_EQ(out, expected);

    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[1].sectionOffset, int64_t(28 + m.texA.size() + m.unknown.size()));
    EXPECT_EQ(written[1].imagePos, written[1].sectionOffset + 112);
    EXPECT_EQ(written[1].endOffset, written[1].sectionOffset + int64_t(texB.size()));

    // The reader lists the new texture with its layout where it now lies.
    TReadOnlyMemoryStream s(out.data(), int64_t(out.size()));
    const TextureListing listing = readTextureDictionary(s, 0, s.Size());
    ASSERT_EQ(listing.rows.size(), 3u);
    EXPECT_EQ(listing.rows[1].name, "Bravo");
    EXPECT_EQ(listing.rows[1].type, "DXT1");
    EXPECT_EQ(listing.rows[1].layout.levels, 2);
    EXPECT_EQ(listing.rows[1].imagePos, written[1].imagePos);
    EXPECT_EQ(listing.rows[2].name, "charlie");
}

TEST(DictionaryTree, WhatCannotBeRewrittenSafelyIsRefusedWithTheReason)
{
    const Mixed m = mixed();
    SectionedTexture plainTexture = texel_cases::mipTexture("x", TexelFormat::Rgb565, 4, 4, 1);
    const Bytes good = textureSection(plainTexture, kDictStamp);
    struct Case {
        const char* label;
        Bytes entry;
        const char* says;
    };
    Bytes cutShort = m.dict;
    writeLe32(cutShort.data() + 4, readLe32(cutShort.data() + 4) + 40);
    Bytes overrun = dictionary(kDictStamp, 1, 0, {good, section(0x50E, 0, Bytes(8))});
    writeLe32(overrun.data() + overrun.size() - 8 - 12 + 4, 12);  // the last section says 12 of its 8 bytes
    const Case cases[] = {
        {"plain layout", buildTextureDictionary(archive_fixture::threeKindsDictionary()), "plain layout"},
        {"dictionary past the entry", cutShort, "cut short"},
        {"section past the dictionary", overrun, "past the end of the dictionary"},
        {"bytes that are no section", dictionary(kDictStamp, 1, 0, {good, Bytes(5, 0)}), "too few for a section"},
        {"texture without its struct", dictionary(kDictStamp, 2, 0, {good, section(0x15, 0, section(0x03, 0, {}))}),
         "does not start with its struct"},
        {"struct shorter than the header",
         dictionary(kDictStamp, 2, 0, {good, section(0x15, 0, section(0x01, 0, Bytes(40)))}),
         "fewer than its header's 88"},
        {"struct past its texture",
         dictionary(kDictStamp, 2, 0,
                    {good, section(0x15, 0, join({{1, 0, 0, 0, 200, 0, 0, 0, 0, 0, 0, 0}, Bytes(100)}))}),
         "past the end of texture 2"},
        {"bytes after the sections of a texture",
         dictionary(kDictStamp, 2, 0, {good, section(0x15, 0, join({section(0x01, 0, Bytes(100)), Bytes(1)}))}),
         "too few for a section"},
        {"count above the textures", dictionary(kDictStamp, 2, 0, {good}), "count says 2"},
        {"count below the textures", dictionary(kDictStamp, 1, 0, {good, good}), "holds 2 texture sections"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string message = errorOf([&] { parseDictionaryTree(c.entry); });
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
    }
}

TEST(DictionaryTree, AnEmptyDictionaryIsReadAsSectionedAndParsed)
{
    // What removing the last texture leaves: a count of 0 and the closing
    // extension right after the struct, with a device number beside it.
    const Bytes dict = dictionary(kDictStamp, 0, 2, {section(0x03, kDictStamp, {})});
    TReadOnlyMemoryStream s(dict.data(), int64_t(dict.size()));
    const TextureListing listing = readTextureDictionary(s, 0, s.Size());
    EXPECT_TRUE(listing.rows.empty());
    EXPECT_EQ(listing.storedCount, 0);
    const DictionaryTree tree = parseDictionaryTree(dict);
    EXPECT_EQ(tree.textureCount(), 0);
    EXPECT_EQ(writeDictionaryTree(tree), dict);
}
