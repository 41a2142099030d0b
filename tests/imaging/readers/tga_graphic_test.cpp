// SPDX-License-Identifier: GPL-2.0-or-later
// TTgaGraphic: streams positioned after other data, writing at the current
// position, and the image index playing no part.
#include "imaging/readers/tga_graphic.h"
#include "platform/streams.h"
#include "support/tga_builder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(TgaGraphic, ReadsTheImageAtTheStreamPosition)
{
    const std::vector<uint8_t> tga = tga_fixture::makeTga(10, 24, 2, 1, {}, 0).bytes();
    std::vector<uint8_t> bytes = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};  // other data first
    std::vector<uint8_t> image = tga;
    image.insert(image.end(), {0x81, 9, 8, 7});
    bytes.insert(bytes.end(), image.begin(), image.end());

    TMemoryStream stream(bytes);
    stream.Seek(5, SeekOrigin::Begin);
    TTgaGraphic picture;
    picture.ImageIndex = 7;  // one image per stream: the index plays no part
    picture.ReadFromStream(stream);
    EXPECT_EQ(picture.Width(), 2);
    EXPECT_EQ(picture.GetPixelColor(0, 0), MakeColor(7, 8, 9));
    EXPECT_EQ(picture.GetPixelColor(1, 0), MakeColor(7, 8, 9));

    // At the very end nothing is left to read.
    TMemoryStream atEnd(bytes);
    atEnd.Seek(0, SeekOrigin::End);
    try {
        picture.ReadFromStream(atEnd);
        FAIL();
    } catch (const EVeskError& e) {
        EXPECT_EQ(e.message(), "vesk_read_header failed.");
    }
}

TEST(TgaGraphic, WritesAtTheStreamPosition)
{
    TTgaGraphic picture;
    picture.NewImage(1, 1, ifRgb24, nullptr, 0, 0);
    picture.SetPixelColor(0, 0, MakeColor(1, 2, 3));
    TMemoryStream out;
    out.Write("abc", 3);
    picture.WriteToStream(out);
    ASSERT_EQ(out.Size(), 3 + 18 + 3);
    EXPECT_EQ(out.bytes()[0], 'a');
    EXPECT_EQ(out.bytes()[3 + 2], 2);   // image type
    EXPECT_EQ(out.bytes()[3 + 18], 3);  // blue
    EXPECT_EQ(out.bytes()[3 + 20], 1);  // red
}

}  // namespace
