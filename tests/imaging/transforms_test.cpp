// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/transforms.h"

#include <gtest/gtest.h>

#include <cmath>
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

// A bitmap whose pixels, palette and resolution all differ from the defaults.
void fillPattern(TDibGraphic& g)
{
    for (int y = 0; y < g.Height(); ++y)
        for (int x = 0; x < g.Width(); ++x) {
            if (g.ImageFormat() == ifRgb24)
                g.SetPixelColor(x, y, MakeColor(uint8_t(x * 40 + y), uint8_t(y * 50), uint8_t(x ^ y)));
            else
                g.SetPixelIndex(x, y, (x * 3 + y * 7) % (1 << BitsPerPixel(g.ImageFormat())));
        }
}

std::vector<uint8_t> snapshot(const TDibGraphic& g)
{
    std::vector<uint8_t> v(reinterpret_cast<const uint8_t*>(&g.Header()),
                           reinterpret_cast<const uint8_t*>(&g.Header()) + sizeof(TBitmapInfoHeader));
    v.insert(v.end(), reinterpret_cast<const uint8_t*>(&g.Palette()),
             reinterpret_cast<const uint8_t*>(&g.Palette()) + sizeof(TLogicalPalette));
    if (!g.IsEmpty())
        v.insert(v.end(), g.Bits(), g.Bits() + int64_t(g.Height()) * g.RowStride());
    v.push_back(g.ImageFormat());
    return v;
}

class TProbeTransform : public TImageTransform {
public:
    using TImageTransform::Progress;
};

}  // namespace

// --- base class

TEST(ImageTransform, BaseApplyOnDestIsNotImplementedAndInPlaceLeavesTheBitmap)
{
    TImageTransform t;
    TDibGraphic src, dst;
    src.NewImage(3, 3, ifColor256, nullptr, 96, 96);
    EXPECT_EQ(messageOf([&] { t.ApplyOnDest(src, dst); }),
              "Method \"ApplyOnDest\" not implemented for TImageTransform class");

    fillPattern(src);
    const auto before = snapshot(src);
    EXPECT_THROW(t.ApplyInPlace(src), ETavrinError);
    EXPECT_EQ(snapshot(src), before);
}

TEST(ImageTransform, ProgressReportsChangesOnly)
{
    TProbeTransform t;
    EXPECT_EQ(t.Progress(5, 0, 10), 0) << "no callback, nothing computed";
    EXPECT_EQ(t.ReportedPercent, 255);

    std::vector<int> seen;
    t.ProgressCallback = [&](TImageTransform& sender, int percent) {
        EXPECT_EQ(&sender, &t);
        seen.push_back(percent);
    };
    struct Case {
        int pos, min, max, percent;
    };
    const Case cases[] = {{0, 0, 10, 0},
                          {0, 0, 10, 0},
                          {1, 0, 3, 33},
                          {2, 0, 3, 66},
                          {15, 10, 20, 50},
                          {-5, 0, 10, 0},
                          {30, 0, 10, 100},
                          {7, 7, 7, 100},
                          {3, 7, 7, 100},
                          {1, 0, 1000, 0},
                          {INT32_MAX, INT32_MIN, INT32_MAX, 100}};
    for (const Case& c : cases)
        EXPECT_EQ(t.Progress(c.pos, c.min, c.max), c.percent) << c.pos << " in " << c.min << ".." << c.max;
    EXPECT_EQ(seen, (std::vector<int>{0, 33, 66, 50, 0, 100, 0, 100}));
    EXPECT_EQ(t.ReportedPercent, 100);
}

// --- flip

TEST(FlipVerticalTransform, MirrorsRowsAndKeepsFormatPaletteResolution)
{
    TLogicalPalette pal{};
    pal.EntryCount = 5;
    for (int i = 0; i < 5; ++i)
        pal.Entries[i] = {uint8_t(10 * i), uint8_t(20 * i), uint8_t(30 * i), 0};
    for (TImageFormat f : {ifMonochrome, ifColor16, ifColor256, ifGrayscale256, ifRgb24}) {
        TDibGraphic src;
        src.NewImage(13, 5, f, f == ifColor256 ? &pal : nullptr, 150, 0);
        fillPattern(src);
        TDibGraphic dst;
        TFlipVerticalTransform t;
        t.ApplyOnDest(src, dst);
        ASSERT_EQ(dst.ImageFormat(), f);
        ASSERT_EQ(dst.Width(), 13);
        ASSERT_EQ(dst.Height(), 5);
        EXPECT_EQ(dst.ResolutionX(), 150);
        EXPECT_EQ(dst.ResolutionY(), src.ResolutionY());
        EXPECT_EQ(std::memcmp(&dst.Palette(), &src.Palette(), sizeof(TLogicalPalette)), 0);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 13; ++x) {
                if (f == ifRgb24)
                    ASSERT_EQ(dst.GetPixelColor(x, 4 - y), src.GetPixelColor(x, y));
                else
                    ASSERT_EQ(dst.GetPixelIndex(x, 4 - y), src.GetPixelIndex(x, y)) << int(f);
            }
        // In place, rows are exchanged within the bitmap: the same bytes,
        // padding included, for an odd and an even number of rows.
        for (int h : {5, 6}) {
            TDibGraphic odd;
            odd.NewImage(13, h, f, f == ifColor256 ? &pal : nullptr, 150, 0);
            fillPattern(odd);
            TDibGraphic expected;
            t.ApplyOnDest(odd, expected);
            odd.AlphaPlane.assign(size_t(13 * h), 7);
            t.ApplyInPlace(odd);
            ASSERT_EQ(odd.Height(), h);
            EXPECT_TRUE(odd.AlphaPlane.empty()) << "as the flipped copy has none";
            EXPECT_EQ(std::memcmp(odd.Bits(), expected.Bits(), size_t(expected.RowStride()) * size_t(h)), 0)
                << int(f) << " with " << h << " rows";
        }
    }
}

TEST(FlipVerticalTransform, SingleRowIsCopiedAndInPlaceFlips)
{
    TDibGraphic one;
    one.NewImage(6, 1, ifColor256, nullptr, 96, 96);
    fillPattern(one);
    const auto before = snapshot(one);
    TFlipVerticalTransform t;
    std::vector<int> seen;
    t.ProgressCallback = [&](TImageTransform&, int p) { seen.push_back(p); };
    t.ApplyInPlace(one);
    EXPECT_EQ(snapshot(one), before);
    EXPECT_EQ(seen, (std::vector<int>{0, 100}));

    TDibGraphic g;
    g.NewImage(2, 3, ifRgb24, nullptr, 96, 96);
    g.SetPixelColor(1, 0, 0x123456);
    seen.clear();
    t.ApplyInPlace(g);
    EXPECT_EQ(g.GetPixelColor(1, 2), 0x123456u);
    EXPECT_EQ(g.GetPixelColor(1, 0), 0u);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);

    TDibGraphic empty;
    t.ApplyInPlace(empty);
    EXPECT_TRUE(empty.IsEmpty());
}

// --- anti-alias

TEST(AntiAliasTransform, EveryNibblePairGivesRoundedBoxCounts)
{
    // Row 0 of the result combines rows 0 and 1; row 1 (the last) combines row 1 with itself.
    auto level = [](double scale, int count) { return int(std::nearbyint(scale * count)); };  // ties to even
    auto bit = [](int nibble, int k) { return (nibble >> (3 - k)) & 1; };
    TAntiAliasTransform t;
    for (int top = 0; top < 16; ++top)
        for (int bottom = 0; bottom < 16; ++bottom) {
            TDibGraphic src;
            src.NewImage(8, 2, ifMonochrome, nullptr, 96, 96);
            src.RowPointer(0)[0] = uint8_t(top << 4 | top);
            src.RowPointer(1)[0] = uint8_t(bottom << 4 | bottom);
            TDibGraphic dst;
            t.ApplyOnDest(src, dst);
            ASSERT_EQ(dst.ImageFormat(), ifGrayscale16);
            for (int half = 0; half < 2; ++half)
                for (int k = 0; k < 4; ++k) {
                    const int x = half * 4 + k;
                    int want0, want1;
                    if (k < 3) {
                        want0 = level(3.75, bit(top, k) + bit(top, k + 1) + bit(bottom, k) + bit(bottom, k + 1));
                        want1 = level(3.75, 2 * (bit(bottom, k) + bit(bottom, k + 1)));
                    } else {
                        want0 = level(7.5, bit(top, 3) + bit(bottom, 3));
                        want1 = level(7.5, 2 * bit(bottom, 3));
                    }
                    ASSERT_EQ(dst.GetPixelIndex(x, 0), want0) << "t=" << top << " b=" << bottom << " x=" << x;
                    ASSERT_EQ(dst.GetPixelIndex(x, 1), want1) << "t=" << top << " b=" << bottom << " x=" << x;
                }
        }
}

TEST(AntiAliasTransform, LevelsPaletteSizeAndNonMonochromeSources)
{
    // The documented level sets.
    TDibGraphic src;
    src.NewImage(4, 2, ifMonochrome, nullptr, 200, 300);
    const uint8_t rows[][2] = {{0x00, 0x00}, {0x80, 0x00}, {0xC0, 0x00}, {0xC0, 0x80}, {0xC0, 0xC0}};
    const int pixel0[] = {0, 4, 8, 11, 15};
    TAntiAliasTransform t;
    for (int i = 0; i < 5; ++i) {
        src.RowPointer(0)[0] = rows[i][0];
        src.RowPointer(1)[0] = rows[i][1];
        TDibGraphic dst;
        t.ApplyOnDest(src, dst);
        EXPECT_EQ(dst.GetPixelIndex(0, 0), pixel0[i]) << i;
        EXPECT_EQ(dst.ResolutionX(), 200);
        EXPECT_EQ(dst.ResolutionY(), 300);
        EXPECT_EQ(std::memcmp(&dst.Palette(), &DefaultPalette(ifGrayscale16), sizeof(TLogicalPalette)), 0);
    }

    // A set bit is white even when the palette says black; bits beyond the
    // width never leak into the last pixel.
    TLogicalPalette inverted = DefaultPalette(ifMonochrome);
    std::swap(inverted.Entries[0], inverted.Entries[1]);
    TDibGraphic odd;
    odd.NewImage(3, 1, ifMonochrome, &inverted, 96, 96);
    odd.RowPointer(0)[0] = 0x3F;  // pixels 0..2 = 0,0,1; bits 3..7 are padding
    t.ApplyInPlace(odd);
    ASSERT_EQ(odd.ImageFormat(), ifGrayscale16);
    EXPECT_EQ(odd.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(odd.GetPixelIndex(1, 0), 8);  // pixels 1,2 over two rows: 2 set bits
    EXPECT_EQ(odd.GetPixelIndex(2, 0), 8);  // pixel 2 and the (clear) padding pixel 3
    EXPECT_EQ(odd.RowPointer(0)[1] & 0x0F, 0);
    for (int i = 2; i < odd.RowStride(); ++i)
        EXPECT_EQ(odd.RowPointer(0)[i], 0);

    // Other formats: ApplyInPlace leaves them, ApplyOnDest copies them.
    TDibGraphic colour;
    colour.NewImage(5, 2, ifColor16, nullptr, 96, 96);
    fillPattern(colour);
    const auto before = snapshot(colour);
    t.ApplyInPlace(colour);
    EXPECT_EQ(snapshot(colour), before);
    TDibGraphic copy;
    t.ApplyOnDest(colour, copy);
    EXPECT_EQ(snapshot(copy), before);
}

// --- negative

TEST(NegativeTransform, ComplementsValuesOrColourPalettes)
{
    for (TImageFormat f : {ifMonochrome, ifGrayscale16, ifGrayscale256, ifColor16, ifColor256, ifRgb24}) {
        TDibGraphic src;
        src.NewImage(7, 3, f, nullptr, 96, 96);
        fillPattern(src);
        TDibGraphic dst;
        TNegativeTransform t;
        t.ApplyOnDest(src, dst);
        ASSERT_EQ(dst.ImageFormat(), f);
        const bool colourPalette = f == ifColor16 || f == ifColor256;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x) {
                if (f == ifRgb24) {
                    EXPECT_EQ(dst.GetPixelColor(x, y), ~src.GetPixelColor(x, y) & 0xFFFFFF);
                } else if (colourPalette) {
                    EXPECT_EQ(dst.GetPixelIndex(x, y), src.GetPixelIndex(x, y));
                    EXPECT_EQ(dst.GetPixelColor(x, y), ~src.GetPixelColor(x, y) & 0xFFFFFF);
                } else {
                    const int maxIndex = (1 << BitsPerPixel(f)) - 1;
                    EXPECT_EQ(dst.GetPixelIndex(x, y), maxIndex - src.GetPixelIndex(x, y)) << int(f);
                }
            }
        if (colourPalette) {
            EXPECT_EQ(dst.Palette().Entries[0].peRed, 255);  // black became white
        } else {
            EXPECT_EQ(std::memcmp(&dst.Palette(), &src.Palette(), sizeof(TLogicalPalette)), 0);
        }
        if (f == ifMonochrome) {
            EXPECT_EQ(dst.RowPointer(0)[0] & 0x01, 0) << "padding bit stays clear";
        }
    }
}

// --- crop

TEST(CropTransform, CutsMarginsInEveryFormat)
{
    for (TImageFormat f : {ifMonochrome, ifColor16, ifColor256, ifRgb24}) {
        TDibGraphic src;
        src.NewImage(19, 7, f, nullptr, 110, 96);
        fillPattern(src);
        TCropTransform t;
        t.Left = 3;
        t.Top = 1;
        t.Right = 5;
        t.Bottom = 2;
        TDibGraphic dst;
        t.ApplyOnDest(src, dst);
        ASSERT_EQ(dst.Width(), 11);
        ASSERT_EQ(dst.Height(), 4);
        EXPECT_EQ(dst.ResolutionX(), 110);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 11; ++x)
                ASSERT_EQ(dst.GetPixelColor(x, y), src.GetPixelColor(x + 3, y + 1)) << int(f);
    }
}

TEST(CropTransform, ZeroMarginsCopyAndBadMarginsFailWithoutChangingTheBitmap)
{
    TDibGraphic g;
    g.NewImage(6, 4, ifColor256, nullptr, 96, 96);
    fillPattern(g);
    const auto before = snapshot(g);
    TCropTransform t;
    t.ApplyInPlace(g);
    EXPECT_EQ(snapshot(g), before);

    struct Case {
        int l, t, r, b;
    };
    const Case bad[] = {{3, 0, 3, 0},  {0, 2, 0, 2},  {6, 0, 0, 0},
                        {-1, 0, 0, 0}, {0, 0, 0, -2}, {INT32_MAX, 0, INT32_MAX, 0},
                        {0, 0, 10, 0}};
    for (const Case& c : bad) {
        t.Left = c.l;
        t.Top = c.t;
        t.Right = c.r;
        t.Bottom = c.b;
        EXPECT_EQ(messageOf([&] { t.ApplyInPlace(g); }), "Invalid crop parameters")
            << c.l << "," << c.t << "," << c.r << "," << c.b;
        EXPECT_EQ(snapshot(g), before);
    }
    TDibGraphic empty;
    t.Left = 1;
    t.Top = t.Right = t.Bottom = 0;
    EXPECT_EQ(messageOf([&] { t.ApplyInPlace(empty); }), "Invalid crop parameters");
}
