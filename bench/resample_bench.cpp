// SPDX-License-Identifier: GPL-2.0-or-later
// Resampling and the convert pipeline on a photo-like 1024 x 1024 picture.
#include "imaging/import_pipeline.h"
#include "imaging/resize_transform.h"
#include "support/picture_builder.h"

#include <benchmark/benchmark.h>

namespace {

const TDibGraphic& photo1024()
{
    static const std::unique_ptr<TDibGraphic> picture = MakePhotoLikePicture(1024, 1024, 1);
    return *picture;
}

void resample(benchmark::State& state, int size, TResampleKernel kernel)
{
    const TDibGraphic& source = photo1024();
    TResizeTransform t;
    t.TargetWidth = size;
    t.TargetHeight = size;
    t.UseFilter = true;
    t.Kernel = kernel;
    for (auto _ : state) {
        TDibGraphic out;
        t.ApplyOnDest(source, out);
        benchmark::DoNotOptimize(out.Bits());
    }
}

void BM_Resample_1024_to_256_CubicBSpline(benchmark::State& state)
{
    resample(state, 256, rkCubicBSpline);
}
BENCHMARK(BM_Resample_1024_to_256_CubicBSpline)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

void BM_Resample_1024_to_2048_CubicBSpline(benchmark::State& state)
{
    resample(state, 2048, rkCubicBSpline);
}
BENCHMARK(BM_Resample_1024_to_2048_CubicBSpline)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_Resample_1024_to_256_Lanczos3(benchmark::State& state)
{
    resample(state, 256, rkLanczos3);
}
BENCHMARK(BM_Resample_1024_to_256_Lanczos3)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_Stretch_1024_to_256_Halftone(benchmark::State& state)
{
    const TDibGraphic& source = photo1024();
    TResizeTransform t;
    t.TargetWidth = 256;
    t.TargetHeight = 256;
    for (auto _ : state) {
        TDibGraphic out;
        t.ApplyOnDest(source, out);
        benchmark::DoNotOptimize(out.Bits());
    }
}
BENCHMARK(BM_Stretch_1024_to_256_Halftone)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// What `quarnix-tool convert photo.tga out.tga --size 256x256 --format
// color256` spends between loading and writing: resample, then reduce.
void BM_ConvertPipeline_1024_to_256_Color256(benchmark::State& state)
{
    const TDibGraphic& source = photo1024();
    for (auto _ : state) {
        state.PauseTiming();
        TDibGraphic picture;
        picture.Assign(&source);
        state.ResumeTiming();
        PrepareImportPicture(picture, QSize(256, 256), ifColor256);
        benchmark::DoNotOptimize(picture.Bits());
    }
}
BENCHMARK(BM_ConvertPipeline_1024_to_256_Color256)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
