// SPDX-License-Identifier: GPL-2.0-or-later
// Record table speed: sorting a large entry table on a text and on an integer
// field, filling it, and locating a row. Collation follows the user's locale
// (LC_ALL / LANG), so run it under the locale of interest.
#include "catalog/entry_table.h"
#include "catalog/texture_table.h"
#include "support/table_fixtures.h"
#include "tables/record_table.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kRows = 20000;

std::unique_ptr<RecordTable> bigEntryTable()
{
    auto t = makeEntryTable();
    fillEntryTable(*t, kRows);
    return t;
}

// Each timed sort starts from the order the other field gives, so no
// iteration sorts rows that are already in place.
void BM_SortEntriesOnName(benchmark::State& state)
{
    auto t = bigEntryTable();
    for (auto _ : state) {
        state.PauseTiming();
        t->SortOnField("Pos");
        state.ResumeTiming();
        t->SortOnField("Name");
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_SortEntriesOnName)->Unit(benchmark::kMillisecond);

void BM_SortEntriesOnPos(benchmark::State& state)
{
    auto t = bigEntryTable();
    for (auto _ : state) {
        state.PauseTiming();
        t->SortOnField("Name");
        state.ResumeTiming();
        t->SortOnField("Pos");
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_SortEntriesOnPos)->Unit(benchmark::kMillisecond);

void BM_FillEntryTable(benchmark::State& state)
{
    const auto names = sampleEntryNames(kRows);
    for (auto _ : state) {
        auto t = makeEntryTable();
        t->DisableControls();
        for (int i = 0; i < kRows; ++i)
            appendEntryRow(*t, i + 1, names[static_cast<size_t>(i)], 2048, 2048LL * i);
        t->EnableControls();
        benchmark::DoNotOptimize(t->RowCount());
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_FillEntryTable)->Unit(benchmark::kMillisecond);

void BM_LocateLastPos(benchmark::State& state)
{
    auto t = bigEntryTable();
    for (auto _ : state) {
        t->First();
        benchmark::DoNotOptimize(t->Locate("pos", kRows));
    }
}
BENCHMARK(BM_LocateLastPos)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
