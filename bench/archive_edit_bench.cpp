// SPDX-License-Identifier: GPL-2.0-or-later
// The archive edits of quarnix-tool against what they must cost at most:
// - replace of one entry (growing it, so its bytes go after the data) in a
//   2 GiB archive beside the same in a 10 MiB one: the work is the entry's;
// - add of 1,000 files of 50 KiB beside cp of those files and one sync;
// - rebuild of a 200 MiB archive with a one-sector gap after every fourth
//   entry beside cp of its data file and a sync;
// - list of a million-entry VER2 archive beside the same of a .dir.
// The large archives are sparse files: their bytes cost no disk.
#include "formats/archive_writer.h"
#include "platform/byte_order.h"
#include "support/archive_builder.h"
#include "support/tool_runner.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace {

using archive_fixture::noiseBytes;
using archive_fixture::ScratchDir;
using archive_fixture::writeBytes;

// "e<i>.dff", built a piece at a time (GCC 12 warns falsely about a chain
// of string additions here).
std::string entryName(int64_t i)
{
    std::string name = "e";
    name += std::to_string(i);
    name += ".dff";
    return name;
}

void run(benchmark::State& state, const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        state.SkipWithError(("failed: " + command).c_str());
}

// A directory of `entries` records, each `sectors` long, one after another,
// over a sparse data file of their size.
void sparseArchive(const std::string& dir, const std::string& img, int64_t entries, int64_t sectors)
{
    std::vector<DirectoryRecord> records;
    for (int64_t i = 0; i < entries; ++i)
        records.push_back({uint32_t(i * sectors), uint32_t(sectors), entryName(i)});
    writeBytes(dir, buildDirectoryBytes(records));
    writeBytes(img, {});
    if (::truncate(img.c_str(), off_t(entries * sectors * 2048)) != 0)
        std::abort();
}

void ReplaceGrowing(benchmark::State& state)
{
    const int64_t megabytes = state.range(0);
    ScratchDir dir{"qx_bench_replace"};
    const std::string path = dir.file("r.dir"), img = dir.file("r.img");
    // Entries of 1 MiB; the one replaced gets 1 MiB and one byte.
    sparseArchive(path, img, megabytes, 512);
    writeBytes(dir.file("new.dff"), noiseBytes((1 << 20) + 1, 1));
    for (auto _ : state) {
        state.PauseTiming();
        sparseArchive(path, img, megabytes, 512);
        state.ResumeTiming();
        run(state, quarnixToolPath() + " replace " + path + " e3.dff " + dir.file("new.dff") + " 2>/dev/null");
    }
}
BENCHMARK(ReplaceGrowing)->Arg(10)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

struct Files {
    ScratchDir dir{"qx_bench_add"};
    std::string list;
    Files()
    {
        std::filesystem::create_directory(dir.file("in"));
        for (int i = 0; i < 1000; ++i) {
            std::string name = "in/f";
            name += std::to_string(i);
            name += ".dff";
            const std::string f = dir.file(name);
            writeBytes(f, noiseBytes(50 << 10, uint32_t(i)));
            list += " " + f;
        }
    }
};

Files& files()
{
    static Files f;
    return f;
}

void AddThousandFiles(benchmark::State& state)
{
    Files& f = files();
    const std::string path = f.dir.file("a.dir");
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(path);
        std::filesystem::remove(f.dir.file("a.img"));
        run(state, quarnixToolPath() + " new " + path + " 2>/dev/null");
        state.ResumeTiming();
        run(state, quarnixToolPath() + " add " + path + f.list + " 2>/dev/null");
    }
}
BENCHMARK(AddThousandFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void CopyThousandFilesAndSync(benchmark::State& state)
{
    Files& f = files();
    const std::string out = f.dir.file("copy");
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(out);
        state.ResumeTiming();
        run(state, "cp -r " + f.dir.file("in") + " " + out + " && sync -f " + out);
    }
}
BENCHMARK(CopyThousandFilesAndSync)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

struct Gapped {
    ScratchDir dir{"qx_bench_rebuild"};
    std::string path = dir.file("g.dir"), img = dir.file("g.img");
    std::vector<uint8_t> dirBytes, imgBytes;
    Gapped()
    {
        // 400 entries of 512 KiB (200 MiB), a one-sector gap after every fourth.
        std::vector<DirectoryRecord> records;
        int64_t sector = 0;
        for (int i = 0; i < 400; ++i) {
            records.push_back({uint32_t(sector), 256, entryName(i)});
            sector += 256 + (i % 4 == 3 ? 1 : 0);
        }
        dirBytes = buildDirectoryBytes(records);
        imgBytes = noiseBytes(size_t(sector) * 2048, 3);
    }
    void restore() const
    {
        writeBytes(img, imgBytes);
        writeBytes(path, dirBytes);
    }
};

Gapped& gapped()
{
    static Gapped g;
    return g;
}

void Rebuild200MiB(benchmark::State& state)
{
    Gapped& g = gapped();
    for (auto _ : state) {
        state.PauseTiming();
        g.restore();
        run(state, "sync");
        state.ResumeTiming();
        run(state, quarnixToolPath() + " rebuild " + g.path + " 2>/dev/null");
    }
}
BENCHMARK(Rebuild200MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void CopyDataFileAndSync(benchmark::State& state)
{
    Gapped& g = gapped();
    const std::string out = g.dir.file("copy.img");
    for (auto _ : state) {
        state.PauseTiming();
        g.restore();
        std::filesystem::remove(out);
        run(state, "sync");
        state.ResumeTiming();
        run(state, "cp " + g.img + " " + out + " && sync -f " + out);
    }
}
BENCHMARK(CopyDataFileAndSync)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

struct Million {
    ScratchDir dir{"qx_bench_million"};
    std::string dirPath = dir.file("m.dir"), ver2 = dir.file("v.img");
    Million()
    {
        constexpr int64_t n = 1000000;
        std::vector<uint8_t> records(size_t(n) * 32, 0);
        for (int64_t i = 0; i < n; ++i) {
            uint8_t* r = records.data() + i * 32;
            writeLe32(r, uint32_t(16000 + i));
            writeLe32(r + 4, 1);
            std::snprintf(reinterpret_cast<char*>(r + 8), 24, "entry%07lld.dff", static_cast<long long>(i));
        }
        writeBytes(dirPath, records);
        writeBytes(dir.file("m.img"), {});
        // VER2: the same records behind the header, the second size field 0.
        std::vector<uint8_t> v(8, 0);
        std::memcpy(v.data(), "VER2", 4);
        writeLe32(v.data() + 4, uint32_t(n));
        for (int64_t i = 0; i < n; ++i) {
            uint8_t* r = records.data() + i * 32;
            writeLe16(r + 4, 1);
            writeLe16(r + 6, 0);
        }
        v.insert(v.end(), records.begin(), records.end());
        writeBytes(ver2, v);
    }
};

void ListMillion(benchmark::State& state)
{
    static Million m;
    const std::string& path = state.range(0) ? m.ver2 : m.dirPath;
    for (auto _ : state)
        run(state, quarnixToolPath() + " list " + path + " > /dev/null");
}
BENCHMARK(ListMillion)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
