// SPDX-License-Identifier: GPL-2.0-or-later
// TDcxGraphic: pages by image index, the page count and the page table checks.
#include "imaging/readers/pcx_graphic.h"
#include "support/bmp_builder.h"
#include "support/pcx_builder.h"
#include "tests/imaging/readers/reader_test_util.h"

#include <gtest/gtest.h>

namespace {

using pcx_fixture::PcxFile;
using reader_test::messageOf;
using reader_test::readPicture;

// A true-colour page of `width` x 1 pixels, all of one colour.
std::vector<uint8_t> page(int width, uint8_t r, uint8_t g, uint8_t b)
{
    PcxFile f;
    f.bitsPerPlane = 8;
    f.planes = 3;
    f.xMax = uint16_t(width - 1);
    f.yMax = 0;
    f.lines = pcx_fixture::linesFor(width, 1, 8, 3, pcx_fixture::effectiveBytesPerLine(f),
                                    std::vector<uint32_t>(size_t(width), MakeColor(r, g, b)));
    return pcx_fixture::build(f);
}

std::vector<uint8_t> threePages()
{
    return pcx_fixture::buildDcx({page(3, 255, 0, 0), page(4, 0, 255, 0), page(5, 0, 0, 255)});
}

std::string dcxError(const std::vector<uint8_t>& bytes, int index = 1)
{
    return messageOf<EDcxError>([&] { readPicture<TDcxGraphic>(bytes, index); });
}

TEST(DcxReader, ReadsThePageOfTheImageIndex)
{
    const std::vector<uint8_t> dcx = threePages();
    const struct {
        int index, width;
        uint32_t colour;
    } pages[] = {{1, 3, 0xFF0000}, {2, 4, 0x00FF00}, {3, 5, 0x0000FF}};
    for (const auto& p : pages) {
        auto g = readPicture<TDcxGraphic>(dcx, p.index);
        EXPECT_EQ(g->Width(), p.width);
        EXPECT_EQ(g->GetPixelColor(p.width - 1, 0), p.colour);
    }
    TMemoryStream stream(dcx);
    stream.Seek(0, SeekOrigin::Begin);
    TDcxGraphic counter;
    EXPECT_EQ(counter.CountImages(stream), 3);
    EXPECT_EQ(stream.Position(), 0);
}

TEST(DcxReader, FirstPageNeedsOnlyTheFirstTwoTableEntries)
{
    std::vector<uint8_t> dcx = threePages();
    le_bytes::set32(dcx, 12, 0x7FFFFFF0);  // the third page's offset points nowhere
    auto g = readPicture<TDcxGraphic>(dcx, 1);
    EXPECT_EQ(g->Width(), 3);
    EXPECT_EQ(dcxError(dcx, 3), "The DCX file header is not valid");
    // Everything after the first page's end can be garbage.
    dcx = threePages();
    const uint32_t secondPage = uint32_t(dcx[8] | (dcx[9] << 8));
    for (size_t i = secondPage; i < dcx.size(); ++i)
        dcx[i] = 0x5A;
    EXPECT_EQ(readPicture<TDcxGraphic>(dcx, 1)->GetPixelColor(2, 0), 0xFF0000u);
}

TEST(DcxReader, PageTableErrors)
{
    const std::vector<uint8_t> good = threePages();
    // Wrong magic number.
    std::vector<uint8_t> bytes = good;
    bytes[0] ^= 1;
    EXPECT_EQ(dcxError(bytes), "The DCX file header is not valid");
    // First offset 0.
    bytes = good;
    le_bytes::set32(bytes, 4, 0);
    EXPECT_EQ(dcxError(bytes), "The DCX file header is not valid");
    // An index past the last page, and index 0.
    EXPECT_EQ(dcxError(good, 4), "The DCX file header is not valid");
    EXPECT_EQ(dcxError(good, 0), "The DCX file header is not valid");
    // A next offset before the page's start.
    bytes = good;
    le_bytes::set32(bytes, 8, 10);
    EXPECT_EQ(dcxError(bytes, 1), "The DCX file header is not valid");
    // A page that starts or ends past the end of the file.
    bytes = good;
    le_bytes::set32(bytes, 8, uint32_t(good.size() + 1));
    EXPECT_EQ(dcxError(bytes, 1), "The DCX file header is not valid");
    bytes = good;
    le_bytes::set32(bytes, 12, uint32_t(good.size() + 10));
    EXPECT_EQ(dcxError(bytes, 3), "The DCX file header is not valid");
    // The table ends with the file, without its terminating 0.
    bytes = {0xB1, 0x68, 0xDE, 0x3A, 8, 0, 0, 0};
    EXPECT_EQ(dcxError(bytes), "The DCX file header is not valid");
    // Fewer than 4 bytes.
    EXPECT_EQ(messageOf<EReadError>([&] { readPicture<TDcxGraphic>({0xB1, 0x68}); }), "Stream read error");
    EXPECT_EQ(messageOf<EReadError>([&] {
                  TMemoryStream s(std::vector<uint8_t>{1});
                  TDcxGraphic().CountImages(s);
              }),
              "Stream read error");
}

TEST(DcxReader, BrokenPageGivesThePcxError)
{
    std::vector<uint8_t> p = page(3, 1, 2, 3);
    p[1] = 4;  // version 4
    const std::vector<uint8_t> dcx = pcx_fixture::buildDcx({p});
    EXPECT_EQ(messageOf<EVeskError>([&] { readPicture<TDcxGraphic>(dcx, 1); }), "vesk_read_header failed.");
    // An empty page (next offset equal to the start) is too short for a PCX file.
    std::vector<uint8_t> empty = pcx_fixture::buildDcx({page(3, 1, 2, 3), page(3, 1, 2, 3)});
    le_bytes::set32(empty, 8, uint32_t(empty[4] | (empty[5] << 8)));
    EXPECT_EQ(messageOf<EReadError>([&] { readPicture<TDcxGraphic>(empty, 1); }), "Stream read error");
}

TEST(DcxReader, OffsetsCountFromWhereTheFileStarts)
{
    std::vector<uint8_t> bytes(9, 0);
    const std::vector<uint8_t> dcx = threePages();
    bytes.insert(bytes.end(), dcx.begin(), dcx.end());
    TMemoryStream stream(bytes);
    stream.Seek(9, SeekOrigin::Begin);
    TDcxGraphic g;
    g.ImageIndex = 2;
    g.ReadFromStream(stream);
    EXPECT_EQ(g.Width(), 4);
    stream.Seek(9, SeekOrigin::Begin);
    EXPECT_EQ(g.CountImages(stream), 3);
}

}  // namespace
