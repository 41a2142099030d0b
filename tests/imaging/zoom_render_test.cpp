// SPDX-License-Identifier: GPL-2.0-or-later
// What the image view paints at a zoom: any part of the display equals that
// part of the whole display copy, magnified texels are sharp squares, and
// alpha is laid over the grey checkerboard.
#include "imaging/zoom_render.h"

#include "imaging/resize_transform.h"
#include "support/picture_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

uint32_t pattern(int x, int y)
{
    return MakeColor(uint8_t(x * 37 + y * 11), uint8_t(y * 29 + 3), uint8_t((x ^ y) * 13));
}

// The colour the painted pixel (x, y) of `image` shows, 0x00RRGGBB.
uint32_t shown(const QImage& image, int x, int y)
{
    return image.pixel(x, y) & 0xFFFFFFu;
}

uint32_t grey(uint8_t g)
{
    return MakeColor(g, g, g);
}

// One channel of colour c laid over grey g by alpha a, by hand.
uint8_t over(int c, int a, int g)
{
    return uint8_t((c * a + g * (255 - a) + 127) / 255);
}

TEST(ZoomRender, EveryPartEqualsTheSamePartOfTheDisplayCopy)
{
    struct Case {
        const char* name;
        std::unique_ptr<TDibGraphic> picture;
        QSize target;
        ZoomSampling sampling;
    };
    Case cases[] = {
        // Averaged: a true-colour picture of more than 1024 pixels made smaller.
        {"photo at 28.5%", MakePhotoLikePicture(205, 131, 3), QSize(58, 37), ZoomSampling::Average},
        {"photo at 1/16", MakePhotoLikePicture(512, 256, 4), QSize(32, 16), ZoomSampling::Average},
        {"photo at 1/8", MakePhotoLikePicture(256, 128, 8), QSize(32, 16), ZoomSampling::Average},
        {"photo at 1/4 by 1/2", MakePhotoLikePicture(128, 64, 10), QSize(32, 32), ZoomSampling::Average},
        {"small true colour at 50%", MakeRgb24Picture(32, 32, pattern), QSize(16, 16), ZoomSampling::Nearest},
        {"paletted at 50%",
         MakeIndexedPicture(97, 64, ifColor256, DefaultPalette(ifColor256),
                            [](int x, int y) { return (x + 3 * y) % 256; }),
         QSize(48, 32), ZoomSampling::Nearest},
        {"photo at 100%", MakePhotoLikePicture(40, 30, 5), QSize(40, 30), ZoomSampling::Copy},
        {"photo at 300%", MakePhotoLikePicture(40, 30, 6), QSize(120, 90), ZoomSampling::Nearest},
        {"paletted at 1600%",
         MakeIndexedPicture(5, 3, ifColor16, DefaultPalette(ifColor16), [](int x, int y) { return (x + y) % 16; }),
         QSize(80, 48), ZoomSampling::Nearest},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TDibGraphic& source = *c.picture;
        EXPECT_EQ(ZoomSamplingFor(source, c.target), c.sampling);
        TResizeTransform transform;
        TDibGraphic copy;
        ScaleForDisplay(source, c.target, transform, copy);
        ASSERT_EQ(copy.Width(), c.target.width());
        ASSERT_EQ(copy.Height(), c.target.height());
        EXPECT_EQ(copy.ImageFormat(), source.ImageFormat());
        // The whole display and parts of it at odd places.
        const int w = c.target.width(), h = c.target.height();
        for (const QRect part :
             {QRect(0, 0, w, h), QRect(1, 2, w / 3, h / 2), QRect(w / 2, h - 3, w - w / 2, 3), QRect(w - 1, 0, 1, h)}) {
            const QImage painted = RenderZoomedPart(source, nullptr, c.target, part);
            ASSERT_EQ(painted.size(), part.size());
            int mismatches = 0;
            for (int y = 0; y < part.height(); ++y)
                for (int x = 0; x < part.width(); ++x)
                    if (shown(painted, x, y) != copy.GetPixelColor(part.x() + x, part.y() + y))
                        ++mismatches;
            EXPECT_EQ(mismatches, 0) << part.x() << "," << part.y() << " " << part.width() << "x" << part.height();
        }
    }
}

TEST(ZoomRender, SmallerTrueColourIsTheZoomTransformsAverage)
{
    auto photo = MakePhotoLikePicture(300, 200, 9);
    TResizeTransform zoom;
    zoom.TargetWidth = 111;
    zoom.TargetHeight = 74;
    TDibGraphic expected;
    zoom.ApplyOnDest(*photo, expected);
    const QImage painted = RenderZoomedPart(*photo, nullptr, QSize(111, 74), QRect(0, 0, 111, 74));
    int mismatches = 0;
    for (int y = 0; y < 74; ++y)
        for (int x = 0; x < 111; ++x)
            if (shown(painted, x, y) != expected.GetPixelColor(x, y))
                ++mismatches;
    EXPECT_EQ(mismatches, 0);
}

TEST(ZoomRender, MagnifiedTexelsAreSharpSquares)
{
    // Larger than 1024 pixels and true colour: made smaller it would be
    // averaged, made larger every texel stays one colour.
    auto picture = MakeRgb24Picture(40, 30, pattern);
    for (int factor : {2, 3, 16}) {
        SCOPED_TRACE(factor);
        const QSize target(40 * factor, 30 * factor);
        const QRect part(5 * factor - 1, 7 * factor + 1, 6 * factor, 4 * factor);
        const QImage painted = RenderZoomedPart(*picture, nullptr, target, part);
        int mismatches = 0;
        for (int y = 0; y < part.height(); ++y)
            for (int x = 0; x < part.width(); ++x)
                if (shown(painted, x, y) != pattern((part.x() + x) / factor, (part.y() + y) / factor))
                    ++mismatches;
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(ZoomRender, AlphaIsLaidOverTheCheckerboard)
{
    // 2 x 2 texels: transparent, half, opaque, a quarter.
    const uint32_t colour[4] = {0x102030, 0xF08040, 0x3366CC, 0xFFFFFF};
    const uint8_t alpha[4] = {0, 128, 255, 64};
    auto picture = MakeRgb24Picture(2, 2, [&](int x, int y) { return colour[y * 2 + x]; });
    const auto expectedAt = [&](int texel, int dx, int dy) {
        const uint32_t c = colour[texel];
        const uint8_t g = ((dx / 8 + dy / 8) % 2) ? 0x99 : 0xCC;
        return MakeColor(over(int(c >> 16), alpha[texel], g), over(int((c >> 8) & 0xFF), alpha[texel], g),
                         over(int(c & 0xFF), alpha[texel], g));
    };

    // At its own size every pixel lies in the first, light, square.
    QImage painted = RenderZoomedPart(*picture, alpha, QSize(2, 2), QRect(0, 0, 2, 2));
    EXPECT_EQ(shown(painted, 0, 0), grey(0xCC));  // nothing of the colour
    EXPECT_EQ(shown(painted, 1, 1), expectedAt(3, 1, 1));
    EXPECT_EQ(shown(painted, 0, 1), colour[2]);  // opaque: the colour itself
    EXPECT_EQ(shown(painted, 1, 0), expectedAt(1, 1, 0));

    // At 1600% each texel covers 16 x 16 screen pixels: four squares of the
    // board, light and dark, under the same texel.
    painted = RenderZoomedPart(*picture, alpha, QSize(32, 32), QRect(0, 0, 32, 32));
    int mismatches = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            if (shown(painted, x, y) != expectedAt((y / 16) * 2 + x / 16, x, y))
                ++mismatches;
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(shown(painted, 3, 3), grey(0xCC));
    EXPECT_EQ(shown(painted, 11, 3), grey(0x99));
    EXPECT_EQ(shown(painted, 11, 11), grey(0xCC));
}

TEST(ZoomRender, AnAveragedPixelWeighsColourByAlpha)
{
    // 64 x 64 (averaged when smaller): columns alternate transparent black
    // and opaque red, so each pixel at 50% is half red over the board.
    std::vector<uint8_t> alpha(64 * 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            alpha[size_t(y) * 64 + x] = x % 2 ? 255 : 0;
    auto picture = MakeRgb24Picture(64, 64, [](int x, int) { return x % 2 ? 0xFF0000u : 0u; });
    const QImage painted = RenderZoomedPart(*picture, alpha.data(), QSize(32, 32), QRect(0, 0, 32, 32));
    // Mean alpha 127.5: red 255 * 127.5 / 255 = 127.5 plus grey * 127.5 / 255.
    const auto expected = [](int g) {
        const int red = int(std::nearbyint(127.5 + g * 0.5));
        const int rest = int(std::nearbyint(g * 0.5));
        return MakeColor(uint8_t(red), uint8_t(rest), uint8_t(rest));
    };
    EXPECT_EQ(shown(painted, 0, 0), expected(0xCC));
    EXPECT_EQ(shown(painted, 8, 0), expected(0x99));
    EXPECT_EQ(shown(painted, 31, 31), expected(0xCC));

    // One colour and one alpha all over: every pixel is that colour laid over
    // its square, whether the sides divide (32) or not (21).
    std::fill(alpha.begin(), alpha.end(), 100);
    auto flat = MakeRgb24Picture(64, 64, [](int, int) { return 0x40C080u; });
    for (const int side : {32, 21}) {
        SCOPED_TRACE(side);
        const QImage over100 = RenderZoomedPart(*flat, alpha.data(), QSize(side, side), QRect(0, 0, side, side));
        for (const QPoint p : {QPoint(0, 0), QPoint(9, 1), QPoint(side - 1, side - 1)}) {
            const double g = ((p.x() / 8 + p.y() / 8) % 2) ? 0x99 : 0xCC;
            // The colour premultiplied by 100 (rounded to a byte), over 155 / 255 of the grey.
            const auto channel = [&](int c) {
                return uint8_t(std::nearbyint((c * 100 + 127) / 255 + g * 155.0 / 255.0));
            };
            EXPECT_EQ(shown(over100, p.x(), p.y()), MakeColor(channel(0x40), channel(0xC0), channel(0x80)))
                << p.x() << "," << p.y();
        }
    }

    // Opaque alpha paints exactly the opaque picture.
    std::fill(alpha.begin(), alpha.end(), 255);
    const QImage opaque = RenderZoomedPart(*picture, alpha.data(), QSize(21, 21), QRect(0, 0, 21, 21));
    const QImage plain = RenderZoomedPart(*picture, nullptr, QSize(21, 21), QRect(0, 0, 21, 21));
    EXPECT_EQ(opaque, plain);
}

TEST(ZoomRender, PremultipliedPixelsMadeOnceGiveTheSamePaint)
{
    auto photo = MakePhotoLikePicture(256, 192, 11);
    std::vector<uint8_t> alpha(size_t(256) * 192);
    for (size_t i = 0; i < alpha.size(); ++i)
        alpha[i] = uint8_t((i * 37) ^ (i >> 7));
    const std::vector<uint32_t> premultiplied = PremultipliedPixels(*photo, alpha.data());
    // Pixel 300 by hand: blue, green, red times alpha, rounded, then alpha.
    const uint8_t* p = photo->RowPointer(1) + 44 * 3;
    const uint32_t a = alpha[300];
    EXPECT_EQ(premultiplied[300],
              (p[0] * a + 127) / 255 | ((p[1] * a + 127) / 255) << 8 | ((p[2] * a + 127) / 255) << 16 | a << 24);
    // Whole blocks (1/4) and weighted areas (about 36%), parts at odd places.
    for (const QSize target : {QSize(64, 48), QSize(93, 70)}) {
        SCOPED_TRACE(target.width());
        const QRect part(3, 5, target.width() - 7, target.height() - 9);
        EXPECT_EQ(RenderZoomedPart(*photo, alpha.data(), target, part, premultiplied.data()),
                  RenderZoomedPart(*photo, alpha.data(), target, part));
    }
}

}  // namespace
