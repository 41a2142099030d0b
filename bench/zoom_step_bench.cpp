// SPDX-License-Identifier: GPL-2.0-or-later
// A zoom step in the main window on a 4096 x 4096 texture with alpha: the
// time from the key's handler (Ctrl+plus or Ctrl+minus) to the view painted
// anew, alpha shown over the checkerboard. The window has the size it opens
// at on a 1600 x 1000 screen.
//
// - ZoomStepsOn4096Texture: eight steps in from 1/16 to 16 and eight back
//   out, each timed on its own; reports the slowest and the mean step, and
//   for each zoom the fastest and the slowest step into it over the runs
//   (on a machine busy with other work the fastest is the closer measure).
// - ZoomStepsOn4096TextureOpaque: the same with "Alpha" off.
// - RenderWholePictureSmaller, PremultiplyWholePicture: the painting's
//   parts on one thread, in CPU time.
#include "app/main_form.h"
#include "app_bench_support.h"
#include "formats/sectioned_dictionary_writer.h"
#include "imaging/row_bands.h"
#include "imaging/zoom_render.h"
#include "support/archive_builder.h"
#include "support/picture_builder.h"

#include <QApplication>
#include <QToolButton>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <map>

namespace {

// One 4096 x 4096 DXT5 texture (any 16 bytes are a DXT5 block, so the level
// is a byte pattern: colours and alpha vary across the picture).
std::vector<uint8_t> bigTexture()
{
    SectionedDictionary d;
    SectionedTexture t;
    t.name = "big";
    t.layout = {TexelFormat::Dxt5, false, 4096, 4096, 1};
    std::vector<uint8_t> level(size_t(texelLevelBytes(TexelFormat::Dxt5, 4096, 4096)));
    for (size_t i = 0; i < level.size(); ++i)
        level[i] = uint8_t(i * 131 + (i >> 12) * 7);
    t.levels.push_back(std::move(level));
    d.textures.push_back(std::move(t));
    return buildSectionedDictionary(d);
}

void zoomSteps(benchmark::State& state, bool alpha)
{
    guiTestApp();
    archive_fixture::ScratchDir dir("qx_zoom_bench");
    const std::string path = dir.file("big.txd");
    archive_fixture::writeBytes(path, bigTexture());
    TForm1 form(std::make_unique<BenchDialogs>(path));
    form.show();
    QApplication::processEvents();
    form.resize(TForm1::firstSize(QRect(0, 0, 1600, 1000)));
    QApplication::processEvents();
    form.BtnOpenClick();
    QApplication::processEvents();
    if (form.BtnAlpha->isChecked() != alpha)
        form.BtnAlpha->click();
    TImageScrollBox& view = *form.ImageScrollBox1;
    if (std::as_const(view).Graphic().Width() != 4096) {
        state.SkipWithError("the texture was not shown");
        return;
    }
    // The first step below 1:1 of a picture with alpha also makes its
    // premultiplied pixels, once for the picture: timed on its own.
    const auto firstStart = std::chrono::steady_clock::now();
    form.ZoomOutClick();
    QApplication::processEvents();
    state.counters["first_step_below_1:1_ms"] =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - firstStart).count();
    while (view.ZoomBy(-1))
        ;
    QApplication::processEvents();

    std::vector<double> steps;
    std::map<float, double> slowestInto, fastestInto;
    const auto step = [&](bool in) {
        const auto start = std::chrono::steady_clock::now();
        if (in)
            form.ZoomInClick();
        else
            form.ZoomOutClick();
        QApplication::processEvents();  // the paint the step asked for
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        steps.push_back(ms);
        double& slowest = slowestInto[view.ZoomPercent()];
        slowest = std::max(slowest, ms);
        auto [fastest, first] = fastestInto.try_emplace(view.ZoomPercent(), ms);
        if (!first)
            fastest->second = std::min(fastest->second, ms);
        return ms;
    };
    for (auto _ : state) {
        double total = 0;
        for (int i = 0; i < 8; ++i)
            total += step(true);
        for (int i = 0; i < 8; ++i)
            total += step(false);
        state.SetIterationTime(total / 1000.0 / 16.0);
    }
    if (view.ZoomPercent() != TImageScrollBox::kMinZoomStep)
        state.SkipWithError("the steps did not come back to 1/16");
    std::sort(steps.begin(), steps.end());
    double sum = 0;
    for (double s : steps)
        sum += s;
    state.counters["mean_step_ms"] = sum / double(steps.size());
    state.counters["max_step_ms"] = steps.back();
    state.counters["view_w"] = view.ClientWidth();
    state.counters["view_h"] = view.ClientHeight();
    const auto name = [](float zoom) {
        const std::string z = std::to_string(zoom);
        return z.substr(0, z.find('.') + 3) + "%";
    };
    for (const auto& [zoom, ms] : slowestInto)
        state.counters["max_into_" + name(zoom) + "_ms"] = ms;
    for (const auto& [zoom, ms] : fastestInto)
        state.counters["min_into_" + name(zoom) + "_ms"] = ms;
    state.counters["max_of_fastest_ms"] =
        std::max_element(fastestInto.begin(), fastestInto.end(), [](const auto& a, const auto& b) {
            return a.second < b.second;
        })->second;
}

void ZoomStepsOn4096Texture(benchmark::State& state)
{
    zoomSteps(state, true);
}
BENCHMARK(ZoomStepsOn4096Texture)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);

void ZoomStepsOn4096TextureOpaque(benchmark::State& state)
{
    zoomSteps(state, false);
}
BENCHMARK(ZoomStepsOn4096TextureOpaque)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);

// The painting alone, on one thread: the whole of a 4096 x 4096 picture
// shown at 1/16 (every source pixel is read) or the part of a 754 x 331 view
// at 1/8 and 1/4, in CPU time; with alpha from its premultiplied pixels, as
// the view keeps them.
void RenderWholePictureSmaller(benchmark::State& state)
{
    auto picture =
        MakeRgb24Picture(4096, 4096, [](int x, int y) { return MakeColor(uint8_t(x), uint8_t(y), uint8_t(x ^ y)); });
    std::vector<uint8_t> alpha(size_t(4096) * 4096);
    for (size_t i = 0; i < alpha.size(); ++i)
        alpha[i] = uint8_t(i * 7);
    const bool withAlpha = state.range(1) != 0;
    const std::vector<uint32_t> premultiplied =
        withAlpha ? PremultipliedPixels(*picture, alpha.data()) : std::vector<uint32_t>();
    SetRowBandWorkers(1);
    const int side = int(state.range(0));
    const QRect part(0, 0, std::min(side, 754), std::min(side, 331));
    for (auto _ : state)
        benchmark::DoNotOptimize(RenderZoomedPart(*picture, withAlpha ? alpha.data() : nullptr, QSize(side, side), part,
                                                  withAlpha ? premultiplied.data() : nullptr));
    SetRowBandWorkers(0);
}
BENCHMARK(RenderWholePictureSmaller)
    ->Args({256, 1})
    ->Args({256, 0})
    ->Args({512, 1})
    ->Args({1024, 1})
    ->Unit(benchmark::kMillisecond);

// Making the premultiplied pixels of a 4096 x 4096 picture with alpha, on
// one thread (the view does it once per picture, on its cores).
void PremultiplyWholePicture(benchmark::State& state)
{
    auto picture = MakeRgb24Picture(4096, 4096, [](int x, int y) { return MakeColor(uint8_t(x), uint8_t(y), 9); });
    std::vector<uint8_t> alpha(size_t(4096) * 4096, 77);
    SetRowBandWorkers(1);
    for (auto _ : state)
        benchmark::DoNotOptimize(PremultipliedPixels(*picture, alpha.data()).data());
    SetRowBandWorkers(0);
}
BENCHMARK(PremultiplyWholePicture)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
