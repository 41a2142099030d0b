// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/resize_transform.h"
#include "imaging/row_bands.h"
#include "platform/cancellation.h"

#include "support/picture_builder.h"

#include <gtest/gtest.h>

#include <QSize>

#include <atomic>
#include <cmath>
#include <cstring>
#include <string>

namespace {

uint32_t grey(int v)
{
    return MakeColor(uint8_t(v), uint8_t(v), uint8_t(v));
}

int redAt(const TDibGraphic& b, int x, int y)
{
    return int((b.GetPixelColor(x, y) >> 16) & 255);
}

std::string errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ETavrinError& e) {
        return e.message();
    }
    return "(no error)";
}

TResizeTransform filtered(int w, int h, TResampleKernel kernel = rkCubicBSpline)
{
    TResizeTransform t;
    t.TargetWidth = w;
    t.TargetHeight = h;
    t.UseFilter = true;
    t.Kernel = kernel;
    return t;
}

// --- kernels ---------------------------------------------------------------

TEST(ResampleKernels, CubicBSplineWorkedValues)
{
    const struct {
        float x;
        long double expected;
    } cases[] = {{0.0f, 2.0L / 3},   {1.0f, 1.0L / 6},    {-1.0f, 1.0L / 6}, {2.0f, 0},         {-2.0f, 0},
                 {0.5f, 23.0L / 48}, {-0.5f, 23.0L / 48}, {1.5f, 1.0L / 48}, {-1.5f, 1.0L / 48}};
    for (const auto& c : cases)
        EXPECT_EQ(CubicBSplineKernel(c.x), static_cast<float>(c.expected)) << c.x;
}

TEST(ResampleKernels, TableSupportsCentresAndSymmetry)
{
    const struct {
        TResampleKernel kernel;
        float support;
        long double atZero;
    } cases[] = {{rkTriangle, 1.0f, 1},
                 {rkHermite, 1.0f, 1},
                 {rkQuadraticBSpline, 1.5f, 0.75L},
                 {rkCubicBSpline, 2.0f, 2.0L / 3},
                 {rkLanczos3, 3.0f, 1},
                 {rkMitchell, 2.0f, 16.0L / 18}};
    for (const auto& c : cases) {
        const TResampleKernelEntry& e = ResampleKernels[c.kernel];
        SCOPED_TRACE(e.Name);
        EXPECT_EQ(e.Support, c.support);
        EXPECT_EQ(e.Function(0.0f), static_cast<float>(c.atZero));
        // Zero from the support on, not before it.
        EXPECT_EQ(e.Function(c.support), 0.0f);
        EXPECT_EQ(e.Function(-c.support), 0.0f);
        EXPECT_EQ(e.Function(c.support + 0.25f), 0.0f);
        EXPECT_NE(e.Function(std::nextafter(c.support, 0.0f)), 0.0f);
        for (float x : {0.1f, 0.37f, 0.5f, 0.9f, 1.2f, 1.75f, 2.5f})
            EXPECT_EQ(e.Function(x), e.Function(-x)) << x;
    }
}

TEST(ResampleKernels, PiecewiseJoinsAndLobes)
{
    // Mitchell's two pieces meet at 1 with 1/18; quadratic's at 0.5 with 0.5.
    EXPECT_NEAR(MitchellKernel(1.0f), 1.0 / 18, 1e-7);
    EXPECT_NEAR(MitchellKernel(std::nextafter(1.0f, 0.0f)), 1.0 / 18, 1e-6);
    EXPECT_EQ(QuadraticBSplineKernel(0.5f), 0.5f);
    EXPECT_EQ(HermiteKernel(0.5f), 0.5f);
    EXPECT_EQ(TriangleKernel(0.25f), 0.75f);
    // Negative lobes: what lets sums leave 0..255.
    EXPECT_LT(Lanczos3Kernel(1.5f), 0.0f);
    EXPECT_LT(MitchellKernel(1.5f), 0.0f);
    // pi rounded to float before the sine: sinc(1) is tiny but not zero.
    EXPECT_NE(Lanczos3Kernel(1.0f), 0.0f);
    EXPECT_NEAR(Lanczos3Kernel(1.0f), 0.0f, 1e-6f);
}

// --- contributor lists -----------------------------------------------------

TEST(ResampleContributors, SameSizeCubicReflectsDifferentlyAtTheTwoEdges)
{
    const auto& k = ResampleKernels[rkCubicBSpline];
    const float scale = ResampleScale(5, 5);
    ASSERT_EQ(scale, 1.0f);
    const auto lists = BuildContributorLists(5, 5, scale, k.Function, k.Support);
    ASSERT_EQ(lists.size(), 5u);
    const float sixth = static_cast<float>(1.0L / 6), twoThirds = static_cast<float>(2.0L / 3);
    // First pixel: -1 reflects to 1 (the first pixel is not repeated).
    const std::vector<std::pair<int, float>> first = {{1, sixth}, {0, twoThirds}, {1, sixth}};
    // Last pixel: 5 reflects to 4 (the last pixel is repeated).
    const std::vector<std::pair<int, float>> last = {{3, sixth}, {4, twoThirds}, {4, sixth}};
    const std::vector<std::pair<int, float>> middle = {{1, sixth}, {2, twoThirds}, {3, sixth}};
    auto asPairs = [](const TContributorList& l) {
        std::vector<std::pair<int, float>> v;
        for (const TContributor& c : l.Entries)
            v.emplace_back(c.Pixel, c.Weight);
        return v;
    };
    EXPECT_EQ(asPairs(lists[0]), first);
    EXPECT_EQ(asPairs(lists[2]), middle);
    EXPECT_EQ(asPairs(lists[4]), last);
}

TEST(ResampleContributors, ScalesAlignFirstAndLastCentres)
{
    EXPECT_EQ(ResampleScale(4, 1), 4.0f);  // width-1 source: dst / src
    EXPECT_EQ(ResampleScale(9, 5), 2.0f);  // (9 - 1) / (5 - 1)
    EXPECT_EQ(ResampleScale(3, 9), 0.25f);
    EXPECT_EQ(ResampleScale(2, 4), static_cast<float>(1.0L / 3));
}

TEST(ResampleContributors, EnlargingUsesAtMostFourTapsAndShrinkingWidensTheFilter)
{
    const auto& k = ResampleKernels[rkCubicBSpline];
    for (int dst : {7, 12, 31}) {
        const auto lists = BuildContributorLists(dst, 5, ResampleScale(dst, 5), k.Function, k.Support);
        for (const auto& l : lists) {
            int nonZero = 0;
            float sum = 0;
            for (const TContributor& c : l.Entries) {
                nonZero += c.Weight != 0.0f;
                sum += c.Weight;
                EXPECT_GE(c.Pixel, 0);
                EXPECT_LT(c.Pixel, 5);
            }
            EXPECT_LE(nonZero, 4);
            EXPECT_NEAR(sum, 1.0f, 1e-6f);  // enlarging: the weights add up to 1
        }
    }
    // Shrinking 9 -> 3: scale 1/4, so w = 2 * 4 = 8 and room for 17 taps;
    // weights are k(d / 4) / 4.
    const float scale = ResampleScale(3, 9);
    const auto lists = BuildContributorLists(3, 9, scale, k.Function, k.Support);
    for (const auto& l : lists)
        EXPECT_LE(l.Entries.size(), 17u);
    // Destination 1 is centred on source 4: its own weight is k(0) / 4.
    bool found = false;
    for (const TContributor& c : lists[1].Entries)
        if (c.Pixel == 4 && c.Weight == static_cast<float>(static_cast<float>(2.0L / 3) / 4.0L))
            found = true;
    EXPECT_TRUE(found);
}

TEST(ResampleContributors, WidthOneSourceDropsTapsReflectedOffTheStart)
{
    const auto& k = ResampleKernels[rkCubicBSpline];
    const auto lists = BuildContributorLists(4, 1, ResampleScale(4, 1), k.Function, k.Support);
    // Column 0 samples position 0: tap -1 reflects to 1, outside a 1-pixel
    // source, so it stays with weight 0; tap 1 reflects off the end to 0.
    ASSERT_EQ(lists[0].Entries.size(), 3u);
    EXPECT_EQ(lists[0].Entries[0].Weight, 0.0f);
    EXPECT_EQ(lists[0].Entries[1].Pixel, 0);
    EXPECT_EQ(lists[0].Entries[2].Pixel, 0);
    for (const auto& l : lists)
        for (const TContributor& c : l.Entries)
            EXPECT_EQ(c.Pixel, 0);
}

// --- rounding ----------------------------------------------------------------

TEST(ResampleRounding, ChannelsClampAndRoundTiesToEven)
{
    const struct {
        float sum;
        int byte;
    } cases[] = {{2.5f, 2},    {3.5f, 4},     {0.5f, 0},     {1.5f, 2},     {254.5f, 254}, {2.4999f, 2},
                 {2.5001f, 3}, {255.0f, 255}, {255.4f, 255}, {300.0f, 255}, {-0.4f, 0},    {-20.0f, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(ResampleChannelToByte(c.sum), c.byte) << c.sum;
}

TEST(ResampleRounding, HalfwaySumsInAPictureRoundToEven)
{
    // Triangle kernel, 2 -> 3 columns: the middle column is half of each
    // neighbour, so 2 and 3 give 2.5 -> 2 and 3 and 4 give 3.5 -> 4.
    auto src = MakeRgb24Picture(
        2, 2, [](int x, int y) { return y == 0 ? MakeColor(2 + x, 2 + x, 2 + x) : MakeColor(3 + x, 3 + x, 3 + x); });
    TDibGraphic dst;
    filtered(3, 2, rkTriangle).ApplyOnDest(*src, dst);
    EXPECT_EQ(redAt(dst, 1, 0), 2);
    EXPECT_EQ(redAt(dst, 1, 1), 4);
    EXPECT_EQ(redAt(dst, 0, 0), 2);
    EXPECT_EQ(redAt(dst, 2, 1), 4);
}

// --- filtered resampling -----------------------------------------------------

TEST(ResizeFiltered, SameSizeCubicStillSmooths)
{
    // Every row alike, so the vertical pass (weights adding up to 1 at every
    // row) keeps the values and the horizontal smoothing shows.
    const int row[5] = {0, 60, 120, 240, 30};
    auto src = MakeRgb24Picture(5, 3, [&](int x, int) { return grey(row[x]); });
    TDibGraphic dst;
    filtered(5, 3).ApplyOnDest(*src, dst);
    // first: 2/3 self + 1/3 inner; inner: 1/6, 2/3, 1/6; last: 5/6 self + 1/6 inner.
    const int expected[5] = {20, 60, 130, 185, 65};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(dst.GetPixelColor(x, y), grey(expected[x])) << x << "," << y;
}

TEST(ResizeFiltered, UniformColourSurvivesEnlargingAndWidthOneSourceDarkens)
{
    const uint32_t colour = MakeColor(10, 200, 77);
    auto src = MakeRgb24Picture(7, 5, [&](int, int) { return colour; });
    TDibGraphic dst;
    filtered(13, 11).ApplyOnDest(*src, dst);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 13; ++x)
            ASSERT_EQ(dst.GetPixelColor(x, y), colour) << x << "," << y;

    // Width 1: column 0 only gets 2/3 + 1/6 of the source, 120 -> 100.
    auto narrow = MakeRgb24Picture(1, 3, [](int, int) { return grey(120); });
    filtered(4, 3).ApplyOnDest(*narrow, dst);
    EXPECT_EQ(dst.GetPixelColor(0, 1), grey(100));
    for (int x = 0; x < 4; ++x)
        EXPECT_LT(redAt(dst, x, 1), 120) << x;
}

TEST(ResizeFiltered, NegativeLobesClampInsteadOfWrapping)
{
    // A hard black/white edge enlarged with kernels that overshoot.
    auto src = MakeRgb24Picture(6, 2, [](int x, int) { return grey(x < 3 ? 0 : 255); });
    for (TResampleKernel kernel : {rkLanczos3, rkMitchell}) {
        SCOPED_TRACE(ResampleKernels[kernel].Name);
        const auto& k = ResampleKernels[kernel];
        const auto lists = BuildContributorLists(21, 6, ResampleScale(21, 6), k.Function, k.Support);
        TDibGraphic dst;
        filtered(21, 2, kernel).ApplyOnDest(*src, dst);
        bool over = false, under = false;
        for (int x = 0; x < 21; ++x) {
            float sum = 0;
            for (const TContributor& c : lists[size_t(x)].Entries)
                if (c.Weight != 0)
                    sum = std::fma(c.Pixel < 3 ? 0.0f : 255.0f, c.Weight, sum);
            if (sum > 255.0f) {
                over = true;
                EXPECT_EQ(redAt(dst, x, 0), 255) << x;
            }
            if (sum < 0.0f) {
                under = true;
                EXPECT_EQ(redAt(dst, x, 0), 0) << x;
            }
        }
        if (kernel == rkLanczos3) {
            EXPECT_TRUE(over);
            EXPECT_TRUE(under);
        }
    }
}

TEST(ResizeFiltered, PaletteSourceKeepsPaletteAndTakesNearestEntries)
{
    // 256 greys: every resampled grey is an exact entry, so indices = levels.
    const TLogicalPalette& greys = DefaultPalette(ifGrayscale256);
    const int row[4] = {0, 60, 120, 240};
    auto src = MakeIndexedPicture(4, 2, ifGrayscale256, greys, [&](int x, int) { return row[x]; });
    TDibGraphic dst;
    filtered(4, 2).ApplyOnDest(*src, dst);
    ASSERT_EQ(dst.ImageFormat(), ifGrayscale256);
    EXPECT_EQ(0, std::memcmp(&dst.Palette(), &src->Palette(), sizeof(TLogicalPalette)));
    const int expected[4] = {20, 60, 130, 220};  // last: 5/6 * 240 + 1/6 * 120
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(dst.GetPixelIndex(x, 1), expected[x]) << x;

    // A 16-entry palette: the resampled colours snap to the nearest entry.
    const TLogicalPalette coarse = MakeGreyPalette({0, 100, 200});
    auto coarseSrc = MakeIndexedPicture(4, 2, ifColor16, coarse, [](int x, int) { return x < 2 ? 0 : 2; });
    filtered(7, 2).ApplyOnDest(*coarseSrc, dst);
    ASSERT_EQ(dst.ImageFormat(), ifColor16);
    EXPECT_EQ(dst.Palette().EntryCount, 3);
    for (int x = 0; x < 7; ++x) {
        const int level = redAt(dst, x, 0);
        EXPECT_TRUE(level == 0 || level == 100 || level == 200) << level;
    }
    EXPECT_EQ(redAt(dst, 3, 0), 100);  // the middle of the 0 -> 200 edge
}

TEST(ResizeFiltered, ForcedFormatTakesItsDefaultPaletteAndKeepsResolution)
{
    auto src = MakeRgb24Picture(4, 4, [](int, int) { return MakeColor(255, 255, 255); });
    src->SetResolutionX(72);
    src->SetResolutionY(300);
    TResizeTransform t = filtered(6, 6);
    t.ForceTargetFormat = true;
    t.TargetFormat = ifColor16;
    TDibGraphic dst;
    t.ApplyOnDest(*src, dst);
    ASSERT_EQ(dst.ImageFormat(), ifColor16);
    EXPECT_EQ(0, std::memcmp(&dst.Palette(), &DefaultPalette(ifColor16), sizeof(TLogicalPalette)));
    EXPECT_EQ(dst.GetPixelIndex(2, 3), 15);
    EXPECT_EQ(dst.ResolutionX(), 72);
    EXPECT_EQ(dst.ResolutionY(), 300);
}

TEST(ResizeFiltered, SizeErrorsAndInPlaceFailureLeavesTheBitmap)
{
    auto src = MakeRgb24Picture(5, 5, [](int x, int y) { return grey(10 * x + y); });
    const std::vector<uint8_t> before(src->Bits(), src->Bits() + src->RowStride() * 5);
    for (auto size : {std::pair{1, 5}, std::pair{5, 1}, std::pair{0, 4}, std::pair{4, -3}}) {
        TResizeTransform t = filtered(size.first, size.second);
        EXPECT_EQ(errorOf([&] { t.ApplyInPlace(*src); }), "Destination graphic too small");
        ASSERT_EQ(src->Width(), 5);
        EXPECT_EQ(std::vector<uint8_t>(src->Bits(), src->Bits() + src->RowStride() * 5), before);
    }
    TDibGraphic empty, dst;
    EXPECT_EQ(errorOf([&] { filtered(4, 4).ApplyOnDest(empty, dst); }), "Source graphic too small");
    TResizeTransform bad = filtered(4, 4);
    bad.Kernel = TResampleKernel(6);
    EXPECT_NE(errorOf([&] { bad.ApplyOnDest(*src, dst); }), "(no error)");

    // A 1 x 1 source is fine.
    auto dot = MakeRgb24Picture(1, 1, [](int, int) { return MakeColor(90, 90, 90); });
    filtered(2, 2).ApplyInPlace(*dot);
    EXPECT_EQ(dot->Width(), 2);
    EXPECT_EQ(dot->Height(), 2);
}

TEST(ResizeFiltered, RowPaddingAndPaletteOfOddSizes)
{
    // Widths whose rows carry padding bytes, both ways, against a
    // per-pixel reading of the same picture.
    auto src = MakePhotoLikePicture(37, 23, 5);
    TDibGraphic viaRgb, viaPalette;
    filtered(11, 29).ApplyOnDest(*src, viaRgb);
    auto paletted = MakeIndexedPicture(37, 23, ifGrayscale256, DefaultPalette(ifGrayscale256),
                                       [&](int x, int y) { return int(src->GetPixelColor(x, y) & 255); });
    filtered(11, 29).ApplyOnDest(*paletted, viaPalette);
    for (int y = 0; y < 29; ++y)
        for (int x = 0; x < 11; ++x)
            ASSERT_EQ(viaRgb.GetPixelColor(x, y) & 255, viaPalette.GetPixelColor(x, y) & 255) << x << "," << y;
}

TEST(ResizeFiltered, RowsSplitOverWorkersGiveTheSingleThreadedBytes)
{
    // Pictures large enough for both passes to be cut into bands, odd sizes
    // and odd worker counts so that bands are uneven, against the run on one
    // thread: every byte, padding included, must be the same.
    struct Case {
        int srcW, srcH, dstW, dstH;
        TImageFormat format;
    } cases[] = {
        {1001, 733, 517, 263, ifRgb24},      // shrinking both ways
        {301, 203, 1201, 811, ifRgb24},      // enlarging both ways
        {999, 64, 123, 1001, ifRgb24},       // shrinking across, enlarging down
        {641, 481, 333, 257, ifColor256},    // palette source and destination
        {513, 389, 255, 129, ifGrayscale16}  // four-bit palette
    };
    for (const Case& c : cases) {
        std::unique_ptr<TDibGraphic> src = MakePhotoLikePicture(c.srcW, c.srcH, 9);
        if (c.format != ifRgb24) {
            const std::unique_ptr<TDibGraphic> photo = std::move(src);
            const int levels = BitsPerPixel(c.format) == 4 ? 16 : 256;
            src = MakeIndexedPicture(c.srcW, c.srcH, c.format, DefaultPalette(c.format), [&](int x, int y) {
                return int((photo->GetPixelColor(x, y) >> 8) & 255) * levels / 256;
            });
        }
        SetRowBandWorkers(1);
        TDibGraphic single;
        filtered(c.dstW, c.dstH).ApplyOnDest(*src, single);
        for (int workers : {2, 3, 7}) {
            SetRowBandWorkers(workers);
            TDibGraphic split;
            filtered(c.dstW, c.dstH).ApplyOnDest(*src, split);
            ASSERT_EQ(split.ImageFormat(), single.ImageFormat());
            ASSERT_EQ(split.Width(), c.dstW);
            ASSERT_EQ(split.Height(), c.dstH);
            const size_t bytes = size_t(single.RowStride()) * size_t(c.dstH);
            EXPECT_EQ(std::memcmp(split.Bits(), single.Bits(), bytes), 0)
                << c.srcW << "x" << c.srcH << " -> " << c.dstW << "x" << c.dstH << " with " << workers << " workers";
        }
    }
    SetRowBandWorkers(0);
}

TEST(ResizeFiltered, InPlaceGivesTheBytesOfApplyOnDest)
{
    // In place, a true-colour picture lets its pixels go between the two
    // passes; the result must be that of resizing into a second bitmap.
    struct Case {
        int srcW, srcH, dstW, dstH;
    } cases[] = {{257, 131, 64, 33}, {37, 23, 301, 97}, {128, 128, 128, 128}, {1, 7, 5, 3}};
    for (const Case& c : cases) {
        std::unique_ptr<TDibGraphic> picture = MakePhotoLikePicture(c.srcW, c.srcH, 4);
        picture->SetResolutionX(300);
        TDibGraphic expected;
        filtered(c.dstW, c.dstH).ApplyOnDest(*picture, expected);
        filtered(c.dstW, c.dstH).ApplyInPlace(*picture);
        ASSERT_EQ(picture->ImageFormat(), ifRgb24);
        ASSERT_EQ(picture->Width(), c.dstW);
        ASSERT_EQ(picture->Height(), c.dstH);
        EXPECT_EQ(picture->ResolutionX(), expected.ResolutionX());
        EXPECT_EQ(picture->ResolutionY(), expected.ResolutionY());
        EXPECT_EQ(std::memcmp(picture->Bits(), expected.Bits(), size_t(expected.RowStride()) * size_t(c.dstH)), 0)
            << c.srcW << "x" << c.srcH << " -> " << c.dstW << "x" << c.dstH;
    }
}

TEST(ResizeUnfiltered, HalftoneRowsSplitOverWorkersGiveTheSingleThreadedBytes)
{
    const std::unique_ptr<TDibGraphic> src = MakePhotoLikePicture(1501, 997, 4);
    for (QSize target : {QSize(611, 403), QSize(2003, 1201)}) {
        TResizeTransform zoom;
        zoom.TargetWidth = target.width();
        zoom.TargetHeight = target.height();
        SetRowBandWorkers(1);
        TDibGraphic single;
        zoom.ApplyOnDest(*src, single);
        for (int workers : {2, 5}) {
            SetRowBandWorkers(workers);
            TDibGraphic split;
            zoom.ApplyOnDest(*src, split);
            ASSERT_EQ(split.Height(), target.height());
            EXPECT_EQ(std::memcmp(split.Bits(), single.Bits(), size_t(single.RowStride()) * size_t(target.height())), 0)
                << target.width() << "x" << target.height() << " with " << workers << " workers";
        }
    }
    SetRowBandWorkers(0);
}

TEST(RowBands, CoverEveryRowOnceAndPassTheFirstErrorOn)
{
    for (int workers : {1, 2, 5}) {
        SetRowBandWorkers(workers);
        for (int32_t rows : {1, 2, 7, 100, 1001}) {
            std::vector<std::atomic<int>> seen(static_cast<size_t>(rows));
            ForEachRowBand(rows, 3, [&](int32_t first, int32_t last) {
                ASSERT_LE(first, last);
                for (int32_t y = first; y < last; ++y)
                    seen[size_t(y)]++;
            });
            for (int32_t y = 0; y < rows; ++y)
                ASSERT_EQ(seen[size_t(y)].load(), 1) << workers << " workers, " << rows << " rows, row " << y;
        }
        // Every band throws: the one holding row 0 is the error that comes out.
        std::string message;
        try {
            ForEachRowBand(1000, 1, [](int32_t first, int32_t) { throw ETavrinError(std::to_string(first)); });
        } catch (const ETavrinError& e) {
            message = e.message();
        }
        EXPECT_EQ(message, "0") << workers;
    }
    SetRowBandWorkers(0);
}

TEST(RowBands, UnderACancelScopeStopBetweenPiecesOnceCancelled)
{
    for (int workers : {1, 2, 4}) {
        SetRowBandWorkers(workers);
        std::atomic<bool> stop{false};
        CancelScope scope(&stop);
        // Not cancelled: every row once, in pieces of at least the minimum.
        std::vector<std::atomic<int>> seen(1000);
        ForEachRowBand(1000, 5, [&](int32_t first, int32_t last) {
            EXPECT_GE(last - first, 5);
            for (int32_t y = first; y < last; ++y)
                seen[size_t(y)]++;
        });
        for (int32_t y = 0; y < 1000; ++y)
            ASSERT_EQ(seen[size_t(y)].load(), 1) << workers << " workers, row " << y;

        // Cancelled by the work itself: the rest is not started.
        std::atomic<int> rows{0};
        bool cancelled = false;
        try {
            ForEachRowBand(100000, 1, [&](int32_t first, int32_t last) {
                rows += last - first;
                stop = true;
            });
        } catch (const ECancelled&) {
            cancelled = true;
        }
        EXPECT_TRUE(cancelled) << workers;
        EXPECT_LT(rows.load(), 100000 / 2) << workers;
    }
    // Outside the scope a band runs whole.
    int rows = 0;
    ForEachRowBand(10, 1, [&](int32_t first, int32_t last) { rows += last - first; });
    EXPECT_EQ(rows, 10);
    SetRowBandWorkers(0);
}

// --- unfiltered stretch ---------------------------------------------------

std::unique_ptr<TDibGraphic> checkerboard(int w, int h)
{
    return MakeRgb24Picture(w, h, [](int x, int y) { return grey(((x + y) & 1) ? 255 : 0); });
}

TEST(ResizeUnfiltered, HalftoneOnlyAboveTheThousandTwentyFourPixelMark)
{
    const struct {
        int w, h;
        bool halftone;
    } cases[] = {{32, 32, false}, {33, 32, true}, {1024, 1, false}, {1025, 1, true}};
    for (const auto& c : cases) {
        auto src = checkerboard(c.w, c.h);
        EXPECT_EQ(TResizeTransform::UsesHalftone(*src), c.halftone) << c.w << "x" << c.h;
        TResizeTransform t;  // default: unfiltered
        t.TargetWidth = std::max(c.w / 2, 1);
        t.TargetHeight = std::max(c.h / 2, 1);
        TDibGraphic dst;
        t.ApplyOnDest(*src, dst);
        bool averaged = false;
        for (int y = 0; y < dst.Height(); ++y)
            for (int x = 0; x < dst.Width(); ++x) {
                const int v = redAt(dst, x, y);
                averaged |= v != 0 && v != 255;
            }
        EXPECT_EQ(averaged, c.halftone) << c.w << "x" << c.h;
    }
    // Palette pictures are never averaged.
    auto big =
        MakeIndexedPicture(40, 40, ifColor256, DefaultPalette(ifColor256), [](int x, int y) { return (x + y) & 1; });
    EXPECT_FALSE(TResizeTransform::UsesHalftone(*big));
}

TEST(ResizeUnfiltered, NearestNeighbourCopiesPixelsAndPalette)
{
    TLogicalPalette p = MakeGreyPalette({0, 50, 100, 150, 200});
    p.Entries[5] = {255, 0, 0, 0};
    p.EntryCount = 6;
    auto src = MakeIndexedPicture(3, 2, ifColor256, p, [](int x, int y) { return x + 3 * y; });
    TResizeTransform t;
    t.TargetWidth = 6;
    t.TargetHeight = 4;
    TDibGraphic dst;
    t.ApplyOnDest(*src, dst);
    ASSERT_EQ(dst.ImageFormat(), ifColor256);
    EXPECT_EQ(dst.Palette().EntryCount, 6);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(dst.GetPixelIndex(x, y), x / 2 + 3 * (y / 2)) << x << "," << y;

    // Shrinking drops whole rows and columns; a halftone-sized picture
    // averages 2 x 2 blocks exactly.
    auto ramp = MakeRgb24Picture(40, 40, [](int x, int y) { return grey(x + 2 * y); });
    t.TargetWidth = 20;
    t.TargetHeight = 20;
    t.ApplyOnDest(*ramp, dst);
    // Block (x, y) holds x' + 2y' for x' in {2x, 2x+1}, y' in {2y, 2y+1}:
    // mean 2x + 0.5 + 4y + 1 -> rounds half to even.
    for (int x = 0; x < 20; ++x)
        EXPECT_EQ(redAt(dst, x, 3), int(std::nearbyint(2 * x + 0.5 + 12 + 1))) << x;
}

}  // namespace
