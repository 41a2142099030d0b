// SPDX-License-Identifier: GPL-2.0-or-later
// Naming 100,000 output files as extract-all and export-all do (made safe,
// then numbered apart when they clash ignoring case): all named alike
// against all distinct. Equal names must cost about what distinct ones do.
#include "platform/file_names.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

constexpr int kNames = 100000;

void nameAll(benchmark::State& state, const std::vector<std::string>& names)
{
    for (auto _ : state) {
        UniqueFileNames taken;
        size_t total = 0;
        for (const std::string& n : names)
            total += taken.take(safeFileName(n)).size();
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(names.size()));
}

void BM_DistinctNames(benchmark::State& state)
{
    std::vector<std::string> names;
    for (int i = 0; i < kNames; ++i)
        names.push_back("entry" + std::to_string(i) + ".txd");
    nameAll(state, names);
}

void BM_EqualNames(benchmark::State& state)
{
    nameAll(state, std::vector<std::string>(kNames, "entry.txd"));
}

void BM_EmptyNames(benchmark::State& state)
{
    // A zero-filled directory: every name empty.
    nameAll(state, std::vector<std::string>(kNames, ""));
}

}  // namespace

BENCHMARK(BM_DistinctNames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EqualNames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EmptyNames)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
