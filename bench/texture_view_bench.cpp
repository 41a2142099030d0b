// SPDX-License-Identifier: GPL-2.0-or-later
// Moving through an archive in the main window: each step onto a texture
// dictionary reads its texture list, fills the texture table and grid, and
// builds, decodes and lays out the preview of its last texture.
//
// - StepOntoDictionary: one cursor step onto a dictionary of 30 textures
//   whose last texture is 256 x 256 at 32 bits, the view painted.
// - StepOntoSectionedDictionary: the same step onto a sectioned dictionary
//   of 30 textures whose last texture is 1024 x 1024 DXT5 with mip levels,
//   decoded and shown.
// - HoldDownThroughArchive: Down key presses through 5,000 entries, 500 of
//   them such dictionaries, each press handled and painted like the running
//   app does it; reports the mean, 99th percentile and slowest step.
#include "app/main_form.h"
#include "app_bench_support.h"
#include "formats/archive_sample.h"
#include "formats/archive_writer.h"
#include "support/archive_builder.h"

#include <QApplication>
#include <QTest>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

QApplication& app()
{
    return guiTestApp();
}

// An archive of `entries` entries, every tenth (from the sixth on) a dictionary.
std::string writeArchiveFile(archive_fixture::ScratchDir& dir, int entries, bool sectioned = false)
{
    const std::vector<uint8_t> dictionary = sectioned ? thirtyTextureSectionedDictionary() : thirtyTextureDictionary();
    std::vector<ArchiveItem> items;
    for (int i = 0; i < entries; ++i) {
        char name[32];
        if (entries <= 2 || i % 10 == 5) {
            std::snprintf(name, sizeof name, "tex%04d.txd", i);
            items.push_back({name, dictionary});
        } else {
            std::snprintf(name, sizeof name, "model%04d.dff", i);
            items.push_back({name, std::vector<uint8_t>(100, uint8_t(i))});
        }
    }
    const std::string path = dir.file("bench.dir");
    writeArchive(path, dir.file("bench.img"), items);
    return path;
}

std::unique_ptr<TForm1> openForm(const std::string& path)
{
    app();
    auto form = std::make_unique<TForm1>(std::make_unique<BenchDialogs>(path));
    form->show();
    QApplication::processEvents();
    form->BtnOpenClick();
    QApplication::processEvents();
    return form;
}

void StepOntoDictionary(benchmark::State& state)
{
    archive_fixture::ScratchDir dir("qx_view_bench");
    auto form = openForm(writeArchiveFile(dir, 2));
    int direction = 1;
    for (auto _ : state) {
        form->RxM->MoveBy(direction);  // both entries are dictionaries
        direction = -direction;
        form->ImageScrollBox1->viewport()->repaint();
    }
    if (form->QueryTXD->RowCount() != 30 || std::as_const(*form->ImageScrollBox1).Graphic().Width() != 256)
        state.SkipWithError("the dictionary was not shown");
}
BENCHMARK(StepOntoDictionary)->Unit(benchmark::kMillisecond);

void StepOntoSectionedDictionary(benchmark::State& state)
{
    archive_fixture::ScratchDir dir("qx_view_bench");
    auto form = openForm(writeArchiveFile(dir, 2, true));
    int direction = 1;
    for (auto _ : state) {
        form->RxM->MoveBy(direction);  // both entries are dictionaries
        direction = -direction;
        form->ImageScrollBox1->viewport()->repaint();
    }
    if (form->QueryTXD->RowCount() != 30 || std::as_const(*form->ImageScrollBox1).Graphic().Width() != 1024)
        state.SkipWithError("the dictionary was not shown");
}
BENCHMARK(StepOntoSectionedDictionary)->Unit(benchmark::kMillisecond);

void HoldDownThroughArchive(benchmark::State& state)
{
    constexpr int kEntries = 5000;
    archive_fixture::ScratchDir dir("qx_view_bench");
    auto form = openForm(writeArchiveFile(dir, kEntries));
    form->Grid->setFocus();
    std::vector<double> steps, dictionarySteps, handling;
    steps.reserve(kEntries);
    for (auto _ : state) {
        form->RxM->First();
        QApplication::processEvents();
        steps.clear();
        dictionarySteps.clear();
        for (int i = 1; i < kEntries; ++i) {
            const auto start = std::chrono::steady_clock::now();
            QTest::keyClick(form->Grid, Qt::Key_Down);
            const auto handled = std::chrono::steady_clock::now();
            QApplication::processEvents();  // the grid and the view paint
            handling.push_back(std::chrono::duration<double, std::milli>(handled - start).count());
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            steps.push_back(ms);
            if (!form->QueryTXD->IsEmpty())
                dictionarySteps.push_back(ms);
        }
    }
    if (form->RxM->RecNo() != kEntries)
        state.SkipWithError("the cursor did not reach the last entry");
    std::sort(steps.begin(), steps.end());
    double sum = 0;
    for (double s : steps)
        sum += s;
    state.counters["mean_step_ms"] = sum / double(steps.size());
    state.counters["p99_step_ms"] = steps[steps.size() * 99 / 100];
    state.counters["max_step_ms"] = steps.back();
    std::sort(dictionarySteps.begin(), dictionarySteps.end());
    if (!dictionarySteps.empty()) {
        state.counters["median_dictionary_step_ms"] = dictionarySteps[dictionarySteps.size() / 2];
        state.counters["max_dictionary_step_ms"] = dictionarySteps.back();
    }
    state.counters["median_step_ms"] = steps[steps.size() / 2];
    std::sort(handling.begin(), handling.end());
    state.counters["max_handling_ms"] = handling.back();
    state.counters["p99_handling_ms"] = handling[handling.size() * 99 / 100];
}
BENCHMARK(HoldDownThroughArchive)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
