// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/format_transform.h"

#include "support/colour_selection_reference.h"
#include "support/picture_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

uint32_t grey(int v)
{
    return MakeColor(uint8_t(v), uint8_t(v), uint8_t(v));
}

uint32_t keyColour(int key, int offset = 0)
{
    return MakeColor(uint8_t(8 * (key & 31) + offset), uint8_t(8 * ((key >> 5) & 31) + offset),
                     uint8_t(8 * ((key >> 10) & 31) + offset));
}

uint32_t entryColour(const TLogicalPalette& p, int i)
{
    return MakeColor(p.Entries[i].peRed, p.Entries[i].peGreen, p.Entries[i].peBlue);
}

// --- palette build ---------------------------------------------------------

TEST(ColourReductionPalette, ThresholdSteps)
{
    const std::pair<int, int> cases[] = {{0, 2},     {1249, 2},  {1250, 5},  {2499, 5},   {2500, 10},
                                         {4999, 10}, {5000, 15}, {9999, 15}, {10000, 20}, {32768, 20}};
    for (auto [distinct, threshold] : cases)
        EXPECT_EQ(PaletteThreshold(distinct), threshold) << distinct;
}

TEST(ColourReductionPalette, RareColoursAreDroppedAtTheThresholdBoundaries)
{
    // D distinct 15-bit colours: three markers seen several times, every
    // other colour once. Which markers survive shows the threshold in force.
    const int markerKeys[3] = {32767, 1023, 31744};  // (248,248,248), (248,248,0), (0,0,248)
    const struct {
        int distinct;
        int counts[3];
        bool kept[3];
    } cases[] = {
        {1249, {3, 5, 6}, {true, true, true}},        // T = 2
        {1250, {3, 5, 6}, {false, false, true}},      // T = 5
        {9999, {15, 16, 21}, {false, true, true}},    // T = 15
        {10000, {15, 16, 21}, {false, false, true}},  // T = 20
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.distinct);
        std::vector<uint32_t> pixels;
        for (int m = 0; m < 3; ++m)
            pixels.insert(pixels.end(), size_t(c.counts[m]), keyColour(markerKeys[m], 5));
        for (int key = 0, added = 0; added < c.distinct - 3; ++key) {
            if (key == markerKeys[0] || key == markerKeys[1] || key == markerKeys[2])
                continue;
            pixels.push_back(keyColour(key, 7));  // low bits dropped by the key
            ++added;
        }
        auto picture = MakeRgb24Picture(int(pixels.size()), 1, [&](int x, int) { return pixels[size_t(x)]; });
        TLogicalPalette palette;
        std::memset(&palette, 0xAB, sizeof palette);
        TImageFormatTransform::BuildPalette(*picture, palette, 256);
        EXPECT_EQ(palette.Version, 0x300);
        EXPECT_EQ(palette.EntryCount, 256);
        // Survivors in ascending key order, cut to multiples of 8, then black.
        std::vector<uint32_t> expected;
        for (int key : {1023, 31744, 32767})
            for (int m = 0; m < 3; ++m)
                if (markerKeys[m] == key && c.kept[m])
                    expected.push_back(keyColour(key));
        for (size_t i = 0; i < 256; ++i) {
            EXPECT_EQ(entryColour(palette, int(i)), i < expected.size() ? expected[i] : 0u) << i;
            EXPECT_EQ(palette.Entries[i].peFlags, 0);
        }
    }
}

TEST(ColourReductionPalette, TwoColoursInKeyOrderAndCutToFiveBits)
{
    auto picture = MakeRgb24Picture(4, 4, [](int x, int) { return x < 2 ? 0u : 0xFFFFFFu; });
    TImageFormatTransform t;
    t.TargetFormat = ifColor256;
    t.ApplyInPlace(*picture);
    ASSERT_EQ(picture->ImageFormat(), ifColor256);
    const TLogicalPalette& p = picture->Palette();
    EXPECT_EQ(p.EntryCount, 256);
    EXPECT_EQ(entryColour(p, 0), 0u);
    EXPECT_EQ(entryColour(p, 1), grey(248));
    for (int i = 2; i < 256; ++i)
        ASSERT_EQ(entryColour(p, i), 0u) << i;
    // White's error of +7 is clamped away at 255, so it stays 248 throughout.
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(picture->GetPixelColor(x, y), x < 2 ? 0u : grey(248)) << x << "," << y;
    EXPECT_EQ(0, std::memcmp(&t.TargetPalette, &p, sizeof p));  // kept by the transform
}

TEST(ColourReductionPalette, ALoneColourIsNoCandidate)
{
    auto picture =
        MakeRgb24Picture(20, 20, [](int x, int y) { return x == 19 && y == 19 ? MakeColor(255, 0, 0) : grey(128); });
    TImageFormatTransform t;
    t.TargetFormat = ifColor256;
    t.ApplyInPlace(*picture);
    EXPECT_EQ(entryColour(picture->Palette(), 0), grey(128));
    EXPECT_EQ(entryColour(picture->Palette(), 1), 0u);
    EXPECT_EQ(picture->GetPixelColor(19, 19), grey(128));
}

TEST(ColourReductionPalette, SixteenColoursAndEmptyPicture)
{
    auto picture = MakePhotoLikePicture(64, 48, 3);
    TLogicalPalette p;
    TImageFormatTransform::BuildPalette(*picture, p, 16);
    EXPECT_EQ(p.EntryCount, 16);
    for (int i = 0; i < 16; ++i)
        for (uint8_t v : {p.Entries[i].peRed, p.Entries[i].peGreen, p.Entries[i].peBlue})
            EXPECT_EQ(v % 8, 0);
    for (int i = 16; i < 256; ++i)
        ASSERT_EQ(entryColour(p, i), 0u);
    // Entry 0 is the candidate nearest to white.
    std::vector<uint8_t> all;
    TLogicalPalette every;
    TImageFormatTransform::BuildPalette(*picture, every, 256);
    int best = 1 << 30;
    uint32_t whitest = 0;
    for (int i = 0; i < 256; ++i) {
        const int dr = 255 - every.Entries[i].peRed, dg = 255 - every.Entries[i].peGreen,
                  db = 255 - every.Entries[i].peBlue;
        if (dr * dr + dg * dg + db * db < best) {
            best = dr * dr + dg * dg + db * db;
            whitest = entryColour(every, i);
        }
    }
    EXPECT_EQ(entryColour(p, 0), whitest);
    EXPECT_EQ(entryColour(every, 0), whitest);

    TDibGraphic empty;
    TImageFormatTransform::BuildPalette(empty, p, 300);  // limited to 256, all black
    EXPECT_EQ(p.EntryCount, 256);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(entryColour(p, i), 0u);
}

// --- selection -------------------------------------------------------------

std::vector<uint8_t> bgr(std::initializer_list<uint32_t> colours)
{
    std::vector<uint8_t> v;
    for (uint32_t c : colours) {
        v.push_back(uint8_t(c));
        v.push_back(uint8_t(c >> 8));
        v.push_back(uint8_t(c >> 16));
    }
    return v;
}

TEST(ColourSelection, WhiteFirstThenLeastCrowdedFirstPositionOnTies)
{
    const uint32_t black = 0, white = grey(248), red = MakeColor(248, 0, 0), green = MakeColor(0, 248, 0);
    // White (position 1) is swapped to 0; black is least crowded by it; red
    // and green are then equally crowded and red, at the lower position, wins.
    std::vector<uint8_t> c = bgr({black, white, red, green});
    SelectColours(c.data(), 4, 3);
    EXPECT_EQ(c, bgr({white, black, red, green}));

    // Green first at the lower position: now it wins the tie.
    c = bgr({black, white, green, red});
    SelectColours(c.data(), 4, 3);
    EXPECT_EQ(c, bgr({white, black, green, red}));

    // Two equally white candidates: the first position wins.
    c = bgr({grey(8), MakeColor(248, 248, 240), MakeColor(240, 248, 248)});
    SelectColours(c.data(), 3, 1);
    EXPECT_EQ(c, bgr({MakeColor(248, 248, 240), grey(8), MakeColor(240, 248, 248)}));
}

TEST(ColourSelection, IncrementalEqualsPlainOnRandomSets)
{
    std::mt19937 rng(20240611);
    auto check = [&](std::vector<uint8_t> colours, int wanted) {
        const int count = int(colours.size() / 3);
        std::vector<uint8_t> plain = colours;
        SelectColoursPlain(plain.data(), count, wanted);
        SelectColours(colours.data(), count, wanted);
        ASSERT_EQ(colours, plain) << "count " << count << " wanted " << wanted;
    };
    for (int round = 0; round < 250; ++round) {
        const int kind = round % 5;
        const int count = 1 + int(rng() % (kind >= 3 ? 60 : 700));
        const int wanted = 1 + int(rng() % 300);
        std::vector<uint8_t> colours;
        if (kind == 0) {
            // Distinct 15-bit colours in key order, as the palette build makes them.
            std::vector<int> keys(32768);
            for (int k = 0; k < 32768; ++k)
                keys[size_t(k)] = k;
            std::shuffle(keys.begin(), keys.end(), rng);
            keys.resize(size_t(count));
            std::sort(keys.begin(), keys.end());
            for (int k : keys)
                for (uint8_t b : bgr({keyColour(k)}))
                    colours.push_back(b);
        } else if (kind == 1) {
            // A whole cube of neighbouring 15-bit colours: distinct but
            // symmetric, so many candidates are equally crowded.
            const int side = 2 + int(rng() % 7), base = 8 * int(rng() % 20);
            for (int b = 0; b < side; ++b)
                for (int g = 0; g < side; ++g)
                    for (int r = 0; r < side; ++r)
                        for (uint8_t v :
                             bgr({MakeColor(uint8_t(base + 8 * r), uint8_t(base + 8 * g), uint8_t(base + 8 * b))}))
                            colours.push_back(v);
        } else if (kind == 2) {
            // Arbitrary bytes, every other time close together (distances
            // of 1, crowding past 2^30).
            const bool close = round % 10 == 2;
            for (int i = 0; i < 3 * count; ++i)
                colours.push_back(uint8_t(close ? 120 + rng() % 6 : rng() % 256));
        } else if (kind == 3) {
            // A coarse lattice with duplicates.
            for (int i = 0; i < 3 * count; ++i)
                colours.push_back(uint8_t(64 * (rng() % 4)));
        } else {
            // Two levels only: mostly duplicates.
            for (int i = 0; i < 3 * count; ++i)
                colours.push_back(uint8_t(248 * (rng() % 2)));
        }
        check(colours, wanted);
        if (HasFatalFailure())
            return;
    }
    // One set of the size a real palette build meets.
    std::vector<uint8_t> large;
    for (int k = 0; k < 32768; k += 9)
        for (uint8_t b : bgr({keyColour(k)}))
            large.push_back(b);
    check(large, 256);
}

// --- dithering -------------------------------------------------------------

// Dithers grey rows onto the greys 0, 16, ..., 240 and returns the levels.
std::vector<std::vector<int>> ditherGreys(const std::vector<std::vector<int>>& rows)
{
    const int h = int(rows.size()), w = int(rows[0].size());
    auto picture = MakeRgb24Picture(w, h, [&](int x, int y) { return grey(rows[size_t(y)][size_t(x)]); });
    TImageFormatTransform t;
    t.TargetFormat = ifColor256;
    t.OptimizePalette = false;
    t.TargetPalette = MakeGreyPalette({0, 16, 32, 48, 64, 80, 96, 112, 128, 144, 160, 176, 192, 208, 224, 240});
    t.ApplyInPlace(*picture);
    EXPECT_EQ(picture->Palette().EntryCount, 16);
    std::vector<std::vector<int>> out(static_cast<size_t>(h), std::vector<int>(static_cast<size_t>(w)));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t c = picture->GetPixelColor(x, y);
            EXPECT_EQ(c, grey(int(c & 255)));
            out[size_t(y)][size_t(x)] = int(c & 255);
        }
    return out;
}

TEST(ColourReductionDither, ClampedAccumulatorsAndTruncatingDivision)
{
    using Rows = std::vector<std::vector<int>>;
    const struct {
        const char* what;
        Rows in, out;
    } cases[] = {
        // 23 -> 16, e = 7: 7e/16 = 3 to the right, 3e/16 = 1, 5e/16 = 2, e/16 = 0 below.
        {"positive error", {{0, 23, 10}, {7, 7, 7}}, {{0, 16, 16}, {0, 16, 0}}},
        // 25 -> 32, e = -7: the next row's accumulators start at 0 and stay
        // there, so row 1 sees nothing (signed sums would give 0, 0, 16).
        {"negative error absorbed", {{0, 25, 2}, {9, 9, 9}}, {{0, 32, 0}, {16, 16, 0}}},
        // 15 -> 16, e = -1: every share truncates to 0 (floor would give -1).
        {"error of -1", {{0, 15, 9}}, {{0, 16, 16}}},
        // Width 2 and 1: no diffusion within the row nor to the next.
        {"width 2", {{23, 7}, {7, 7}}, {{16, 0}, {0, 0}}},
        {"width 1", {{23}, {7}, {7}}, {{16}, {0}, {0}}},
        // The last pixel of a row passes nothing on either.
        {"last pixel", {{0, 16, 23}, {0, 16, 7}}, {{0, 16, 16}, {0, 16, 0}}},
        {"first pixel", {{23, 7, 0}, {7, 7, 7}}, {{16, 0, 0}, {0, 16, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ditherGreys(c.in), c.out);
    }
}

TEST(ColourReductionDither, OtherFormatsAndRepeatedRuns)
{
    // 256 greys: grey pixels map exactly, OptimizePalette has no effect.
    auto picture = MakeRgb24Picture(9, 4, [](int x, int y) { return grey(x * 25 + y); });
    TImageFormatTransform t;
    t.TargetFormat = ifGrayscale256;
    t.ApplyInPlace(*picture);
    ASSERT_EQ(picture->ImageFormat(), ifGrayscale256);
    EXPECT_EQ(0, std::memcmp(&picture->Palette(), &DefaultPalette(ifGrayscale256), sizeof(TLogicalPalette)));
    for (int x = 0; x < 9; ++x)
        EXPECT_EQ(picture->GetPixelIndex(x, 2), x * 25 + 2);

    // Without OptimizePalette an empty TargetPalette becomes the standard one
    // and stays with the transform.
    auto photo = MakePhotoLikePicture(16, 16, 9);
    TImageFormatTransform standard;
    standard.TargetFormat = ifColor256;
    standard.OptimizePalette = false;
    standard.ApplyInPlace(*photo);
    EXPECT_EQ(0, std::memcmp(&photo->Palette(), &DefaultPalette(ifColor256), sizeof(TLogicalPalette)));
    EXPECT_EQ(0, std::memcmp(&standard.TargetPalette, &DefaultPalette(ifColor256), sizeof(TLogicalPalette)));

    // 16 colours with a built palette; 4-bit pixels only hold palette colours.
    auto photo16 = MakePhotoLikePicture(33, 17, 4);
    TImageFormatTransform sixteen;
    sixteen.TargetFormat = ifColor16;
    sixteen.ApplyInPlace(*photo16);
    ASSERT_EQ(photo16->ImageFormat(), ifColor16);
    EXPECT_EQ(photo16->Palette().EntryCount, 16);
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 33; ++x)
            ASSERT_LT(photo16->GetPixelIndex(x, y), 16);

    // Undithered mapping takes the nearest entry.
    auto ramp = MakeRgb24Picture(4, 1, [](int x, int) { return grey(x * 60 + 3); });
    TImageFormatTransform plain;
    plain.TargetFormat = ifColor256;
    plain.OptimizePalette = false;
    plain.UseDithering = false;
    plain.TargetPalette = MakeGreyPalette({0, 64, 128, 192});
    plain.ApplyInPlace(*ramp);
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(ramp->GetPixelIndex(x, 0), x) << x;
}

// --- the transform ----------------------------------------------------------

TEST(ColourReductionTransform, AlreadyInTargetFormatIsLeftAlone)
{
    TLogicalPalette p = MakeGreyPalette({10, 20, 30});
    auto picture = MakeIndexedPicture(5, 3, ifColor256, p, [](int x, int y) { return (x + y) % 3; });
    const std::vector<uint8_t> before(picture->Bits(), picture->Bits() + picture->RowStride() * 3);
    TImageFormatTransform t;
    t.TargetFormat = ifColor256;
    t.ApplyInPlace(*picture);
    EXPECT_EQ(std::vector<uint8_t>(picture->Bits(), picture->Bits() + picture->RowStride() * 3), before);
    EXPECT_EQ(picture->Palette().EntryCount, 3);
    EXPECT_EQ(t.TargetPalette.EntryCount, 0);  // no palette was built
}

TEST(ColourReductionTransform, TrueColourExpandsPaletteColoursExactly)
{
    TLogicalPalette p = MakeGreyPalette({0, 0, 0});
    p.Entries[1] = {200, 10, 30, 0};
    p.Entries[2] = {1, 2, 3, 0};
    auto picture = MakeIndexedPicture(7, 2, ifColor16, p, [](int x, int y) { return (x + y) % 3; });
    picture->SetResolutionX(150);
    TImageFormatTransform t;  // ifRgb24
    t.ApplyInPlace(*picture);
    ASSERT_EQ(picture->ImageFormat(), ifRgb24);
    EXPECT_EQ(picture->ResolutionX(), 150);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(picture->GetPixelColor(x, y), entryColour(p, (x + y) % 3));
}

}  // namespace
