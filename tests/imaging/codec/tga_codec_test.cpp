// SPDX-License-Identifier: GPL-2.0-or-later
// Reading and writing TGA images through the TGA codec (driven the way the
// program drives it, through TTgaGraphic and the codec bridge).
#include "imaging/codec/tga_header.h"
#include "imaging/codec/vesk.h"
#include "imaging/readers/tga_graphic.h"
#include "support/tga_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace tga_fixture;

namespace {

std::unique_ptr<TTgaGraphic> readTga(const std::vector<uint8_t>& bytes)
{
    auto picture = std::make_unique<TTgaGraphic>();
    TMemoryStream stream(bytes);
    picture->ReadFromStream(stream);
    return picture;
}

// Runs `f` and returns the message of the EVeskError it raises ("" if none).
template <typename F>
std::string veskMessage(F&& f)
{
    try {
        f();
    } catch (const EVeskError& e) {
        return e.message();
    }
    return std::string();
}

uint32_t rgb(int r, int g, int b)
{
    return MakeColor(uint8_t(r), uint8_t(g), uint8_t(b));
}

// Colour of one stored pixel, computed from its bytes as the file defines it.
uint32_t storedColor(const std::vector<uint8_t>& px, int bytesPerPixel, int i, const std::vector<uint8_t>& map,
                     int mapFirst, bool grey)
{
    const uint8_t* p = &px[size_t(i) * size_t(bytesPerPixel)];
    switch (bytesPerPixel) {
    case 1: {
        if (grey)
            return rgb(p[0], p[0], p[0]);
        const int entry = p[0] - mapFirst;
        if (entry < 0 || size_t(entry) * 3 >= map.size())
            return 0;
        return rgb(map[3 * entry + 2], map[3 * entry + 1], map[3 * entry]);
    }
    case 2: {
        const unsigned v = unsigned(p[0]) | (unsigned(p[1]) << 8);
        return rgb(((v >> 10) & 31) * 8, ((v >> 5) & 31) * 8, (v & 31) * 8);
    }
    default: return rgb(p[2], p[1], p[0]);
    }
}

struct Layout {
    int type;
    int bits;
    uint8_t descriptor;
    RlePackets packets;
};

std::string layoutName(const testing::TestParamInfo<Layout>& info)
{
    const Layout& l = info.param;
    static const char* const kPackets[] = {"Greedy", "PerRow", "RawOnly", "RunsOnly"};
    std::string name = "Type" + std::to_string(l.type) + "_" + std::to_string(l.bits) + "bit_"
                       + ((l.descriptor & kTopFirst) ? "TopFirst" : "BottomFirst");
    if (l.type & 8)
        name += std::string("_") + kPackets[int(l.packets)];
    return name;
}

std::vector<Layout> allLayouts()
{
    std::vector<Layout> out;
    const std::pair<int, int> typesAndBits[] = {{1, 8}, {2, 16}, {2, 24}, {2, 32}, {3, 8}};
    for (auto [type, bits] : typesAndBits)
        for (uint8_t descriptor : {uint8_t(0), uint8_t(kTopFirst | 0x08)}) {
            out.push_back({type, bits, descriptor, RlePackets::Greedy});
            for (RlePackets p : {RlePackets::Greedy, RlePackets::PerRow, RlePackets::RawOnly, RlePackets::RunsOnly})
                out.push_back({type + 8, bits, descriptor, p});
        }
    return out;
}

class TgaLayoutTest : public testing::TestWithParam<Layout> {};

// Every image type, depth, row order and packet layout decodes to the pixels
// the file stores, the first stored row landing at the top or the bottom.
TEST_P(TgaLayoutTest, DecodesStoredPixels)
{
    const Layout l = GetParam();
    const int width = 7, height = 5;  // odd width: rows carry padding
    const int pb = l.bits / 8;
    std::vector<uint8_t> pixels = patternPixels(width * height, pb, uint32_t(l.type * 100 + l.bits));
    std::vector<uint8_t> map;
    const uint16_t mapFirst = 3;
    const bool mapped = (l.type & 7) == 1;
    if (mapped) {
        for (int i = 0; i < 40; ++i)
            map.insert(map.end(), {uint8_t(i * 3), uint8_t(i * 5 + 1), uint8_t(250 - i)});
        for (uint8_t& p : pixels)
            p = uint8_t(mapFirst + p % 40);
    }
    TgaFile file = makeTga(l.type, l.bits, width, height, pixels, l.descriptor, l.packets, map, mapFirst);
    file.imageId = {'q', 'x', 0, 1};

    auto picture = readTga(file.bytes());
    ASSERT_EQ(picture->Width(), width);
    ASSERT_EQ(picture->Height(), height);
    EXPECT_EQ(picture->ImageFormat(), l.bits == 8 ? ifColor256 : ifRgb24);
    if (l.bits == 8) {
        EXPECT_EQ(picture->Palette().EntryCount, 256);
    }

    const bool topFirst = (l.descriptor & kTopFirst) != 0;
    for (int stored = 0; stored < height; ++stored) {
        const int y = topFirst ? stored : height - 1 - stored;
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(picture->GetPixelColor(x, y),
                      storedColor(pixels, pb, stored * width + x, map, mapFirst, (l.type & 7) == 3))
                << "stored row " << stored << " x " << x;
    }
    // Row padding stays zero.
    const int used = width * (l.bits == 8 ? 1 : 3);
    for (int y = 0; y < height; ++y)
        for (int b = used; b < picture->RowStride(); ++b)
            ASSERT_EQ(picture->RowPointer(y)[b], 0);
}

INSTANTIATE_TEST_SUITE_P(AllLayouts, TgaLayoutTest, testing::ValuesIn(allLayouts()), layoutName);

TEST(TgaRead, ThirtyTwoBitTopFirstDropsAlpha)
{
    // 2 x 2, descriptor 0x28: stored rows top first, alpha bytes discarded.
    TgaFile f = makeTga(2, 32, 2, 2,
                        {1, 2, 3, 0xAA, 4, 5, 6, 0xBB,  // top row
                         7, 8, 9, 0xCC, 10, 11, 12, 0xDD},
                        0x28);
    auto top = readTga(f.bytes());
    EXPECT_EQ(top->ImageFormat(), ifRgb24);
    const uint8_t* row0 = top->RowPointer(0);
    const uint8_t* row1 = top->RowPointer(1);
    EXPECT_EQ(std::vector<uint8_t>(row0, row0 + 8), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(row1, row1 + 8), (std::vector<uint8_t>{7, 8, 9, 10, 11, 12, 0, 0}));

    for (uint8_t descriptor : {uint8_t(0), uint8_t(8)}) {
        f.descriptor = descriptor;
        auto bottom = readTga(f.bytes());
        EXPECT_EQ(bottom->GetPixelColor(0, 0), top->GetPixelColor(0, 1));
        EXPECT_EQ(bottom->GetPixelColor(1, 1), top->GetPixelColor(1, 0));
    }
}

TEST(TgaRead, ThirtyTwoBitRowsWithoutPaddingKeepTheirNeighboursIntact)
{
    // 8 pixels a row fill the 24-byte rows exactly: a row's last pixel must
    // not spill into the row above or below. Raw and run-length encoded.
    const int width = 8, height = 3;
    std::vector<uint8_t> pixels;
    for (int i = 0; i < width * height; ++i)
        pixels.insert(pixels.end(), {uint8_t(3 * i + 1), uint8_t(3 * i + 2), uint8_t(3 * i + 3), 0xEE});
    for (const int type : {2, 10})
        for (const uint8_t descriptor : {uint8_t(0x28), uint8_t(0x08)}) {
            SCOPED_TRACE(type * 1000 + descriptor);
            const TgaFile f = makeTga(type, 32, width, height, pixels, descriptor, RlePackets::RawOnly);
            auto picture = readTga(f.bytes());
            ASSERT_EQ(picture->RowStride(), 24);
            for (int stored = 0; stored < height; ++stored) {
                const int y = (descriptor & kTopFirst) ? stored : height - 1 - stored;
                std::vector<uint8_t> want;
                for (int x = 0; x < width; ++x) {
                    const int i = stored * width + x;
                    want.insert(want.end(), {uint8_t(3 * i + 1), uint8_t(3 * i + 2), uint8_t(3 * i + 3)});
                }
                const uint8_t* row = picture->RowPointer(y);
                EXPECT_EQ(std::vector<uint8_t>(row, row + 24), want) << "stored row " << stored;
            }
        }
}

TEST(TgaRead, SixteenBitExpansionIgnoresTopBit)
{
    for (int type : {2, 10}) {
        auto p = readTga(makeTga(type, 16, 3, 1, {0xFF, 0x7F, 0x00, 0x80, 0x1F, 0x7C}).bytes());
        EXPECT_EQ(p->GetPixelColor(0, 0), rgb(248, 248, 248)) << type;
        EXPECT_EQ(p->GetPixelColor(1, 0), rgb(0, 0, 0)) << type;
        EXPECT_EQ(p->GetPixelColor(2, 0), rgb(248, 0, 248)) << type;  // 0x7C1F: red and blue full
    }
}

TEST(TgaRead, GreyImageGetsGreyRampAsColor256)
{
    auto p = readTga(makeTga(3, 8, 2, 1, {0, 200}).bytes());
    EXPECT_EQ(p->ImageFormat(), ifColor256);
    ASSERT_EQ(p->Palette().EntryCount, 256);
    for (int i = 0; i < 256; ++i) {
        const TPaletteEntry& e = p->Palette().Entries[i];
        ASSERT_TRUE(e.peRed == i && e.peGreen == i && e.peBlue == i) << i;
    }
    EXPECT_EQ(p->GetPixelIndex(1, 0), 200);
}

TEST(TgaRead, ColorMapStartsAtFirstEntryIndex)
{
    std::vector<uint8_t> map;
    for (int k = 0; k < 8; ++k)
        map.insert(map.end(), {uint8_t(10 + k), uint8_t(20 + k), uint8_t(30 + k)});  // blue, green, red
    auto p = readTga(makeTga(1, 8, 2, 1, {16, 23}, 0, RlePackets::Greedy, map, 16).bytes());
    const TLogicalPalette& pal = p->Palette();
    for (int i = 0; i < 256; ++i) {
        const TPaletteEntry& e = pal.Entries[i];
        if (i >= 16 && i < 24)
            EXPECT_TRUE(e.peRed == 30 + i - 16 && e.peGreen == 20 + i - 16 && e.peBlue == 10 + i - 16) << i;
        else
            EXPECT_TRUE(e.peRed == 0 && e.peGreen == 0 && e.peBlue == 0) << i;
    }
    EXPECT_EQ(p->GetPixelColor(1, 0), rgb(37, 27, 17));
}

TEST(TgaRead, ColorMapEntriesPastTheLastPaletteEntryAreDropped)
{
    // First entry 250, 10 entries: 250..255 are kept, the other four dropped.
    std::vector<uint8_t> map;
    for (int k = 0; k < 10; ++k)
        map.insert(map.end(), {uint8_t(k), uint8_t(k), uint8_t(100 + k)});
    auto p = readTga(makeTga(1, 8, 1, 1, {255}, 0, RlePackets::Greedy, map, 250).bytes());
    EXPECT_EQ(p->Palette().Entries[250].peRed, 100);
    EXPECT_EQ(p->Palette().Entries[255].peRed, 105);
    EXPECT_EQ(p->Palette().Entries[0].peRed, 0);
    EXPECT_EQ(p->GetPixelColor(0, 0), rgb(105, 5, 5));

    // A map that starts far beyond the palette leaves it all black.
    std::vector<uint8_t> far(256 * 3, 0xFF);
    auto q = readTga(makeTga(9, 8, 1, 1, {0}, 0, RlePackets::Greedy, far, 0xFF00).bytes());
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(q->Palette().Entries[i].peRed | q->Palette().Entries[i].peGreen | q->Palette().Entries[i].peBlue, 0)
            << i;
}

TEST(TgaRead, TrueColorSkipsItsColorMap)
{
    // Colour map type 1, 15-bit entries (counted as 16), 4 entries: 8 bytes skipped.
    TgaFile f = makeTga(2, 24, 1, 1, {1, 2, 3});
    f.colorMapType = 1;
    f.mapEntrySize = 15;
    f.mapLength = 4;
    f.colorMap = {9, 9, 9, 9, 9, 9, 9, 9};
    f.imageId = {7, 7, 7};
    EXPECT_EQ(readTga(f.bytes())->GetPixelColor(0, 0), rgb(3, 2, 1));

    // A grey image with a 24-bit map skips 3 bytes per entry.
    TgaFile g = makeTga(3, 8, 2, 1, {5, 6});
    g.colorMapType = 1;
    g.mapEntrySize = 24;
    g.mapLength = 2;
    g.colorMap = {1, 1, 1, 1, 1, 1};
    EXPECT_EQ(readTga(g.bytes())->GetPixelIndex(1, 0), 6);
}

TEST(TgaRead, RunAcrossRowEnds)
{
    // 3 pixels wide: 0x85 repeats one pixel six times, filling two rows.
    TgaFile f = makeTga(10, 24, 3, 3, {});
    f.pixelData = {0x85, 1, 2, 3, 0x02, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    auto p = readTga(f.bytes());
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(p->GetPixelColor(x, 2), rgb(3, 2, 1));  // first stored row: bottom
        EXPECT_EQ(p->GetPixelColor(x, 1), rgb(3, 2, 1));
    }
    EXPECT_EQ(p->GetPixelColor(0, 0), rgb(6, 5, 4));
    EXPECT_EQ(p->GetPixelColor(2, 0), rgb(12, 11, 10));
}

TEST(TgaRead, RlePacketsPastTheLastRowAreDropped)
{
    // 2 x 2 picture; a run of 128 and a raw packet longer than what is left
    // are cut at the end of the picture, and the read succeeds.
    TgaFile run = makeTga(11, 8, 2, 2, {});
    run.pixelData = {0xFF, 77};
    auto p = readTga(run.bytes());
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            EXPECT_EQ(p->GetPixelIndex(x, y), 77);

    TgaFile raw = makeTga(10, 32, 2, 2, {});
    raw.pixelData = {0x00, 1, 1, 1, 1, 0x7F};
    for (int i = 0; i < 3 * 4; ++i)  // three of the packet's 128 pixels are present
        raw.pixelData.push_back(uint8_t(10 + i));
    auto q = readTga(raw.bytes());
    EXPECT_EQ(q->GetPixelColor(0, 1), rgb(1, 1, 1));
    EXPECT_EQ(q->GetPixelColor(1, 0), rgb(20, 19, 18));
}

TEST(TgaRead, LongRleImageCrossesTheReadBuffer)
{
    // Raw 32-bit packets over 300 x 70 pixels: 84 KB of encoded data, so
    // packets straddle the boundaries of the 16384-byte read buffer.
    const int w = 300, h = 70;
    std::vector<uint8_t> px = patternPixels(w * h, 4, 99);
    auto p = readTga(makeTga(10, 32, w, h, px, kTopFirst, RlePackets::RawOnly).bytes());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* s = &px[size_t(y * w + x) * 4];
            ASSERT_EQ(p->GetPixelColor(x, y), rgb(s[2], s[1], s[0])) << x << "," << y;
        }
}

// Bytes of a small valid TGA of each kind, for cutting short.
std::vector<uint8_t> validFile(int type, int bits)
{
    const int pb = bits / 8;
    std::vector<uint8_t> map;
    if ((type & 7) == 1)
        map.assign(4 * 3, 0x40);
    return makeTga(type, bits, 3, 2, patternPixels(6, pb, 5), 0, RlePackets::Greedy, map).bytes();
}

struct Failure {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* message;
};

std::vector<Failure> failures()
{
    auto header = [](int type, int bits, int mapEntrySize, int width, int height) {
        TgaFile f;
        f.imageType = uint8_t(type);
        f.bitsPerPixel = uint8_t(bits);
        f.mapEntrySize = uint8_t(mapEntrySize);
        f.colorMapType = (type & 7) == 1 ? 1 : 0;
        f.width = uint16_t(width);
        f.height = uint16_t(height);
        f.pixelData.assign(64, 0);
        return f.bytes();
    };
    auto cut = [](std::vector<uint8_t> v, size_t n) {
        v.resize(v.size() - n);
        return v;
    };
    const char* hdr = "vesk_read_header failed.";
    const char* data = "vesk_read_data failed.";
    std::vector<Failure> out = {
        {"empty stream", {}, hdr},
        {"short header", cut(validFile(2, 24), 36 - 10), hdr},
        {"image type 0", header(0, 24, 0, 2, 2), hdr},
        {"image type 32", header(32, 24, 0, 2, 2), hdr},
        {"image type 4", header(4, 24, 0, 2, 2), hdr},
        {"true colour 15 bits", header(2, 15, 0, 2, 2), hdr},
        {"true colour 8 bits", header(10, 8, 0, 2, 2), hdr},
        {"grey 16 bits", header(3, 16, 0, 2, 2), hdr},
        {"mapped 16 bits", header(1, 16, 24, 2, 2), hdr},
        {"mapped 16-bit entries", header(1, 8, 16, 2, 2), hdr},
        {"mapped RLE 32-bit entries", header(9, 8, 32, 2, 2), hdr},
        {"width 0", header(2, 24, 0, 0, 2), hdr},
        {"height 0", header(3, 8, 0, 2, 0), hdr},
        {"colour map cut short",
         cut(makeTga(1, 8, 1, 1, {}, 0, RlePackets::Greedy, std::vector<uint8_t>(30, 1)).bytes(), 1), hdr},
        {"uncompressed 8-bit cut short", cut(validFile(1, 8), 1), data},
        {"uncompressed 16-bit cut short", cut(validFile(2, 16), 1), data},
        {"uncompressed 24-bit cut short", cut(validFile(2, 24), 1), data},
        {"uncompressed 32-bit cut short", cut(validFile(2, 32), 1), data},
        {"uncompressed grey cut short", cut(validFile(3, 8), 3), data},
        {"no pixel data", cut(validFile(2, 24), 18), data},
    };
    // Run-length data that ends where a packet header is expected.
    TgaFile atHeader = makeTga(11, 8, 4, 1, {});
    atHeader.pixelData = {0x81, 5};
    out.push_back({"RLE ends before a packet", atHeader.bytes(), data});
    // ... inside a run packet (its value is missing) ...
    TgaFile inRun = makeTga(10, 24, 4, 1, {});
    inRun.pixelData = {0x83, 1, 2};
    out.push_back({"RLE ends inside a run value", inRun.bytes(), data});
    // ... and inside a raw packet.
    TgaFile inRaw = makeTga(10, 32, 4, 1, {});
    inRaw.pixelData = {0x03, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    out.push_back({"RLE ends inside a raw packet", inRaw.bytes(), data});
    TgaFile noData = makeTga(9, 8, 4, 1, {}, 0, RlePackets::Greedy, {1, 2, 3});
    out.push_back({"RLE without data", noData.bytes(), data});
    return out;
}

TEST(TgaRead, FailuresCarryTheStepsMessage)
{
    for (const Failure& f : failures()) {
        TTgaGraphic picture;
        TMemoryStream stream(f.bytes);
        EXPECT_EQ(veskMessage([&] { picture.ReadFromStream(stream); }), f.message) << f.what;
    }
}

TEST(TgaRead, DataFailureLeavesTheNewSize)
{
    TTgaGraphic picture;
    picture.NewImage(9, 9, ifColor16, nullptr, 0, 0);
    std::vector<uint8_t> bytes = validFile(2, 24);
    bytes.pop_back();
    TMemoryStream stream(bytes);
    EXPECT_THROW(picture.ReadFromStream(stream), EVeskError);
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_EQ(picture.Height(), 2);
    EXPECT_EQ(picture.ImageFormat(), ifRgb24);
}

TEST(TgaRead, HugeClaimedSizeFailsWithoutAllocating)
{
    // 65535 x 65535 at 8 or 24 bits is more than a pixel store may hold.
    for (auto [type, bits] : {std::pair{3, 8}, std::pair{2, 24}, std::pair{10, 32}}) {
        TgaFile f = makeTga(type, bits, 0, 0, {});
        f.width = 0xFFFF;
        f.height = 0xFFFF;
        f.pixelData = {0, 0, 0, 0};
        TTgaGraphic picture;
        TMemoryStream stream(f.bytes());
        try {
            picture.ReadFromStream(stream);
            FAIL() << "read a " << bits << "-bit 65535 x 65535 picture from 4 bytes";
        } catch (const ETavrinError& e) {
            EXPECT_EQ(e.message(), "CreateDibSection failed");
        }
        EXPECT_TRUE(picture.IsEmpty());
    }
}

// ---------------------------------------------------------------------------
// Writing

std::vector<uint8_t> writeTga(TDibGraphic& bitmap)
{
    TTgaGraphic tga;
    tga.Assign(&bitmap);
    TMemoryStream out;
    tga.WriteToStream(out);
    return out.bytes();
}

TEST(TgaWrite, TrueColorBytes)
{
    TDibGraphic bitmap;
    bitmap.NewImage(2, 2, ifRgb24, nullptr, 0, 0);
    bitmap.SetPixelColor(0, 0, rgb(0x11, 0x12, 0x13));
    bitmap.SetPixelColor(1, 0, rgb(0x21, 0x22, 0x23));
    bitmap.SetPixelColor(0, 1, rgb(0x31, 0x32, 0x33));
    bitmap.SetPixelColor(1, 1, rgb(0x41, 0x42, 0x43));
    const std::vector<uint8_t> expected = {
        0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x02, 0x00, 0x02, 0x00, 0x18, 0x00, 0x33, 0x32, 0x31, 0x43, 0x42, 0x41,  // bottom row, blue green red
        0x13, 0x12, 0x11, 0x23, 0x22, 0x21,                                      // top row
    };
    EXPECT_EQ(writeTga(bitmap), expected);
}

TEST(TgaWrite, EightBitBytes)
{
    // 3 x 2 with a 16-entry palette: 256 map entries (240 of them black),
    // then 3 bytes per row without the row padding, bottom row first.
    TLogicalPalette pal{};
    pal.Version = 0x300;
    pal.EntryCount = 16;
    for (int i = 0; i < 16; ++i)
        pal.Entries[i] = {uint8_t(i), uint8_t(100 + i), uint8_t(200 + i), 0};
    for (TImageFormat format : {ifColor256, ifGrayscale256}) {
        TDibGraphic bitmap;
        bitmap.NewImage(3, 2, format, &pal, 0, 0);
        const int top[] = {1, 2, 3}, bottom[] = {13, 14, 15};
        for (int x = 0; x < 3; ++x) {
            bitmap.SetPixelIndex(x, 0, top[x]);
            bitmap.SetPixelIndex(x, 1, bottom[x]);
        }
        std::vector<uint8_t> expected = {0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x01, 0x18, 0x00,
                                         0x00, 0x00, 0x00, 0x03, 0x00, 0x02, 0x00, 0x08, 0x00};
        for (int i = 0; i < 256; ++i) {
            if (i < 16)
                expected.insert(expected.end(), {uint8_t(200 + i), uint8_t(100 + i), uint8_t(i)});
            else
                expected.insert(expected.end(), {0, 0, 0});
        }
        expected.insert(expected.end(), {13, 14, 15, 1, 2, 3});
        const std::vector<uint8_t> written = writeTga(bitmap);
        EXPECT_EQ(written.size(), 18u + 768u + 6u);
        EXPECT_EQ(written, expected) << ImageFormatDescription(format);
    }
}

TEST(TgaWrite, RoundTripKeepsPixelsAndPalette)
{
    for (TImageFormat format : {ifRgb24, ifColor256}) {
        TDibGraphic bitmap;
        bitmap.NewImage(13, 7, format, nullptr, 0, 0);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 13; ++x)
                bitmap.SetPixelColor(x, y, rgb(x * 19, y * 37, (x * y) & 255));
        auto back = readTga(writeTga(bitmap));
        ASSERT_EQ(back->Width(), 13);
        ASSERT_EQ(back->Height(), 7);
        EXPECT_EQ(back->ImageFormat(), format);
        EXPECT_EQ(std::memcmp(back->Bits(), bitmap.Bits(), size_t(7 * bitmap.RowStride())), 0);
        if (format == ifColor256) {
            EXPECT_EQ(std::memcmp(&back->Palette(), &bitmap.Palette(), sizeof(TLogicalPalette)), 0);
        }
    }
}

TEST(TgaWrite, RefusedFormatsWriteNothing)
{
    for (TImageFormat format : {ifMonochrome, ifGrayscale16, ifColor16}) {
        TTgaGraphic tga;
        tga.NewImage(4, 4, format, nullptr, 0, 0);
        TMemoryStream out;
        try {
            tga.WriteToStream(out);
            ADD_FAILURE() << "wrote " << ImageFormatDescription(format);
        } catch (const ETgaError& e) {
            EXPECT_EQ(e.message(), "TARGA image must be true color or 8 bit with palette");
        }
        EXPECT_EQ(out.Size(), 0);

        // The codec itself refuses them too, before writing a byte.
        TMemoryStream direct;
        EXPECT_EQ(veskMessage([&] { WriteBitmapViaCodec(direct, tga, "File.tga"); }), "vesk_write failed.");
        EXPECT_EQ(direct.Size(), 0);
    }
}

TEST(TgaWrite, WriterFailures)
{
    TDibGraphic empty;
    empty.NewImage(1, 1, ifRgb24, nullptr, 0, 0);
    TDibGraphic none;  // never given a size
    TMemoryStream out;
    EXPECT_EQ(veskMessage([&] { WriteBitmapViaCodec(out, none, "File.tga"); }), "vesk_write failed.");
    EXPECT_EQ(out.Size(), 0);

    // A stream that takes no bytes.
    uint8_t storage[64] = {};
    TReadOnlyMemoryStream readOnly(storage, sizeof storage);
    EXPECT_EQ(veskMessage([&] { WriteBitmapViaCodec(readOnly, empty, "File.tga"); }), "vesk_write failed.");
}

}  // namespace

TEST(TgaHeaderFields, EachFieldAtItsOffsetLittleEndian)
{
    TgaHeader h;
    h.idLength = 3;
    h.colourMapType = 1;
    h.imageType = 9;
    h.colourMapFirst = 0x0102;
    h.colourMapLength = 0x0304;
    h.colourMapEntrySize = 24;
    h.xOrigin = 0x0506;
    h.yOrigin = 0x0708;
    h.width = 0x012C;
    h.height = 0x0A0B;
    h.bitsPerPixel = 8;
    h.descriptor = 0x28;
    uint8_t bytes[18];
    writeTgaHeader(h, bytes);
    const std::vector<uint8_t> expected = {3,    1,    9,    0x02, 0x01, 0x04, 0x03, 24, 0x06,
                                           0x05, 0x08, 0x07, 0x2C, 0x01, 0x0B, 0x0A, 8,  0x28};
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 18), expected);
    const TgaHeader back = readTgaHeader(expected.data());
    EXPECT_EQ(back.colourMapLength, 0x0304);
    EXPECT_EQ(back.width, 0x012C);
    EXPECT_TRUE(back.topToBottom());
    // Header, 3 bytes of image ID, 0x304 entries of 3 bytes.
    EXPECT_EQ(back.pixelDataOffset(), 18 + 3 + 0x304 * 3);
    h.colourMapEntrySize = 15;  // counts as 16 bits
    writeTgaHeader(h, bytes);
    EXPECT_EQ(readTgaHeader(bytes).pixelDataOffset(), 18 + 3 + 0x304 * 2);
}
