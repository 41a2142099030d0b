// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/readers/jpeg_graphic.h"

#include "platform/environment.h"
#include "platform/streams.h"
#include "support/jpeg_builder.h"
#include "support/png_builder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

using namespace jpeg_fixture;

namespace {

std::unique_ptr<TJpegGraphic> decode(const std::vector<uint8_t>& bytes)
{
    auto picture = std::make_unique<TJpegGraphic>();
    TMemoryStream stream(bytes);
    picture->ReadImage(stream, 1);
    return picture;
}

// The message of the failure, and whether it came as the general class itself.
std::pair<std::string, bool> failureOf(const std::vector<uint8_t>& bytes)
{
    try {
        decode(bytes);
    } catch (const Exception& e) {
        return {e.what(), typeid(e) == typeid(Exception)};
    }
    return {"no failure", false};
}

class ScreenDpi {
public:
    explicit ScreenDpi(int dpi) { setScreenDpi(dpi, dpi); }
    ~ScreenDpi() { setScreenDpi(96, 96); }
};

JpegRecipe gradient(int width, int height, JpegKind kind)
{
    JpegRecipe recipe;
    recipe.width = width;
    recipe.height = height;
    recipe.kind = kind;
    recipe.pixels = gradientPixels(width, height, kind);
    return recipe;
}

void expectCloseTo(const TJpegGraphic& picture, const JpegRecipe& recipe, int tolerance, int rows)
{
    const int components = recipe.kind == JpegKind::Grey ? 1 : 3;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < recipe.width; ++x) {
            const uint8_t* src = &recipe.pixels[(size_t(y) * size_t(recipe.width) + size_t(x)) * size_t(components)];
            const uint32_t got = picture.GetPixelColor(x, y);
            const int want[3] = {src[0], components == 3 ? src[1] : src[0], components == 3 ? src[2] : src[0]};
            const int have[3] = {int(got >> 16), int((got >> 8) & 255), int(got & 255)};
            for (int c = 0; c < 3; ++c)
                ASSERT_LE(std::abs(have[c] - want[c]), tolerance) << x << "," << y << " channel " << c;
        }
}

TEST(JpegGraphic, GreyFileBecomesGrayscale256WithTheGreyRamp)
{
    const JpegRecipe recipe = gradient(17, 9, JpegKind::Grey);
    auto picture = decode(writeJpeg(recipe));
    ASSERT_EQ(picture->ImageFormat(), ifGrayscale256);
    EXPECT_EQ(picture->Width(), 17);
    EXPECT_EQ(picture->Height(), 9);
    EXPECT_EQ(picture->Palette().EntryCount, 256);
    EXPECT_EQ(picture->Palette().Entries[200].peGreen, 200);
    expectCloseTo(*picture, recipe, 3, 9);
}

TEST(JpegGraphic, ColourFilesBecomeRgb24InBlueGreenRedOrder)
{
    for (bool progressive : {false, true}) {
        JpegRecipe recipe = gradient(17, 9, JpegKind::YCbCr);
        recipe.progressive = progressive;
        auto picture = decode(writeJpeg(recipe));
        ASSERT_EQ(picture->ImageFormat(), ifRgb24);
        expectCloseTo(*picture, recipe, 14, 9);  // chroma is subsampled
        // The stored bytes are blue, green, red: the left column is blue-ish (red 0, blue 128).
        const uint8_t* row = picture->RowPointer(0);
        EXPECT_GT(row[0], 100);
        EXPECT_LT(row[2], 30);
    }
}

TEST(JpegGraphic, ApplicationAndCommentMarkersAreSkipped)
{
    // A camera photo: an EXIF block longer than the reader's input buffer,
    // a colour profile and a comment between the header and the picture.
    JpegRecipe plain = gradient(16, 16, JpegKind::YCbCr);
    JpegRecipe photo = plain;
    std::vector<uint8_t> exif(20000);
    for (size_t i = 0; i < exif.size(); ++i)
        exif[i] = uint8_t(i * 7);  // marker bytes (0xFF) among them, as in real EXIF data
    photo.markers = {{0xE1, exif}, {0xE2, std::vector<uint8_t>(3000, 0xFF)}, {0xFE, {'h', 'i'}}};  // APP1, APP2, COM
    const std::vector<uint8_t> bytes = writeJpeg(photo);
    ASSERT_GT(bytes.size(), writeJpeg(plain).size() + 23000);
    auto picture = decode(bytes);
    auto reference = decode(writeJpeg(plain));
    ASSERT_EQ(picture->Width(), 16);
    ASSERT_EQ(picture->Height(), 16);
    EXPECT_EQ(picture->WarningCount(), 0);
    for (int y = 0; y < 16; ++y)
        ASSERT_EQ(0, std::memcmp(picture->RowPointer(y), reference->RowPointer(y), size_t(picture->RowStride()))) << y;
}

TEST(JpegGraphic, CmykFileIsRefusedWithLibjpegsMessage)
{
    const auto [message, general] = failureOf(writeJpeg(gradient(8, 8, JpegKind::Cmyk)));
    EXPECT_EQ(message, "Unsupported color conversion request");
    EXPECT_TRUE(general);
}

TEST(JpegGraphic, FileCutShortDecodesAsFarAsItsDataGoes)
{
    const JpegRecipe recipe = gradient(64, 64, JpegKind::YCbCr);
    const std::vector<uint8_t> whole = writeJpeg(recipe);
    auto complete = decode(whole);
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(whole.size() * 2 / 3));
    std::unique_ptr<TJpegGraphic> picture;
    ASSERT_NO_THROW(picture = decode(cut));
    EXPECT_EQ(picture->Width(), 64);
    EXPECT_EQ(picture->Height(), 64);
    EXPECT_GT(picture->WarningCount(), 0);
    EXPECT_EQ(complete->WarningCount(), 0);
    // The first rows were fully present: they decode as in the whole file
    // (the last row of an MCU row also leans on the next one's colours).
    for (int y = 0; y < 8; ++y)
        ASSERT_EQ(0, std::memcmp(picture->RowPointer(y), complete->RowPointer(y), size_t(picture->RowStride()))) << y;
    // The last rows had no data.
    EXPECT_NE(0, std::memcmp(picture->RowPointer(63), complete->RowPointer(63), size_t(picture->RowStride())));
}

TEST(JpegGraphic, ResolutionFromDensity)
{
    ScreenDpi screen(120);
    struct Case {
        int unit, x, y, wantX, wantY;
    } cases[] = {
        {1, 300, 150, 300, 150},
        {2, 38, 118, 97, 300},    // 96.52 and 299.72, rounded
        {0, 1, 1, 120, 120},      // aspect ratio only: the display's
        {2, 65535, 10, 120, 25},  // beyond what a resolution can hold: the display's
    };
    for (const Case& c : cases) {
        JpegRecipe recipe = gradient(8, 8, JpegKind::Grey);
        recipe.densityUnit = c.unit;
        recipe.xDensity = c.x;
        recipe.yDensity = c.y;
        auto picture = decode(writeJpeg(recipe));
        EXPECT_EQ(picture->ResolutionX(), c.wantX) << c.unit << " " << c.x;
        EXPECT_EQ(picture->ResolutionY(), c.wantY) << c.unit << " " << c.y;
    }
}

TEST(JpegGraphic, LibjpegErrorsCarryTheirFormattedMessage)
{
    EXPECT_EQ(failureOf({}).first, "Empty input file");
    EXPECT_TRUE(failureOf({}).second);
    png_fixture::PngRecipe png;
    png.width = png.height = 1;
    png.rows = {{0}};
    EXPECT_EQ(failureOf(png_fixture::writePng(png)).first, "Not a JPEG file: starts with 0x89 0x50");
    // Only the start of image and part of the header.
    const std::vector<uint8_t> whole = writeJpeg(gradient(8, 8, JpegKind::Grey));
    EXPECT_NE(failureOf({whole.begin(), whole.begin() + 30}).first, "no failure");
}

TEST(JpegGraphic, StreamErrorsPassThroughUnchanged)
{
    class Broken : public TStream {
    public:
        int64_t Read(void*, int64_t) override { throw EReadError("Stream read error"); }
        int64_t Write(const void*, int64_t) override { return 0; }
        int64_t Seek(int64_t, SeekOrigin) override { return 0; }
    } stream;
    TJpegGraphic picture;
    EXPECT_THROW(picture.ReadImage(stream, 1), EReadError);
}

TEST(JpegGraphic, HugeDimensionsAreRefusedBeforeAllocating)
{
    std::vector<uint8_t> bytes = writeJpeg(gradient(8, 8, JpegKind::YCbCr));
    // SOF0: FF C0, length (2), precision (1), height (2), width (2).
    size_t sof = 2;
    while (sof + 9 < bytes.size() && !(bytes[sof] == 0xFF && bytes[sof + 1] == 0xC0))
        ++sof;
    ASSERT_LT(sof + 9, bytes.size());
    bytes[sof + 5] = 0xFD;
    bytes[sof + 6] = 0xE8;  // height 65000
    bytes[sof + 7] = 0xFD;
    bytes[sof + 8] = 0xE8;  // width 65000
    try {
        decode(bytes);
        FAIL() << "no failure";
    } catch (const ETavrinError& e) {
        EXPECT_STREQ(e.what(), "Image is too large");
    }
}

TEST(JpegGraphic, WholeImageBuffersAreBounded)
{
    // A progressive file keeps every coefficient of the picture in memory:
    // for 30000 x 30000 grey pixels that is 1.8 GB, more than libjpeg may use.
    JpegRecipe recipe = gradient(16, 16, JpegKind::Grey);
    recipe.progressive = true;
    std::vector<uint8_t> bytes = writeJpeg(recipe);
    size_t sof = 2;
    while (sof + 9 < bytes.size() && !(bytes[sof] == 0xFF && bytes[sof + 1] == 0xC2))
        ++sof;
    ASSERT_LT(sof + 9, bytes.size());
    for (size_t i : {sof + 5, sof + 7}) {
        bytes[i] = 0x75;
        bytes[i + 1] = 0x30;  // 30000
    }
    const auto [message, general] = failureOf(bytes);
    EXPECT_EQ(message, "Backing store not supported");
    EXPECT_TRUE(general);
}

TEST(JpegGraphic, EndlessProgressiveScansAreCutOff)
{
    JpegRecipe recipe = gradient(16, 16, JpegKind::Grey);
    recipe.progressive = true;
    recipe.manyScans = true;  // several hundred legal refinement scans
    const auto [message, general] = failureOf(writeJpeg(recipe));
    EXPECT_EQ(message, "Progressive JPEG image has more than 500 scans");
    EXPECT_TRUE(general);
}

}  // namespace
