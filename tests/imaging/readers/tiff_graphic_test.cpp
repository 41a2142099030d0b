// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/readers/tiff_graphic.h"
#include "imaging/transforms.h"

#include "platform/environment.h"
#include "platform/streams.h"
#include "support/tiff_builder.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace tiff_fixture;

namespace {

std::unique_ptr<TTiffGraphic> decode(const std::vector<uint8_t>& bytes, int index = 1)
{
    auto picture = std::make_unique<TTiffGraphic>();
    TMemoryStream stream(bytes);
    picture->ReadImage(stream, index);
    return picture;
}

template <typename E>
std::string failureOf(const std::vector<uint8_t>& bytes, int index = 1)
{
    try {
        decode(bytes, index);
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("wrong class: ") + e.what();
    }
    return "no failure";
}

class ScreenDpi {
public:
    explicit ScreenDpi(int dpi) { setScreenDpi(dpi, dpi); }
    ~ScreenDpi() { setScreenDpi(96, 96); }
};

using SampleFn = std::function<int(uint32_t x, uint32_t y, int channel)>;

// Packs samples into the rows the writer expects (most significant bits
// first below 8 bits, machine-order 16-bit samples).
std::vector<uint8_t> pack(const TiffPage& page, const SampleFn& sample)
{
    const size_t row = rowBytes(page);
    const int planes = page.planar == PLANARCONFIG_SEPARATE ? page.samplesPerPixel : 1;
    const int perPixel = page.planar == PLANARCONFIG_SEPARATE ? 1 : page.samplesPerPixel;
    std::vector<uint8_t> out(row * page.height * size_t(planes), 0);
    for (int plane = 0; plane < planes; ++plane)
        for (uint32_t y = 0; y < page.height; ++y) {
            uint8_t* dst = &out[(size_t(plane) * page.height + y) * row];
            for (uint32_t x = 0; x < page.width; ++x)
                for (int c = 0; c < perPixel; ++c) {
                    const int v = sample(x, y, plane + c);
                    const size_t i = size_t(x) * size_t(perPixel) + size_t(c);
                    if (page.bitsPerSample == 16) {
                        const uint16_t s = uint16_t(v);
                        std::memcpy(dst + i * 2, &s, 2);
                    } else if (page.bitsPerSample == 8) {
                        dst[i] = uint8_t(v);
                    } else {
                        const size_t bit = i * page.bitsPerSample;
                        dst[bit / 8] |=
                            uint8_t((v & ((1 << page.bitsPerSample) - 1)) << (8 - page.bitsPerSample - bit % 8));
                    }
                }
        }
    return out;
}

TiffPage page(uint32_t width, uint32_t height, uint16_t bits, uint16_t samples, uint16_t photometric)
{
    TiffPage p;
    p.width = width;
    p.height = height;
    p.bitsPerSample = bits;
    p.samplesPerPixel = samples;
    p.photometric = photometric;
    return p;
}

// Smooth content, so that JPEG-compressed pages stay close to it.
int smoothSample(uint32_t x, uint32_t y, int channel)
{
    switch (channel) {
    case 0: return int(x * 10 + y * 5);
    case 1: return int(y * 25 + 10);
    case 2: return int(200 - x * 6);
    default: return 255;  // alpha
    }
}

uint32_t rgbOf(int r, int g, int b)
{
    return MakeColor(uint8_t(r), uint8_t(g), uint8_t(b));
}

void expectColours(const TTiffGraphic& picture, const std::function<uint32_t(uint32_t, uint32_t)>& want, int tolerance)
{
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) {
            const uint32_t got = picture.GetPixelColor(x, y);
            const uint32_t w = want(uint32_t(x), uint32_t(y));
            for (int shift : {16, 8, 0})
                ASSERT_LE(std::abs(int((got >> shift) & 255) - int((w >> shift) & 255)), tolerance)
                    << "pixel " << x << "," << y;
        }
}

// ---------------------------------------------------------------------------
// Compressions and layouts of grey and colour pages.

struct LayoutCase {
    const char* name;
    uint16_t bits, samples, photometric, compression, planar;
    uint32_t rowsPerStrip, tile;
    TImageFormat format;
    int tolerance;
};

class TiffLayouts : public testing::TestWithParam<LayoutCase> {};

TEST_P(TiffLayouts, DecodeToTheSamePicture)
{
    const LayoutCase c = GetParam();
    TiffPage p = page(17, 9, c.bits, c.samples, c.photometric);
    p.compression = c.compression;
    p.planar = c.planar;
    p.rowsPerStrip = c.rowsPerStrip;
    p.tileWidth = p.tileLength = c.tile;
    if (c.samples == 4)
        p.extraSamples = 1;
    const bool wide = c.bits == 16;
    p.pixels = pack(p, [&](uint32_t x, uint32_t y, int ch) { return smoothSample(x, y, ch) * (wide ? 257 : 1); });

    auto picture = decode(writeTiff({p}));
    ASSERT_EQ(picture->ImageFormat(), c.format);
    ASSERT_EQ(picture->Width(), 17);
    ASSERT_EQ(picture->Height(), 9);
    const bool grey = c.samples == 1;
    expectColours(
        *picture,
        [&](uint32_t x, uint32_t y) {
            const int g = smoothSample(x, y, 0);
            return grey ? rgbOf(g, g, g) : rgbOf(g, smoothSample(x, y, 1), smoothSample(x, y, 2));
        },
        c.tolerance);
}

const LayoutCase kLayouts[] = {
    {"GreyNoneStrips", 8, 1, 1, COMPRESSION_NONE, 1, 4, 0, ifGrayscale256, 0},
    {"GreyPackBits", 8, 1, 1, COMPRESSION_PACKBITS, 1, 4, 0, ifGrayscale256, 0},
    {"GreyDeflate", 8, 1, 1, COMPRESSION_DEFLATE, 1, 2, 0, ifGrayscale256, 0},
    {"GreyTiled", 8, 1, 1, COMPRESSION_NONE, 1, 0, 16, ifGrayscale256, 0},
    {"GreyJpeg", 8, 1, 1, COMPRESSION_JPEG, 1, 0, 0, ifGrayscale256, 4},
    {"Grey16Bit", 16, 1, 1, COMPRESSION_NONE, 1, 4, 0, ifRgb24, 0},
    {"RgbNoneStrips", 8, 3, 2, COMPRESSION_NONE, 1, 4, 0, ifRgb24, 0},
    {"RgbPackBits", 8, 3, 2, COMPRESSION_PACKBITS, 1, 0, 0, ifRgb24, 0},
    {"RgbDeflate", 8, 3, 2, COMPRESSION_DEFLATE, 1, 3, 0, ifRgb24, 0},
    {"RgbTiled", 8, 3, 2, COMPRESSION_NONE, 1, 0, 16, ifRgb24, 0},
    {"RgbDeflateTiled", 8, 3, 2, COMPRESSION_DEFLATE, 1, 0, 16, ifRgb24, 0},
    {"RgbSeparatePlanes", 8, 3, 2, COMPRESSION_NONE, 2, 4, 0, ifRgb24, 0},
    {"RgbJpeg", 8, 3, 2, COMPRESSION_JPEG, 1, 0, 0, ifRgb24, 6},
    {"YCbCrJpeg", 8, 3, 6, COMPRESSION_JPEG, 1, 0, 0, ifRgb24, 14},  // chroma is subsampled
    {"RgbaStrips", 8, 4, 2, COMPRESSION_NONE, 1, 5, 0, ifRgb24, 0},
    {"RgbaTiled", 8, 4, 2, COMPRESSION_DEFLATE, 1, 0, 16, ifRgb24, 0},
    {"Rgb16Bit", 16, 3, 2, COMPRESSION_DEFLATE, 1, 4, 0, ifRgb24, 0},
};

INSTANTIATE_TEST_SUITE_P(All, TiffLayouts, testing::ValuesIn(kLayouts),
                         [](const testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Palette pages of every depth; 1- and 2-bit ones are widened to 4 bits.

TEST(TiffGraphic, PalettePagesKeepIndicesAndColourMap)
{
    struct Case {
        uint16_t bits;
        bool sixteenBitMap;
        uint32_t tile;
        TImageFormat format;
    } cases[] = {
        {1, true, 0, ifColor16},   {2, true, 0, ifColor16},  {4, true, 0, ifColor16},
        {8, false, 0, ifColor256}, {8, true, 0, ifColor256}, {8, true, 16, ifColor256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, tile " + std::to_string(c.tile));
        const int count = 1 << c.bits;
        TiffPage p = page(17, 9, c.bits, 1, PHOTOMETRIC_PALETTE);
        p.rowsPerStrip = 4;
        p.tileWidth = p.tileLength = c.tile;
        for (int i = 0; i < count; ++i) {
            // Distinct colours, so that the whole-image path finds each entry again.
            const int r = i, g = 255 - i, b = (i * 7) & 255;
            const int scale = c.sixteenBitMap ? 257 : 1;
            p.red.push_back(uint16_t(r * scale + (c.sixteenBitMap ? 100 : 0) * (i == 0)));
            p.green.push_back(uint16_t(g * scale));
            p.blue.push_back(uint16_t(b * scale));
        }
        auto indexAt = [count](uint32_t x, uint32_t y) { return int((x * 3 + y * 5) % uint32_t(count)); };
        p.pixels = pack(p, [&](uint32_t x, uint32_t y, int) { return indexAt(x, y); });

        auto picture = decode(writeTiff({p}));
        ASSERT_EQ(picture->ImageFormat(), c.format);
        const TLogicalPalette& pal = picture->Palette();
        ASSERT_EQ(pal.EntryCount, count);
        for (int i = 0; i < count; ++i) {
            const auto level = [&](uint16_t v) { return c.sixteenBitMap ? int(uint32_t(v) * 255 / 65535) : int(v); };
            EXPECT_EQ(pal.Entries[i].peRed, level(p.red[size_t(i)]));
            EXPECT_EQ(pal.Entries[i].peGreen, level(p.green[size_t(i)]));
            EXPECT_EQ(pal.Entries[i].peBlue, level(p.blue[size_t(i)]));
        }
        for (uint32_t y = 0; y < 9; ++y)
            for (uint32_t x = 0; x < 17; ++x)
                ASSERT_EQ(picture->GetPixelIndex(int(x), int(y)), indexAt(x, y)) << x << "," << y;
    }
}

// ---------------------------------------------------------------------------
// White is zero and black is zero, copied sample for sample and through
// libtiff's RGBA reading: both show white as white.

TEST(TiffGraphic, GreyPagesShowTheRightWayRound)
{
    struct Case {
        uint16_t bits;
        bool wholeImage;  // separate planes send even 1- and 4-bit pages through RGBA reading
        TImageFormat format;
    } cases[] = {
        {1, false, ifMonochrome}, {1, true, ifMonochrome},    {4, false, ifGrayscale16},
        {4, true, ifGrayscale16}, {8, false, ifGrayscale256}, {8, true, ifGrayscale256},
    };
    for (const Case& c : cases)
        for (uint16_t photometric : {PHOTOMETRIC_MINISWHITE, PHOTOMETRIC_MINISBLACK}) {
            SCOPED_TRACE(std::to_string(c.bits) + " bits, photometric " + std::to_string(photometric)
                         + (c.wholeImage ? ", whole image" : ", strips"));
            const int maxValue = (1 << c.bits) - 1;
            TiffPage p = page(17, 9, c.bits, 1, photometric);
            p.rowsPerStrip = 4;
            if (c.wholeImage)
                p.planar = PLANARCONFIG_SEPARATE;
            auto valueAt = [maxValue](uint32_t x, uint32_t y) { return int((x + y * 3) % uint32_t(maxValue + 1)); };
            p.pixels = pack(p, [&](uint32_t x, uint32_t y, int) { return valueAt(x, y); });
            auto picture = decode(writeTiff({p}));
            ASSERT_EQ(picture->ImageFormat(), c.format);
            expectColours(
                *picture,
                [&](uint32_t x, uint32_t y) {
                    int level = valueAt(x, y) * 255 / maxValue;
                    if (photometric == PHOTOMETRIC_MINISWHITE)
                        level = 255 - level;
                    return rgbOf(level, level, level);
                },
                0);
        }
}

TEST(TiffGraphic, WhiteIsZeroPagesAreTheNegativeOfBlackIsZeroOnes)
{
    for (uint16_t bits : {1, 4, 8}) {
        TiffPage p = page(17, 9, bits, 1, PHOTOMETRIC_MINISBLACK);
        p.rowsPerStrip = 4;
        p.pixels = pack(p, [bits](uint32_t x, uint32_t y, int) { return int((x * 7 + y) % (1u << bits)); });
        auto blackIsZero = decode(writeTiff({p}));
        p.photometric = PHOTOMETRIC_MINISWHITE;
        auto whiteIsZero = decode(writeTiff({p}));
        TNegativeTransform().ApplyInPlace(*blackIsZero);
        ASSERT_EQ(whiteIsZero->ImageFormat(), blackIsZero->ImageFormat());
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 17; ++x)
                ASSERT_EQ(whiteIsZero->GetPixelIndex(x, y), blackIsZero->GetPixelIndex(x, y))
                    << bits << ": " << x << "," << y;
    }
}

// ---------------------------------------------------------------------------
// Bilevel fax pages: black ink on white, whatever the photometric tag says.

std::vector<uint8_t> faxPage(uint16_t compression, uint32_t t4Options, uint16_t photometric, uint32_t rowsPerStrip,
                             std::function<bool(uint32_t, uint32_t)>* inkOut = nullptr)
{
    static std::function<bool(uint32_t, uint32_t)> ink = [](uint32_t x, uint32_t y) {
        return ((x / 3 + y) % 2) == 0 || x == y;
    };
    if (inkOut)
        *inkOut = ink;
    TiffPage p = page(23, 11, 1, 1, photometric);
    p.compression = compression;
    p.t4Options = t4Options;
    p.rowsPerStrip = rowsPerStrip;
    // The fax codecs store ink as set bits.
    p.pixels = pack(p, [&](uint32_t x, uint32_t y, int) { return ink(x, y) ? 1 : 0; });
    return writeTiff({p});
}

TEST(TiffGraphic, FaxPagesShowBlackInkOnWhite)
{
    struct Case {
        uint16_t compression;
        uint32_t t4;
    } cases[] = {{COMPRESSION_CCITTFAX3, 0}, {COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING}, {COMPRESSION_CCITTFAX4, 0}};
    for (const Case& c : cases)
        for (uint16_t photometric : {PHOTOMETRIC_MINISWHITE, PHOTOMETRIC_MINISBLACK}) {
            SCOPED_TRACE(std::to_string(c.compression) + "/" + std::to_string(c.t4) + " photometric "
                         + std::to_string(photometric));
            std::function<bool(uint32_t, uint32_t)> ink;
            auto picture = decode(faxPage(c.compression, c.t4, photometric, 0, &ink));
            ASSERT_EQ(picture->ImageFormat(), ifMonochrome);
            expectColours(
                *picture, [&](uint32_t x, uint32_t y) { return ink(x, y) ? 0u : 0xFFFFFFu; }, 0);
        }
}

TEST(TiffGraphic, UnreadableFaxRowStaysAsNewImageMadeIt)
{
    std::function<bool(uint32_t, uint32_t)> ink;
    std::vector<uint8_t> bytes = faxPage(COMPRESSION_CCITTFAX4, 0, PHOTOMETRIC_MINISWHITE, 1, &ink);
    // Row 4 is a strip of its own; fill it with codes no fax decoder accepts.
    const uint32_t offset = stripOffset(bytes, 4);
    const uint32_t count = stripByteCount(bytes, 4);
    for (uint32_t i = 0; i < count; ++i)
        bytes[offset + i] = 0x00;
    auto picture = decode(bytes);
    const uint8_t* row = picture->RowPointer(4);
    for (int i = 0; i < picture->RowStride(); ++i)
        ASSERT_EQ(row[i], 0) << "byte " << i;
    for (uint32_t y : {0u, 3u, 5u, 10u})
        for (uint32_t x = 0; x < 23; ++x)
            ASSERT_EQ(picture->GetPixelColor(int(x), int(y)), ink(x, y) ? 0u : 0xFFFFFFu) << x << "," << y;
}

// ---------------------------------------------------------------------------
// Strip geometry, orientation, bands.

TEST(TiffGraphic, MissingRowsPerStripUsesLibtiffsSingleStrip)
{
    TiffPage p = page(7, 40, 8, 1, PHOTOMETRIC_MINISBLACK);
    p.pixels = pack(p, [](uint32_t x, uint32_t y, int) { return int(y * 6 + x); });
    std::vector<uint8_t> bytes = writeTiff({p});
    renameTag(bytes, TIFFTAG_ROWSPERSTRIP, 65000);
    auto picture = decode(bytes);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 7; ++x)
            ASSERT_EQ(picture->GetPixelIndex(x, y), y * 6 + x) << x << "," << y;
}

TEST(TiffGraphic, BottomUpTiledPageIsTurnedRound)
{
    TiffPage p = page(17, 9, 8, 3, PHOTOMETRIC_RGB);
    p.tileWidth = p.tileLength = 16;
    p.orientation = ORIENTATION_BOTLEFT;
    p.pixels = pack(p, smoothSample);
    auto picture = decode(writeTiff({p}));
    expectColours(
        *picture,
        [](uint32_t x, uint32_t y) {
            const uint32_t fy = 8 - y;
            return rgbOf(smoothSample(x, fy, 0), smoothSample(x, fy, 1), smoothSample(x, fy, 2));
        },
        0);
}

TEST(TiffGraphic, LargeTiledPageIsDecodedInBands)
{
    // Wide enough that the RGBA raster is filled in more than one band.
    TiffPage p = page(2100, 1100, 8, 3, PHOTOMETRIC_RGB);
    p.tileWidth = p.tileLength = 64;
    p.compression = COMPRESSION_DEFLATE;
    auto sample = [](uint32_t x, uint32_t y, int c) { return int((x * 3 + y * 7 + uint32_t(c) * 50) & 255); };
    p.pixels = pack(p, sample);
    std::vector<uint8_t> bytes = writeTiff({p});
    auto picture = decode(bytes);
    for (uint32_t y : {0u, 1u, 1007u, 1008u, 1023u, 1024u, 1099u})
        for (uint32_t x : {0u, 1u, 1000u, 2047u, 2048u, 2099u})
            ASSERT_EQ(picture->GetPixelColor(int(x), int(y)), rgbOf(sample(x, y, 0), sample(x, y, 1), sample(x, y, 2)))
                << x << "," << y;

    // A damaged tile in the last band: the picture cannot be decoded, and the
    // reader says so instead of handing back a partly black picture.
    const uint32_t lastTile = 33 * 18 - 1;
    for (uint32_t i = 0; i < tileByteCount(bytes, lastTile); ++i)
        bytes[tileOffset(bytes, lastTile) + i] = 0;
    try {
        decode(bytes);
        FAIL() << "a damaged tile was decoded without an error";
    } catch (const ETiffError& e) {
        EXPECT_STREQ(e.what(), "ETiffError TIFFRGBAImageGet");
    }
}

// ---------------------------------------------------------------------------
// Resolution.

TEST(TiffGraphic, ResolutionFollowsTheUnit)
{
    ScreenDpi screen(120);
    struct Case {
        std::optional<uint16_t> unit;
        std::optional<float> x, y;
        int wantX, wantY;
    } cases[] = {
        {std::nullopt, 300.0f, 150.0f, 300, 150},
        {RESUNIT_INCH, 72.4f, 96.0f, 72, 96},
        {RESUNIT_CENTIMETER, 118.11f, 37.8f, 300, 96},
        {RESUNIT_NONE, 100.0f, 100.0f, 254, 254},
        {RESUNIT_INCH, std::nullopt, std::nullopt, 120, 120},
        {RESUNIT_INCH, 1.0e9f, 72.0f, 120, 72},
    };
    for (const Case& c : cases) {
        TiffPage p = page(3, 2, 8, 1, PHOTOMETRIC_MINISBLACK);
        p.pixels = pack(p, [](uint32_t, uint32_t, int) { return 9; });
        p.resolutionUnit = c.unit;
        p.xResolution = c.x;
        p.yResolution = c.y;
        auto picture = decode(writeTiff({p}));
        EXPECT_EQ(picture->ResolutionX(), c.wantX);
        EXPECT_EQ(picture->ResolutionY(), c.wantY);
    }
}

// ---------------------------------------------------------------------------
// Directories.

TEST(TiffGraphic, DirectoriesAreCountedAndReadByIndex)
{
    std::vector<TiffPage> pages;
    for (uint32_t i = 0; i < 3; ++i) {
        TiffPage p = page(5 + i, 3 + i, 8, 1, PHOTOMETRIC_MINISBLACK);
        p.pixels = pack(p, [i](uint32_t x, uint32_t y, int) { return int(i * 50 + x + y); });
        pages.push_back(p);
    }
    std::vector<uint8_t> bytes = {'x', 'y', 'z'};
    const std::vector<uint8_t> file = writeTiff(pages);
    bytes.insert(bytes.end(), file.begin(), file.end());

    TMemoryStream stream(bytes);
    stream.SetPosition(3);
    TTiffGraphic picture;
    EXPECT_EQ(picture.CountImages(stream), 3);
    EXPECT_EQ(stream.Position(), 3);
    picture.ReadImage(stream, 2);
    EXPECT_EQ(picture.Width(), 6);
    EXPECT_EQ(picture.Height(), 4);
    EXPECT_EQ(picture.GetPixelIndex(5, 3), 50 + 8);

    EXPECT_EQ(decode(file, 3)->GetPixelIndex(0, 0), 100);
    EXPECT_EQ(failureOf<ETiffError>(file, 4), "ETiffError TIFFSetDirectory");
    EXPECT_EQ(failureOf<ETiffError>(file, 0), "ETiffError TIFFSetDirectory");
}

// ---------------------------------------------------------------------------
// Failures.

std::vector<uint8_t> plainGrey(uint16_t bits = 8, uint16_t samples = 1, uint16_t compression = COMPRESSION_NONE)
{
    TiffPage p = page(17, 9, bits, samples, PHOTOMETRIC_MINISBLACK);
    p.compression = compression;
    if (samples == 2)
        p.extraSamples = 1;
    p.pixels = pack(p, [](uint32_t x, uint32_t y, int) { return int(x + y); });
    return writeTiff({p});
}

TEST(TiffGraphic, RefusedPagesSayWhy)
{
    EXPECT_EQ(failureOf<ETavrinError>(plainGrey(8, 1, COMPRESSION_LZW)), "LZW compression not supported");
    EXPECT_EQ(failureOf<ETiffError>(plainGrey(8, 1, COMPRESSION_ADOBE_DEFLATE)), "Unsupported compression tag, 8");
    std::vector<uint8_t> thunder = plainGrey();
    setTagValue(thunder, TIFFTAG_COMPRESSION, COMPRESSION_THUNDERSCAN);
    EXPECT_EQ(failureOf<ETiffError>(thunder), "Unsupported compression tag, 32809");

    EXPECT_EQ(failureOf<ETiffError>(plainGrey(8, 2)), "ETiffError Unsupported bit count: 16");
    EXPECT_EQ(failureOf<ETiffError>(plainGrey(2, 1)), "ETiffError Unsupported bit count: 2");

    std::vector<uint8_t> fax = plainGrey();
    setTagValue(fax, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    EXPECT_EQ(failureOf<ETavrinError>(fax), "CCITT Group 4 compression not supported with 256 shades of gray images");
    std::vector<uint8_t> g3 = faxPage(COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING, PHOTOMETRIC_MINISWHITE, 0);
    setTagValue(g3, TIFFTAG_BITSPERSAMPLE, 4);
    EXPECT_EQ(failureOf<ETavrinError>(g3), "CCITT Group 3, 2D compression not supported with 16 shades of gray images");
    std::vector<uint8_t> jpegMono = plainGrey(1);
    setTagValue(jpegMono, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
    EXPECT_EQ(failureOf<ETavrinError>(jpegMono), "JPEG compression not supported with Black and white images");

    std::vector<uint8_t> noBits = plainGrey(1);
    renameTag(noBits, TIFFTAG_BITSPERSAMPLE, 65001);
    EXPECT_EQ(failureOf<ETiffError>(noBits), "ETiffError TIFFGetField: Tag = 258");
}

TEST(TiffGraphic, UnreadableInputFailsWithLibraryStepNames)
{
    EXPECT_EQ(failureOf<ETiffError>({}), "ETiffError TIFFOpen");
    EXPECT_EQ(failureOf<ETiffError>({'I', 'I', 42, 0, 8, 0, 0, 0}), "ETiffError TIFFOpen");
    EXPECT_EQ(failureOf<ETiffError>({'G', 'I', 'F', '8', '9', 'a'}), "ETiffError TIFFOpen");

    std::vector<uint8_t> lost = plainGrey();
    setTagValue(lost, TIFFTAG_STRIPOFFSETS, 1u << 30);
    EXPECT_EQ(failureOf<ETiffError>(lost), "ETiffError TIFFReadEncodedStrip");
}

TEST(TiffGraphic, HugeDimensionsAreRefusedBeforeAllocating)
{
    std::vector<uint8_t> bytes = plainGrey();
    setTagValue(bytes, TIFFTAG_IMAGEWIDTH, 60000);
    setTagValue(bytes, TIFFTAG_IMAGELENGTH, 60000);
    EXPECT_EQ(failureOf<ETavrinError>(bytes), "Image is too large");
}

}  // namespace
