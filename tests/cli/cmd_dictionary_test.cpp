// SPDX-License-Identifier: GPL-2.0-or-later
// quarnix-tool's edits of a sectioned dictionary from the command line:
// import with a new size, layout or chain, add-texture, remove-texture,
// rename-texture and new-txd, each against bytes this test works out by hand
// (section sizes, the count, header fields, levels, every other texture byte
// for byte); the limits, each refused with the archive unchanged; undo of an
// edit; and a bounded kill loop over an import that grows a texture 16-fold
// and moves its entry.
#include "formats/archive_writer.h"
#include "formats/sectioned_dictionary_writer.h"
#include "formats/texture_dictionary_writer.h"
#include "support/archive_builder.h"
#include "support/edit_kill_loop.h"
#include "support/texel_cases.h"
#include "support/tga_builder.h"
#include "support/tool_runner.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;
using archive_fixture::readBytes;
using archive_fixture::ScratchDir;
using archive_fixture::writeBytes;

namespace {

constexpr uint32_t kStamp = 0x1803FFFF;
constexpr uint32_t kFirstFilter = 0x00002233;  // the fixture's first texture's filtering and addressing

uint32_t le32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

void putLe32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

void appendLe32(std::vector<uint8_t>& b, uint32_t v)
{
    b.resize(b.size() + 4);
    putLe32(b, b.size() - 4, v);
}

void appendHeader(std::vector<uint8_t>& b, uint32_t type, uint32_t size)
{
    appendLe32(b, type);
    appendLe32(b, size);
    appendLe32(b, kStamp);
}

void appendName(std::vector<uint8_t>& b, const std::string& name)
{
    std::vector<uint8_t> field(32, 0);
    std::copy(name.begin(), name.end(), field.begin());
    b.insert(b.end(), field.begin(), field.end());
}

std::vector<uint8_t> slice(const std::vector<uint8_t>& b, size_t from, size_t to)
{
    return std::vector<uint8_t>(b.begin() + std::ptrdiff_t(from), b.begin() + std::ptrdiff_t(to));
}

// A 32-bit TGA, first row at the top, of width x height B, G, R, A pixels.
std::vector<uint8_t> tga32(int w, int h, const std::vector<uint8_t>& bgra)
{
    return tga_fixture::makeTga(2, 32, w, h, bgra, tga_fixture::kTopFirst | 8).bytes();
}

// w x h pixels, each (B, G, R, A) a simple function of its place.
std::vector<uint8_t> patternPixels(int w, int h, bool alpha)
{
    std::vector<uint8_t> p;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.insert(p.end(), {uint8_t(x * 7 + y), uint8_t(y * 9 + 3), uint8_t((x ^ y) * 5),
                               uint8_t(alpha ? 40 + (x + y) * 3 : 255)});
    return p;
}

// The next mip level by hand: each pixel the rounded mean of the 2 x 2
// above it (both sides even here).
std::vector<uint8_t> halved(const std::vector<uint8_t>& p, int w, int h)
{
    std::vector<uint8_t> out;
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x)
            for (int c = 0; c < 4; ++c) {
                const auto at = [&](int dx, int dy) { return p[size_t(((2 * y + dy) * w + 2 * x + dx) * 4 + c)]; };
                out.push_back(uint8_t((at(0, 0) + at(1, 0) + at(0, 1) + at(1, 1) + 2) / 4));
            }
    return out;
}

// Every level of a full chain of 8888 texels from square pixels, each after
// its u32 size.
std::vector<uint8_t> chainBytes8888(std::vector<uint8_t> pixels, int side, int levels)
{
    std::vector<uint8_t> out;
    for (int k = 0; k < levels; ++k) {
        if (k > 0) {
            pixels = halved(pixels, side, side);
            side /= 2;
        }
        appendLe32(out, uint32_t(pixels.size()));
        out.insert(out.end(), pixels.begin(), pixels.end());
    }
    return out;
}

// A DXT1 block decoded by hand: 16 pixels of B, G, R, A.
std::array<std::array<int, 4>, 16> dxt1Block(const uint8_t* b)
{
    const auto colour = [](unsigned c) {
        return std::array<int, 4>{int((c & 31) * 255 + 15) / 31, int(((c >> 5) & 63) * 255 + 31) / 63,
                                  int((c >> 11) * 255 + 15) / 31, 255};
    };
    const unsigned c0 = b[0] | b[1] << 8, c1 = b[2] | b[3] << 8;
    std::array<std::array<int, 4>, 4> table{colour(c0), colour(c1)};
    for (int ch = 0; ch < 3; ++ch) {
        if (c0 > c1) {
            table[2][ch] = (2 * table[0][ch] + table[1][ch]) / 3;
            table[3][ch] = (table[0][ch] + 2 * table[1][ch]) / 3;
        } else {
            table[2][ch] = (table[0][ch] + table[1][ch]) / 2;
            table[3][ch] = 0;
        }
    }
    table[2][3] = 255;
    table[3][3] = c0 > c1 ? 255 : 0;
    std::array<std::array<int, 4>, 16> out{};
    for (int i = 0; i < 16; ++i)
        out[size_t(i)] = table[size_t((b[4 + i / 4] >> (2 * (i % 4))) & 3)];
    return out;
}

// The entry `name` as `list` prints it: its offset and size.
std::pair<int64_t, int64_t> listedEntry(const std::string& archive, const std::string& name)
{
    std::istringstream lines(runQuarnixTool({"list", archive}).out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string pos, offset, size, n;
        std::getline(fields, pos, '\t');
        std::getline(fields, offset, '\t');
        std::getline(fields, size, '\t');
        std::getline(fields, n);
        if (n == name)
            return {std::stoll(offset), std::stoll(size)};
    }
    return {-1, -1};
}

int64_t sectorsOf(int64_t bytes)
{
    return (bytes + 2047) / 2048;
}

// A .dir archive of three entries, "a.dff", the dictionary "d.txd" and
// "z.dff". The dictionary (stamp kStamp, device 2) holds "one" (8888, 8 x 8,
// 4 levels, its filtering patched to kFirstFilter), "two" (DXT1, 8 x 8, an
// extension of two bytes) and "three" (565, 4 x 4), and ends with an
// extension of three bytes.
class DictionaryEdits : public testing::Test {
protected:
    void SetUp() override
    {
        SectionedDictionary d;
        d.libraryVersion = kStamp;
        d.device = 2;
        d.textures.push_back(texel_cases::mipTexture("one", TexelFormat::Bgra8888, 8, 8, 4));
        d.textures.push_back(texel_cases::mipTexture("two", TexelFormat::Dxt1, 8, 8, 1));
        d.textures.back().extension = {9, 8};
        d.textures.push_back(texel_cases::mipTexture("three", TexelFormat::Rgb565, 4, 4, 1));
        d.extension = {1, 2, 3};
        dict = buildSectionedDictionary(d, &written);
        putLe32(dict, size_t(written[0].sectionOffset + 28), kFirstFilter);
        const BuiltArchive a = buildArchive({{"a.dff", std::vector<uint8_t>(3000, 0xA1)},
                                             {"d.txd", dict},
                                             {"z.dff", std::vector<uint8_t>(5000, 0x5A)}});
        writeBytes(archive(), a.dir);
        writeBytes(img(), a.img);
        dirBefore = a.dir;
        imgBefore = a.img;
        entryOffset = int64_t(a.records[1].sectorPos) * 2048;
        entrySize = int64_t(a.records[1].sectorCount) * 2048;
        dataEnd = int64_t(a.img.size());
    }
    std::string archive() const { return dir.file("m.dir"); }
    std::string img() const { return dir.file("m.img"); }
    // A section of the original dictionary: texture i's whole section.
    std::vector<uint8_t> textureSection(size_t i) const
    {
        return slice(dict, size_t(written[i].sectionOffset), size_t(written[i].endOffset));
    }
    std::vector<uint8_t> closingExtension() const { return slice(dict, size_t(written.back().endOffset), dict.size()); }
    // The dictionary as the entry holds it now, after checking that the rest
    // of the entry is zeros and that the other entries kept their bytes.
    std::vector<uint8_t> dictionaryNow(int64_t* offset = nullptr)
    {
        const auto [at, size] = listedEntry(archive(), "d.txd");
        EXPECT_GE(at, 0);
        if (offset)
            *offset = at;
        const std::vector<uint8_t> bytes = readBytes(img());
        EXPECT_EQ(slice(bytes, 0, 3000), slice(imgBefore, 0, 3000));
        EXPECT_EQ(listedEntry(archive(), "a.dff").first, 0);
        const auto z = listedEntry(archive(), "z.dff");
        EXPECT_EQ(slice(bytes, size_t(z.first), size_t(z.first + 5000)), std::vector<uint8_t>(5000, 0x5A));
        const std::vector<uint8_t> entry = slice(bytes, size_t(at), size_t(at + size));
        const size_t dictSize = 12 + le32(entry, 4);
        EXPECT_LE(dictSize, entry.size());
        EXPECT_EQ(slice(entry, dictSize, entry.size()), std::vector<uint8_t>(entry.size() - dictSize, 0));
        EXPECT_EQ(sectorsOf(int64_t(dictSize)) * 2048, size);
        return slice(entry, 0, dictSize);
    }
    // The dictionary's own bytes with `textures` (whole sections) in place
    // of the original ones, and its count and size worked out from them.
    std::vector<uint8_t> dictionaryOf(const std::vector<std::vector<uint8_t>>& textures) const
    {
        std::vector<uint8_t> body;
        appendHeader(body, 0x01, 4);
        body.insert(body.end(), {uint8_t(textures.size()), 0, 2, 0});
        for (const std::vector<uint8_t>& t : textures)
            body.insert(body.end(), t.begin(), t.end());
        const std::vector<uint8_t> ext = closingExtension();
        body.insert(body.end(), ext.begin(), ext.end());
        std::vector<uint8_t> out;
        appendHeader(out, 0x16, uint32_t(body.size()));
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }
    void expectArchiveUnchanged() const
    {
        EXPECT_EQ(readBytes(archive()), dirBefore);
        EXPECT_EQ(readBytes(img()), imgBefore);
    }

    ScratchDir dir{"qx_cmd_dictionary"};
    std::vector<uint8_t> dict, dirBefore, imgBefore;
    std::vector<WrittenSectionedTexture> written;
    int64_t entryOffset = 0, entrySize = 0, dataEnd = 0;
};

// A texture section of platform 9 as an edit writes it: the header fields
// given, the levels' bytes (each after its size), then the extension.
struct TextureFields {
    uint32_t filter;
    std::string name, mask;
    uint32_t raster, code;
    int width, height;
    uint8_t depth, levels, flags;
};
std::vector<uint8_t> textureSectionOf(const TextureFields& f, const std::vector<uint8_t>& data,
                                      const std::vector<uint8_t>& extension = {})
{
    std::vector<uint8_t> body;
    appendLe32(body, 9);
    appendLe32(body, f.filter);
    appendName(body, f.name);
    appendName(body, f.mask);
    appendLe32(body, f.raster);
    appendLe32(body, f.code);
    body.insert(body.end(), {uint8_t(f.width), uint8_t(f.width >> 8), uint8_t(f.height), uint8_t(f.height >> 8)});
    body.insert(body.end(), {f.depth, f.levels, 4, f.flags});
    EXPECT_EQ(body.size(), 88u);
    body.insert(body.end(), data.begin(), data.end());
    std::vector<uint8_t> out;
    appendHeader(out, 0x15, uint32_t(12 + body.size() + 12 + extension.size()));
    appendHeader(out, 0x01, uint32_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    appendHeader(out, 0x03, uint32_t(extension.size()));
    out.insert(out.end(), extension.begin(), extension.end());
    return out;
}

}  // namespace

TEST_F(DictionaryEdits, AnImportAtThePicturesSizeGrowsTheTextureAndMovesTheEntry)
{
    // 32 x 32 pixels with alpha over "one" (8 x 8, 4 levels): 32 x 32 with
    // the full chain of 6 levels, each worked out here.
    const std::vector<uint8_t> pixels = patternPixels(32, 32, true);
    writeBytes(dir.file("p.tga"), tga32(32, 32, pixels));
    const ToolRun r = runQuarnixTool({"import", archive(), "d.txd", "one", dir.file("p.tga"), "--picture-size"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "1 texture imported into 'd.txd': 'one', 32 x 32 8888, 6 levels; the entry moved to offset "
                         + std::to_string((dataEnd + 2047) / 2048 * 2048) + "\n");

    // Raster format 8888 (5) with its levels-stored flag as the texture had
    // it; code 21; depth 32; flags: alpha (as before).
    const std::vector<uint8_t> one =
        textureSectionOf({kFirstFilter, "one", "", 0x8500, 21, 32, 32, 32, 6, 0x01}, chainBytes8888(pixels, 32, 6));
    int64_t offset = 0;
    const std::vector<uint8_t> now = dictionaryNow(&offset);
    EXPECT_EQ(now, dictionaryOf({one, textureSection(1), textureSection(2)}));
    EXPECT_EQ(offset, (dataEnd + 2047) / 2048 * 2048);
    // The sizes by hand: struct 88 + 6 size fields + 4 x (32^2 + 16^2 + 8^2 + 4^2 + 2^2 + 1) texel bytes.
    const uint32_t structSize = 88 + 24 + 4 * (1024 + 256 + 64 + 16 + 4 + 1);
    ASSERT_GE(now.size(), 40u);
    EXPECT_EQ(le32(now, 28 + 4), 12 + structSize + 12);
    EXPECT_EQ(le32(now, 28 + 16), structSize);
    EXPECT_EQ(le32(now, 4), dict.size() - 12 + (structSize - (88 + 16 + 4 * (64 + 16 + 4 + 1))));

    const ToolRun list = runQuarnixTool({"textures", archive(), "d.txd", "--long"});
    EXPECT_NE(list.out.find("\tone\t\t4096\t32bit\t32x32\t"), std::string::npos) << list.out;
}

TEST_F(DictionaryEdits, AnImportIntoAnotherLayoutOrWithDxt1AlphaSetsTheFieldsItDecides)
{
    // "three" (565, 4 x 4, 1 level) as 8888 with every level: not resampled
    // with --exact, so every byte is known.
    const std::vector<uint8_t> four = patternPixels(4, 4, false);
    writeBytes(dir.file("four.tga"), tga32(4, 4, four));
    ToolRun r = runQuarnixTool(
        {"import", archive(), "d.txd", "3", dir.file("four.tga"), "--format", "8888", "--levels", "all", "--exact"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The levels-stored flag as the dictionary's first texture with levels has it.
    const std::vector<uint8_t> three =
        textureSectionOf({0x1106, "three", "", 0x8500, 21, 4, 4, 32, 3, 0x01}, chainBytes8888(four, 4, 3));

    // "two" (DXT1 opaque) from a picture whose left half has alpha 0: the
    // 1-bit alpha variant (raster 1555, flags alpha and compressed), one level.
    std::vector<uint8_t> half = patternPixels(8, 8, false);
    for (size_t i = 0; i < 64; ++i)
        if (i % 8 < 4)
            half[4 * i + 3] = 0;
    writeBytes(dir.file("half.tga"), tga32(8, 8, half));
    r = runQuarnixTool({"import", archive(), "d.txd", "two", dir.file("half.tga"), "--size", "8x8", "--exact"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<uint8_t> now = dictionaryNow();
    const size_t twoAt = size_t(written[0].endOffset);
    ASSERT_GE(now.size(), twoAt + 112 + 4 + 32);
    std::vector<uint8_t> blocks = slice(now, twoAt + 112 + 4, twoAt + 112 + 4 + 32);
    const std::vector<uint8_t> two = textureSectionOf({0x1106, "two", "", 0x0100, 0x31545844, 8, 8, 16, 1, 0x09},
                                                      [&] {
                                                          std::vector<uint8_t> d;
                                                          appendLe32(d, 32);
                                                          d.insert(d.end(), blocks.begin(), blocks.end());
                                                          return d;
                                                      }(),
                                                      {9, 8});
    EXPECT_EQ(now, dictionaryOf({textureSection(0), two, three}));
    // The transparent half decodes transparent, the other half opaque.
    for (int b = 0; b < 4; ++b) {
        const auto px = dxt1Block(blocks.data() + 8 * b);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(px[size_t(i)][3], (b % 2 == 0) ? 0 : 255) << "block " << b << " pixel " << i;
    }
}

TEST_F(DictionaryEdits, AnAddedTextureFollowsTheLastWithTheFirstTexturesHeaderAndAChainToItsMean)
{
    // Greys along a line, so that the 2 x 2 level's one block holds them.
    const uint8_t greys[4] = {0x28, 0x64, 0xA0, 0xDC};
    std::vector<uint8_t> q;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const uint8_t g = greys[(y / 4) * 2 + x / 4];
            q.insert(q.end(), {g, g, g, 255});
        }
    writeBytes(dir.file("quads.tga"), tga32(8, 8, q));
    const ToolRun r = runQuarnixTool({"add-texture", archive(), "d.txd", dir.file("quads.tga"), "--mask", "m"});
    ASSERT_EQ(r.exitCode, 0) << r.err;

    // Opaque, sides divisible by 4: DXT1 (565 raster, levels flag as the
    // dictionary's first texture with levels), code "DXT1", depth 16, 4
    // levels (8, 4, 2, 1), flags compressed; the first texture's filtering.
    // Texture and struct headers, the header fields, 4 size fields, 4 + 1 +
    // 1 + 1 blocks of 8 bytes, the empty extension.
    const uint32_t added = 12 + 12 + 88 + 4 * 4 + 7 * 8 + 12;
    const bool moved = sectorsOf(int64_t(dict.size() + added)) > entrySize / 2048;
    EXPECT_EQ(r.err, "1 texture added to 'd.txd': 'quads', 8 x 8 DXT1, 4 levels"
                         + (moved ? "; the entry moved to offset " + std::to_string((dataEnd + 2047) / 2048 * 2048)
                                  : std::string())
                         + "\n");
    int64_t offset = 0;
    const std::vector<uint8_t> now = dictionaryNow(&offset);
    EXPECT_EQ(offset, moved ? (dataEnd + 2047) / 2048 * 2048 : entryOffset);
    ASSERT_EQ(now.size(), dict.size() + added);
    // The levels as written: their sizes checked here, their blocks below
    // by decoding them.
    const size_t at = size_t(written.back().endOffset) + 112;
    const std::vector<uint8_t> data = slice(now, at, at + 4 * 4 + 7 * 8);
    std::vector<std::vector<uint8_t>> levels;
    size_t from = 0;
    for (const uint32_t bytes : {32u, 8u, 8u, 8u}) {
        EXPECT_EQ(le32(data, from), bytes);
        levels.push_back(slice(data, from + 4, from + 4 + bytes));
        from += 4 + bytes;
    }
    const std::vector<uint8_t> section =
        textureSectionOf({kFirstFilter, "quads", "m", 0x8200, 0x31545844, 8, 8, 16, 4, 0x08}, data);
    ASSERT_EQ(section.size(), added);
    EXPECT_EQ(now, dictionaryOf({textureSection(0), textureSection(1), textureSection(2), section}));

    // The 2 x 2 level holds the four greys, the 1 x 1 level their mean
    // ((0x28 + 0x64 + 0xA0 + 0xDC + 2) div 4 = 0x82), never black.
    const auto two = dxt1Block(levels[2].data());
    const int want[4] = {0x28, 0x64, 0xA0, 0xDC};
    for (int i = 0; i < 4; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(two[size_t((i / 2) * 4 + i % 2)][size_t(c)], want[i], 10) << "2x2 pixel " << i;
    const auto one = dxt1Block(levels[3].data());
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(one[0][size_t(c)], 0x82, 6) << "1x1 channel " << c;
    EXPECT_EQ(one[0][3], 255);
}

TEST_F(DictionaryEdits, RemovedTexturesLeaveTheOthersByteForByteAndTheDictionaryMayBecomeEmpty)
{
    ToolRun r = runQuarnixTool({"remove-texture", archive(), "d.txd", "1", "three", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "2 textures removed from 'd.txd': one, three\n");
    int64_t offset = 0;
    EXPECT_EQ(dictionaryNow(&offset), dictionaryOf({textureSection(1)}));
    EXPECT_EQ(offset, entryOffset);  // smaller: in its own place

    r = runQuarnixTool({"remove-texture", archive(), "d.txd", "two"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(dictionaryNow(), dictionaryOf({}));
    r = runQuarnixTool({"textures", archive(), "d.txd"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Pos\tName\tDesc\tSize\tType\tDimensions\tImagePos\n");
}

TEST_F(DictionaryEdits, RenamingChangesTheNameFieldsAlone)
{
    ToolRun r = runQuarnixTool({"rename-texture", archive(), "d.txd", "two", "Second", "--mask", "mk"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "1 texture renamed in 'd.txd': 'two' to 'Second', mask name 'mk'\n");
    std::vector<uint8_t> want = dict;
    const size_t at = size_t(written[1].sectionOffset);
    std::fill(want.begin() + std::ptrdiff_t(at + 32), want.begin() + std::ptrdiff_t(at + 96), 0);
    std::copy_n("Second", 6, want.begin() + std::ptrdiff_t(at + 32));
    std::copy_n("mk", 2, want.begin() + std::ptrdiff_t(at + 64));
    EXPECT_EQ(dictionaryNow(), want);
    // Its own name in other letter case: allowed; without --mask the mask stays.
    r = runQuarnixTool({"rename-texture", archive(), "d.txd", "Second", "SECOND"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::copy_n("SECOND", 6, want.begin() + std::ptrdiff_t(at + 32));
    EXPECT_EQ(dictionaryNow(), want);
}

TEST_F(DictionaryEdits, EveryLimitIsRefusedSayingWhyWithTheArchiveUnchanged)
{
    writeBytes(dir.file("p8.tga"), tga32(8, 8, patternPixels(8, 8, false)));
    writeBytes(dir.file("p6.tga"), tga32(6, 6, patternPixels(6, 6, false)));
    writeBytes(dir.file("ONE.tga"), tga32(4, 4, patternPixels(4, 4, false)));
    const std::string p8 = dir.file("p8.tga"), p6 = dir.file("p6.tga");
    // A plain dictionary beside it, and a dictionary of the older header.
    TextureDictionary plain;
    plain.textures.push_back(makeTexture32("t", "", 4, 4, std::vector<Rgba>(16, Rgba{1, 2, 3, 255})));
    SectionedDictionary older;
    older.libraryVersion = 0x1003FFFF;
    older.textures.push_back(texel_cases::mipTexture("o", TexelFormat::Dxt1, 8, 8, 1, 8));
    writeArchive(dir.file("x.dir"), dir.file("x.img"),
                 {{"plain.txd", buildTextureDictionary(plain)}, {"older.txd", buildSectionedDictionary(older)}});
    const std::vector<uint8_t> xDir = readBytes(dir.file("x.dir")), xImg = readBytes(dir.file("x.img"));
    const std::string x = dir.file("x.dir");
    const std::string a = archive();
    struct Case {
        std::vector<std::string> args;
        int exit;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{"import", a, "d.txd", "two", p6, "--picture-size"},
         1,
         "divisible by 4, and 6 x 6 is not; give another size with --size"},
        {{"import", a, "d.txd", "one", p8, "--format", "DXT5", "--size", "10x8"}, 1, "DXT5 stores 4 x 4 blocks"},
        {{"import", a, "d.txd", "one", p8, "--size", "4097x8"}, 1, "from 1 to 4096 pixels, not 4097 x 8"},
        {{"import", a, "d.txd", "one", p8, "--size", "0x8"}, 1, "from 1 to 4096 pixels, not 0 x 8"},
        {{"import", a, "d.txd", "one", p8, "--levels", "5"}, 1, "has 1 to 4 mip levels"},
        {{"import", a, "d.txd", "nine", p8, "--levels", "1"}, 1, "No texture 'nine' in entry 'd.txd'"},
        {{"import", a, "a.dff", "1", p8, "--levels", "1"}, 1, "is not a texture dictionary"},
        {{"import", x, "plain.txd", "t", p8, "--size", "8x8"}, 1, "plain layout without sections"},
        {{"import", x, "older.txd", "o", p8, "--format", "dxt5"}, 1, "cannot hold a DXT5 texture"},
        {{"add-texture", x, "plain.txd", p8}, 1, "plain layout without sections"},
        {{"add-texture", x, "older.txd", p8, "--format", "DXT5"}, 1, "cannot hold a DXT5 texture"},
        {{"add-texture", a, "d.txd", dir.file("ONE.tga")}, 1, "already has a texture named 'one'"},
        {{"add-texture", a, "d.txd", p8, "--name", std::string(32, 'n')}, 1, "at most 31 bytes"},
        {{"add-texture", a, "d.txd", p8, "--name", ""}, 1, "must not be empty"},
        {{"add-texture", a, "d.txd", p8, "--name", "a\tb"}, 1, "control characters"},
        {{"add-texture", a, "d.txd", p8, "--name", "\xE2\x82\xAC\xE6\x9D\xB1"}, 1, "code page"},
        {{"add-texture", a, "d.txd", p8, "--mask", std::string(32, 'm')}, 1, "at most 31 bytes"},
        {{"add-texture", a, "d.txd", p6, "--format", "DXT1"}, 1, "give another size with --size"},
        {{"add-texture", a, "d.txd", dir.file("missing.png")}, 1, "missing.png"},
        {{"rename-texture", a, "d.txd", "two", "ONE"}, 1, "already has a texture named 'one'"},
        {{"rename-texture", a, "d.txd", "two", std::string(32, 'r')}, 1, "at most 31 bytes"},
        {{"remove-texture", a, "d.txd", "one", "nine"}, 1, "No texture 'nine'"},
        {{"import", a, "d.txd", "one", p8, "--format", "DXT9"}, 2, "unknown layout 'DXT9'"},
        {{"import", a, "d.txd", "one", p8, "--size", "8by8"}, 2, "bad size '8by8'"},
        {{"import", a, "d.txd", "one", p8, "--size", "8x8", "--picture-size"}, 2, "cannot be given together"},
        {{"import", a, "d.txd", "one", p8, "--levels", "0"}, 2, "bad level count '0'"},
        {{"add-texture", a, "d.txd", p8, "--levels", "many"}, 2, "bad level count"},
        {{"new-txd", dir.file("n.txd"), p8, "--platform", "7"}, 2, "bad platform '7'"},
        {{"import", a, "d.txd", "one", p8, "--dxt", "slow"}, 2, "unknown DXT quality 'slow' (expected fast or best)"},
        {{"import-all", a, dir.file("none"), "--dxt", "Best"}, 2, "unknown DXT quality 'Best'"},
        {{"add-texture", a, "d.txd", p8, "--dxt", ""}, 2, "unknown DXT quality ''"},
        {{"new-txd", dir.file("n.txd"), p8, "--dxt", "fastest"}, 2, "unknown DXT quality 'fastest'"},
        {{"rename-texture", a, "d.txd", "two"}, 2, "missing arguments"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const ToolRun r = runQuarnixTool(c.args);
        EXPECT_EQ(r.exitCode, c.exit) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        expectArchiveUnchanged();
        EXPECT_EQ(readBytes(dir.file("x.dir")), xDir);
        EXPECT_EQ(readBytes(dir.file("x.img")), xImg);
    }
    EXPECT_FALSE(fs::exists(dir.file("n.txd")));
}

TEST_F(DictionaryEdits, UndoOfADictionaryEditGivesTheBytesBack)
{
    writeBytes(dir.file("big.tga"), tga32(64, 64, patternPixels(64, 64, true)));
    ASSERT_EQ(runQuarnixTool({"add-texture", archive(), "d.txd", dir.file("big.tga")}).exitCode, 0);
    ASSERT_EQ(runQuarnixTool({"rename-texture", archive(), "d.txd", "one", "uno"}).exitCode, 0);
    const std::vector<uint8_t> dirAfter = readBytes(archive()), imgAfter = readBytes(img());
    ASSERT_NE(imgAfter, imgBefore);
    ToolRun r = runQuarnixTool({"undo", archive()});
    EXPECT_EQ(r.err, "Undid rename-texture of one to uno in d.txd\n");
    r = runQuarnixTool({"undo", archive()});
    EXPECT_EQ(r.err, "Undid add-texture of big to d.txd\n");
    expectArchiveUnchanged();
    ASSERT_EQ(runQuarnixTool({"redo", archive()}).exitCode, 0);
    ASSERT_EQ(runQuarnixTool({"redo", archive()}).exitCode, 0);
    EXPECT_EQ(readBytes(archive()), dirAfter);
    EXPECT_EQ(readBytes(img()), imgAfter);
}

TEST(StandaloneDictionaryEdits, AStandaloneTxdChangesLengthKeepsWhatFollowsItsDictionaryAndUndoes)
{
    ScratchDir dir{"qx_cmd_txd_edit"};
    SectionedDictionary d;
    d.libraryVersion = kStamp;
    d.textures.push_back(texel_cases::mipTexture("t", TexelFormat::Bgra8888, 4, 4, 1));
    std::vector<uint8_t> file = buildSectionedDictionary(d);
    const size_t dictSize = file.size();
    file.insert(file.end(), {'T', 'R', 'A', 'I', 'L', 0});
    const std::string txd = dir.file("s.txd");
    writeBytes(txd, file);
    const std::vector<uint8_t> pixels = patternPixels(16, 16, false);
    writeBytes(dir.file("p.tga"), tga32(16, 16, pixels));
    ToolRun r = runQuarnixTool({"import", txd, "1", "t", dir.file("p.tga"), "--picture-size"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "1 texture imported into 's.txd': 't', 16 x 16 8888, 1 level\n");
    const std::vector<uint8_t> now = readBytes(txd);
    const size_t grown = 4 * (16 * 16 - 4 * 4);
    ASSERT_EQ(now.size(), file.size() + grown);
    EXPECT_EQ(slice(now, dictSize + grown, now.size()), (std::vector<uint8_t>{'T', 'R', 'A', 'I', 'L', 0}));
    EXPECT_EQ(le32(now, 4), le32(file, 4) + grown);
    // Level 0: the picture's pixels, alpha 255 (an opaque picture).
    EXPECT_EQ(slice(now, 140 + 4, 140 + 4 + pixels.size()), pixels);

    r = runQuarnixTool({"undo", txd});
    EXPECT_EQ(r.err, "Undid import of t\n");
    EXPECT_EQ(readBytes(txd), file);
    ASSERT_EQ(runQuarnixTool({"redo", txd}).exitCode, 0);
    EXPECT_EQ(readBytes(txd), now);
}

TEST(NewTxd, MakesADictionaryOfEitherPlatformAndNeverReplacesAFile)
{
    ScratchDir dir{"qx_new_txd"};
    // Opaque 8 x 8 (DXT1), 8 x 8 with alpha (DXT5, or DXT3 on platform 8),
    // 6 x 6 (8888: sides not divisible by 4).
    writeBytes(dir.file("opaque.tga"), tga32(8, 8, patternPixels(8, 8, false)));
    writeBytes(dir.file("alpha.tga"), tga32(8, 8, patternPixels(8, 8, true)));
    writeBytes(dir.file("odd.TGA"), tga32(6, 6, patternPixels(6, 6, false)));
    const std::vector<std::string> pictures = {dir.file("opaque.tga"), dir.file("alpha.tga"), dir.file("odd.TGA")};
    struct Platform {
        const char* option;
        uint32_t stamp;
        uint8_t device;
        const char* alphaLayout;
    } platforms[] = {{"9", 0x1803FFFF, 2, "DXT5"}, {"8", 0x1003FFFF, 1, "DXT3"}};
    for (const Platform& p : platforms) {
        SCOPED_TRACE(p.option);
        const std::string out = dir.file(std::string("n") + p.option + ".txd");
        std::vector<std::string> args = {"new-txd", out};
        args.insert(args.end(), pictures.begin(), pictures.end());
        args.insert(args.end(), {"--platform", p.option});
        ToolRun r = runQuarnixTool(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "new dictionary " + out + " made: 3 textures\n");
        const std::vector<uint8_t> b = readBytes(out);
        // Every section carries the platform's stamp; the count is 3 and
        // the device the platform's.
        ASSERT_GE(b.size(), 28u);
        EXPECT_EQ(le32(b, 0), 0x16u);
        EXPECT_EQ(le32(b, 4), b.size() - 12);
        EXPECT_EQ(b[24], 3);
        EXPECT_EQ(b[26], p.device);
        size_t at = 28;
        for (int t = 0; t < 3; ++t) {
            ASSERT_LE(at + 24 + 88, b.size());
            EXPECT_EQ(le32(b, at), 0x15u);
            EXPECT_EQ(le32(b, at + 12), 0x01u);
            const size_t ext = at + 24 + le32(b, at + 16);
            EXPECT_EQ(le32(b, ext), 0x03u);
            EXPECT_EQ(ext + 12, at + 12 + le32(b, at + 4)) << "the texture ends with its empty extension";
            for (const size_t h : {at, at + 12, ext})
                EXPECT_EQ(le32(b, h + 8), p.stamp);
            EXPECT_EQ(le32(b, at + 24), uint32_t(std::stoi(p.option)));
            EXPECT_EQ(le32(b, at + 28), 0x1106u);
            at = ext + 12;
        }
        EXPECT_EQ(le32(b, at), 0x03u);
        EXPECT_EQ(le32(b, at + 8), p.stamp);
        EXPECT_EQ(at + 12, b.size());
        for (const size_t h : {size_t(0), size_t(12)})
            EXPECT_EQ(le32(b, h + 8), p.stamp);

        r = runQuarnixTool({"textures", out, "1", "--long"});
        EXPECT_NE(r.out.find("\topaque\t\t32\tDXT1\t8x8\t140\tDXT1\t4\tno\t" + std::string(p.option)),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("\talpha\t\t64\t" + std::string(p.alphaLayout) + "\t8x8\t"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\todd\t\t144\t32bit\t6x6\t"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\t8888\t3\tyes\t"), std::string::npos) << r.out;

        // Never over an existing file, nor with a layout the header cannot hold.
        r = runQuarnixTool({"new-txd", out, pictures[0]});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("exists already"), std::string::npos) << r.err;
        EXPECT_EQ(readBytes(out), b);
    }
    ToolRun r = runQuarnixTool({"new-txd", dir.file("dxt5.txd"), pictures[0], "--platform", "8", "--format", "DXT5"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot hold a DXT5 texture"), std::string::npos) << r.err;
    // --size applies to every picture; two pictures of one name are refused.
    r = runQuarnixTool({"new-txd", dir.file("s.txd"), pictures[0], pictures[2], "--size", "16x8", "--format", "565"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = runQuarnixTool({"textures", dir.file("s.txd"), "1", "--long"});
    EXPECT_NE(r.out.find("\topaque\t\t256\t16bit 565\t16x8\t140\t565\t5\tno\t9\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\todd\t\t256\t16bit 565\t16x8\t"), std::string::npos) << r.out;
    writeBytes(dir.file("OPAQUE.bmp"), {});
    r = runQuarnixTool({"new-txd", dir.file("twice.txd"), pictures[0], dir.file("OPAQUE.bmp")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Two pictures give the texture name 'OPAQUE'"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.file("dxt5.txd")));
    EXPECT_FALSE(fs::exists(dir.file("twice.txd")));
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".qx-"), std::string::npos) << e.path();
}

TEST(DictionaryEditKill, AnImportThatGrowsATextureKilledAtAnyMomentLeavesTheOldOrTheNewArchive)
{
    ScratchDir dir{"qx_cmd_dictionary_kill"};
    const EditKillCase c = dictionaryKillCase(dir.path());
    EditKillLoop loop(dir.path(), c);
    const EditKillCounts counts = loop.run(6, 17u);
    EXPECT_EQ(counts.tries, 6);
    EXPECT_EQ(counts.torn, 0);
    EXPECT_EQ(counts.listFailed, 0);
    EXPECT_EQ(counts.journalsLeft, 0);
    EXPECT_EQ(counts.old + counts.fresh, 6);
}
