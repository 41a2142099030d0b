// SPDX-License-Identifier: GPL-2.0-or-later
// TBitmapGraphic and the BMP codec: every depth and header kind, run-length
// data (also damaged), the second reader for what the codec refuses, the
// resolution, the reader options and the messages.
#include "imaging/codec/vesk.h"
#include "imaging/readers/bmp_graphic.h"
#include "support/bmp_builder.h"
#include "tests/imaging/readers/reader_test_util.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using bmp_fixture::BmpFile;
using bmp_fixture::Rgb;
using reader_test::messageOf;
using reader_test::paletteColor;
using reader_test::readPicture;

constexpr int kW = 5, kH = 3;

// Index of pixel (x, y) of the test pictures, within `colours`.
uint32_t indexAt(int x, int y, int colours)
{
    return uint32_t((x + 2 * y) % colours);
}

std::vector<uint32_t> indexedPixels(int colours)
{
    std::vector<uint32_t> p;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            p.push_back(indexAt(x, y, colours));
    return p;
}

uint32_t rgbAt(int x, int y)
{
    return MakeColor(uint8_t(40 * x), uint8_t(80 * y), uint8_t(200 - 10 * x - y));
}

std::vector<uint32_t> rgbPixels()
{
    std::vector<uint32_t> p;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            p.push_back(rgbAt(x, y));
    return p;
}

// A palette of `n` distinct colours.
std::vector<Rgb> colourPalette(int n)
{
    std::vector<Rgb> p;
    for (int i = 0; i < n; ++i)
        p.push_back({uint8_t(255 - i), uint8_t(i * 7), uint8_t(i * 13)});
    return p;
}

BmpFile indexedFile(int bits, uint32_t headerSize = 40)
{
    BmpFile f;
    f.width = kW;
    f.height = kH;
    f.bits = uint16_t(bits);
    f.headerSize = headerSize;
    f.palette = colourPalette(1 << bits);
    f.data = bmp_fixture::packRows(kW, kH, bits, indexedPixels(1 << bits));
    return f;
}

std::unique_ptr<TDibGraphic> viaCodec(const std::vector<uint8_t>& bytes, const std::string& options = "inv")
{
    TMemoryStream stream(bytes);
    auto g = std::make_unique<TDibGraphic>();
    ReadBitmapViaCodec(stream, *g, "File.bmp", options);
    return g;
}

void expectIndexedPicture(const TDibGraphic& g, int colours)
{
    ASSERT_EQ(g.Width(), kW);
    ASSERT_EQ(g.Height(), kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            EXPECT_EQ(g.GetPixelIndex(x, y), int(indexAt(x, y, colours))) << x << "," << y;
}

struct DepthCase {
    int bits;
    uint32_t headerSize;
    TImageFormat format;
};

class BmpDepth : public ::testing::TestWithParam<DepthCase> {};

TEST_P(BmpDepth, ReadsPixelsPaletteAndFormat)
{
    const DepthCase c = GetParam();
    BmpFile f = c.bits == 24 ? BmpFile{} : indexedFile(c.bits, c.headerSize);
    if (c.bits == 24) {
        f.width = kW;
        f.height = kH;
        f.bits = 24;
        f.headerSize = c.headerSize;
        f.data = bmp_fixture::packRows(kW, kH, 24, rgbPixels());
    }
    auto g = readPicture<TBitmapGraphic>(bmp_fixture::build(f));
    EXPECT_EQ(g->ImageFormat(), c.format);
    if (c.bits == 24) {
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                EXPECT_EQ(g->GetPixelColor(x, y), rgbAt(x, y));
        return;
    }
    const int colours = 1 << c.bits;
    EXPECT_EQ(g->Palette().EntryCount, colours);
    // The palette in the order stored (the 1-bit palette is not exchanged).
    for (int i = 0; i < colours; ++i)
        EXPECT_EQ(paletteColor(*g, i), MakeColor(f.palette[i].r, f.palette[i].g, f.palette[i].b)) << i;
    expectIndexedPicture(*g, colours);
}

INSTANTIATE_TEST_SUITE_P(AllDepths, BmpDepth,
                         ::testing::Values(DepthCase{1, 40, ifMonochrome}, DepthCase{4, 40, ifColor16},
                                           DepthCase{8, 40, ifColor256}, DepthCase{24, 40, ifRgb24},
                                           DepthCase{1, 12, ifMonochrome}, DepthCase{4, 12, ifColor16},
                                           DepthCase{8, 12, ifColor256}, DepthCase{24, 12, ifRgb24},
                                           DepthCase{8, 64, ifColor256}, DepthCase{4, 42, ifColor16},
                                           DepthCase{4, 46, ifColor16}, DepthCase{8, 16, ifColor256}));

TEST(BmpReader, GreyPaletteStaysTheFilesPalette)
{
    BmpFile f = indexedFile(8);
    f.palette = bmp_fixture::greyPalette(256);
    auto g = readPicture<TBitmapGraphic>(bmp_fixture::build(f));
    EXPECT_EQ(g->ImageFormat(), ifColor256);
    EXPECT_EQ(paletteColor(*g, 0), 0u);
    EXPECT_EQ(paletteColor(*g, 255), 0xFFFFFFu);
    EXPECT_EQ(paletteColor(*g, 100), MakeColor(100, 100, 100));
}

TEST(BmpReader, Os2HeaderReadsThreeBytePaletteFromByte26)
{
    BmpFile f = indexedFile(4, 12);
    const std::vector<uint8_t> bytes = bmp_fixture::build(f);
    ASSERT_EQ(bytes[26], f.palette[0].b);  // the first entry is where the reader looks
    auto g = readPicture<TBitmapGraphic>(bytes);
    EXPECT_EQ(g->Palette().EntryCount, 16);
    EXPECT_EQ(paletteColor(*g, 15), MakeColor(f.palette[15].r, f.palette[15].g, f.palette[15].b));
}

TEST(BmpReader, ColoursUsedDecidesHowManyEntriesAreStored)
{
    // A 20-byte header has no colours-used field: 256 entries are read.
    {
        BmpFile f = indexedFile(8, 20);
        auto g = viaCodec(bmp_fixture::build(f));
        EXPECT_EQ(paletteColor(*g, 255), MakeColor(f.palette[255].r, f.palette[255].g, f.palette[255].b));
    }
    // Three entries stored: the rest of the palette is black.
    {
        BmpFile f = indexedFile(8);
        f.palette.resize(3);
        f.colorsUsed = 3;
        f.data = bmp_fixture::packRows(kW, kH, 8, indexedPixels(3));
        auto g = viaCodec(bmp_fixture::build(f));
        EXPECT_EQ(g->Palette().EntryCount, 256);
        EXPECT_EQ(paletteColor(*g, 2), MakeColor(f.palette[2].r, f.palette[2].g, f.palette[2].b));
        EXPECT_EQ(paletteColor(*g, 3), 0u);
        expectIndexedPicture(*g, 3);
    }
    // More than 2^bits is cut to 2^bits.
    {
        BmpFile f = indexedFile(4);
        f.colorsUsed = 300;
        auto g = viaCodec(bmp_fixture::build(f));
        expectIndexedPicture(*g, 16);
    }
}

TEST(BmpReader, BitmapArrayHeaderIsSkipped)
{
    BmpFile f = indexedFile(8);
    f.bitmapArray = true;
    auto g = viaCodec(bmp_fixture::build(f));
    expectIndexedPicture(*g, 256);
}

TEST(BmpReader, ReadsFromTheStreamPosition)
{
    std::vector<uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7};
    const std::vector<uint8_t> bmp = bmp_fixture::build(indexedFile(4));
    bytes.insert(bytes.end(), bmp.begin(), bmp.end());
    TMemoryStream stream(bytes);
    stream.Seek(7, SeekOrigin::Begin);
    TBitmapGraphic g;
    g.ReadFromStream(stream);
    expectIndexedPicture(g, 16);
    EXPECT_EQ(g.ResolutionX(), 72);
}

TEST(BmpReader, ResolutionComesFromBytes38And42)
{
    struct Case {
        int32_t x, y;
        int dpiX, dpiY;
    } cases[] = {
        {2835, 2835, 72, 72}, {3780, 11811, 96, 300}, {0, 1, 0, 0}, {-2835, 2835, 0, 72}, {2000000000, 3780, 0, 96}};
    for (const Case& c : cases) {
        BmpFile f = indexedFile(8);
        f.pelsPerMeterX = c.x;
        f.pelsPerMeterY = c.y;
        auto g = readPicture<TBitmapGraphic>(bmp_fixture::build(f));
        EXPECT_EQ(g->ResolutionX(), c.dpiX) << c.x;
        EXPECT_EQ(g->ResolutionY(), c.dpiY) << c.y;
    }
    // The second reader's pictures get the same treatment.
    BmpFile f;
    f.width = 1;
    f.height = 1;
    f.bits = 32;
    f.pelsPerMeterX = 3780;
    f.pelsPerMeterY = 2835;
    f.data = bmp_fixture::packRows(1, 1, 32, {0x102030});
    auto g = readPicture<TBitmapGraphic>(bmp_fixture::build(f));
    EXPECT_EQ(g->ResolutionX(), 96);
    EXPECT_EQ(g->ResolutionY(), 72);
}

// --- run-length data

// A 5 x 4 RLE8 picture: each case lists the encoded data and the expected
// indices, bottom row first as the data fills them.
struct RleCase {
    const char* name;
    int bits;
    std::vector<uint8_t> data;
    std::vector<std::vector<int>> rowsBottomUp;
};

class BmpRle : public ::testing::TestWithParam<RleCase> {};

TEST_P(BmpRle, DecodesIntoThePicture)
{
    const RleCase& c = GetParam();
    BmpFile f;
    f.width = 5;
    f.height = 4;
    f.bits = uint16_t(c.bits);
    f.compression = c.bits == 8 ? 1 : 2;
    f.palette = colourPalette(4);  // fewer entries than 2^bits
    f.colorsUsed = 4;
    f.data = c.data;
    // The codec reads it (the bridge would raise otherwise) ...
    auto g = viaCodec(bmp_fixture::build(f));
    EXPECT_EQ(g->Palette().EntryCount, 1 << c.bits);
    for (int row = 0; row < 4; ++row)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(g->GetPixelIndex(x, 3 - row), c.rowsBottomUp[size_t(row)][size_t(x)])
                << c.name << " row " << row << " x " << x;
    // ... and so does the class, with the same result.
    auto viaClass = readPicture<TBitmapGraphic>(bmp_fixture::build(f));
    EXPECT_EQ(std::vector<uint8_t>(viaClass->Bits(), viaClass->Bits() + 4 * viaClass->RowStride()),
              std::vector<uint8_t>(g->Bits(), g->Bits() + 4 * g->RowStride()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BmpRle,
    ::testing::Values(RleCase{"rle8_runs_literal_move",
                              8,
                              {3, 1, 2, 2, 0, 0,  // row 0: 1 1 1 2 2
                               0, 3, 3, 2, 1, 0,  // row 1: literal 3 2 1 (padded)
                               0, 2, 1, 1,        // move right 1, up 1: to (4, 2)
                               1, 3, 0, 0,        // row 2: a 3 at x 4
                               5, 2, 0, 1},       // row 3 then end of picture
                              {{1, 1, 1, 2, 2}, {3, 2, 1, 0, 0}, {0, 0, 0, 0, 3}, {2, 2, 2, 2, 2}}},
                      RleCase{"rle8_end_after_first_row",
                              8,
                              {5, 3, 0, 1, 5, 2},
                              {{3, 3, 3, 3, 3}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}}},
                      RleCase{"rle8_run_longer_than_row_is_cut",
                              8,
                              {9, 1, 0, 0, 2, 2},
                              {{1, 1, 1, 1, 1}, {2, 2, 0, 0, 0}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}}},
                      RleCase{"rle8_literal_past_row_end_is_cut",
                              8,
                              {0, 7, 1, 2, 3, 1, 2, 3, 1, 0, 0, 0, 3, 3},
                              {{1, 2, 3, 1, 2}, {3, 3, 3, 0, 0}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}}},
                      RleCase{"rle8_move_past_picture_ends",
                              8,
                              {2, 1, 0, 2, 200, 200, 5, 3, 5, 3},
                              {{1, 1, 0, 0, 0}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}}},
                      RleCase{"rle8_data_ends_inside_literal",
                              8,
                              {5, 1, 0, 0, 0, 5, 2, 3},
                              {{1, 1, 1, 1, 1}, {2, 3, 0, 0, 0}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}}},
                      RleCase{"rle8_more_rows_than_picture",
                              8,
                              {5, 1, 0, 0, 5, 1, 0, 0, 5, 1, 0, 0, 5, 1, 0, 0, 5, 2, 0, 0, 5, 2, 0, 1},
                              {{1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}}},
                      RleCase{"rle4_runs_alternate_nibbles",
                              4,
                              {5, 0x12, 0,    0,                       // row 0: 1 2 1 2 1
                               0, 3,    0x31, 0x20, 0,    0,           // row 1: literal 3 1 2 (two bytes, even)
                               0, 5,    0x12, 0x31, 0x20, 0,           // row 2: literal 1 2 3 1 2 (three bytes + pad)
                               0, 0,    0,    2,    2,    0, 2, 0x33,  // row 3: move right 2, then 3 3
                               0, 1},
                              {{1, 2, 1, 2, 1}, {3, 1, 2, 0, 0}, {1, 2, 3, 1, 2}, {0, 0, 3, 3, 0}}},
                      RleCase{"rle4_run_longer_than_row_is_cut",
                              4,
                              {15, 0x23, 0, 1},
                              {{2, 3, 2, 3, 2}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}}},
                      RleCase{"rle4_data_ends_after_count",
                              4,
                              {4, 0x11, 0, 0, 3},
                              {{1, 1, 1, 1, 0}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}}}),
    [](const ::testing::TestParamInfo<RleCase>& info) { return std::string(info.param.name); });

TEST(BmpReader, UncompressedDataShorterThanPromisedLeavesRowsAtZero)
{
    BmpFile f = indexedFile(8);
    const int64_t stride = 8;
    f.data.resize(size_t(stride));  // only the bottom row
    auto g = viaCodec(bmp_fixture::build(f));
    for (int x = 0; x < kW; ++x) {
        EXPECT_EQ(g->GetPixelIndex(x, kH - 1), int(indexAt(x, kH - 1, 256)));
        EXPECT_EQ(g->GetPixelIndex(x, 0), 0);
    }
    // A data offset past the end reads no pixels at all.
    f = indexedFile(8);
    f.dataOffsetDelta = 100000;
    g = viaCodec(bmp_fixture::build(f));
    EXPECT_EQ(g->GetPixelIndex(1, 1), 0);
}

// --- the second reader

TEST(BmpReader, BitFieldsAnd16And32BitGoToTheSecondReader)
{
    for (int bits : {16, 32}) {
        BmpFile f;
        f.width = kW;
        f.height = kH;
        f.bits = uint16_t(bits);
        std::vector<uint32_t> pixels = rgbPixels();
        if (bits == 16) {
            f.compression = 3;
            f.masks = {0xF800, 0x07E0, 0x001F};
            for (auto& p : pixels)
                p &= 0xF8FCF8;  // what 5-6-5 keeps
        }
        f.data = bmp_fixture::packRows(kW, kH, bits, pixels);
        const std::vector<uint8_t> bytes = bmp_fixture::build(f);
        EXPECT_THROW(viaCodec(bytes), EVeskError) << bits;
        auto g = readPicture<TBitmapGraphic>(bytes);
        EXPECT_EQ(g->ImageFormat(), ifRgb24);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const uint32_t got = g->GetPixelColor(x, y), want = pixels[size_t(y * kW + x)];
                if (bits == 32)
                    EXPECT_EQ(got, want) << x << "," << y;
                else  // the reader may widen 5 and 6 bits by repeating their top bits
                    for (int shift : {0, 8, 16})
                        EXPECT_LE(int((got >> shift) & 0xFF) - int((want >> shift) & 0xFF), 7)
                            << bits << " " << x << "," << y;
            }
    }
}

// --- bit-field masks of any width, and the header kinds that carry them

// One channel of a bit-field layout: `bits` set bits from bit `shift` on.
struct Field {
    int bits, shift;
    uint32_t mask() const { return uint32_t(((uint64_t(1) << bits) - 1) << shift); }
    uint32_t top() const { return uint32_t((uint64_t(1) << bits) - 1); }
};

struct MaskCase {
    const char* name;
    int bits;
    Field red, green, blue;
    Field alpha;  // bits 0: no alpha mask
};

// A channel value as a byte: 5 and 6 bits shifted up as they always were,
// every other width scaled to 0..255 and rounded.
uint8_t expectedByte(uint32_t v, const Field& f)
{
    if (f.bits == 5)
        return uint8_t(v << 3);
    if (f.bits == 6)
        return uint8_t(v << 2);
    return uint8_t(std::lround(double(v) * 255.0 / double(f.top())));
}

// Channel value number `i` of a channel: 0 and the largest value first, then
// values spread over the range.
uint32_t channelValue(const Field& f, int i, int salt)
{
    if (i == 0)
        return 0;
    if (i == 1)
        return f.top();
    return uint32_t((uint64_t(i) * 2654435761u + uint64_t(salt) * 40503u) % (uint64_t(f.top()) + 1));
}

constexpr int kMaskW = 7, kMaskH = 3;

class BmpMasks : public ::testing::TestWithParam<MaskCase> {};

TEST_P(BmpMasks, DecodeEveryHeaderKindBothRowOrders)
{
    const MaskCase& c = GetParam();
    std::vector<uint32_t> raw;
    std::vector<uint32_t> want;
    for (int i = 0; i < kMaskW * kMaskH; ++i) {
        const uint32_t r = channelValue(c.red, i, 1), g = channelValue(c.green, i, 2), b = channelValue(c.blue, i, 3);
        // Alpha bits are set (and must be ignored) wherever the layout has them.
        const uint32_t a = c.alpha.bits ? c.alpha.mask() : 0;
        raw.push_back((r << c.red.shift) | (g << c.green.shift) | (b << c.blue.shift) | a);
        want.push_back(MakeColor(expectedByte(r, c.red), expectedByte(g, c.green), expectedByte(b, c.blue)));
    }
    for (uint32_t headerSize : {40u, 52u, 56u, 108u, 124u})
        for (bool topDown : {false, true}) {
            BmpFile f;
            f.width = kMaskW;
            f.height = topDown ? -kMaskH : kMaskH;
            f.bits = uint16_t(c.bits);
            f.headerSize = headerSize;
            f.compression = 3;
            f.masks = {c.red.mask(), c.green.mask(), c.blue.mask()};
            if (c.alpha.bits && headerSize != 52) {
                f.masks.push_back(c.alpha.mask());
                if (headerSize == 40)
                    f.compression = 6;  // four masks after the header
            }
            f.data = bmp_fixture::packRawRows(kMaskW, kMaskH, c.bits, raw, topDown);
            auto g = readPicture<TBitmapGraphic>(bmp_fixture::build(f));
            ASSERT_EQ(g->ImageFormat(), ifRgb24);
            ASSERT_EQ(g->Width(), kMaskW);
            ASSERT_EQ(g->Height(), kMaskH);
            for (int y = 0; y < kMaskH; ++y)
                for (int x = 0; x < kMaskW; ++x)
                    ASSERT_EQ(g->GetPixelColor(x, y), want[size_t(y * kMaskW + x)])
                        << "header " << headerSize << (topDown ? " top-down " : " ") << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(AnyContiguousMasks, BmpMasks,
                         ::testing::Values(MaskCase{"R2G3B1", 16, {2, 13}, {3, 7}, {1, 2}, {0, 0}},
                                           MaskCase{"R3G10B3", 16, {3, 13}, {10, 3}, {3, 0}, {0, 0}},
                                           MaskCase{"R1G9B2A4", 16, {1, 11}, {9, 2}, {2, 0}, {4, 12}},
                                           MaskCase{"R4G4B4A4", 16, {4, 8}, {4, 4}, {4, 0}, {4, 12}},
                                           MaskCase{"R5G6B5", 16, {5, 11}, {6, 5}, {5, 0}, {0, 0}},
                                           MaskCase{"R5G5B5A1", 16, {5, 10}, {5, 5}, {5, 0}, {1, 15}},
                                           MaskCase{"R7G18B7", 32, {7, 25}, {18, 7}, {7, 0}, {0, 0}},
                                           MaskCase{"R10G10B10A2", 32, {10, 20}, {10, 10}, {10, 0}, {2, 30}},
                                           MaskCase{"R6G17B5A4", 32, {6, 26}, {17, 9}, {5, 4}, {4, 0}},
                                           MaskCase{"R8G12B8A4", 32, {8, 24}, {12, 12}, {8, 4}, {4, 0}},
                                           MaskCase{"B8G8R8A8", 32, {8, 8}, {8, 16}, {8, 24}, {8, 0}}),
                         [](const ::testing::TestParamInfo<MaskCase>& info) { return std::string(info.param.name); });

TEST(BmpReader, MasksThatOverlapOrAreNotContiguousAreRefused)
{
    struct Case {
        const char* name;
        int bits;
        std::vector<uint32_t> masks;  // red, green, blue (, alpha)
    } cases[] = {
        {"red and green overlap", 16, {0xF800, 0x0FE0, 0x001F}},
        {"green has a gap", 16, {0xF800, 0x05E0, 0x001F}},
        {"blue is empty", 16, {0xF800, 0x07E0, 0x0000}},
        {"red beyond 16 bits", 16, {0x1F0000, 0x07E0, 0x001F}},
        {"alpha overlaps blue", 16, {0x7C00, 0x03E0, 0x001F, 0x0018}},
        {"alpha has a gap", 32, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xA0000000}},
        {"blue has a gap", 32, {0xFF000000, 0x00FF0000, 0x0000F0F0}},
        {"all three overlap", 32, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}},
    };
    for (const Case& c : cases)
        for (uint32_t headerSize : {40u, 56u, 124u}) {
            BmpFile f;
            f.width = 2;
            f.height = 2;
            f.bits = uint16_t(c.bits);
            f.headerSize = headerSize;
            f.compression = headerSize == 40 && c.masks.size() == 4 ? 6 : 3;
            f.masks = c.masks;
            f.data = bmp_fixture::packRawRows(2, 2, c.bits, {1, 2, 3, 4});
            EXPECT_EQ(messageOf<EInvalidGraphic>([&] { readPicture<TBitmapGraphic>(bmp_fixture::build(f)); }),
                      "Bitmap image is not valid")
                << c.name << ", header " << headerSize;
        }
}

TEST(BmpReader, UncompressedTrueColourUnderEveryHeaderKindBothRowOrders)
{
    // Without masks 16-bit pixels are 5-5-5 and 32-bit ones 8-8-8 in the low
    // three bytes; 24-bit pixels are blue, green, red.
    for (int bits : {16, 24, 32})
        for (uint32_t headerSize : {40u, 52u, 56u, 108u, 124u})
            for (bool topDown : {false, true}) {
                std::vector<uint32_t> raw;
                std::vector<uint32_t> want;
                for (int i = 0; i < kW * kH; ++i) {
                    const uint32_t r = uint32_t(i * 7 + 3) % 32, g = uint32_t(i * 11 + 1) % 32, b = uint32_t(31 - i);
                    if (bits == 16) {
                        raw.push_back((r << 10) | (g << 5) | b);
                        want.push_back(MakeColor(uint8_t(r << 3), uint8_t(g << 3), uint8_t(b << 3)));
                    } else {
                        const uint32_t rgb = MakeColor(uint8_t(r * 8 + 1), uint8_t(g * 5), uint8_t(b * 7 + 2));
                        raw.push_back(rgb | (bits == 32 ? 0xAB000000u : 0));  // the fourth byte is not read
                        want.push_back(rgb);
                    }
                }
                BmpFile f;
                f.width = kW;
                f.height = topDown ? -kH : kH;
                f.bits = uint16_t(bits);
                f.headerSize = headerSize;
                if (headerSize >= 52)
                    f.masks = {0x1, 0x2, 0x4, 0x8};  // ignored without compression 3
                f.data = bmp_fixture::packRawRows(kW, kH, bits, raw, topDown);
                auto g = readPicture<TBitmapGraphic>(bmp_fixture::build(f));
                ASSERT_EQ(g->ImageFormat(), ifRgb24);
                ASSERT_EQ(g->Height(), kH);
                for (int y = 0; y < kH; ++y)
                    for (int x = 0; x < kW; ++x)
                        ASSERT_EQ(g->GetPixelColor(x, y), want[size_t(y * kW + x)])
                            << bits << " bits, header " << headerSize << (topDown ? " top-down " : " ") << x << ","
                            << y;
            }
}

TEST(BmpReader, BitFieldRowsTheFileDoesNotHoldStayBlack)
{
    BmpFile f;
    f.width = 2;
    f.height = 3;
    f.bits = 32;
    f.compression = 3;
    f.masks = {0xFF0000, 0xFF00, 0xFF};
    f.data = bmp_fixture::packRawRows(2, 3, 32, {0x010203, 0x040506, 0x070809, 0x0A0B0C, 0x0D0E0F, 0x101112});
    f.data.resize(8 + 3);  // the bottom row and part of the next
    auto g = readPicture<TBitmapGraphic>(bmp_fixture::build(f));
    EXPECT_EQ(g->GetPixelColor(0, 2), 0x0D0E0Fu);
    EXPECT_EQ(g->GetPixelColor(1, 2), 0x101112u);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            EXPECT_EQ(g->GetPixelColor(x, y), 0u) << x << "," << y;
}

TEST(BmpReader, TopDownRowsGoToTheSecondReader)
{
    BmpFile f;
    f.width = kW;
    f.height = -kH;
    f.bits = 24;
    // Stored top row first: pack bottom-up, then reverse the row order.
    std::vector<uint8_t> rows = bmp_fixture::packRows(kW, kH, 24, rgbPixels());
    const size_t stride = rows.size() / kH;
    std::vector<uint8_t> topDown;
    for (int r = kH - 1; r >= 0; --r)
        topDown.insert(topDown.end(), rows.begin() + long(r * stride), rows.begin() + long((r + 1) * stride));
    f.data = topDown;
    EXPECT_THROW(viaCodec(bmp_fixture::build(f)), EVeskError);
    auto g = readPicture<TBitmapGraphic>(bmp_fixture::build(f));
    ASSERT_EQ(g->Height(), kH);
    EXPECT_EQ(g->GetPixelColor(0, 0), rgbAt(0, 0));
    EXPECT_EQ(g->GetPixelColor(4, 2), rgbAt(4, 2));
}

TEST(BmpReader, MessagesOfTheSecondReader)
{
    const std::vector<uint8_t> valid = bmp_fixture::build(indexedFile(8));
    // Fewer than 14 bytes.
    EXPECT_EQ(messageOf<EReadError>([&] { readPicture<TBitmapGraphic>({'B', 'M', 1, 2, 3}); }), "Stream read error");
    EXPECT_EQ(messageOf<EReadError>([&] { readPicture<TBitmapGraphic>({}); }), "Stream read error");
    // No "BM".
    std::vector<uint8_t> bytes = valid;
    bytes[0] = 'X';
    EXPECT_EQ(messageOf<EInvalidGraphic>([&] { readPicture<TBitmapGraphic>(bytes); }), "Bitmap image is not valid");
    // Two planes.
    bytes = valid;
    bytes[26] = 2;
    EXPECT_EQ(messageOf<EInvalidGraphic>([&] { readPicture<TBitmapGraphic>(bytes); }), "Bitmap image is not valid");
    // A header neither reader knows.
    bytes = valid;
    bytes[14] = 66;
    EXPECT_EQ(messageOf<EInvalidGraphic>([&] { readPicture<TBitmapGraphic>(bytes); }), "Bitmap image is not valid");
    // A bitmap array read by the codec is fine; the same array cut before its
    // bitmap ends up with the second reader, which wants "BM" at the start.
    BmpFile ba = indexedFile(8);
    ba.bitmapArray = true;
    bytes = bmp_fixture::build(ba);
    bytes.resize(20);
    EXPECT_EQ(messageOf<EInvalidGraphic>([&] { readPicture<TBitmapGraphic>(bytes); }), "Bitmap image is not valid");
    // The file header alone.
    bytes = valid;
    bytes.resize(16);
    EXPECT_EQ(messageOf<EReadError>([&] { readPicture<TBitmapGraphic>(bytes); }), "Stream read error");
}

TEST(BmpReader, PictureTooLargeForMemoryIsRefusedWithAMessage)
{
    for (int bits : {8, 24, 32}) {
        BmpFile f;
        f.width = 60000;
        f.height = 60000;
        f.bits = uint16_t(bits);
        if (bits == 8)
            f.palette = colourPalette(256);
        f.data = {1, 2, 3, 4};
        EXPECT_EQ(messageOf<EOutOfMemory>([&] { readPicture<TBitmapGraphic>(bmp_fixture::build(f)); }),
                  "Image is too large")
            << bits;
    }
    // The largest sizes a header can hold, top-down: no overflow on the way.
    BmpFile f;
    f.width = INT32_MIN;
    f.height = INT32_MIN;
    f.bits = 32;
    f.data = {1, 2, 3, 4};
    EXPECT_EQ(messageOf<EOutOfMemory>([&] { readPicture<TBitmapGraphic>(bmp_fixture::build(f)); }),
              "Image is too large");
}

// --- reader options of the codec

TEST(BmpCodec, OptionsInvAndInvb)
{
    BmpFile f;
    f.width = 8;
    f.height = 1;
    f.bits = 1;
    f.palette = {{255, 0, 0}, {0, 0, 255}};
    f.data = {0xF0, 0, 0, 0};
    const std::vector<uint8_t> bytes = bmp_fixture::build(f);
    struct Case {
        const char* options;
        uint32_t entry0;
        uint8_t firstByte;
    } cases[] = {{"inv", 0xFF0000, 0xF0},         {"", 0x0000FF, 0xF0},
                 {"INVB", 0x0000FF, 0x0F},        {"inv,invb", 0xFF0000, 0x0F},
                 {"x inv\tinvb", 0xFF0000, 0x0F}, {"invert", 0x0000FF, 0xF0}};
    for (const Case& c : cases) {
        auto g = viaCodec(bytes, c.options);
        EXPECT_EQ(paletteColor(*g, 0), c.entry0) << c.options;
        EXPECT_EQ(g->RowPointer(0)[0], c.firstByte) << c.options;
    }
    // "invb" complements every bit of the pixel data, padding included.
    auto g = viaCodec(bytes, "inv invb");
    EXPECT_EQ(g->RowPointer(0)[1], 0xFF);
}

TEST(BmpCodec, CodecTableEntry)
{
    ASSERT_EQ(kVeskCodecs[0], &kBmpCodec);
    EXPECT_STREQ(kBmpCodec.shortName, "Bitmap");
    EXPECT_STREQ(kBmpCodec.description, "OS/2 1.1, 1.2, 2.0 / Windows 3.0 bitmap");
    for (const char* name : {"a.BMP", "a.vga", "a.Bga", "a.rle", "a.dib", "a.rl4", "a.RL8"})
        EXPECT_EQ(vesk_guess_filetype(name), 0) << name;
}

TEST(BmpCodec, RefusesWhatItDoesNotRead)
{
    auto refused = [](BmpFile f) {
        try {
            viaCodec(bmp_fixture::build(f));
        } catch (const EVeskError& e) {
            return e.message();
        }
        return std::string("read");
    };
    BmpFile f = indexedFile(8);
    f.headerSize = 108;
    EXPECT_EQ(refused(f), "vesk_read_header failed.");
    f = indexedFile(8);
    f.headerSize = 18;  // not a multiple of 4
    EXPECT_EQ(refused(f), "vesk_read_header failed.");
    f = indexedFile(8);
    f.width = 0;
    EXPECT_EQ(refused(f), "vesk_read_header failed.");
    f = indexedFile(8);
    f.compression = 2;  // RLE4 on an 8-bit picture
    EXPECT_EQ(refused(f), "vesk_read_header failed.");
    f = indexedFile(4);
    f.bits = 2;
    EXPECT_EQ(refused(f), "vesk_read_header failed.");
    // A header cut short.
    std::vector<uint8_t> bytes = bmp_fixture::build(indexedFile(8));
    bytes.resize(40);
    EXPECT_THROW(viaCodec(bytes), EVeskError);
    // A palette cut short.
    bytes = bmp_fixture::build(indexedFile(8));
    bytes.resize(14 + 40 + 100);
    EXPECT_THROW(viaCodec(bytes), EVeskError);
}

TEST(BmpCodec, WriterRoundTrip)
{
    for (int bits : {1, 4, 8, 24}) {
        BmpFile f = bits == 24 ? BmpFile{} : indexedFile(bits);
        if (bits == 24) {
            f.width = kW;
            f.height = kH;
            f.bits = 24;
            f.data = bmp_fixture::packRows(kW, kH, 24, rgbPixels());
        }
        auto original = readPicture<TBitmapGraphic>(bmp_fixture::build(f));
        TMemoryStream out;
        original->WriteToStream(out);
        auto again = readPicture<TBitmapGraphic>(out.bytes());
        EXPECT_EQ(again->ImageFormat(), original->ImageFormat()) << bits;
        EXPECT_EQ(std::vector<uint8_t>(again->Bits(), again->Bits() + kH * again->RowStride()),
                  std::vector<uint8_t>(original->Bits(), original->Bits() + kH * original->RowStride()))
            << bits;
        if (bits != 24) {
            EXPECT_EQ(std::memcmp(&again->Palette(), &original->Palette(), sizeof(TLogicalPalette)), 0) << bits;
        }
    }
}

}  // namespace
