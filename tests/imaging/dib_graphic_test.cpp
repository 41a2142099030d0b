// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/dib_graphic.h"

#include "platform/environment.h"
#include "platform/streams.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

template <typename Fn>
std::string messageOf(Fn&& fn)
{
    try {
        fn();
    } catch (const Exception& e) {
        return e.message();
    }
    return "<no error>";
}

TLogicalPalette makePalette(std::initializer_list<uint32_t> colors)
{
    TLogicalPalette p{};
    p.Version = 0x300;
    for (uint32_t c : colors) {
        TPaletteEntry& e = p.Entries[p.EntryCount++];
        e.peRed = uint8_t(c >> 16);
        e.peGreen = uint8_t(c >> 8);
        e.peBlue = uint8_t(c);
    }
    return p;
}

uint32_t entryColor(const TLogicalPalette& p, int i)
{
    return MakeColor(p.Entries[i].peRed, p.Entries[i].peGreen, p.Entries[i].peBlue);
}

// Renders a picture through Draw into a white RGB32 canvas of the given size.
QImage render(const TGraphic& g, QSize canvasSize, QRect rect)
{
    QImage canvas(canvasSize, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter p(&canvas);
    g.Draw(p, rect);
    p.end();
    return canvas;
}

uint32_t rgbAt(const QImage& img, int x, int y)
{
    return img.pixel(x, y) & 0xFFFFFF;
}

}  // namespace

// --- format facts, strides, row layout

TEST(DibFormats, BitsPaletteAndDescription)
{
    struct Case {
        TImageFormat f;
        int bpp;
        bool palette;
        const char* text;
    };
    const Case cases[] = {{ifMonochrome, 1, true, "Black and white"},
                          {ifGrayscale16, 4, true, "16 shades of gray"},
                          {ifGrayscale256, 8, true, "256 shades of gray"},
                          {ifColor16, 4, true, "16 color"},
                          {ifColor256, 8, true, "256 color"},
                          {ifRgb24, 24, false, "True color"}};
    for (const Case& c : cases) {
        EXPECT_EQ(BitsPerPixel(c.f), c.bpp) << int(c.f);
        EXPECT_EQ(HasPalette(c.f), c.palette) << int(c.f);
        EXPECT_STREQ(ImageFormatDescription(c.f), c.text);
    }
}

TEST(DibFormats, RowStrideOfEveryFormat)
{
    struct Case {
        int width;
        TImageFormat f;
        int stride;
    };
    const Case cases[] = {{1, ifMonochrome, 4},  {3, ifRgb24, 12},      {5, ifColor16, 4},
                          {32, ifMonochrome, 4}, {33, ifMonochrome, 8}, {9, ifGrayscale16, 8},
                          {5, ifColor256, 8},    {4, ifRgb24, 12},      {1, ifRgb24, 4}};
    for (const Case& c : cases) {
        TDibGraphic g;
        g.NewImage(c.width, 2, c.f, nullptr, 96, 96);
        EXPECT_EQ(g.RowStride(), c.stride) << c.width << " px, format " << int(c.f);
        EXPECT_EQ(DibRowStride(c.width, BitsPerPixel(c.f)), c.stride);
        EXPECT_EQ(g.Header().biSizeImage, uint32_t(2 * c.stride));
    }
    // No 32-bit overflow for widths near the limit.
    EXPECT_EQ(DibRowStride(INT32_MAX, 24), 6442450944LL);
}

TEST(DibGraphic, RowPointersCountFromTheTopOverABottomUpBuffer)
{
    TDibGraphic g;
    g.NewImage(3, 5, ifRgb24, nullptr, 96, 96);
    ASSERT_FALSE(g.IsEmpty());
    EXPECT_EQ(g.RowPointer(0), g.Bits() + 4 * g.RowStride());
    EXPECT_EQ(g.RowPointer(4), g.Bits());
    EXPECT_EQ(g.RowPointer(1) - g.RowPointer(2), g.RowStride());
    for (int i = 0; i < 5 * g.RowStride(); ++i)
        ASSERT_EQ(g.Bits()[i], 0) << "new pixels are zero";
}

TEST(DibGraphic, NewBitmapIsEmpty)
{
    TDibGraphic g;
    EXPECT_TRUE(g.IsEmpty());
    EXPECT_EQ(g.Width(), 0);
    EXPECT_EQ(g.Height(), 0);
    EXPECT_EQ(g.Converter(), nullptr);
    EXPECT_EQ(g.Palette().EntryCount, 0);
    EXPECT_EQ(g.ImageIndex, 1);
    EXPECT_FALSE(g.MultiImage);
    EXPECT_EQ(g.ClassName(), "TDibGraphic");
}

TEST(DibGraphic, LargeAndSmallStoresFollowEachOtherInOneBitmap)
{
    // Stores of 8 MiB and more are mapped on their own, smaller ones come
    // from the heap: a bitmap going from one kind to the other and back must
    // give back each store the way it was taken (the sanitized build checks
    // for leaks and bad frees), and every new store reads as zero.
    TDibGraphic g;
    for (const auto& [w, h] : {std::pair{2048, 1400}, std::pair{64, 32}, std::pair{2048, 1400}, std::pair{3000, 2000}}) {
        g.NewImage(w, h, ifRgb24, nullptr, 96, 96);
        ASSERT_EQ(g.Width(), w);
        for (int y : {0, h / 2, h - 1})
            for (int x : {0, w / 3, w - 1})
                ASSERT_EQ(g.GetPixelColor(x, y), 0u) << w << "x" << h;
        g.SetPixelColor(w - 1, h - 1, 0x123456);
        TDibGraphic copy;
        copy.Assign(&g);
        EXPECT_EQ(copy.GetPixelColor(w - 1, h - 1), 0x123456u);
        EXPECT_EQ(std::memcmp(copy.Bits(), g.Bits(), size_t(g.RowStride()) * size_t(h)), 0);
    }
}

// --- default palettes

TEST(DibPalettes, DefaultPalettesOfGreyAndSmallFormats)
{
    const TLogicalPalette& mono = DefaultPalette(ifMonochrome);
    EXPECT_EQ(mono.EntryCount, 2);
    EXPECT_EQ(entryColor(mono, 0), 0u);
    EXPECT_EQ(entryColor(mono, 1), 0xFFFFFFu);
    EXPECT_EQ(entryColor(mono, 2), 0u);

    const TLogicalPalette& g16 = DefaultPalette(ifGrayscale16);
    ASSERT_EQ(g16.EntryCount, 16);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(entryColor(g16, i), MakeColor(17 * i, 17 * i, 17 * i));

    const TLogicalPalette& g256 = DefaultPalette(ifGrayscale256);
    ASSERT_EQ(g256.EntryCount, 256);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(entryColor(g256, i), MakeColor(i, i, i));

    const uint32_t standard16[16] = {0x000000, 0x0000AA, 0x00AA00, 0x00AAAA, 0xAA0000, 0xAA00AA, 0xAA5500, 0xAAAAAA,
                                     0x555555, 0x5555FF, 0x55FF55, 0x55FFFF, 0xFF5555, 0xFF55FF, 0xFFFF55, 0xFFFFFF};
    const TLogicalPalette& c16 = DefaultPalette(ifColor16);
    const TLogicalPalette& c256 = DefaultPalette(ifColor256);
    ASSERT_EQ(c16.EntryCount, 16);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(entryColor(c16, i), standard16[i]) << i;
        EXPECT_EQ(entryColor(c256, i), standard16[i]) << i;
    }
    // Built once, shared.
    EXPECT_EQ(&DefaultPalette(ifColor256), &c256);
    EXPECT_EQ(messageOf([] { DefaultPalette(ifRgb24); }), "Internal error: Invalid image format");
}

TEST(DibPalettes, Standard256ColourRuleAndItsThreeOddEntries)
{
    const TLogicalPalette& p = DefaultPalette(ifColor256);
    ASSERT_EQ(p.EntryCount, 256);
    struct Spot {
        int index;
        uint32_t color;
    };
    const Spot spots[] = {{16, 0x000000},
                          {17, 0x141414},
                          {29, 0xCBCBCB},
                          {31, 0xFFFFFF},  // grey ramp
                          {30, MakeColor(227, 179, 179)},
                          {85, MakeColor(223, 182, 235)},
                          {96, MakeColor(182, 223, 182)},
                          {32, MakeColor(0, 0, 255)},      // block 1 starts at blue
                          {33, MakeColor(65, 0, 255)},     // (L1, L0, L4)
                          {40, MakeColor(255, 0, 0)},      // (L4, L0, L0)
                          {44, MakeColor(255, 255, 0)},    // (L4, L4, L0)
                          {55, MakeColor(0, 65, 255)},     // (L0, L1, L4), end of block 1
                          {56, MakeColor(125, 125, 255)},  // block 2
                          {82, MakeColor(219, 182, 255)},  // block 3: (L2, L0, L4)
                          {84, MakeColor(255, 182, 255)},  // (L4, L0, L4); 85 is odd
                          {86, MakeColor(255, 182, 219)},  // (L4, L0, L2)
                          {104, MakeColor(0, 0, 113)},     // block 4
                          {200, MakeColor(32, 32, 65)},    // block 8
                          {247, MakeColor(44, 48, 65)},    // last wheel entry of block 9
                          {248, 0},
                          {255, 0}};
    for (const Spot& s : spots)
        EXPECT_EQ(entryColor(p, s.index), s.color) << "entry " << s.index;
}

// --- NewImage

TEST(DibGraphic, NewImageFillsHeaderColourTableAndPalette)
{
    const TLogicalPalette four = makePalette({0x102030, 0x405060, 0x708090, 0xA0B0C0});
    TDibGraphic g;
    g.NewImage(5, 3, ifColor16, &four, 96, 72);
    const TBitmapInfoHeader& h = g.Header();
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 5);
    EXPECT_EQ(h.biHeight, 3);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 4);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, 12u);
    EXPECT_EQ(h.biXPelsPerMeter, 3780);
    EXPECT_EQ(h.biYPelsPerMeter, 2835);
    EXPECT_EQ(h.biClrUsed, 4u);
    EXPECT_EQ(h.biClrImportant, 0u);

    EXPECT_EQ(g.Palette().Version, 0x300);
    EXPECT_EQ(g.Palette().EntryCount, 4);
    for (int i = 0; i < 256; ++i) {
        const uint32_t want = i < 4 ? entryColor(four, i) : 0u;
        EXPECT_EQ(entryColor(g.Palette(), i), want) << i;
        const uint8_t* t = g.ColorTable() + i * 4;
        EXPECT_EQ(MakeColor(t[2], t[1], t[0]), want) << i;
        EXPECT_EQ(t[3], 0);
    }
    ASSERT_NE(g.Converter(), nullptr);

    g.NewImage(2, 2, ifRgb24, &four, 96, 96);
    EXPECT_EQ(g.Header().biClrUsed, 0u);
    EXPECT_EQ(g.Palette().EntryCount, 0);
    EXPECT_EQ(g.Converter(), nullptr);
}

TEST(DibGraphic, NewImageWithoutPaletteTakesTheDefault)
{
    TDibGraphic g;
    g.NewImage(4, 4, ifColor256, nullptr, 96, 96);
    EXPECT_EQ(g.Palette().EntryCount, 256);
    EXPECT_EQ(entryColor(g.Palette(), 30), MakeColor(227, 179, 179));
    EXPECT_EQ(std::memcmp(g.Palette().Entries, DefaultPalette(ifColor256).Entries, 1024), 0);
}

TEST(DibGraphic, NewImageWithItsOwnPaletteKeepsIt)
{
    const TLogicalPalette three = makePalette({0xFF0000, 0x00FF00, 0x0000FF});
    TDibGraphic g;
    g.NewImage(4, 4, ifColor256, &three, 96, 96);
    g.NewImage(8, 2, ifColor256, &g.Palette(), 96, 96);
    EXPECT_EQ(g.Palette().EntryCount, 3);
    EXPECT_EQ(entryColor(g.Palette(), 2), 0x0000FFu);
}

TEST(DibGraphic, NewImageFailuresLeaveTheBitmapEmpty)
{
    struct Case {
        int w, h, format;
        const char* message;
    };
    const Case cases[] = {{4, 4, 6, "Internal error: Invalid image format"},
                          {4, 4, 255, "Internal error: Invalid image format"},
                          {0, 4, ifRgb24, "CreateDibSection failed"},
                          {4, 0, ifMonochrome, "CreateDibSection failed"},
                          {-3, 4, ifColor256, "CreateDibSection failed"},
                          {4, -1, ifColor16, "CreateDibSection failed"},
                          {INT32_MAX, INT32_MAX, ifRgb24, "CreateDibSection failed"},
                          {INT32_MAX, 1, ifRgb24, "CreateDibSection failed"},
                          {1, INT32_MAX, ifRgb24, "CreateDibSection failed"},
                          {65536, 65536, ifColor256, "CreateDibSection failed"}};
    for (const Case& c : cases) {
        TDibGraphic g;
        g.NewImage(2, 2, ifColor256, nullptr, 96, 96);
        try {
            g.NewImage(c.w, c.h, TImageFormat(c.format), nullptr, 96, 96);
            ADD_FAILURE() << c.w << "x" << c.h << " did not fail";
        } catch (const ETavrinError& e) {
            EXPECT_EQ(e.message(), c.message) << c.w << "x" << c.h;
        }
        EXPECT_TRUE(g.IsEmpty());
        EXPECT_EQ(g.Width(), 0);
        EXPECT_EQ(g.Height(), 0);
        EXPECT_EQ(g.Converter(), nullptr);
        EXPECT_EQ(g.Header().biSize, 0u);
    }
}

TEST(DibGraphic, ZeroResolutionTakesTheDisplays)
{
    const int oldX = screenDpiX(), oldY = screenDpiY();
    setScreenDpi(120, 144);
    TDibGraphic g;
    g.NewImage(1, 1, ifRgb24, nullptr, 0, 72);
    EXPECT_EQ(g.ResolutionX(), 120);
    EXPECT_EQ(g.ResolutionY(), 72);
    g.NewImage(1, 1, ifRgb24, nullptr, 300, 0);
    EXPECT_EQ(g.ResolutionX(), 300);
    EXPECT_EQ(g.ResolutionY(), 144);
    setScreenDpi(oldX, oldY);
}

TEST(DibGraphic, ResolutionRoundsHalfToEvenBothWays)
{
    struct Case {
        int dpi, ppm;
    };
    const Case cases[] = {{96, 3780}, {72, 2835}, {0, 0}, {1, 39}, {300, 11811}, {600, 23622}, {65535, 2580118}};
    TDibGraphic g;
    g.NewImage(1, 1, ifRgb24, nullptr, 96, 96);
    for (const Case& c : cases) {
        g.SetResolutionX(c.dpi);
        g.SetResolutionY(c.dpi);
        EXPECT_EQ(g.Header().biXPelsPerMeter, c.ppm) << c.dpi;
        EXPECT_EQ(g.ResolutionX(), c.dpi);
        EXPECT_EQ(g.ResolutionY(), c.dpi);
    }
    // Reading a stored value that lies exactly half way rounds to even:
    // 2500 ppm is 63.5 dpi, 7500 ppm is 190.5 dpi, 12500 ppm is 317.5 dpi.
    const int halfway[][2] = {{2500, 64}, {7500, 190}, {12500, 318}, {3779, 96}};
    for (const auto& h : halfway) {
        QImage img(1, 1, QImage::Format_RGB888);
        img.setDotsPerMeterX(h[0]);
        img.setDotsPerMeterY(h[0]);
        g.AssignFromPlatformBitmap(img);
        EXPECT_EQ(g.ResolutionX(), h[1]) << h[0];
        EXPECT_EQ(g.ResolutionY(), h[1]) << h[0];
    }
}

// --- nearest-colour converter

TEST(RgbToPaletteConverter, NearestEntryOnTheStandard16ColourPalette)
{
    TDibGraphic g;
    g.NewImage(3, 1, ifColor16, nullptr, 96, 96);
    const std::pair<uint32_t, int> cases[] = {
        {0xFFFFFF, 15}, {MakeColor(170, 85, 0), 6}, {MakeColor(200, 200, 200), 7}, {0x000000, 0}, {0x0000B0, 1}};
    for (auto [color, index] : cases) {
        g.SetPixelColor(1, 0, color);
        EXPECT_EQ(g.GetPixelIndex(1, 0), index) << std::hex << color;
    }
}

TEST(RgbToPaletteConverter, TiesExactMatchesAndEmptyPalettes)
{
    // The nearest entry wins even when it comes last.
    const TLogicalPalette near = makePalette({0x0000FF, 0x100000, 0x000010, 0x080808});
    TRgbToPaletteConverter c(near);
    EXPECT_EQ(c.IndexOf(0x000000), 3);  // (8,8,8) is at 192, the others at 256 and more
    const TLogicalPalette tie2 = makePalette({0xFF0000, 0x000020, 0x200000, 0x002000});
    TRgbToPaletteConverter c2(tie2);
    EXPECT_EQ(c2.IndexOf(0x000000), 1);  // three entries at distance 1024: the lowest index wins

    const TLogicalPalette dup = makePalette({0x123456, 0x654321, 0x654321});
    TRgbToPaletteConverter c3(dup);
    EXPECT_EQ(c3.IndexOf(0x654321), 1);

    TLogicalPalette empty{};
    TRgbToPaletteConverter c4(empty);
    EXPECT_EQ(c4.IndexOf(0xABCDEF), 0);
}

TEST(RgbToPaletteConverter, CacheCountsHitsAndMissesPerSlot)
{
    const TLogicalPalette& p = DefaultPalette(ifColor16);
    TRgbToPaletteConverter c(p);
    EXPECT_EQ(c.Hits(), 0u);
    EXPECT_EQ(c.Misses(), 0u);
    EXPECT_EQ(c.IndexOf(0xFFFFFF), 15);
    EXPECT_EQ(c.IndexOf(0xFFFFFF), 15);
    EXPECT_EQ(c.Hits(), 1u);
    EXPECT_EQ(c.Misses(), 1u);
    // Colour 0 and colour 1020 (0, 3, 252: nearest to 0, 0, 170) share slot 0:
    // each replaces the other.
    EXPECT_EQ(c.IndexOf(0), 0);
    EXPECT_EQ(c.IndexOf(1020), 1);
    EXPECT_EQ(c.IndexOf(1020), 1);
    EXPECT_EQ(c.Misses(), 3u);
    EXPECT_EQ(c.Hits(), 2u);
    EXPECT_EQ(c.IndexOf(0), 0);
    EXPECT_EQ(c.Misses(), 4u);
    // Colour 0 meets an empty slot first: the empty marker is the index, not the colour.
    TRgbToPaletteConverter fresh(p);
    fresh.IndexOf(0);
    EXPECT_EQ(fresh.Misses(), 1u);
    EXPECT_EQ(fresh.Hits(), 0u);
}

// --- pixel access

TEST(DibGraphic, PixelPackingPerFormat)
{
    struct Case {
        TImageFormat f;
        int x, index;
        int byteAt;
        uint8_t byte;
    };
    const Case cases[] = {{ifMonochrome, 0, 1, 0, 0x80}, {ifMonochrome, 9, 1, 1, 0x40},
                          {ifMonochrome, 7, 5, 0, 0x01}, {ifGrayscale16, 0, 0xA, 0, 0xA0},
                          {ifColor16, 3, 0x7, 1, 0x07},  {ifColor16, 4, 0xF, 2, 0xF0},
                          {ifColor256, 2, 200, 2, 200},  {ifGrayscale256, 0, 255, 0, 255}};
    for (const Case& c : cases) {
        TDibGraphic g;
        g.NewImage(12, 3, c.f, nullptr, 96, 96);
        g.SetPixelIndex(c.x, 1, c.index);
        const uint8_t* row = g.RowPointer(1);
        for (int i = 0; i < g.RowStride(); ++i)
            EXPECT_EQ(row[i], i == c.byteAt ? c.byte : 0) << "format " << int(c.f) << " x " << c.x << " byte " << i;
        EXPECT_EQ(g.GetPixelIndex(c.x, 1), c.f == ifMonochrome ? 1 : c.index);
        EXPECT_EQ(g.GetPixelColor(c.x, 1), entryColor(g.Palette(), c.f == ifMonochrome ? 1 : c.index));
        EXPECT_EQ(g.RowPointer(0)[c.byteAt], 0) << "other rows untouched";
        EXPECT_EQ(g.RowPointer(2)[c.byteAt], 0);
    }
}

TEST(DibGraphic, IndexWritesNeverSpillIntoNeighbours)
{
    TDibGraphic mono;
    mono.NewImage(8, 1, ifMonochrome, nullptr, 96, 96);
    mono.SetPixelIndex(3, 0, 1);
    mono.SetPixelIndex(4, 0, 2);  // any index above 0 sets the bit
    EXPECT_EQ(mono.RowPointer(0)[0], 0x18);
    mono.SetPixelIndex(3, 0, 0);
    mono.SetPixelIndex(4, 0, -1);
    EXPECT_EQ(mono.RowPointer(0)[0], 0x00);

    TDibGraphic nib;
    nib.NewImage(2, 1, ifColor16, nullptr, 96, 96);
    nib.SetPixelIndex(0, 0, 0x5);
    nib.SetPixelIndex(1, 0, 0x1C);
    EXPECT_EQ(nib.RowPointer(0)[0], 0x5C);
    nib.SetPixelIndex(0, 0, 0x13);
    EXPECT_EQ(nib.RowPointer(0)[0], 0x3C);
}

TEST(DibGraphic, TrueColourPixelsAreBlueGreenRed)
{
    TDibGraphic g;
    g.NewImage(2, 2, ifRgb24, nullptr, 96, 96);
    g.SetPixelColor(1, 0, 0x112233);
    const uint8_t* p = g.RowPointer(0) + 3;
    EXPECT_EQ(p[0], 0x33);
    EXPECT_EQ(p[1], 0x22);
    EXPECT_EQ(p[2], 0x11);
    EXPECT_EQ(g.GetPixelColor(1, 0), 0x112233u);
    EXPECT_EQ(g.GetPixelColor(0, 0), 0u);
    EXPECT_EQ(g.GetPixelColor(1, 1), 0u);
}

TEST(DibGraphic, Messages)
{
    TDibGraphic g;
    g.NewImage(2, 2, ifRgb24, nullptr, 96, 96);
    EXPECT_EQ(messageOf([&] { g.GetPixelIndex(0, 0); }), "The image does not have a palette");
    EXPECT_EQ(messageOf([&] { g.SetPixelIndex(0, 0, 1); }), "The image does not have a palette");
    EXPECT_EQ(messageOf([&] { g.SetWidth(5); }), "Dimensions must be change with the NewImage method");
    EXPECT_EQ(messageOf([&] { g.SetHeight(5); }), "Dimensions must be change with the NewImage method");
    TMemoryStream s;
    EXPECT_EQ(messageOf([&] { g.AddImageToStream(s); }), "The TDibGraphic format does not support multiple images");
    EXPECT_THROW(g.GetPixelIndex(0, 0), ETavrinError);
    EXPECT_EQ(g.Width(), 2);
}

// --- palette replacement

TEST(DibGraphic, SetPaletteUpdatesTableHeaderAndConverter)
{
    TDibGraphic g;
    g.NewImage(2, 1, ifColor256, nullptr, 96, 96);
    EXPECT_NE(g.Converter(), nullptr);
    g.SetPixelColor(0, 0, 0xFF0000);
    EXPECT_EQ(g.GetPixelIndex(0, 0), 40);  // the exact red of the first wheel block

    TLogicalPalette p = makePalette({0x000000, 0xFF0000});
    p.Entries[5].peRed = 99;  // beyond EntryCount: must not survive
    g.SetPalette(p);
    EXPECT_EQ(g.Palette().EntryCount, 2);
    EXPECT_EQ(g.Palette().Version, 0x300);
    EXPECT_EQ(g.Palette().Entries[5].peRed, 0);
    EXPECT_EQ(g.Header().biClrUsed, 2u);
    EXPECT_EQ(g.ColorTable()[1 * 4 + 2], 0xFF);
    EXPECT_EQ(g.ColorTable()[12 * 4 + 2], 0);
    g.SetPixelColor(1, 0, 0xFF0000);
    EXPECT_EQ(g.GetPixelIndex(1, 0), 1) << "the converter must not answer from the old palette";

    g.SetPalette(g.Palette());  // its own palette
    EXPECT_EQ(g.Palette().EntryCount, 2);
    EXPECT_EQ(entryColor(g.Palette(), 1), 0xFF0000u);

    TDibGraphic rgb;
    rgb.NewImage(1, 1, ifRgb24, nullptr, 96, 96);
    EXPECT_EQ(messageOf([&] { rgb.SetPalette(p); }), "The image does not have a palette");
}

// --- copying

TEST(DibGraphic, AssignFromBitmapCopiesEverythingAndKeepsZeroResolution)
{
    const TLogicalPalette pal = makePalette({0x101010, 0x202020, 0x303030});
    TDibGraphic src;
    src.NewImage(7, 3, ifColor16, &pal, 150, 96);
    src.SetResolutionY(0);
    src.SetPixelIndex(6, 2, 2);
    src.SetPixelIndex(0, 0, 1);

    TDibGraphic dst;
    dst.NewImage(1, 1, ifRgb24, nullptr, 96, 96);
    dst.Assign(&src);
    EXPECT_EQ(dst.Width(), 7);
    EXPECT_EQ(dst.Height(), 3);
    EXPECT_EQ(dst.ImageFormat(), ifColor16);
    EXPECT_EQ(dst.ResolutionX(), 150);
    EXPECT_EQ(dst.ResolutionY(), 0);
    EXPECT_EQ(dst.Palette().EntryCount, 3);
    EXPECT_EQ(std::memcmp(&dst.Palette(), &src.Palette(), sizeof(TLogicalPalette)), 0);
    EXPECT_EQ(std::memcmp(&dst.Header(), &src.Header(), sizeof(TBitmapInfoHeader)), 0);
    ASSERT_NE(dst.Bits(), src.Bits());
    EXPECT_EQ(std::memcmp(dst.Bits(), src.Bits(), size_t(3 * src.RowStride())), 0);
    src.SetPixelIndex(6, 2, 0);
    EXPECT_EQ(dst.GetPixelIndex(6, 2), 2) << "independent copy";

    dst.Assign(&dst);  // self-assignment keeps the picture
    EXPECT_EQ(dst.GetPixelIndex(6, 2), 2);

    TDibGraphic empty;
    dst.Assign(&empty);
    EXPECT_TRUE(dst.IsEmpty());
    dst.Assign(&src);
    dst.Assign(nullptr);
    EXPECT_TRUE(dst.IsEmpty());

    // CopyTo goes the other way.
    TDibGraphic viaCopyTo;
    src.CopyTo(&viaCopyTo);
    EXPECT_EQ(viaCopyTo.GetPixelIndex(0, 0), 1);
}

namespace {
// A picture that is not a bitmap: a blue square with a red top-left pixel.
class TSquarePicture : public TGraphic {
public:
    int side = 4;
    void Draw(QPainter& canvas, const QRect& rect) const override
    {
        canvas.fillRect(rect.adjusted(1, 1, -1, -1), QColor(0, 0, 255));
        canvas.fillRect(QRect(rect.topLeft(), QSize(1, 1)), QColor(255, 0, 0));
    }
    bool IsEmpty() const override { return false; }
    int Width() const override { return side; }
    int Height() const override { return side; }
    void SetWidth(int) override {}
    void SetHeight(int) override {}
    void ReadFromStream(TStream&) override {}
    void WriteToStream(TStream&) override {}
};
}  // namespace

TEST(DibGraphic, AssignFromAnotherPictureDrawsItOnBlackTrueColour)
{
    TSquarePicture pic;
    TDibGraphic g;
    g.Assign(&pic);
    ASSERT_EQ(g.ImageFormat(), ifRgb24);
    ASSERT_EQ(g.Width(), 4);
    ASSERT_EQ(g.Height(), 4);
    EXPECT_EQ(g.GetPixelColor(0, 0), 0xFF0000u);
    EXPECT_EQ(g.GetPixelColor(3, 0), 0u);
    EXPECT_EQ(g.GetPixelColor(1, 1), 0x0000FFu);
    EXPECT_EQ(g.GetPixelColor(2, 2), 0x0000FFu);
    EXPECT_EQ(g.GetPixelColor(3, 3), 0u);
    EXPECT_EQ(g.ResolutionX(), screenDpiX());

    EXPECT_EQ(messageOf([&] { g.CopyTo(&pic); }), "Cannot assign a TDibGraphic to a TGraphic");

    pic.side = 0;
    EXPECT_EQ(messageOf([&] { g.Assign(&pic); }), "CreateDibSection failed");
    EXPECT_TRUE(g.IsEmpty());
}

TEST(DibGraphic, AssignFromPlatformBitmapOfEachDepth)
{
    struct Case {
        QImage::Format qf;
        int colors;  // colour table size for indexed images
        TImageFormat expect;
    };
    const Case cases[] = {{QImage::Format_Mono, 2, ifMonochrome},
                          {QImage::Format_MonoLSB, 2, ifMonochrome},
                          {QImage::Format_Indexed8, 16, ifColor16},
                          {QImage::Format_Indexed8, 200, ifColor256},
                          {QImage::Format_Grayscale8, 0, ifGrayscale256},
                          {QImage::Format_RGB888, 0, ifRgb24},
                          {QImage::Format_BGR888, 0, ifRgb24},
                          {QImage::Format_RGB32, 0, ifRgb24},
                          {QImage::Format_ARGB32, 0, ifRgb24},
                          {QImage::Format_RGB16, 0, ifRgb24}};
    const int w = 11, h = 3;
    for (const Case& c : cases) {
        QImage img(w, h, c.qf);
        img.setDotsPerMeterX(3780);
        img.setDotsPerMeterY(2835);
        std::vector<uint32_t> expected(size_t(w * h));
        if (c.colors) {
            QList<QRgb> table;
            for (int i = 0; i < c.colors; ++i)
                table.append(qRgb(i * 7 % 256, 255 - i, i * 3 % 256));
            img.setColorTable(table);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    img.setPixel(x, y, uint((x * 5 + y * 3) % c.colors));
        } else {
            // Colours every format stores exactly (5-6-5 for RGB16).
            const QRgb colours[] = {qRgb(0, 0, 0),   qRgb(255, 255, 255), qRgb(255, 0, 0),
                                    qRgb(0, 255, 0), qRgb(0, 0, 255),     qRgb(132, 132, 132)};
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    QRgb col = colours[(x + y) % 6];
                    if (c.qf == QImage::Format_Grayscale8)
                        col = qRgb(x * 20, x * 20, x * 20);
                    img.setPixel(x, y, col);
                }
        }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                expected[size_t(y * w + x)] = img.pixel(x, y) & 0xFFFFFF;

        TDibGraphic g;
        g.AssignFromPlatformBitmap(img);
        ASSERT_EQ(g.ImageFormat(), c.expect) << "QImage format " << int(c.qf);
        ASSERT_EQ(g.Width(), w);
        ASSERT_EQ(g.Height(), h);
        EXPECT_EQ(g.ResolutionX(), 96);
        EXPECT_EQ(g.ResolutionY(), 72);
        if (c.colors) {
            EXPECT_EQ(g.Palette().EntryCount, c.colors);
        }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                EXPECT_EQ(g.GetPixelColor(x, y), expected[size_t(y * w + x)])
                    << "QImage format " << int(c.qf) << " at " << x << "," << y;
        if (c.expect == ifMonochrome) {
            EXPECT_EQ(g.RowPointer(0)[1] & 0x1F, 0) << "bits beyond the width stay clear";
        }
    }
}

TEST(DibGraphic, AssignFromPlatformBitmapFailures)
{
    TDibGraphic g;
    try {
        g.AssignFromPlatformBitmap(QImage());
        ADD_FAILURE();
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.message(), "Invalid bitmap");
    }
    QImage deep(2, 2, QImage::Format_RGBA64);
    deep.fill(Qt::red);
    EXPECT_EQ(messageOf([&] { g.AssignFromPlatformBitmap(deep); }), "Unsupported bit count");

    // A resolution that does not fit 16 bits falls back to the display's.
    QImage huge(1, 1, QImage::Format_RGB32);
    huge.setDotsPerMeterX(INT_MAX);
    huge.setDotsPerMeterY(3780);
    g.AssignFromPlatformBitmap(huge);
    EXPECT_EQ(g.ResolutionX(), screenDpiX());
    EXPECT_EQ(g.ResolutionY(), 96);
}

TEST(DibGraphic, CopyToPlatformBitmapAndToQImage)
{
    TDibGraphic g;
    g.NewImage(3, 2, ifColor16, nullptr, 96, 96);
    g.SetPixelIndex(0, 0, 12);
    g.SetPixelIndex(2, 1, 9);
    const QImage out = g.CopyToPlatformBitmap();
    ASSERT_EQ(out.format(), QImage::Format_RGB888);
    ASSERT_EQ(out.size(), QSize(3, 2));
    const QImage q = g.ToQImage();
    ASSERT_EQ(q.format(), QImage::Format_Indexed8);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(out.pixel(x, y) & 0xFFFFFF, g.GetPixelColor(x, y));
            EXPECT_EQ(q.pixelIndex(x, y), g.GetPixelIndex(x, y));
        }
    TDibGraphic back;
    back.AssignFromPlatformBitmap(out);
    EXPECT_EQ(back.GetPixelColor(0, 0), MakeColor(255, 85, 85));
    EXPECT_TRUE(TDibGraphic().CopyToPlatformBitmap().isNull());
}

// --- drawing

TEST(DibGraphic, DrawUnscaledCopiesPixelsAndFiresAfterDraw)
{
    TDibGraphic g;
    g.NewImage(3, 2, ifRgb24, nullptr, 96, 96);
    g.SetPixelColor(0, 0, 0x102030);
    g.SetPixelColor(2, 1, 0xA0B0C0);
    int fired = 0;
    g.OnAfterDraw = [&](TDibGraphic& b) {
        EXPECT_EQ(&b, &g);
        ++fired;
    };
    const QImage c = render(g, QSize(6, 6), QRect(2, 1, 3, 2));
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(rgbAt(c, 2, 1), 0x102030u);
    EXPECT_EQ(rgbAt(c, 4, 2), 0xA0B0C0u);
    EXPECT_EQ(rgbAt(c, 3, 1), 0u);
    EXPECT_EQ(rgbAt(c, 1, 1), 0xFFFFFFu) << "outside the rectangle untouched";
    EXPECT_EQ(rgbAt(c, 5, 1), 0xFFFFFFu);
    EXPECT_EQ(rgbAt(c, 2, 3), 0xFFFFFFu);

    TDibGraphic empty;
    empty.OnAfterDraw = [&](TDibGraphic&) { ++fired; };
    const QImage blank = render(empty, QSize(2, 2), QRect(0, 0, 2, 2));
    EXPECT_EQ(fired, 2);
    EXPECT_EQ(rgbAt(blank, 0, 0), 0xFFFFFFu);
}

TEST(DibGraphic, DrawScalesPaletteFormatsByAreaAndTrueColourByNearestPixel)
{
    // A black/white checkerboard shrunk to one pixel: the halftone mean is grey,
    // nearest-pixel gives one of the source pixels.
    TDibGraphic mono;
    mono.NewImage(2, 2, ifMonochrome, nullptr, 96, 96);
    mono.SetPixelIndex(1, 0, 1);
    mono.SetPixelIndex(0, 1, 1);
    EXPECT_EQ(rgbAt(render(mono, QSize(1, 1), QRect(0, 0, 1, 1)), 0, 0), 0x808080u);

    TDibGraphic rgb;
    rgb.NewImage(2, 2, ifRgb24, nullptr, 96, 96);
    rgb.SetPixelColor(1, 0, 0xFFFFFF);
    rgb.SetPixelColor(0, 1, 0xFFFFFF);
    EXPECT_EQ(rgbAt(render(rgb, QSize(1, 1), QRect(0, 0, 1, 1)), 0, 0), 0u);

    // Three grey pixels 0, 255, 0 into two: each output covers 1.5 source pixels.
    TDibGraphic grey;
    grey.NewImage(3, 1, ifGrayscale256, nullptr, 96, 96);
    grey.SetPixelIndex(1, 0, 255);
    const QImage two = render(grey, QSize(2, 1), QRect(0, 0, 2, 1));
    EXPECT_EQ(rgbAt(two, 0, 0), 0x555555u);
    EXPECT_EQ(rgbAt(two, 1, 0), 0x555555u);

    // Enlarging replicates pixels in both modes.
    for (TDibGraphic* g : {&grey, &rgb}) {
        const int sw = g->Width(), sh = g->Height();
        const QImage big = render(*g, QSize(sw * 3, sh * 2), QRect(0, 0, sw * 3, sh * 2));
        for (int y = 0; y < sh * 2; ++y)
            for (int x = 0; x < sw * 3; ++x)
                EXPECT_EQ(rgbAt(big, x, y), g->GetPixelColor(x / 3, y / 2)) << x << "," << y;
    }
}

TEST(DibGraphic, DrawComputesOnlyTheVisiblePartOfAHugeRectangle)
{
    TDibGraphic g;
    g.NewImage(4, 4, ifColor16, nullptr, 96, 96);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            g.SetPixelIndex(x, y, y * 4 + x);
    // 100000 x 100000 destination pixels; only an 8 x 8 window is on the canvas.
    const QImage c = render(g, QSize(8, 8), QRect(-50000 + 4, -50000 + 4, 100000, 100000));
    // The canvas shows the meeting point of source pixels (1,1), (2,1), (1,2), (2,2).
    EXPECT_EQ(rgbAt(c, 3, 3), g.GetPixelColor(1, 1));
    EXPECT_EQ(rgbAt(c, 4, 3), g.GetPixelColor(2, 1));
    EXPECT_EQ(rgbAt(c, 3, 4), g.GetPixelColor(1, 2));
    EXPECT_EQ(rgbAt(c, 4, 4), g.GetPixelColor(2, 2));
}

// --- streams

namespace {
class TRecordingPicture : public TDibGraphic {
public:
    int readIndex = 0;
    void ReadImage(TStream&, int index) override { readIndex = index; }
};
}  // namespace

TEST(DibGraphic, StreamOperationsOfTheBase)
{
    TRecordingPicture pic;
    TMemoryStream s;
    pic.ImageIndex = 3;
    pic.ReadFromStream(s);
    EXPECT_EQ(pic.readIndex, 3);
    EXPECT_EQ(pic.CountImages(s), 1);

    TDibGraphic g;
    g.NewImage(1, 1, ifRgb24, nullptr, 96, 96);
    g.ReadImage(s, 1);
    EXPECT_EQ(s.Size(), 0);
    EXPECT_FALSE(g.IsEmpty());
}

TEST(DibGraphic, WritingWithoutAWriterFailsWithAMessage)
{
    // A picture class with no writer of its own must not report a save that
    // wrote nothing as a success.
    TDibGraphic g;
    g.NewImage(1, 1, ifRgb24, nullptr, 96, 96);
    TMemoryStream s;
    EXPECT_EQ(messageOf([&] { g.WriteToStream(s); }), "Method \"WriteToStream\" not implemented for TDibGraphic class");
    EXPECT_EQ(s.Size(), 0);
}
