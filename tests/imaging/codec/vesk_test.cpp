// SPDX-License-Identifier: GPL-2.0-or-later
// The codec table, codec selection by extension, the dispatcher's checks and
// the bridge's failure messages.
#include "imaging/codec/vesk.h"
#include "imaging/dib_graphic.h"
#include "support/tga_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(VeskTable, OrderAndTgaEntry)
{
    EXPECT_EQ(kVeskCodecs[0], &kBmpCodec);
    EXPECT_EQ(kVeskCodecs[1], &kPcxCodec);
    EXPECT_EQ(kVeskCodecs[2], &kTgaCodec);
    EXPECT_STREQ(kTgaCodec.shortName, "Targa");
    EXPECT_STREQ(kTgaCodec.description, "Truevision Targa/Vista bitmap");
    EXPECT_STREQ(kTgaCodec.extensions, "TGA VST AFI");
    EXPECT_EQ(kTgaCodec.capabilities, unsigned(VESK_READ_8 | VESK_READ_24 | VESK_WRITE_8 | VESK_WRITE_24));
    for (const VeskCodec* c : kVeskCodecs)
        EXPECT_TRUE(c->readHeader && c->readPalette && c->readData && c->write) << c->shortName;
}

TEST(VeskTable, GuessByExtension)
{
    const struct {
        const char* name;
        int codec;
    } cases[] = {
        {"File.tga", 2}, {"x.VST", 2},   {"a.b.Afi", 2},   {"File.bmp", 0},     {"x.DIB", 0},  {"x.rl8", 0},
        {"File.pcx", 1}, {"x.pcc", 1},   {"File.gif", -1}, {"noextension", -1}, {"File.", -1}, {"archive.tga.bak", -1},
        {"x.TG", -1},    {"x.tgaa", -1}, {"", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vesk_guess_filetype(c.name), c.codec) << c.name;
}

TEST(VeskTable, WordListsSplitOnBlanksTabsAndCommas)
{
    EXPECT_TRUE(VeskHasWord("TGA,VST\tAFI", "vst"));
    EXPECT_TRUE(VeskHasWord(" inv , invb ", "INVB"));
    EXPECT_FALSE(VeskHasWord("invb", "inv"));
    EXPECT_FALSE(VeskHasWord("", "inv"));
    EXPECT_FALSE(VeskHasWord("a b", ""));
}

TEST(VeskTable, RowStride)
{
    EXPECT_EQ(VeskRowStride(1, 1), 4);
    EXPECT_EQ(VeskRowStride(3, 24), 12);
    EXPECT_EQ(VeskRowStride(5, 4), 4);
    EXPECT_EQ(VeskRowStride(65535, 24), 196608);
}

// The dispatcher refuses what would let a codec write outside its buffers.
TEST(VeskDispatch, RefusesBadArguments)
{
    const std::vector<uint8_t> bytes = tga_fixture::makeTga(2, 24, 3, 2, std::vector<uint8_t>(18, 7)).bytes();
    TMemoryStream stream(bytes);
    VeskDescription d;
    std::memset(&d, 0, sizeof d);
    ASSERT_EQ(vesk_read_header("File.tga", stream, 2, "", d), VESK_OK);
    EXPECT_EQ(d.width, 3);
    EXPECT_EQ(d.height, 2);
    EXPECT_EQ(d.bitsPerPixel, 24);

    std::vector<uint8_t> rows(size_t(VeskRowStride(3, 24) * 2), 0);
    EXPECT_NE(vesk_read_data(stream, 3, d, rows.data(), int64_t(rows.size())), VESK_OK);  // no such codec
    EXPECT_NE(vesk_read_data(stream, -1, d, rows.data(), int64_t(rows.size())), VESK_OK);
    EXPECT_NE(vesk_read_data(stream, 2, d, rows.data(), int64_t(rows.size()) - 1), VESK_OK);  // rows too small
    EXPECT_NE(vesk_read_data(stream, 2, d, nullptr, int64_t(rows.size())), VESK_OK);

    // A description that no longer matches the header it was read from.
    VeskDescription wider = d;
    wider.width = 4;
    std::vector<uint8_t> big(size_t(VeskRowStride(4, 24) * 2), 0);
    EXPECT_NE(vesk_read_data(stream, 2, wider, big.data(), int64_t(big.size())), VESK_OK);
    VeskDescription eightBit = d;
    eightBit.bitsPerPixel = 8;
    EXPECT_NE(vesk_read_data(stream, 2, eightBit, rows.data(), int64_t(rows.size())), VESK_OK);

    ASSERT_EQ(vesk_read_data(stream, 2, d, rows.data(), int64_t(rows.size())), VESK_OK);
    EXPECT_EQ(rows[0], 7);
    EXPECT_EQ(rows[9], 0);  // padding untouched
}

TEST(VeskBridge, UnknownCodecName)
{
    TDibGraphic bitmap;
    TMemoryStream stream(tga_fixture::makeTga(3, 8, 1, 1, {1}).bytes());
    try {
        ReadBitmapViaCodec(stream, bitmap, "File.gif", "");
        FAIL();
    } catch (const EVeskError& e) {
        EXPECT_EQ(e.message(), "vesk_guess_filetype failed.");
    }
    bitmap.NewImage(1, 1, ifRgb24, nullptr, 0, 0);
    TMemoryStream out;
    try {
        WriteBitmapViaCodec(out, bitmap, "File");
        FAIL();
    } catch (const EVeskError& e) {
        EXPECT_EQ(e.message(), "vesk_guess_filetype failed.");
    }
    EXPECT_EQ(out.Size(), 0);
}

TEST(VeskBridge, ReadsFromTheStreamPositionWithScreenResolution)
{
    std::vector<uint8_t> bytes = tga_fixture::makeTga(2, 24, 2, 1, {1, 2, 3, 4, 5, 6}).bytes();
    TMemoryStream stream(bytes);
    TDibGraphic bitmap;
    ReadBitmapViaCodec(stream, bitmap, "picture.TGA", "ignored options");
    EXPECT_EQ(bitmap.ImageFormat(), ifRgb24);
    EXPECT_EQ(bitmap.GetPixelColor(1, 0), MakeColor(6, 5, 4));
    EXPECT_EQ(bitmap.ResolutionX(), 96);
    EXPECT_EQ(bitmap.ResolutionY(), 96);
}

}  // namespace
