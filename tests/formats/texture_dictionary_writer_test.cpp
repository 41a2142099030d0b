// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/texture_dictionary_writer.h"

#include "platform/exceptions.h"
#include "support/archive_builder.h"

#include <gtest/gtest.h>

namespace {

void put(std::vector<uint8_t>& v, size_t at, std::initializer_list<uint8_t> bytes)
{
    std::copy(bytes.begin(), bytes.end(), v.begin() + static_cast<std::ptrdiff_t>(at));
}

void fill(std::vector<uint8_t>& v, size_t at, size_t n, uint8_t b)
{
    std::fill_n(v.begin() + static_cast<std::ptrdiff_t>(at), n, b);
}

uint32_t le32At(const std::vector<uint8_t>& v, size_t at)
{
    return v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) | (uint32_t(v[at + 3]) << 24);
}

// The message of the error `f` raises; "<no error>" when it raises none.
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

TEST(TextureDictionaryWriter, TinyDictionaryMatchesHandComputedBytes)
{
    TextureDictionary d;
    for (size_t i = 0; i < d.header.size(); ++i)
        d.header[i] = static_cast<uint8_t>(i + 1);
    TextureRecord paletted = makeTexturePaletted8("ab", "m", 2, 1, {{0x0A, 0x14, 0x1E, 0x28}}, {0, 0});
    paletted.lead.fill(0xA1);
    paletted.reserved.fill(0xB2);
    paletted.trailer.fill(0xC3);
    d.textures.push_back(paletted);
    d.textures.push_back(makeTexture32("t32", "", 1, 1, {{0x33, 0x22, 0x11, 0x44}}));

    std::vector<WrittenTexture> written;
    const auto bytes = buildTextureDictionary(d, &written);

    std::vector<uint8_t> want(1314, 0);
    for (size_t i = 0; i < 24; ++i)
        want[i] = static_cast<uint8_t>(i + 1);
    put(want, 24, {2, 0, 0, 0});
    // First texture at 28: lead, name, mask, reserved, 2 x 1, kind 0x40108.
    fill(want, 28, 32, 0xA1);
    put(want, 60, {'a', 'b'});
    put(want, 92, {'m'});
    fill(want, 124, 8, 0xB2);
    put(want, 132, {2, 0, 1, 0, 0x08, 0x01, 0x04, 0x00});
    put(want, 140, {0x0A, 0x14, 0x1E, 0x28});  // palette entry 0: R, G, B, A
    put(want, 1164, {2, 0, 0, 0});             // D
    put(want, 1168, {0, 0});                   // two index bytes
    fill(want, 1170, 12, 0xC3);                // trailer
    // Second texture at 1182: 1 x 1, kind 0x40120, D = 4, texel B, G, R, A.
    put(want, 1182 + 32, {'t', '3', '2'});
    put(want, 1182 + 104, {1, 0, 1, 0, 0x20, 0x01, 0x04, 0x00});
    put(want, 1294, {4, 0, 0, 0, 0x11, 0x22, 0x33, 0x44});
    EXPECT_EQ(bytes, want);

    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0].headerOffset, 28);
    EXPECT_EQ(written[0].imagePos, 140);
    EXPECT_EQ(written[0].texelOffset, 1168);
    EXPECT_EQ(written[0].endOffset, 1182);
    EXPECT_EQ(written[1].headerOffset, 1182);
    EXPECT_EQ(written[1].imagePos, 1294);
    EXPECT_EQ(written[1].texelOffset, 1298);
    EXPECT_EQ(written[1].endOffset, 1314);
}

TEST(TextureDictionaryWriter, KindsAndPositionsOfEachTexture)
{
    // The three kinds in order; 16-bit texels are little-endian 5-5-5 values.
    std::vector<WrittenTexture> w;
    const auto bytes = buildTextureDictionary(archive_fixture::threeKindsDictionary(), &w);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(le32At(bytes, 24), 3u);
    EXPECT_EQ(le32At(bytes, 28 + 108), 0x40108u);
    EXPECT_EQ(le32At(bytes, static_cast<size_t>(w[1].headerOffset) + 108), 0x40110u);
    EXPECT_EQ(le32At(bytes, static_cast<size_t>(w[2].headerOffset) + 108), 0x40120u);
    // 8-bit 4 x 2: palette, D = 8, 8 indices, trailer.
    EXPECT_EQ(w[1].headerOffset, 28 + 112 + 1024 + 4 + 8 + 12);
    // 16-bit 2 x 2 has no palette: D directly after the header.
    EXPECT_EQ(w[1].imagePos, w[1].headerOffset + 112);
    EXPECT_EQ(le32At(bytes, static_cast<size_t>(w[1].imagePos)), 8u);
    const size_t t16 = static_cast<size_t>(w[1].texelOffset);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + t16, bytes.begin() + t16 + 8),
              (std::vector<uint8_t>{0x00, 0xFC, 0xE0, 0x83, 0x1F, 0x80, 0x21, 0x04}));
    EXPECT_EQ(w[2].headerOffset, w[1].headerOffset + 112 + 4 + 8 + 12);
    EXPECT_EQ(static_cast<size_t>(w[2].endOffset), bytes.size());

    // An 8-bit first texture with 4096 texel bytes: the next header starts
    // 28 + 112 + 1024 + 4 + 4096 + 12 bytes into the dictionary.
    TextureDictionary big;
    big.textures.push_back(makeTexturePaletted8("big", "", 64, 64, {{1, 2, 3, 4}}, std::vector<uint8_t>(4096, 0)));
    big.textures.push_back(makeTexture16("next", "", 1, 1, {{0, 0, 0, 255}}));
    buildTextureDictionary(big, &w);
    EXPECT_EQ(w[0].imagePos, 140);
    EXPECT_EQ(w[1].headerOffset, 5276);
}

TEST(TextureDictionaryWriter, NameFieldsAreWrittenRaw)
{
    TextureDictionary d;
    TextureRecord t = makeTexture32(std::string(32, 'N'), std::string("ab\0junk", 7), 1, 1, {{}});
    d.textures.push_back(t);
    const auto bytes = buildTextureDictionary(d);
    EXPECT_EQ(std::string(bytes.begin() + 60, bytes.begin() + 92), std::string(32, 'N'));
    EXPECT_EQ(std::string(bytes.begin() + 92, bytes.begin() + 99), std::string("ab\0junk", 7));
    EXPECT_EQ(bytes[99], 0);

    d.textures[0].name = std::string(33, 'N');
    EXPECT_EQ(errorOf([&] { buildTextureDictionary(d); }),
              "Texture name longer than 32 bytes: " + std::string(33, 'N'));
    d.textures[0].name = "ok";
    d.textures[0].maskName = std::string(33, 'M');
    EXPECT_EQ(errorOf([&] { buildTextureDictionary(d); }), "Mask name longer than 32 bytes: " + std::string(33, 'M'));
}

TEST(TextureDictionaryWriter, StoredFieldsCanBeDamagedOnPurpose)
{
    TextureDictionary d;
    d.countField = -1;
    TextureRecord t = makeTexture32("t", "", 1, 1, {{1, 2, 3, 4}});
    t.dataSizeField = 0x7FFFFFFF;
    d.textures.push_back(t);
    TextureRecord unknown;
    unknown.kind = 0x40118;
    unknown.texels = {0xAA, 0xBB};
    d.textures.push_back(unknown);

    std::vector<WrittenTexture> w;
    const auto bytes = buildTextureDictionary(d, &w);
    EXPECT_EQ(le32At(bytes, 24), 0xFFFFFFFFu);
    EXPECT_EQ(le32At(bytes, 140), 0x7FFFFFFFu);
    // The unrecognised kind: its bytes follow the header directly, nothing else.
    EXPECT_EQ(w[1].texelOffset, w[1].headerOffset + 112);
    EXPECT_EQ(bytes.size(), static_cast<size_t>(w[1].headerOffset) + 112 + 2);
    EXPECT_EQ(bytes.back(), 0xBB);
}

TEST(TextureDictionaryWriter, TexelEncodings)
{
    const TextureRecord t32 = makeTexture32("c", "", 2, 1, {{0x33, 0x22, 0x11, 0x44}, {1, 2, 3, 4}});
    EXPECT_EQ(t32.texels, (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44, 3, 2, 1, 4}));
    EXPECT_EQ(t32.kind, 0x40120u);
    EXPECT_TRUE(t32.palette.empty());

    EXPECT_EQ(encodeTexel16({255, 0, 0, 255}), 0xFC00);
    EXPECT_EQ(encodeTexel16({0, 255, 0, 0}), 0x03E0);
    EXPECT_EQ(encodeTexel16({0, 0, 255, 128}), 0x801F);
    EXPECT_EQ(encodeTexel16({8, 16, 24, 127}), (1 << 10) | (2 << 5) | 3);
    for (unsigned v : {0x0000u, 0x8000u, 0x7FFFu, 0x1234u, 0xFFFFu})
        EXPECT_EQ(encodeTexel16(decodeTexel16(static_cast<uint16_t>(v))), v) << v;

    const TextureRecord p = makeTexturePaletted8("p", "", 3, 1, {{1, 2, 3, 4}, {5, 6, 7, 8}}, {1, 0, 1});
    ASSERT_EQ(p.palette.size(), 1024u);
    EXPECT_EQ(std::vector<uint8_t>(p.palette.begin(), p.palette.begin() + 12),
              (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0}));
    EXPECT_EQ(p.texels, (std::vector<uint8_t>{1, 0, 1}));
}

TEST(TextureDictionaryWriter, RefusesInconsistentTextures)
{
    EXPECT_EQ(errorOf([] {
                  makeTexture32("a", "", 2, 2, {{}, {}, {}});
              }),
              "Texture a: pixel count does not match its size");
    EXPECT_EQ(errorOf([] { makeTexture16("b", "", 1, 2, {{}}); }), "Texture b: pixel count does not match its size");
    EXPECT_EQ(errorOf([] { makeTexturePaletted8("c", "", 1, 1, {{}}, {1}); }),
              "Texture c: palette index outside the palette");
    EXPECT_EQ(errorOf([] { makeTexturePaletted8("d", "", 1, 1, std::vector<Rgba>(257), {0}); }),
              "Texture d: more than 256 palette colours");

    TextureDictionary d;
    d.textures.push_back(makeTexturePaletted8("e", "", 1, 1, {{}}, {0}));
    d.textures[0].palette.resize(1000);
    EXPECT_EQ(errorOf([&] { buildTextureDictionary(d); }), "Texture e: an 8-bit texture needs a 1024-byte palette");
    d.textures[0] = makeTexture32("f", "", 1, 1, {{}});
    d.textures[0].palette.assign(1024, 0);
    EXPECT_EQ(errorOf([&] { buildTextureDictionary(d); }), "Texture f: only the 8-bit kind has a palette");
}
