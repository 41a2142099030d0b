// SPDX-License-Identifier: GPL-2.0-or-later
// Colour reduction: the greedy palette selection (incremental against the
// plain recomputation), the palette build and the dithering of a picture.
#include "imaging/format_transform.h"
#include "support/colour_selection_reference.h"
#include "support/picture_builder.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

// Every 15-bit colour, in key order: the most a palette build can hand over.
std::vector<uint8_t> allCandidates()
{
    std::vector<uint8_t> c;
    c.reserve(3 * 32768);
    for (int key = 0; key < 32768; ++key) {
        c.push_back(uint8_t(8 * ((key >> 10) & 31)));
        c.push_back(uint8_t(8 * ((key >> 5) & 31)));
        c.push_back(uint8_t(8 * (key & 31)));
    }
    return c;
}

void BM_SelectColours_Incremental(benchmark::State& state)
{
    const std::vector<uint8_t> source = allCandidates();
    for (auto _ : state) {
        std::vector<uint8_t> c = source;
        SelectColours(c.data(), 32768, 256);
        benchmark::DoNotOptimize(c.data());
    }
}
BENCHMARK(BM_SelectColours_Incremental)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_SelectColours_Plain(benchmark::State& state)
{
    const std::vector<uint8_t> source = allCandidates();
    for (auto _ : state) {
        std::vector<uint8_t> c = source;
        SelectColoursPlain(c.data(), 32768, 256);
        benchmark::DoNotOptimize(c.data());
    }
}
BENCHMARK(BM_SelectColours_Plain)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

void BM_BuildPalette_Photo256(benchmark::State& state)
{
    auto picture = MakePhotoLikePicture(256, 256, 1);
    TLogicalPalette palette;
    for (auto _ : state) {
        TImageFormatTransform::BuildPalette(*picture, palette, 256);
        benchmark::DoNotOptimize(&palette);
    }
}
BENCHMARK(BM_BuildPalette_Photo256)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_ReduceToColor256_Photo256(benchmark::State& state)
{
    auto picture = MakePhotoLikePicture(256, 256, 1);
    for (auto _ : state) {
        TImageFormatTransform t;
        t.TargetFormat = ifColor256;
        TDibGraphic out;
        t.ApplyOnDest(*picture, out);
        benchmark::DoNotOptimize(out.Bits());
    }
}
BENCHMARK(BM_ReduceToColor256_Photo256)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
