// SPDX-License-Identifier: GPL-2.0-or-later
// The edits of a sectioned dictionary's tree: every layout through add and
// replace, written, read back and decoded; the header fields an edit sets and
// those it keeps; adding, removing and renaming with the bytes worked out
// here; a new dictionary; and every limit refused with its reason and the
// tree left as it was.
#include "formats/dictionary_edit.h"
#include "formats/dictionary_tree.h"
#include "formats/texture_dictionary.h"

#include "platform/byte_order.h"
#include "platform/streams.h"
#include "support/section_builder.h"
#include "support/texel_cases.h"

#include <gtest/gtest.h>

#include <functional>

using namespace section_builder;

namespace {

constexpr uint32_t kStamp = 0x1803FFFF;

// A content of `format` whose every level is filled with `fill`, after the
// size fields its layout gives (and a palette for P8).
TextureContent filledContent(TexelFormat format, int w, int h, int levels, uint8_t fill = 0x5A)
{
    TextureContent c;
    c.layout = {format, false, w, h, levels};
    if (texelFormatIsPaletted(format))
        c.data.assign(1024, 0x33);
    for (int k = 0; k < levels; ++k) {
        const Bytes level = texel_cases::filledLevel(format, mipLevelSize(w, k), mipLevelSize(h, k), fill);
        appendLe32(c.data, uint32_t(level.size()));
        c.data.insert(c.data.end(), level.begin(), level.end());
    }
    return c;
}

TextureListing listingOf(const Bytes& dict)
{
    TReadOnlyMemoryStream s(dict.data(), int64_t(dict.size()));
    return readTextureDictionary(s, 0, s.Size());
}

// 32 bytes: the text and NUL bytes after it.
Bytes nameField(const std::string& text)
{
    Bytes f(32, 0);
    std::copy(text.begin(), text.end(), f.begin());
    return f;
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

// Two textures: "first" (565, one level) and "second" (8888 4x4, 3 levels).
Bytes twoTextures(uint32_t platform)
{
    return dictionary(
        kStamp, 2, 0,
        {textureSection(texel_cases::mipTexture("first", TexelFormat::Rgb565, 4, 4, 1, platform), kStamp),
         textureSection(texel_cases::mipTexture("second", TexelFormat::Bgra8888, 4, 4, 3, platform), kStamp),
         section(0x03, kStamp, {})});
}

}  // namespace

TEST(DictionaryEdit, EveryLayoutAddedOrReplacedIsReadBackAndDecodesToItsPixels)
{
    // The cases' level bytes and the pixels they stand for are worked out by
    // hand (texel_cases); each is added to a new dictionary and put over the
    // first texture of another, on each header that holds it.
    for (const texel_cases::TexelCase& c : texel_cases::allCases()) {
        for (const uint32_t platform : {8u, 9u}) {
            if (platform == 8 && c.layout.format == TexelFormat::Dxt5)
                continue;
            SCOPED_TRACE(c.label + " platform " + std::to_string(platform));
            TextureContent content;
            content.layout = c.layout;
            content.data = c.palette;
            appendLe32(content.data, uint32_t(c.level.size()));
            content.data.insert(content.data.end(), c.level.begin(), c.level.end());

            DictionaryTree added = newDictionaryTree(platform);
            addTexture(added, "pic", "", content);
            const Bytes other = twoTextures(platform);
            DictionaryTree replaced = parseDictionaryTree(other);
            replaceTextureContent(replaced, 0, content);

            for (const Bytes& bytes : {writeDictionaryTree(added), writeDictionaryTree(replaced)}) {
                const TextureListing listing = listingOf(bytes);
                ASSERT_GE(listing.rows.size(), 1u);
                const TextureRow& r = listing.rows[0];
                ASSERT_TRUE(r.hasData);
                EXPECT_EQ(r.layout.format, c.layout.format);
                EXPECT_EQ(r.layout.dxt1Alpha, c.layout.dxt1Alpha);
                EXPECT_EQ(r.type, c.typeName);
                EXPECT_EQ(r.platform, platform);
                const uint8_t* palette = bytes.data() + r.imagePos;
                const uint8_t* level = palette + c.palette.size() + 4;
                std::vector<uint8_t> bgra(c.bgra.size(), 0xCD);
                decodeTexelLevel(r.layout, palette, level, r.width, r.height, bgra.data());
                EXPECT_EQ(bgra, c.bgra);
            }
            // The texture after the replaced one is still the one it was.
            const Bytes out = writeDictionaryTree(replaced);
            const Bytes second =
                textureSection(texel_cases::mipTexture("second", TexelFormat::Bgra8888, 4, 4, 3, platform), kStamp);
            EXPECT_EQ(Bytes(out.end() - 12 - int64_t(second.size()), out.end() - 12), second);
        }
    }
}

TEST(DictionaryEdit, ReplacingSetsTheFieldsTheLayoutDecidesAndKeepsEveryOther)
{
    // Platform 9: 8888 with the engine's level flags (0x1000 in the raster
    // format, 0x04 in the flags) and filtering 0x3302 becomes DXT1 with its
    // 1-bit alpha and four levels.
    SectionedTexture t9 = texel_cases::mipTexture("nine", TexelFormat::Bgra8888, 8, 8, 1, 9);
    t9.rasterFormat = 0x1000 | 0x0500;
    t9.compressionOrFlags = 0x04 | 0x01;
    t9.maskName = "nineMask";
    Bytes sec9 = textureSection(t9, kStamp);
    writeLe32(sec9.data() + 28, 0x3302);
    // Platform 8: P8 becomes DXT3 with one level.
    const Bytes sec8 = textureSection(texel_cases::mipTexture("eight", TexelFormat::Paletted8, 8, 8, 2, 8), kStamp);
    const Bytes dict = dictionary(kStamp, 2, 0, {sec9, sec8, section(0x03, kStamp, {})});
    DictionaryTree tree = parseDictionaryTree(dict);

    TextureContent dxt1 = filledContent(TexelFormat::Dxt1, 8, 4, 4);
    dxt1.layout.dxt1Alpha = true;
    replaceTextureContent(tree, 0, dxt1);
    replaceTextureContent(tree, 1, filledContent(TexelFormat::Dxt3, 4, 4, 1));
    const Bytes out = writeDictionaryTree(tree);

    // Every byte of the header as it was (the filtering 0x3302, the names)
    // but those the layout decides. Levels stored: set, as the other
    // texture with levels has it.
    Bytes header9(sec9.begin() + 24, sec9.begin() + 112);
    writeLe32(header9.data() + 72, 0x8000 | 0x1000 | 0x0100);
    writeLe32(header9.data() + 76, 0x31545844);
    writeLe16(header9.data() + 80, 8);
    writeLe16(header9.data() + 82, 4);
    header9[84] = 16;
    header9[85] = 4;
    header9[87] = 0x04 | 0x08 | 0x01;
    Bytes header8(sec8.begin() + 24, sec8.begin() + 112);
    writeLe32(header8.data() + 72, 0x0300);  // 4444 layout, palette flag gone, one level
    writeLe32(header8.data() + 76, 1);       // has alpha
    writeLe16(header8.data() + 80, 4);
    writeLe16(header8.data() + 82, 4);
    header8[84] = 32;
    header8[85] = 1;
    header8[87] = 3;
    const Bytes empty = section(0x03, kStamp, {});
    const Bytes expected = dictionary(
        kStamp, 2, 0,
        {section(0x15, kStamp, join({section(0x01, kStamp, join({header9, dxt1.data})), empty})),
         section(0x15, kStamp,
                 join({section(0x01, kStamp, join({header8, filledContent(TexelFormat::Dxt3, 4, 4, 1).data})), empty})),
         empty});
    EXPECT_EQ(out, expected);
}

TEST(DictionaryEdit, TheLevelsStoredFlagFollowsTheDictionary)
{
    // The file's mip-mapped texture goes without the flag: so do the
    // textures the edits give levels, replaced or added.
    SectionedTexture mips = texel_cases::mipTexture("mips", TexelFormat::Rgb565, 8, 8, 4);
    mips.rasterFormat = 0x0200;
    const Bytes dict = dictionary(kStamp, 2, 0,
                                  {textureSection(texel_cases::mipTexture("one", TexelFormat::Rgb565, 8, 8, 1), kStamp),
                                   textureSection(mips, kStamp), section(0x03, kStamp, {})});
    DictionaryTree tree = parseDictionaryTree(dict);
    replaceTextureContent(tree, 0, filledContent(TexelFormat::Bgra8888, 8, 8, 4));
    addTexture(tree, "added", "", filledContent(TexelFormat::Bgra8888, 4, 4, 3));
    const Bytes out = writeDictionaryTree(tree);
    const TextureListing listing = listingOf(out);
    ASSERT_EQ(listing.rows.size(), 3u);
    for (const int i : {0, 2})
        EXPECT_EQ(readLe32(out.data() + listing.rows[size_t(i)].imagePos - 16), 0x0500u) << i;

    // Where the texture itself had levels, it keeps its own way.
    DictionaryTree again = parseDictionaryTree(dict);
    replaceTextureContent(again, 1, filledContent(TexelFormat::Rgb565, 8, 8, 2));
    const Bytes out2 = writeDictionaryTree(again);
    EXPECT_EQ(readLe32(out2.data() + listingOf(out2).rows[1].imagePos - 16), 0x0200u);
}

TEST(DictionaryEdit, AnAddedTextureFollowsTheLastTextureWithTheFirstTexturesHeader)
{
    SectionedTexture first = texel_cases::mipTexture("first", TexelFormat::Rgb565, 4, 4, 1, 8);
    Bytes firstSec = textureSection(first, 0x0A0A0A0A);
    writeLe32(firstSec.data() + 28, 0x3302);  // filtering and addressing
    const Bytes unknown = section(0x50E, 0x0B0B0B0B, {9, 9});
    const Bytes secondSec =
        textureSection(texel_cases::mipTexture("second", TexelFormat::Lum8, 4, 4, 1, 8), 0x0C0C0C0C);
    const Bytes closing = section(0x03, 0x0D0D0D0D, {7});
    const Bytes dict = dictionary(kStamp, 2, 5, {firstSec, unknown, secondSec, closing});
    DictionaryTree tree = parseDictionaryTree(dict);
    const TextureContent content = filledContent(TexelFormat::Bgra8888, 4, 4, 3);
    addTexture(tree, "new", "newMask", content);

    // Its header, field by field: platform 8 and the filtering of the first
    // texture, the names, raster format 8888 with levels stored, alpha 1,
    // 4 x 4, depth 32, 3 levels, raster type 4, no compression.
    Bytes header;
    appendLe32(header, 8);
    appendLe32(header, 0x3302);
    header = join({header, nameField("new"), nameField("newMask")});
    appendLe32(header, 0x8500);
    appendLe32(header, 1);
    appendLe16(header, 4);
    appendLe16(header, 4);
    header.insert(header.end(), {32, 3, 4, 0});
    ASSERT_EQ(header.size(), 88u);
    const Bytes added =
        section(0x15, kStamp, join({section(0x01, kStamp, join({header, content.data})), section(0x03, kStamp, {})}));
    EXPECT_EQ(writeDictionaryTree(tree), dictionary(kStamp, 3, 5, {firstSec, unknown, secondSec, added, closing}));
}

TEST(DictionaryEdit, AnEmptyDictionaryGivesItsTexturesThePlatformItsStampImplies)
{
    const struct {
        uint32_t stamp;
        uint32_t platform;
    } cases[] = {{0x1803FFFF, 9}, {0x1C020065, 9}, {0x1401FFFF, 9}, {0x1003FFFF, 8}, {0x0C02FFFF, 8}, {0x0310, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stamp);
        EXPECT_EQ(platformOfStamp(c.stamp), c.platform);
        DictionaryTree tree = parseDictionaryTree(dictionary(c.stamp, 0, 0, {section(0x03, c.stamp, {})}));
        addTexture(tree, "only", "", filledContent(TexelFormat::Rgb565, 2, 2, 1));
        const Bytes out = writeDictionaryTree(tree);
        const TextureListing listing = listingOf(out);
        ASSERT_EQ(listing.rows.size(), 1u);
        EXPECT_EQ(listing.rows[0].platform, c.platform);
        EXPECT_EQ(readLe32(out.data() + 28 + 28), kDefaultFiltering);
    }
}

TEST(DictionaryEdit, RemovedTexturesLeaveEveryOtherByteAndMayEmptyTheDictionary)
{
    const Bytes a = textureSection(texel_cases::mipTexture("a", TexelFormat::Rgb565, 4, 4, 1), 1);
    const Bytes b = textureSection(texel_cases::mipTexture("b", TexelFormat::Dxt1, 8, 8, 4), 2);
    const Bytes c = textureSection(texel_cases::mipTexture("c", TexelFormat::Lum8, 2, 2, 2), 3);
    const Bytes unknown = section(0x50E, 4, {1, 2, 3});
    const Bytes closing = section(0x03, 5, {});
    const Bytes dict = dictionary(kStamp, 3, 2, {a, unknown, b, c, closing});

    DictionaryTree tree = parseDictionaryTree(dict);
    removeTextures(tree, {2, 0, 2});
    const Bytes onlyB = writeDictionaryTree(tree);
    EXPECT_EQ(onlyB, dictionary(kStamp, 1, 2, {unknown, b, closing}));
    // The section before the texture now comes first: still read as sectioned.
    const TextureListing listing = listingOf(onlyB);
    ASSERT_EQ(listing.rows.size(), 1u);
    EXPECT_EQ(listing.rows[0].name, "b");
    EXPECT_EQ(listing.rows[0].type, "DXT1");
    EXPECT_EQ(parseDictionaryTree(onlyB).textureCount(), 1);

    removeTextures(tree, {0});
    const Bytes empty = writeDictionaryTree(tree);
    EXPECT_EQ(empty, dictionary(kStamp, 0, 2, {unknown, closing}));
    EXPECT_EQ(parseDictionaryTree(empty).textureCount(), 0);

    DictionaryTree other = parseDictionaryTree(dict);
    EXPECT_NE(errorOf([&] { removeTextures(other, {1, 3}); }).find("has no texture 4"), std::string::npos);
    EXPECT_EQ(writeDictionaryTree(other), dict);
}

TEST(DictionaryEdit, RenamingWritesTheNameFieldsAndNothingElse)
{
    SectionedTexture bravo = texel_cases::mipTexture("Bravo", TexelFormat::Rgb565, 4, 4, 1);
    bravo.maskName = "bravoMask";
    Bytes sec = textureSection(bravo, kStamp);
    sec[24 + 8 + 10] = 0x7E;  // a byte after the name's NUL, which a rename clears
    const Bytes alpha = textureSection(texel_cases::mipTexture("alpha", TexelFormat::Rgb565, 4, 4, 1), kStamp);
    const Bytes dict = dictionary(kStamp, 2, 0, {alpha, sec, section(0x03, kStamp, {})});

    DictionaryTree tree = parseDictionaryTree(dict);
    EXPECT_EQ(findTextureIgnoringCase(tree, "bRAVO"), 1);
    EXPECT_EQ(findTextureIgnoringCase(tree, "ALPHA"), 0);
    EXPECT_EQ(findTextureIgnoringCase(tree, "alph"), -1);
    renameTexture(tree, 1, "BRAVO");  // the same name in other letter case
    Bytes renamed = sec;
    const Bytes upper = nameField("BRAVO");
    std::copy(upper.begin(), upper.end(), renamed.begin() + 32);
    EXPECT_EQ(writeDictionaryTree(tree), dictionary(kStamp, 2, 0, {alpha, renamed, section(0x03, kStamp, {})}));

    renameTexture(tree, 1, "delta", std::string());
    const Bytes delta = nameField("delta"), noMask(32, 0);
    std::copy(delta.begin(), delta.end(), renamed.begin() + 32);
    std::copy(noMask.begin(), noMask.end(), renamed.begin() + 64);
    EXPECT_EQ(writeDictionaryTree(tree), dictionary(kStamp, 2, 0, {alpha, renamed, section(0x03, kStamp, {})}));

    SectionedTexture foreign = texel_cases::mipTexture("far", TexelFormat::Rgb565, 4, 4, 1);
    foreign.platformField = 6;
    DictionaryTree withForeign =
        parseDictionaryTree(dictionary(kStamp, 1, 0, {textureSection(foreign, kStamp), section(0x03, kStamp, {})}));
    EXPECT_NE(errorOf([&] { renameTexture(withForeign, 0, "near"); }).find("platform 6"), std::string::npos);
}

TEST(DictionaryEdit, ANewDictionaryHasTheStampAndDeviceOfItsPlatform)
{
    const struct {
        uint32_t platform;
        Bytes stamp;
        uint8_t device;
    } cases[] = {{9, {0xFF, 0xFF, 0x03, 0x18}, 2}, {8, {0xFF, 0xFF, 0x03, 0x10}, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.platform);
        DictionaryTree tree = newDictionaryTree(c.platform);
        const Bytes expected = join({{0x16, 0, 0, 0, 28, 0, 0, 0},
                                     c.stamp,
                                     {0x01, 0, 0, 0, 4, 0, 0, 0},
                                     c.stamp,
                                     {0, 0, c.device, 0},
                                     {0x03, 0, 0, 0, 0, 0, 0, 0},
                                     c.stamp});
        EXPECT_EQ(writeDictionaryTree(tree), expected);

        addTexture(tree, "one", "", filledContent(TexelFormat::Rgb565, 4, 4, 1));
        addTexture(tree, "two", "", filledContent(TexelFormat::Dxt1, 4, 4, 3));
        const Bytes out = writeDictionaryTree(tree);
        const TextureListing listing = listingOf(out);
        ASSERT_EQ(listing.rows.size(), 2u);
        EXPECT_EQ(readLe16(out.data() + 26), c.device);
        // Every section header carries the stamp: the dictionary, its struct,
        // each texture's three sections and the closing extension.
        const uint32_t stamp = readLe32(c.stamp.data());
        for (const TextureRow& r : listing.rows) {
            EXPECT_EQ(r.platform, c.platform);
            const int64_t t = r.imagePos - 112;
            EXPECT_EQ(readLe32(out.data() + t + 8), stamp);
            EXPECT_EQ(readLe32(out.data() + t + 20), stamp);
            EXPECT_EQ(readLe32(out.data() + t + 12 + readLe32(out.data() + t + 4) - 4), stamp);
            EXPECT_EQ(readLe32(out.data() + t + 28), kDefaultFiltering);
        }
        EXPECT_EQ(readLe32(out.data() + 8), stamp);
        EXPECT_EQ(readLe32(out.data() + 20), stamp);
        EXPECT_EQ(readLe32(out.data() + out.size() - 4), stamp);
    }
    EXPECT_NE(errorOf([] { newDictionaryTree(7); }).find("8 or 9"), std::string::npos);
}

TEST(DictionaryEdit, EveryLimitIsRefusedWithItsReasonAndTheTreeKeptAsItWas)
{
    const Bytes dict8 = twoTextures(8);
    SectionedTexture unread = texel_cases::mipTexture("unread", TexelFormat::Rgb565, 4, 4, 1);
    unread.rasterFormat = 0x4000 | 0x0500;
    const Bytes withUnread = dictionary(kStamp, 1, 0, {textureSection(unread, kStamp), section(0x03, kStamp, {})});
    TextureContent wrongBytes = filledContent(TexelFormat::Rgb565, 4, 4, 1);
    wrongBytes.data.pop_back();
    TextureContent wrongLevelSize = filledContent(TexelFormat::Rgb565, 4, 4, 2);
    writeLe32(wrongLevelSize.data.data() + 4 + 32, 7);

    struct Case {
        const char* label;
        const Bytes* dict;
        std::function<void(DictionaryTree&)> edit;
        std::vector<const char*> says;
    };
    const Case cases[] = {
        {"DXT1 not divisible by 4",
         &dict8,
         [](DictionaryTree& t) { addTexture(t, "x", "", filledContent(TexelFormat::Dxt1, 132, 66, 1)); },
         {"divisible by 4", "132 x 66", "--size"}},
        {"DXT3 smaller than a block",
         &dict8,
         [](DictionaryTree& t) { replaceTextureContent(t, 0, filledContent(TexelFormat::Dxt3, 2, 2, 1)); },
         {"divisible by 4", "--size"}},
        {"wider than 4096",
         &dict8,
         [](DictionaryTree& t) { addTexture(t, "x", "", filledContent(TexelFormat::Lum8, 4097, 1, 1)); },
         {"from 1 to 4096", "4097 x 1"}},
        {"DXT wider than 4096",
         &dict8,
         [](DictionaryTree& t) { addTexture(t, "x", "", filledContent(TexelFormat::Dxt1, 4100, 4, 1)); },
         {"from 4 to 4096"}},
        {"no width",
         &dict8,
         [](DictionaryTree& t) {
             TextureContent c;
             c.layout = {TexelFormat::Bgra8888, false, 0, 4, 1};
             c.data = {0, 0, 0, 0};
             addTexture(t, "x", "", c);
         },
         {"from 1 to 4096", "0 x 4"}},
        {"DXT5 in the older header",
         &dict8,
         [](DictionaryTree& t) { replaceTextureContent(t, 1, filledContent(TexelFormat::Dxt5, 4, 4, 1)); },
         {"older texture header", "DXT5"}},
        {"DXT5 added to the older header",
         &dict8,
         [](DictionaryTree& t) { addTexture(t, "x", "", filledContent(TexelFormat::Dxt5, 4, 4, 1)); },
         {"older texture header"}},
        {"more levels than the chain",
         &dict8,
         [](DictionaryTree& t) { replaceTextureContent(t, 0, filledContent(TexelFormat::Rgb565, 4, 4, 4)); },
         {"1 to 3 mip levels", "not 4"}},
        {"bytes not of the layout",
         &dict8,
         [&](DictionaryTree& t) { replaceTextureContent(t, 0, wrongBytes); },
         {"do not have the size"}},
        {"a level of another size",
         &dict8,
         [&](DictionaryTree& t) { replaceTextureContent(t, 0, wrongLevelSize); },
         {"level 1"}},
        {"empty name",
         &dict8,
         [](DictionaryTree& t) { addTexture(t, "", "", filledContent(TexelFormat::Lum8, 1, 1, 1)); },
         {"must not be empty"}},
        {"name of 32 bytes",
         &dict8,
         [](DictionaryTree& t) { addTexture(t, std::string(32, 'n'), "", filledContent(TexelFormat::Lum8, 1, 1, 1)); },
         {"at most 31 bytes", "has 32"}},
        {"name with a tab", &dict8, [](DictionaryTree& t) { renameTexture(t, 0, "a\tb"); }, {"control characters"}},
        {"name with DEL", &dict8, [](DictionaryTree& t) { renameTexture(t, 0, "a\x7F"); }, {"control characters"}},
        {"name with a byte the code page leaves undefined",
         &dict8,
         [](DictionaryTree& t) { renameTexture(t, 0, "a\x81"); },
         {"control characters"}},
        {"mask of 32 bytes",
         &dict8,
         [](DictionaryTree& t) { renameTexture(t, 0, "ok", std::string(32, 'm')); },
         {"A mask name", "at most 31"}},
        {"mask with a newline",
         &dict8,
         [](DictionaryTree& t) { addTexture(t, "x", "m\n", filledContent(TexelFormat::Lum8, 1, 1, 1)); },
         {"A mask name", "control characters"}},
        {"name another texture has",
         &dict8,
         [](DictionaryTree& t) { renameTexture(t, 0, "SECOND"); },
         {"already has a texture named 'second'"}},
        {"added name another texture has",
         &dict8,
         [](DictionaryTree& t) { addTexture(t, "First", "", filledContent(TexelFormat::Lum8, 1, 1, 1)); },
         {"already has a texture named 'first'"}},
        {"a texture that is not there",
         &dict8,
         [](DictionaryTree& t) { replaceTextureContent(t, 2, filledContent(TexelFormat::Lum8, 1, 1, 1)); },
         {"has no texture 3"}},
        {"a layout that is not read",
         &withUnread,
         [](DictionaryTree& t) { replaceTextureContent(t, 0, filledContent(TexelFormat::Lum8, 1, 1, 1)); },
         {"not one that is read"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        DictionaryTree tree = parseDictionaryTree(*c.dict);
        const std::string message = errorOf([&] { c.edit(tree); });
        for (const char* part : c.says)
            EXPECT_NE(message.find(part), std::string::npos) << message;
        EXPECT_EQ(writeDictionaryTree(tree), *c.dict);
    }
}

TEST(DictionaryEdit, LevelsAndTheAddedLayoutAreChosenAsAsked)
{
    EXPECT_FALSE(parseLevelsChoice("0"));
    EXPECT_FALSE(parseLevelsChoice("-1"));
    EXPECT_FALSE(parseLevelsChoice("2x"));
    EXPECT_FALSE(parseLevelsChoice(""));
    const struct {
        const char* text;
        int w, h, previous, levels;
    } cases[] = {{"all", 256, 64, 1, 9}, {"ALL", 1, 1, 5, 1},        {"3", 256, 64, 1, 3},
                 {"9", 256, 64, 9, 9},   {nullptr, 512, 512, 4, 10}, {nullptr, 512, 512, 1, 1}};
    for (const auto& c : cases) {
        const LevelsChoice choice = c.text ? parseLevelsChoice(c.text).value() : LevelsChoice{};
        EXPECT_EQ(levelCountFor(choice, c.w, c.h, c.previous), c.levels) << (c.text ? c.text : "default");
    }
    EXPECT_NE(errorOf([] { levelCountFor(*parseLevelsChoice("10"), 256, 64, 1); }).find("1 to 9"), std::string::npos);

    EXPECT_EQ(chosenLayoutOfAddedTexture(true, 8, 8, 9), TexelFormat::Dxt1);
    EXPECT_EQ(chosenLayoutOfAddedTexture(false, 8, 8, 9), TexelFormat::Dxt5);
    EXPECT_EQ(chosenLayoutOfAddedTexture(false, 8, 8, 8), TexelFormat::Dxt3);
    EXPECT_EQ(chosenLayoutOfAddedTexture(true, 8, 8, 8), TexelFormat::Dxt1);
    EXPECT_EQ(chosenLayoutOfAddedTexture(true, 6, 8, 9), TexelFormat::Bgra8888);
    EXPECT_EQ(chosenLayoutOfAddedTexture(false, 8, 2, 8), TexelFormat::Bgra8888);
}

TEST(DictionaryEdit, ATextureIsFoundByItsPosOrItsExactName)
{
    // Texture 2 is named "1": a Pos wins over a name, as in a listing.
    const Bytes dict = dictionary(
        kStamp, 3, 0,
        {textureSection(texel_cases::mipTexture("Bark", TexelFormat::Rgb565, 4, 4, 1), kStamp),
         section(0x99, kStamp, {7}), textureSection(texel_cases::mipTexture("1", TexelFormat::Rgb565, 4, 4, 1), kStamp),
         textureSection(texel_cases::mipTexture("\x8A"
                                                "ed",
                                                TexelFormat::Rgb565, 4, 4, 1),
                        kStamp),
         section(0x03, kStamp, {})});
    const DictionaryTree tree = parseDictionaryTree(dict);
    const struct {
        const char* which;
        int index;
    } cases[] = {{"1", 0},
                 {"2", 1},
                 {"3", 2},
                 {"4", -1},
                 {"0", -1},
                 {"Bark", 0},
                 {"bark", -1},
                 {"\xC5\xA0"
                  "ed",
                  2},
                 {"", -1}};
    for (const auto& c : cases)
        EXPECT_EQ(findTextureByPosOrName(tree, c.which), c.index) << c.which;
}

TEST(DictionaryEdit, NamesGivenAsUtf8AreTakenInTheCodePageOrRefused)
{
    // "Š" is 0x8A in the code page.
    EXPECT_EQ(textureNameFromUtf8("\xC5\xA0trom"), "\x8Atrom");
    EXPECT_EQ(maskNameFromUtf8(""), "");
    EXPECT_EQ(maskNameFromUtf8(std::string(31, 'm')), std::string(31, 'm'));
    const struct {
        std::function<void()> convert;
        const char* says;
    } refused[] = {
        {[] { textureNameFromUtf8("tree\xE6\x9D\xB1"); }, "cannot hold"},
        {[] { maskNameFromUtf8("\xF0\x9F\x8C\xB2"); }, "cannot hold"},
        {[] { textureNameFromUtf8(""); }, "must not be empty"},
        {[] { textureNameFromUtf8(std::string(32, 'n')); }, "at most 31 bytes"},
        {[] { maskNameFromUtf8(std::string(32, 'm')); }, "at most 31 bytes"},
        {[] { textureNameFromUtf8("a\x1b"); }, "control characters"},
    };
    for (const auto& r : refused)
        EXPECT_NE(errorOf(r.convert).find(r.says), std::string::npos) << errorOf(r.convert);
}

TEST(DictionaryEdit, TheChecksAnEditMakesBeforeItsWorkRefuseAsTheEditWould)
{
    SectionedTexture unread = texel_cases::mipTexture("unread", TexelFormat::Rgb565, 4, 4, 1);
    unread.rasterFormat = 0x4000 | 0x0500;
    SectionedTexture otherPlatform = texel_cases::mipTexture("other", TexelFormat::Rgb565, 4, 4, 1);
    otherPlatform.platformField = 5;
    const Bytes dict =
        dictionary(kStamp, 3, 0,
                   {textureSection(texel_cases::mipTexture("fine", TexelFormat::Rgb565, 4, 4, 1), kStamp),
                    textureSection(unread, kStamp), textureSection(otherPlatform, kStamp), section(0x03, kStamp, {})});
    DictionaryTree tree = parseDictionaryTree(dict);
    EXPECT_EQ(errorOf([&] { checkTextureReplaceable(tree, 0); }), "<no error>");
    for (const int index : {1, 2}) {
        const std::string before = errorOf([&] { checkTextureReplaceable(tree, index); });
        EXPECT_NE(before, "<no error>");
        EXPECT_EQ(before,
                  errorOf([&] { replaceTextureContent(tree, index, filledContent(TexelFormat::Rgb565, 4, 4, 1)); }));
    }
    EXPECT_EQ(errorOf([&] { checkTextureNameFree(tree, "FINE", 0); }), "<no error>");
    EXPECT_EQ(errorOf([&] { checkTextureNameFree(tree, "Other"); }),
              errorOf([&] { addTexture(tree, "Other", "", filledContent(TexelFormat::Rgb565, 4, 4, 1)); }));
    EXPECT_NE(errorOf([&] { checkTextureNameFree(tree, "Other"); }).find("texture 3 ('other')"), std::string::npos);
    EXPECT_EQ(writeDictionaryTree(tree), dict);
}
