// SPDX-License-Identifier: GPL-2.0-or-later
// quarnix-tool export-all of an archive holding 2,000 textures of 256 x 256
// at 32 bits (100 dictionaries of 20), against copying the same bytes with
// cp. export-all makes its files durable with one file-system sync at the
// end, so cp is measured both alone and followed by the same sync, and once
// copying the 2,000 files export-all wrote rather than the one data file
// (with and without that sync). The PNG export is timed beside the TGA one.
#include "formats/archive_sample.h"
#include "formats/archive_writer.h"
#include "support/archive_builder.h"
#include "support/tool_runner.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

constexpr int kDictionaries = 100;
constexpr int kTexturesEach = 20;

struct Fixture {
    archive_fixture::ScratchDir dir{"qx_export_all_bench"};
    std::string archive;

    Fixture()
    {
        TextureDictionary d;
        const auto picture = archive_sample::plasma(256, 256);
        for (int i = 0; i < kTexturesEach; ++i)
            d.textures.push_back(makeTexture32("texture" + std::to_string(i), "", 256, 256, picture));
        const std::vector<uint8_t> bytes = buildTextureDictionary(d);
        std::vector<ArchiveItem> items;
        for (int i = 0; i < kDictionaries; ++i)
            items.push_back({"dict" + std::to_string(i) + ".txd", bytes});
        archive = dir.file("big.dir");
        writeArchive(archive, dir.file("big.img"), items);
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void removeOutput(const std::string& path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

// Times `command` once per iteration, `out` removed before each (untimed).
void timeCommand(benchmark::State& state, const std::string& command, const std::string& out)
{
    for (auto _ : state) {
        state.PauseTiming();
        removeOutput(out);
        state.ResumeTiming();
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError(("failed: " + command).c_str());
            return;
        }
    }
    state.counters["textures_per_s"] = benchmark::Counter(
        double(kDictionaries * kTexturesEach) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void ExportAll2000Textures(benchmark::State& state)
{
    Fixture& f = fixture();
    const std::string out = f.dir.file("out");
    timeCommand(state, quarnixToolPath() + " export-all " + f.archive + " " + out + " 2>/dev/null", out);
}
BENCHMARK(ExportAll2000Textures)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The same textures as PNG (alpha kept): the cost of the PNG encoding.
void ExportAll2000TexturesPng(benchmark::State& state)
{
    Fixture& f = fixture();
    const std::string out = f.dir.file("out_png");
    timeCommand(state, quarnixToolPath() + " export-all --png " + f.archive + " " + out + " 2>/dev/null", out);
}
BENCHMARK(ExportAll2000TexturesPng)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void CopySameBytes(benchmark::State& state, bool sync)
{
    Fixture& f = fixture();
    const std::string out = f.dir.file("copy.img");
    timeCommand(state, "cp " + f.dir.file("big.img") + " " + out + (sync ? " && sync -f " + out : ""), out);
}
BENCHMARK_CAPTURE(CopySameBytes, cp, false)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(CopySameBytes, cp_and_sync, true)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The 2,000 files export-all wrote (it runs first), copied as files: what
// creating that many files costs the file system by itself.
void CopySameFiles(benchmark::State& state, bool sync)
{
    Fixture& f = fixture();
    const std::string from = f.dir.file("out");
    const std::string out = f.dir.file("copy");
    if (!std::filesystem::is_directory(from)) {
        state.SkipWithError("run ExportAll2000Textures first");
        return;
    }
    timeCommand(state, "cp -r " + from + " " + out + (sync ? " && sync -f " + out : ""), out);
}
BENCHMARK_CAPTURE(CopySameFiles, cp_r, false)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK_CAPTURE(CopySameFiles, cp_r_and_sync, true)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
