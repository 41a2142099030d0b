// SPDX-License-Identifier: GPL-2.0-or-later
// Peak memory of quarnix-tool on one 4096 x 4096 texture at 32 bits (64 MiB
// of texels): export-all --png of a dictionary holding it, and an import of
// a picture of the same size over it. Each run is one child process; its
// maximum resident set size is reported as peak_MiB and as a multiple of the
// texture's bytes (peak_x_texture). Time is reported too, but the figure of
// interest is the memory.
#include "formats/archive_sample.h"
#include "formats/texture_dictionary_writer.h"
#include "support/archive_builder.h"
#include "support/tool_runner.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace {

constexpr int kSide = 4096;
constexpr double kTextureBytes = double(kSide) * kSide * 4;

struct Fixture {
    archive_fixture::ScratchDir dir{"qx_big_texture_bench"};
    std::string txd = dir.file("big.txd");
    std::string picture = dir.file("picture.tga");

    Fixture()
    {
        TextureDictionary d;
        d.textures.push_back(makeTexture32("big", "", kSide, kSide, archive_sample::plasma(kSide, kSide)));
        archive_fixture::writeBytes(txd, buildTextureDictionary(d));
        // The picture imported: the texture itself as the tool exports it.
        const std::string command = quarnixToolPath() + " export " + txd + " 1 1 " + picture;
        if (std::system(command.c_str()) != 0)
            std::abort();
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

// Runs the tool with `args` (output thrown away); false when it fails.
bool runMeasured(const std::vector<std::string>& args, long& maxRssKiB)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv;
        const std::string tool = quarnixToolPath();
        argv.push_back(const_cast<char*>(tool.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        ::execv(tool.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid)
        return false;
    maxRssKiB = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void measure(benchmark::State& state, const std::vector<std::string>& args, const std::string& cleanup)
{
    long peak = 0;
    for (auto _ : state) {
        if (!cleanup.empty()) {
            state.PauseTiming();
            std::error_code ec;
            std::filesystem::remove_all(cleanup, ec);
            state.ResumeTiming();
        }
        long rss = 0;
        if (!runMeasured(args, rss)) {
            state.SkipWithError("the tool failed");
            return;
        }
        peak = std::max(peak, rss);
    }
    state.counters["peak_MiB"] = double(peak) / 1024.0;
    state.counters["peak_x_texture"] = double(peak) * 1024.0 / kTextureBytes;
}

void ExportAllPng4096(benchmark::State& state)
{
    Fixture& f = fixture();
    const std::string out = f.dir.file("out");
    measure(state, {"export-all", "--png", f.txd, out}, out);
}
BENCHMARK(ExportAllPng4096)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void ExportAllTga4096(benchmark::State& state)
{
    Fixture& f = fixture();
    const std::string out = f.dir.file("out_tga");
    measure(state, {"export-all", f.txd, out}, out);
}
BENCHMARK(ExportAllTga4096)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void Import4096(benchmark::State& state)
{
    Fixture& f = fixture();
    measure(state, {"import", f.txd, "1", "1", f.picture}, "");
}
BENCHMARK(Import4096)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
