// SPDX-License-Identifier: GPL-2.0-or-later
// Whole-image costs of the bitmap: scaled drawing in both stretch modes,
// palette writes through the converter cache, and the small transforms.
#include "imaging/transforms.h"

#include <QPainter>
#include <benchmark/benchmark.h>

namespace {

void fill(TDibGraphic& g)
{
    for (int y = 0; y < g.Height(); ++y)
        for (int x = 0; x < g.Width(); ++x) {
            if (g.ImageFormat() == ifRgb24)
                g.SetPixelColor(x, y, MakeColor(uint8_t(x), uint8_t(y), uint8_t(x + y)));
            else
                g.SetPixelIndex(x, y, (x ^ y) & ((1 << BitsPerPixel(g.ImageFormat())) - 1));
        }
}

void drawScaled(benchmark::State& state, TImageFormat format, int srcSide, int dstW, int dstH)
{
    TDibGraphic g;
    g.NewImage(srcSide, srcSide, format, nullptr, 96, 96);
    fill(g);
    QImage canvas(dstW, dstH, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&canvas);
        g.Draw(p, QRect(0, 0, dstW, dstH));
    }
    state.SetItemsProcessed(state.iterations() * int64_t(srcSide) * srcSide);
}

void BM_DrawHalftoneShrink(benchmark::State& s)
{
    drawScaled(s, ifColor256, 1024, 256, 256);
}
void BM_DrawNearestShrink(benchmark::State& s)
{
    drawScaled(s, ifRgb24, 1024, 442, 146);
}
void BM_DrawUnscaled(benchmark::State& s)
{
    drawScaled(s, ifRgb24, 512, 512, 512);
}
void BM_DrawHalftoneZoomedClipped(benchmark::State& s)
{
    drawScaled(s, ifColor256, 256, 442, 146);
}

void BM_SetPixelColorPalette(benchmark::State& state)
{
    TDibGraphic g;
    g.NewImage(512, 512, ifColor256, nullptr, 96, 96);
    for (auto _ : state)
        for (int y = 0; y < 512; ++y)
            for (int x = 0; x < 512; ++x)
                g.SetPixelColor(x, y, MakeColor(uint8_t(x & 0xF0), uint8_t(y & 0xF0), 128));
    state.SetItemsProcessed(state.iterations() * 512 * 512);
}

template <typename Transform>
void runTransform(benchmark::State& state, TImageFormat format)
{
    TDibGraphic src, dst;
    src.NewImage(2048, 2048, format, nullptr, 96, 96);
    fill(src);
    Transform t;
    for (auto _ : state)
        t.ApplyOnDest(src, dst);
    state.SetItemsProcessed(state.iterations() * 2048 * 2048);
}

void BM_FlipRgb24(benchmark::State& s)
{
    runTransform<TFlipVerticalTransform>(s, ifRgb24);
}
void BM_AntiAliasMono(benchmark::State& s)
{
    runTransform<TAntiAliasTransform>(s, ifMonochrome);
}
void BM_NegativeRgb24(benchmark::State& s)
{
    runTransform<TNegativeTransform>(s, ifRgb24);
}

}  // namespace

BENCHMARK(BM_DrawHalftoneShrink)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawNearestShrink)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawUnscaled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawHalftoneZoomedClipped)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetPixelColorPalette)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlipRgb24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AntiAliasMono)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NegativeRgb24)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
