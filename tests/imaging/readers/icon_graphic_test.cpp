// SPDX-License-Identifier: GPL-2.0-or-later
// TIconGraphic: the image choice, every depth, transparent pixels drawn
// black, and the messages.
#include "imaging/readers/icon_graphic.h"
#include "support/bmp_builder.h"
#include "support/ico_builder.h"
#include "tests/imaging/readers/reader_test_util.h"

#include <gtest/gtest.h>

namespace {

using ico_fixture::IconImage;
using reader_test::messageOf;
using reader_test::readPicture;

class IconDepth : public ::testing::TestWithParam<int> {};

TEST_P(IconDepth, ReadsTheImageOntoBlack)
{
    const int bits = GetParam();
    const uint32_t colour = 0x20C040;
    auto g = readPicture<TIconGraphic>(ico_fixture::build({ico_fixture::solidImage(16, bits, colour)}));
    ASSERT_EQ(g->Width(), 16);
    ASSERT_EQ(g->Height(), 16);
    EXPECT_EQ(g->ImageFormat(), ifRgb24);
    // The left half of the top row is transparent: black.
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(g->GetPixelColor(x, 0), 0u) << bits << " x " << x;
    for (int x = 8; x < 16; ++x)
        EXPECT_EQ(g->GetPixelColor(x, 0), colour) << bits << " x " << x;
    EXPECT_EQ(g->GetPixelColor(0, 1), colour);
    EXPECT_EQ(g->GetPixelColor(15, 15), colour);
}

INSTANTIATE_TEST_SUITE_P(AllDepths, IconDepth, ::testing::Values(1, 4, 8, 24, 32));

TEST(IconReader, PartlyTransparentPixelsAreWeightedByTheirOpacityRounded)
{
    // Each channel becomes channel * alpha / 255, rounded to the nearest.
    ico_fixture::IconImage im;
    im.width = 4;
    im.height = 1;
    im.bits = 32;
    im.pixels = {0x80030303, 0xC0C86401, 0xFF123456, 0x00FFFFFF};
    const uint32_t want[] = {0x020202, 0x974B01, 0x123456, 0x000000};  // 1.51 -> 2; 150.6, 75.3, 0.75
    auto g = readPicture<TIconGraphic>(ico_fixture::build({im}));
    ASSERT_EQ(g->Width(), 4);
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(g->GetPixelColor(x, 0), want[x]) << x;
}

TEST(IconReader, ChoosesTheImageClosestTo32AtTheDeepestDepth)
{
    const IconImage small = ico_fixture::solidImage(16, 8, 0x0000FF);
    const IconImage big4 = ico_fixture::solidImage(32, 4, 0x00FF00);
    const IconImage big8 = ico_fixture::solidImage(32, 8, 0xFF0000);
    const IconImage huge = ico_fixture::solidImage(64, 32, 0xFFFFFF);
    const IconImage otherBig8 = ico_fixture::solidImage(32, 8, 0x00FFFF);
    struct Case {
        std::vector<IconImage> images;
        int width;
        uint32_t colour;
    } cases[] = {
        {{small, big4}, 32, 0x00FF00},       {{big4, small}, 32, 0x00FF00},
        {{small, big4, big8}, 32, 0xFF0000}, {{big8, big4}, 32, 0xFF0000},
        {{big8, otherBig8}, 32, 0xFF0000},  // same size and depth: the first
        {{small, huge}, 16, 0x0000FF},       {{huge}, 64, 0xFFFFFF},
    };
    for (const Case& c : cases) {
        auto g = readPicture<TIconGraphic>(ico_fixture::build(c.images));
        EXPECT_EQ(g->Width(), c.width);
        EXPECT_EQ(g->GetPixelColor(c.width - 1, c.width - 1), c.colour);
    }
    // The depth comes from the image's own header when the directory says 0.
    IconImage quiet8 = big8;
    quiet8.entryBitCount = 0;
    auto g = readPicture<TIconGraphic>(ico_fixture::build({big4, quiet8}));
    EXPECT_EQ(g->GetPixelColor(31, 31), 0xFF0000u);
}

TEST(IconReader, ChooseIconImageIgnoresEntriesPastTheData)
{
    std::vector<uint8_t> bytes =
        ico_fixture::build({ico_fixture::solidImage(16, 4, 1), ico_fixture::solidImage(32, 4, 2)});
    EXPECT_EQ(ChooseIconImage(bytes.data(), bytes.size()), 1);
    // The second image's data is cut off: the first is taken.
    const size_t firstImageBytes = 40 + 16 * 4 + 16 * 8 + 16 * 4;
    EXPECT_EQ(ChooseIconImage(bytes.data(), 6 + 32 + firstImageBytes + 10), 0);
    // Directory entries cut off, or no image data at all.
    EXPECT_EQ(ChooseIconImage(bytes.data(), 6 + 16), -1);
    EXPECT_EQ(ChooseIconImage(bytes.data(), 6), -1);
    le_bytes::set16(bytes, 4, 0);
    EXPECT_EQ(ChooseIconImage(bytes.data(), bytes.size()), -1);
}

TEST(IconReader, Messages)
{
    const std::vector<uint8_t> good = ico_fixture::build({ico_fixture::solidImage(16, 4, 0x123456)});
    EXPECT_EQ(messageOf<EReadError>([&] { readPicture<TIconGraphic>({0, 0, 1, 0, 1}); }), "Stream read error");
    // A type above 1.
    EXPECT_EQ(messageOf<EInvalidGraphic>(
                  [&] { readPicture<TIconGraphic>(ico_fixture::build({ico_fixture::solidImage(16, 4, 1)}, 2)); }),
              "Icon image is not valid");
    // No images.
    std::vector<uint8_t> bytes = good;
    le_bytes::set16(bytes, 4, 0);
    EXPECT_EQ(messageOf<EInvalidGraphic>([&] { readPicture<TIconGraphic>(bytes); }), "Icon image is not valid");
    // Image data cut off.
    bytes = good;
    bytes.resize(60);
    EXPECT_EQ(messageOf<EInvalidGraphic>([&] { readPicture<TIconGraphic>(bytes); }), "Icon image is not valid");
    // An image of a depth no icon has.
    bytes = good;
    le_bytes::set16(bytes, 6 + 16 + 14, 3);
    EXPECT_EQ(messageOf<EInvalidGraphic>([&] { readPicture<TIconGraphic>(bytes); }), "Icon image is not valid");
}

TEST(IconReader, ReadsFromTheStreamPosition)
{
    std::vector<uint8_t> bytes = {9, 9, 9};
    const std::vector<uint8_t> ico = ico_fixture::build({ico_fixture::solidImage(16, 24, 0xABCDEF)});
    bytes.insert(bytes.end(), ico.begin(), ico.end());
    TMemoryStream stream(bytes);
    stream.Seek(3, SeekOrigin::Begin);
    TIconGraphic g;
    g.ReadFromStream(stream);
    EXPECT_EQ(g.GetPixelColor(15, 0), 0xABCDEFu);
}

}  // namespace
