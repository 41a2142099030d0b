// SPDX-License-Identifier: GPL-2.0-or-later
// Decoding TGA images from memory: a 2048 x 2048 run-length encoded 32-bit
// image (mixed runs and literal pixels, and all literal), and the same image
// uncompressed at 24 bits.
#include "imaging/readers/tga_graphic.h"
#include "platform/streams.h"
#include "support/tga_builder.h"

#include <benchmark/benchmark.h>

#include <map>
#include <tuple>
#include <vector>

namespace {

constexpr int kSize = 2048;

const std::vector<uint8_t>& image(int type, int bits, tga_fixture::RlePackets packets)
{
    static std::map<std::tuple<int, int, int>, std::vector<uint8_t>> cache;
    auto key = std::make_tuple(type, bits, int(packets));
    auto it = cache.find(key);
    if (it == cache.end()) {
        const auto pixels = tga_fixture::patternPixels(kSize * kSize, bits / 8, 7);
        it = cache
                 .emplace(
                     key,
                     tga_fixture::makeTga(type, bits, kSize, kSize, pixels, tga_fixture::kTopFirst, packets).bytes())
                 .first;
    }
    return it->second;
}

void decode(benchmark::State& state, const std::vector<uint8_t>& bytes)
{
    TTgaGraphic picture;
    for (auto _ : state) {
        TReadOnlyMemoryStream stream(bytes.data(), int64_t(bytes.size()));
        picture.ReadFromStream(stream);
        benchmark::DoNotOptimize(picture.Bits());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void BM_TgaRle32Mixed(benchmark::State& state)
{
    decode(state, image(10, 32, tga_fixture::RlePackets::Greedy));
}
void BM_TgaRle32RawPackets(benchmark::State& state)
{
    decode(state, image(10, 32, tga_fixture::RlePackets::RawOnly));
}
void BM_TgaUncompressed24(benchmark::State& state)
{
    decode(state, image(2, 24, tga_fixture::RlePackets::Greedy));
}

}  // namespace

BENCHMARK(BM_TgaRle32Mixed)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_TgaRle32RawPackets)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_TgaUncompressed24)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
