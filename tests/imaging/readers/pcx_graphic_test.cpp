// SPDX-License-Identifier: GPL-2.0-or-later
// TPcxGraphic and the PCX codec: every bits/planes combination, versions,
// runs across line ends (and the "trunc" option), data that ends early,
// odd bytes-per-line values, short headers and the messages.
#include "imaging/codec/vesk.h"
#include "imaging/readers/pcx_graphic.h"
#include "support/pcx_builder.h"
#include "tests/imaging/readers/reader_test_util.h"

#include <gtest/gtest.h>

namespace {

using pcx_fixture::PcxFile;
using reader_test::messageOf;
using reader_test::paletteColor;
using reader_test::readPicture;

constexpr int kW = 5, kH = 3;

uint32_t indexAt(int x, int y, int colours)
{
    return uint32_t((x + 2 * y) % colours);
}
uint32_t rgbAt(int x, int y)
{
    return MakeColor(uint8_t(50 * x), uint8_t(200 - 60 * y), uint8_t(x * y * 9 + 1));
}

std::vector<uint32_t> pixels(bool rgb, int colours)
{
    std::vector<uint32_t> p;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            p.push_back(rgb ? rgbAt(x, y) : indexAt(x, y, colours));
    return p;
}

std::array<uint8_t, 48> headerPalette()
{
    std::array<uint8_t, 48> p{};
    for (int i = 0; i < 16; ++i) {
        p[size_t(i * 3)] = uint8_t(i * 16);
        p[size_t(i * 3 + 1)] = uint8_t(255 - i);
        p[size_t(i * 3 + 2)] = uint8_t(i * 3);
    }
    return p;
}

PcxFile pictureFile(int bitsPerPlane, int planes, uint16_t bytesPerLine = 0)
{
    PcxFile f;
    f.bitsPerPlane = uint8_t(bitsPerPlane);
    f.planes = uint8_t(planes);
    f.xMin = 10;
    f.yMin = 20;
    f.xMax = 10 + kW - 1;
    f.yMax = 20 + kH - 1;
    f.palette16 = headerPalette();
    f.bytesPerLine = bytesPerLine;
    const bool rgb = bitsPerPlane == 8 && planes == 3;
    const int colours = rgb ? 0 : 1 << (bitsPerPlane * planes);
    f.lines = pcx_fixture::linesFor(kW, kH, bitsPerPlane, planes, pcx_fixture::effectiveBytesPerLine(f),
                                    pixels(rgb, colours));
    if (bitsPerPlane == 8 && planes == 1) {
        f.withTrailer = true;
        for (int i = 0; i < 768; ++i)
            f.palette256[size_t(i)] = uint8_t(i * 7);
    }
    return f;
}

std::unique_ptr<TDibGraphic> viaCodec(const std::vector<uint8_t>& bytes, const std::string& options = "")
{
    TMemoryStream stream(bytes);
    auto g = std::make_unique<TDibGraphic>();
    ReadBitmapViaCodec(stream, *g, "File.pcx", options);
    return g;
}

struct ComboCase {
    int bitsPerPlane, planes;
    TImageFormat format;
};

class PcxCombination : public ::testing::TestWithParam<ComboCase> {};

TEST_P(PcxCombination, ReadsPixelsPaletteFormatAndResolution)
{
    const ComboCase c = GetParam();
    const PcxFile f = pictureFile(c.bitsPerPlane, c.planes);
    auto g = readPicture<TPcxGraphic>(pcx_fixture::build(f));
    ASSERT_EQ(g->Width(), kW);
    ASSERT_EQ(g->Height(), kH);
    EXPECT_EQ(g->ImageFormat(), c.format);
    EXPECT_EQ(g->ResolutionX(), 150);
    EXPECT_EQ(g->ResolutionY(), 75);
    if (c.format == ifRgb24) {
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                EXPECT_EQ(g->GetPixelColor(x, y), rgbAt(x, y)) << x << "," << y;
        return;
    }
    const int colours = 1 << (c.bitsPerPlane * c.planes);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            EXPECT_EQ(g->GetPixelIndex(x, y), int(indexAt(x, y, colours))) << x << "," << y;
    ASSERT_EQ(g->Palette().EntryCount, colours);
    switch (colours) {
    case 2:  // black and white whatever the header says
        EXPECT_EQ(paletteColor(*g, 0), 0u);
        EXPECT_EQ(paletteColor(*g, 1), 0xFFFFFFu);
        break;
    case 16:
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(paletteColor(*g, i), MakeColor(f.palette16[size_t(i * 3)], f.palette16[size_t(i * 3 + 1)],
                                                     f.palette16[size_t(i * 3 + 2)]));
        break;
    default:
        for (int i : {0, 1, 100, 255})
            EXPECT_EQ(paletteColor(*g, i), MakeColor(f.palette256[size_t(i * 3)], f.palette256[size_t(i * 3 + 1)],
                                                     f.palette256[size_t(i * 3 + 2)]));
    }
}

INSTANTIATE_TEST_SUITE_P(AllCombinations, PcxCombination,
                         ::testing::Values(ComboCase{1, 1, ifMonochrome}, ComboCase{1, 4, ifColor16},
                                           ComboCase{4, 1, ifColor16}, ComboCase{8, 1, ifColor256},
                                           ComboCase{8, 3, ifRgb24}));

TEST(PcxReader, VersionsManufacturerEncodingAndCombinations)
{
    struct Case {
        const char* what;
        uint8_t manufacturer, version, encoding, bitsPerPlane, planes;
        bool reads;
    } cases[] = {
        {"version 0", 10, 0, 1, 4, 1, true},   {"version 1", 10, 1, 1, 4, 1, true},
        {"version 2", 10, 2, 1, 4, 1, true},   {"version 3", 10, 3, 1, 4, 1, true},
        {"version 5", 10, 5, 1, 4, 1, true},   {"version 4", 10, 4, 1, 4, 1, false},
        {"version 6", 10, 6, 1, 4, 1, false},  {"manufacturer 11", 11, 5, 1, 4, 1, false},
        {"encoding 0", 10, 5, 0, 4, 1, false}, {"2 bits x 1", 10, 5, 1, 2, 1, false},
        {"8 bits x 4", 10, 5, 1, 8, 4, false}, {"1 bit x 3", 10, 5, 1, 1, 3, false},
        {"4 bits x 4", 10, 5, 1, 4, 4, false},
    };
    for (const Case& c : cases) {
        PcxFile f = pictureFile(4, 1);
        f.manufacturer = c.manufacturer;
        f.version = c.version;
        f.encoding = c.encoding;
        f.bitsPerPlane = c.bitsPerPlane;
        f.planes = c.planes;
        const std::vector<uint8_t> bytes = pcx_fixture::build(f);
        if (c.reads)
            EXPECT_EQ(readPicture<TPcxGraphic>(bytes)->ImageFormat(), ifColor16) << c.what;
        else
            EXPECT_EQ(messageOf<EVeskError>([&] { readPicture<TPcxGraphic>(bytes); }), "vesk_read_header failed.")
                << c.what;
    }
}

TEST(PcxReader, SizeFromUnsignedBounds)
{
    PcxFile f = pictureFile(8, 3);
    f.xMin = 0xFFFF;  // max before min
    f.xMax = 0;
    EXPECT_EQ(messageOf<EVeskError>([&] { readPicture<TPcxGraphic>(pcx_fixture::build(f)); }),
              "vesk_read_header failed.");
    // Both bounds above 32767 still make a valid size.
    f = pictureFile(8, 3);
    f.xMin = 40000;
    f.xMax = 40000 + kW - 1;
    EXPECT_EQ(readPicture<TPcxGraphic>(pcx_fixture::build(f))->Width(), kW);
}

TEST(PcxReader, EightBitWithoutTrailerFails)
{
    PcxFile f = pictureFile(8, 1);
    f.trailerMark = 13;
    EXPECT_EQ(messageOf<EVeskError>([&] { readPicture<TPcxGraphic>(pcx_fixture::build(f)); }),
              "vesk_read_header failed.");
    f = pictureFile(8, 1);
    f.withTrailer = false;
    f.lines.resize(8);  // a file shorter than a trailer
    EXPECT_EQ(messageOf<EVeskError>([&] { readPicture<TPcxGraphic>(pcx_fixture::build(f)); }),
              "vesk_read_header failed.");
}

TEST(PcxReader, RunsContinueOnTheNextLineUnlessTruncated)
{
    // 8 bits x 3 planes, 2 x 2 pixels, bytes per line 2: one run of 5 bytes of
    // 10 starts the red line of row 0 and spills over into green and blue.
    PcxFile f;
    f.bitsPerPlane = 8;
    f.planes = 3;
    f.xMax = 1;
    f.yMax = 1;
    f.bytesPerLine = 2;
    f.rawData = {0xC5, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130};
    const std::vector<uint8_t> bytes = pcx_fixture::build(f);

    auto spilled = viaCodec(bytes);
    // Row 0: red 10 10, green 10 10, blue 10 20; row 1: red 30 40, green 50 60, blue 70 80.
    EXPECT_EQ(spilled->GetPixelColor(0, 0), MakeColor(10, 10, 10));
    EXPECT_EQ(spilled->GetPixelColor(1, 0), MakeColor(10, 10, 20));
    EXPECT_EQ(spilled->GetPixelColor(0, 1), MakeColor(30, 50, 70));
    EXPECT_EQ(spilled->GetPixelColor(1, 1), MakeColor(40, 60, 80));

    auto cut = viaCodec(bytes, "trunc");
    // Row 0: red 10 10, green 20 30, blue 40 50; row 1: red 60 70, green 80 90, blue 100 110.
    EXPECT_EQ(cut->GetPixelColor(0, 0), MakeColor(10, 20, 40));
    EXPECT_EQ(cut->GetPixelColor(1, 0), MakeColor(10, 30, 50));
    EXPECT_EQ(cut->GetPixelColor(0, 1), MakeColor(60, 80, 100));
    EXPECT_EQ(cut->GetPixelColor(1, 1), MakeColor(70, 90, 110));
}

TEST(PcxReader, DataEndingEarlyReadsAs255)
{
    PcxFile f;
    f.bitsPerPlane = 8;
    f.planes = 3;
    f.xMax = 2;
    f.yMax = 1;
    f.bytesPerLine = 4;
    f.rawData = {1, 2, 3, 4, 5, 0xC3};  // a run whose value byte is missing
    auto g = readPicture<TPcxGraphic>(pcx_fixture::build(f));
    EXPECT_EQ(g->GetPixelColor(0, 0), MakeColor(1, 5, 255));
    EXPECT_EQ(g->GetPixelColor(1, 0), MakeColor(2, 255, 255));
    EXPECT_EQ(g->GetPixelColor(2, 1), 0xFFFFFFu);
    // No data at all: a white picture.
    f.rawData.clear();
    g = readPicture<TPcxGraphic>(pcx_fixture::build(f));
    EXPECT_EQ(g->GetPixelColor(0, 0), 0xFFFFFFu);
    EXPECT_EQ(g->GetPixelColor(2, 1), 0xFFFFFFu);
}

TEST(PcxReader, BytesPerLineBeyondOrShortOfTheRow)
{
    // Longer lines than the picture needs: the extra bytes are dropped and
    // the lines stay in step.
    for (auto [bits, planes] : {std::pair{1, 1}, {1, 4}, {4, 1}, {8, 1}, {8, 3}}) {
        const PcxFile f = pictureFile(bits, planes, 40);
        const auto wide = readPicture<TPcxGraphic>(pcx_fixture::build(f));
        const auto normal = readPicture<TPcxGraphic>(pcx_fixture::build(pictureFile(bits, planes)));
        EXPECT_EQ(std::vector<uint8_t>(wide->Bits(), wide->Bits() + kH * wide->RowStride()),
                  std::vector<uint8_t>(normal->Bits(), normal->Bits() + kH * normal->RowStride()))
            << bits << "x" << planes;
    }
    // Lines shorter than the row: the rest of each row stays 0.
    PcxFile f;
    f.bitsPerPlane = 8;
    f.planes = 1;
    f.xMax = 3;
    f.yMax = 1;
    f.bytesPerLine = 1;
    f.rawData = {7, 9};
    f.withTrailer = true;
    auto g = readPicture<TPcxGraphic>(pcx_fixture::build(f));
    EXPECT_EQ(g->GetPixelIndex(0, 0), 7);
    EXPECT_EQ(g->GetPixelIndex(0, 1), 9);
    EXPECT_EQ(g->GetPixelIndex(1, 0), 0);
    EXPECT_EQ(g->GetPixelIndex(3, 1), 0);
    // No bytes per line at all.
    f.bytesPerLine = 0;
    f.lines.clear();
    f.rawData = {7, 9};
    std::vector<uint8_t> bytes = pcx_fixture::build(f);
    bytes[66] = 0;
    bytes[67] = 0;
    g = readPicture<TPcxGraphic>(bytes);
    EXPECT_EQ(g->GetPixelIndex(0, 0), 0);
}

TEST(PcxReader, ShortFilesAndMessages)
{
    const std::vector<uint8_t> full = pcx_fixture::build(pictureFile(4, 1));
    auto cut = [&](size_t n) { return std::vector<uint8_t>(full.begin(), full.begin() + long(n)); };
    // Not even the resolution words.
    EXPECT_EQ(messageOf<EReadError>([&] { readPicture<TPcxGraphic>(cut(15)); }), "Stream read error");
    // A header cut before its 70th byte.
    EXPECT_EQ(messageOf<EVeskError>([&] { readPicture<TPcxGraphic>(cut(69)); }), "vesk_read_header failed.");
    // A full header part but fewer than 128 bytes: decoded, then refused.
    EXPECT_EQ(messageOf<EReadError>([&] { readPicture<TPcxGraphic>(cut(100)); }), "Stream read error");
    // The header alone reads (a white picture of 255 indices).
    auto g = readPicture<TPcxGraphic>(cut(128));
    EXPECT_EQ(g->GetPixelIndex(4, 2), 15);
}

TEST(PcxReader, ReadsFromTheStreamPosition)
{
    std::vector<uint8_t> bytes(33, 0xAB);
    const std::vector<uint8_t> pcx = pcx_fixture::build(pictureFile(8, 1));
    bytes.insert(bytes.end(), pcx.begin(), pcx.end());
    TMemoryStream stream(bytes);
    stream.Seek(33, SeekOrigin::Begin);
    TPcxGraphic g;
    g.ReadFromStream(stream);
    EXPECT_EQ(g.GetPixelIndex(4, 2), int(indexAt(4, 2, 256)));
    EXPECT_EQ(g.ResolutionY(), 75);
}

TEST(PcxReader, PictureTooLargeForMemoryIsRefusedWithAMessage)
{
    PcxFile f;
    f.bitsPerPlane = 8;
    f.planes = 3;
    f.xMax = 0xFFFF;
    f.yMax = 0xFFFF;
    f.rawData = {1};
    EXPECT_EQ(messageOf<EOutOfMemory>([&] { readPicture<TPcxGraphic>(pcx_fixture::build(f)); }), "Image is too large");
}

TEST(PcxCodec, CodecTableEntryAndWriterRoundTrip)
{
    ASSERT_EQ(kVeskCodecs[1], &kPcxCodec);
    EXPECT_STREQ(kPcxCodec.shortName, "PCX");
    EXPECT_STREQ(kPcxCodec.description, "ZSoft PC Paintbrush Image format");
    EXPECT_EQ(vesk_guess_filetype("x.pcc"), 1);
    EXPECT_EQ(vesk_guess_filetype("x.PCX"), 1);
    for (auto [bits, planes] : {std::pair{1, 1}, {4, 1}, {1, 4}, {8, 1}, {8, 3}}) {
        auto original = readPicture<TPcxGraphic>(pcx_fixture::build(pictureFile(bits, planes)));
        TMemoryStream out;
        original->WriteToStream(out);
        auto again = readPicture<TPcxGraphic>(out.bytes());
        EXPECT_EQ(again->ImageFormat(), original->ImageFormat());
        EXPECT_EQ(std::vector<uint8_t>(again->Bits(), again->Bits() + kH * again->RowStride()),
                  std::vector<uint8_t>(original->Bits(), original->Bits() + kH * original->RowStride()))
            << bits << "x" << planes;
        if (original->ImageFormat() != ifMonochrome && original->ImageFormat() != ifRgb24) {
            EXPECT_EQ(paletteColor(*again, 5), paletteColor(*original, 5));
        }
    }
}

}  // namespace
