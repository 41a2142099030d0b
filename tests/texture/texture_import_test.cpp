// SPDX-License-Identifier: GPL-2.0-or-later
// Texture import: the block of bytes for 32-bit and 8-bit textures, the
// refusals made before anything is written, and the in-place write that
// either leaves the new texture or the archive exactly as it was.
#include "texture/texture_import.h"

#include "archive/archive.h"

#include "formats/sectioned_dictionary_writer.h"
#include "formats/texture_dictionary.h"
#include "imaging/import_pipeline.h"
#include "imaging/picture_registry.h"
#include "platform/byte_order.h"
#include "platform/streams.h"
#include "support/archive_builder.h"
#include "support/memory_fs.h"
#include "support/texel_cases.h"
#include "tests/texture/built_dictionary.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace archive_fixture;

namespace {

using Built = BuiltDictionary;

Built build(const TextureDictionary& d)
{
    return buildAndList(d);
}

// A standalone dictionary in memory, written through the archive core.
struct MemoryArchive {
    explicit MemoryArchive(const std::vector<uint8_t>& bytes) { fs.put(path, bytes); }
    std::vector<uint8_t> bytes() const { return *fs.get(path); }
    // Writes into the dictionary so far.
    int writes() const { return int(std::count(fs.log.begin(), fs.log.end(), "write " + path)); }
    MemoryFs fs;
    std::string path = "/m/t.txd";
};

// The in-place write through the archive core, into files in memory.
void writeImportBlock(MemoryArchive& archive, const TextureRef& texture, const std::vector<uint8_t>& block)
{
    ArchiveEditor editor(archive.path, archive.fs);
    ::writeImportBlock(editor, texture, block);
    EXPECT_FALSE(archive.fs.has(archive.path + ".quarnix-journal")) << "the journal outlived a write that ended";
}

std::unique_ptr<TDibGraphic> rgbPicture(int w, int h, const std::vector<uint32_t>& topDownColours)
{
    auto p = std::make_unique<TDibGraphic>();
    p->NewImage(w, h, ifRgb24, nullptr, 0, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p->SetPixelColor(x, y, topDownColours[size_t(y * w + x)]);
    return p;
}

}  // namespace

TEST(TextureImport, PureRedOverATrueColourTextureGivesOpaqueBlueGreenRedTexels)
{
    TextureDictionary d;
    d.textures.push_back(makeTexture32("t", "", 2, 2, std::vector<Rgba>(4, Rgba{1, 2, 3, 4})));
    const Built b = build(d);
    const TextureRef t = textureRefOf(b.rows.at(0));
    auto picture = rgbPicture(2, 2, std::vector<uint32_t>(4, 0xFF0000));
    PrepareImportPicture(*picture, importPictureSize(t), importPictureFormat(t));
    const std::vector<uint8_t> block = buildImportBlock(*picture, t);
    EXPECT_EQ(block, (std::vector<uint8_t>{0x10, 0,    0, 0, 0,    0,    0xFF, 0xFF, 0,    0,
                                           0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0,    0,    0xFF, 0xFF}));
}

TEST(TextureImport, TexelsRunFromThePictureTopRowAndAlphaIsAlways255)
{
    TextureDictionary d;
    d.textures.push_back(makeTexture32("t", "", 2, 3, std::vector<Rgba>(6, Rgba{1, 2, 3, 4})));
    const Built b = build(d);
    const TextureRef t = textureRefOf(b.rows.at(0));
    // Already the texture's size and format: preparing changes nothing.
    auto picture = rgbPicture(2, 3, {0x112233, 0x445566, 0x778899, 0xAABBCC, 0xDDEEFF, 0x010203});
    const std::vector<uint8_t> block = buildImportBlock(*picture, t);
    ASSERT_EQ(block.size(), 4u + 6 * 4);
    EXPECT_EQ(readLe32(block.data()), 24u);
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + 4, block.begin() + 12),
              (std::vector<uint8_t>{0x33, 0x22, 0x11, 0xFF, 0x66, 0x55, 0x44, 0xFF}));
    EXPECT_EQ(std::vector<uint8_t>(block.end() - 8, block.end()),
              (std::vector<uint8_t>{0xFF, 0xEE, 0xDD, 0xFF, 0x03, 0x02, 0x01, 0xFF}));
}

TEST(TextureImport, EveryTexelOfTrueColourBlocksOfManySizes)
{
    // Sizes on both sides of the first pixels the block is built around
    // (2 x 2 = 4 pixels, 4 x 4 = 16, 3 x 6 = 18, 5 x 7 = 35) and a larger one.
    for (auto [w, h] : {std::pair{2, 2}, std::pair{4, 4}, std::pair{3, 6}, std::pair{5, 7}, std::pair{61, 33}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        TextureDictionary d;
        d.textures.push_back(
            makeTexture32("t", "", uint16_t(w), uint16_t(h), std::vector<Rgba>(size_t(w * h), Rgba{1, 2, 3, 4})));
        const Built b = build(d);
        const TextureRef t = textureRefOf(b.rows.at(0));
        std::vector<uint32_t> colours(size_t(w * h));
        for (size_t i = 0; i < colours.size(); ++i)
            colours[i] = uint32_t(i * 0x0A0B0D + 0x102030) & 0xFFFFFF;
        auto picture = rgbPicture(w, h, colours);
        const std::vector<uint8_t> block = buildImportBlock(*picture, t);
        std::vector<uint8_t> expected(4 + 4 * colours.size());
        writeLe32(expected.data(), uint32_t(4 * colours.size()));
        for (size_t i = 0; i < colours.size(); ++i) {  // B, G, R, 255, top row first
            expected[4 + 4 * i] = uint8_t(colours[i]);
            expected[5 + 4 * i] = uint8_t(colours[i] >> 8);
            expected[6 + 4 * i] = uint8_t(colours[i] >> 16);
            expected[7 + 4 * i] = 255;
        }
        EXPECT_EQ(block, expected);
    }
}

TEST(TextureImport, PalettedBlockHoldsThePaletteInTextureOrderThenSizeAndIndices)
{
    TextureDictionary d;
    d.textures.push_back(makeTexturePaletted8("p", "", 3, 2, {{0, 0, 0, 0}}, std::vector<uint8_t>(6, 0)));
    const Built b = build(d);
    const TextureRef t = textureRefOf(b.rows.at(0));
    ASSERT_FALSE(importWritesTrueColour(t));

    TLogicalPalette palette{};
    palette.Version = 0x300;
    palette.EntryCount = 256;
    for (int k = 0; k < 256; ++k)
        palette.Entries[k] = {uint8_t(k), uint8_t(255 - k), uint8_t(k / 2), 0};
    TDibGraphic picture;
    picture.NewImage(3, 2, ifColor256, &palette, 0, 0);
    const uint8_t indices[2][3] = {{7, 8, 9}, {200, 201, 202}};  // top row first
    for (int y = 0; y < 2; ++y)
        std::memcpy(picture.RowPointer(y), indices[y], 3);
    const std::vector<uint8_t> block = buildImportBlock(picture, t);

    ASSERT_EQ(block.size(), 1024u + 4 + 6);
    for (int k = 0; k < 256; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(block[size_t(4 * k)], uint8_t(k));  // red first
        EXPECT_EQ(block[size_t(4 * k + 1)], uint8_t(255 - k));
        EXPECT_EQ(block[size_t(4 * k + 2)], uint8_t(k / 2));
        EXPECT_EQ(block[size_t(4 * k + 3)], 255);
    }
    EXPECT_EQ(readLe32(block.data() + 1024), 6u);
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + 1028, block.end()), (std::vector<uint8_t>{7, 8, 9, 200, 201, 202}));
}

TEST(TextureImport, TexturesThatCannotTakeAnImportAreRefusedBeforeAnythingIsWritten)
{
    TextureDictionary d;
    d.textures.push_back(makeTexture32("ok", "", 2, 2, std::vector<Rgba>(4)));
    d.textures.push_back(makeTexture16("sixteen", "", 2, 2, std::vector<Rgba>(4)));
    d.textures.push_back(makeTexture32("short", "", 2, 2, std::vector<Rgba>(4)));
    d.textures.back().texels.resize(12);  // stored size 12, not 2 * 2 * 4
    d.textures.push_back(makeTexture32("thin", "", 1, 4, std::vector<Rgba>(4)));
    d.textures.push_back(makeTexturePaletted8("last", "", 2, 2, {{1, 1, 1, 1}}, std::vector<uint8_t>(4, 0)));
    Built b = build(d);
    ASSERT_EQ(b.rows.size(), 5u);
    auto refusal = [&](const TextureRef& t, const std::vector<uint8_t>& file) {
        TReadOnlyMemoryStream s(file.data(), int64_t(file.size()));
        return importDataRefusal(s, t);
    };
    EXPECT_EQ(refusal(textureRefOf(b.rows[0]), b.file), ImportRefusal::None);
    EXPECT_EQ(refusal(TextureRef{}, b.file), ImportRefusal::NoTexture);
    EXPECT_EQ(refusal(textureRefOf(b.rows[1]), b.file), ImportRefusal::SixteenBit);
    EXPECT_EQ(refusal(textureRefOf(b.rows[2]), b.file), ImportRefusal::SizeMismatch);
    EXPECT_EQ(refusal(textureRefOf(b.rows[3]), b.file), ImportRefusal::TooSmall);
    TextureRef unknown = textureRefOf(b.rows[0]);
    unknown.hasData = false;
    EXPECT_EQ(refusal(unknown, b.file), ImportRefusal::NoData);
    // The file now ends inside the last texture's indices.
    const std::vector<uint8_t> cut(b.file.begin(), b.file.end() - 12 - 2);
    EXPECT_EQ(refusal(textureRefOf(b.rows[4]), cut), ImportRefusal::PastEnd);
    EXPECT_EQ(refusal(textureRefOf(b.rows[4]), b.file), ImportRefusal::None);
    EXPECT_EQ(kSixteenBitRefusal, std::string("Sorry, can't replace 16bit images :("));

    // The writer checks again: the file is left as it was.
    MemoryArchive s(b.file);
    EXPECT_THROW(writeImportBlock(s, textureRefOf(b.rows[2]), std::vector<uint8_t>(4 + 16, 7)), EImportError);
    EXPECT_EQ(s.bytes(), b.file);
    EXPECT_EQ(s.writes(), 0);
}

TEST(TextureImport, WriteReplacesExactlyTheTextureBytes)
{
    TextureDictionary d;
    d.textures.push_back(makeTexturePaletted8("a", "", 2, 2, {{9, 9, 9, 9}}, {0, 0, 0, 0}));
    d.textures.push_back(makeTexture32("b", "", 2, 2, std::vector<Rgba>(4, Rgba{5, 6, 7, 8})));
    d.textures.push_back(makeTexture16("c", "", 2, 2, std::vector<Rgba>(4)));
    const Built b = build(d);
    for (size_t row : {size_t(0), size_t(1)}) {
        SCOPED_TRACE(row);
        const TextureRef t = textureRefOf(b.rows[row]);
        std::vector<uint8_t> block(size_t(importBlockSize(t)));
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = uint8_t(i * 7 + 1);
        // The data size field must say what it says now.
        writeLe32(block.data() + (t.paletted ? 1024 : 0), t.paletted ? 4 : 16);
        MemoryArchive s(b.file);
        writeImportBlock(s, t, block);
        std::vector<uint8_t> expected = b.file;
        std::copy(block.begin(), block.end(), expected.begin() + t.imagePos);
        EXPECT_EQ(s.bytes(), expected);
    }
}

TEST(TextureImport, AFailedWriteLeavesTheArchiveByteForByteAsItWas)
{
    TextureDictionary d;
    d.textures.push_back(makeTexture32("t", "", 4, 4, std::vector<Rgba>(16, Rgba{5, 6, 7, 8})));
    d.textures.push_back(makeTexture32("after", "", 2, 2, std::vector<Rgba>(4, Rgba{1, 2, 3, 4})));
    const Built b = build(d);
    const TextureRef t = textureRefOf(b.rows[0]);
    auto picture = rgbPicture(4, 4, std::vector<uint32_t>(16, 0x00FF00));
    const std::vector<uint8_t> block = buildImportBlock(*picture, t);

    struct Case {
        const char* name;
        const char* failing;  // the operation that fails ("" none)
        bool corrupt;         // the write lands with a byte changed
    };
    for (const Case& c :
         {Case{"write", "write /m/t.txd", false}, Case{"flush", "sync /m/t.txd", false}, Case{"read back", "", true}}) {
        SCOPED_TRACE(c.name);
        MemoryArchive s(b.file);
        bool failed = false;
        s.fs.failWhen = [&](const std::string& op) { return op == c.failing && !failed && (failed = true); };
        s.fs.onWrite = [&](const std::string& path, int64_t, std::vector<uint8_t>& bytes) {
            if (c.corrupt && path == s.path && !failed && (failed = true))
                bytes[bytes.size() / 2] ^= 0x5A;
        };
        try {
            ArchiveEditor editor(s.path, s.fs);
            ::writeImportBlock(editor, t, block);
            ADD_FAILURE() << "no error";
        } catch (const EWriteError& e) {
            EXPECT_EQ(e.message().rfind("Stream write error", 0), 0u) << e.message();
        }
        // A failed flush leaves the journal for the next open, which puts
        // the old bytes back (they are back already).
        ArchiveEditor reopened(s.path, s.fs);
        EXPECT_EQ(s.bytes(), b.file);
        EXPECT_FALSE(s.fs.has(s.path + ".quarnix-journal"));
    }
}

TEST(TextureImport, AnExportImportedAgainGivesBackTheTexels)
{
    // One colour throughout, so the import's smoothing resample keeps it: what
    // comes back shows the channels keep their places through export and import.
    ScratchDir dir;
    TextureDictionary d;
    d.textures.push_back(makeTexture32("t", "", 4, 3, std::vector<Rgba>(12, Rgba{0xF0, 0x80, 0x10, 255})));
    const Built b = build(d);
    const std::string archive = dir.file("t.txd");
    writeBytes(archive, b.file);
    const TextureRef t = textureRefOf(b.rows[0]);

    exportTextureTga(archive, t, dir.file("t.tga"));
    auto picture = LoadPictureFromFile(dir.file("t.tga"), 1);
    PrepareImportPicture(*picture, importPictureSize(t), importPictureFormat(t));
    writeImportBlockToFile(archive, t, buildImportBlock(*picture, t));
    EXPECT_EQ(readBytes(archive), b.file);
}

TEST(TextureImport, AnArchiveThatAnotherReaderHoldsIsNotOpenedForWriting)
{
    ScratchDir dir;
    TextureDictionary d;
    d.textures.push_back(makeTexture32("t", "", 2, 2, std::vector<Rgba>(4)));
    const Built b = build(d);
    const std::string archive = dir.file("held.txd");
    writeBytes(archive, b.file);
    const TextureRef t = textureRefOf(b.rows[0]);
    auto picture = rgbPicture(2, 2, std::vector<uint32_t>(4, 0xFF));
    const std::vector<uint8_t> block = buildImportBlock(*picture, t);
    {
        TFileStream reader(archive, FileMode::OpenReadShareDenyWrite);
        try {
            writeImportBlockToFile(archive, t, block);
            ADD_FAILURE() << "no error";
        } catch (const EFOpenError& e) {
            EXPECT_EQ(e.message(), "Cannot open file " + archive);
        }
    }
    EXPECT_EQ(readBytes(archive), b.file);
    writeImportBlockToFile(archive, t, block);  // once the reader is gone
    EXPECT_NE(readBytes(archive), b.file);
    EXPECT_EQ(readBytes(archive).size(), b.file.size());
}

TEST(TextureImport, AStoredSizeLargerOrSmallerThanTheDimensionsIsRefused)
{
    // 2 x 2: a 32-bit texture must store 16 texel bytes, an 8-bit one 4.
    struct Case {
        bool trueColour;
        size_t stored;
        bool refused;
    };
    for (const Case& c : {Case{true, 16, false}, Case{true, 20, true}, Case{true, 12, true}, Case{true, 17, true},
                          Case{false, 4, false}, Case{false, 5, true}, Case{false, 3, true}}) {
        SCOPED_TRACE(std::to_string(c.trueColour) + " " + std::to_string(c.stored));
        TextureDictionary d;
        if (c.trueColour) {
            d.textures.push_back(makeTexture32("t", "", 2, 2, std::vector<Rgba>(4, Rgba{1, 2, 3, 4})));
            d.textures.back().texels.resize(c.stored, 9);
        } else {
            d.textures.push_back(makeTexturePaletted8("t", "", 2, 2, {{1, 1, 1, 1}}, std::vector<uint8_t>(4, 0)));
            d.textures.back().texels.resize(c.stored, 0);
        }
        d.textures.push_back(makeTexture32("after", "", 2, 2, std::vector<Rgba>(4, Rgba{5, 6, 7, 8})));
        const Built b = build(d);
        ASSERT_EQ(b.rows.size(), 2u);
        ASSERT_EQ(b.rows[0].dataSize, int64_t(c.stored));
        const TextureRef t = textureRefOf(b.rows[0]);
        TReadOnlyMemoryStream view(b.file.data(), int64_t(b.file.size()));
        EXPECT_EQ(importDataRefusal(view, t), c.refused ? ImportRefusal::SizeMismatch : ImportRefusal::None);

        std::vector<uint8_t> block(size_t(importBlockSize(t)), 0x33);
        writeLe32(block.data() + (c.trueColour ? 0 : 1024), c.trueColour ? 16 : 4);
        MemoryArchive s(b.file);
        if (c.refused) {
            EXPECT_THROW(writeImportBlock(s, t, block), EImportError);
            EXPECT_EQ(s.bytes(), b.file);
            EXPECT_EQ(s.writes(), 0);
        } else {
            writeImportBlock(s, t, block);
            // The next texture is where its header says, untouched.
            const std::vector<uint8_t> now = s.bytes();
            TReadOnlyMemoryStream after(now.data(), int64_t(now.size()));
            const TextureListing l = readTextureDictionary(after, 0, INT64_MAX);
            ASSERT_EQ(l.rows.size(), 2u);
            EXPECT_EQ(l.rows[1].name, "after");
            EXPECT_EQ(l.rows[1].imagePos, b.rows[1].imagePos);
        }
    }
}

TEST(TextureImport, EveryLevelOfASectionedTextureIsCheckedAgainstItsLayoutBeforeTheWrite)
{
    // The file may change between the listing and the import: the check under
    // the write lock looks at every level's size field again, and at where
    // the last level ends. 8 x 4 565 with three levels: 64, 16 and 4 bytes.
    SectionedDictionary d;
    d.textures.push_back(texel_cases::mipTexture("m", TexelFormat::Rgb565, 8, 4, 3));
    std::vector<WrittenSectionedTexture> written;
    const std::vector<uint8_t> file = buildSectionedDictionary(d, &written);
    TReadOnlyMemoryStream listed(file.data(), int64_t(file.size()));
    const TextureRef t = textureRefOf(readTextureDictionary(listed, 0, listed.Size()).rows.at(0));
    ASSERT_EQ(written[0].levelOffsets.size(), 3u);
    const uint32_t sizes[] = {64, 16, 4};
    for (size_t k = 0; k < 3; ++k) {
        for (const int delta : {-1, +1}) {
            SCOPED_TRACE(std::to_string(k) + " " + std::to_string(delta));
            std::vector<uint8_t> changed = file;
            writeLe32(changed.data() + written[0].levelOffsets[k], uint32_t(int64_t(sizes[k]) + delta));
            TReadOnlyMemoryStream s(changed.data(), int64_t(changed.size()));
            EXPECT_EQ(importDataRefusal(s, t), ImportRefusal::SizeMismatch);
        }
    }
    TReadOnlyMemoryStream whole(file.data(), int64_t(file.size()));
    EXPECT_EQ(importDataRefusal(whole, t), ImportRefusal::None);
    // The file cut one byte short of the last level's end.
    const int64_t lastEnd = written[0].levelOffsets[2] + 4 + 4;
    TReadOnlyMemoryStream cut(file.data(), lastEnd - 1);
    EXPECT_EQ(importDataRefusal(cut, t), ImportRefusal::PastEnd);
    TReadOnlyMemoryStream exact(file.data(), lastEnd);
    EXPECT_EQ(importDataRefusal(exact, t), ImportRefusal::None);
}
