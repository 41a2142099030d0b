// SPDX-License-Identifier: GPL-2.0-or-later
// Opening a large archive directory: parsing the records, reading the file,
// and filling the entry table the way the Open command does (append, write,
// post per row with grid updates suspended, then a sort on Pos).
#include "catalog/entry_table.h"
#include "catalog/texture_table.h"
#include "formats/archive_directory.h"
#include "support/archive_builder.h"
#include "tables/record_table.h"

#include <benchmark/benchmark.h>

namespace {

constexpr size_t kEntries = 20000;

const std::vector<uint8_t>& directoryBytes()
{
    static const std::vector<uint8_t> bytes = buildDirectoryBytes(archive_fixture::manyRecords(kEntries));
    return bytes;
}

// The directory written once to a scratch folder that lives for the whole run.
const std::string& directoryFile()
{
    static archive_fixture::ScratchDir dir("qx_open_bench");
    static const std::string path = [] {
        const std::string p = dir.file("big.dir");
        archive_fixture::writeBytes(p, directoryBytes());
        return p;
    }();
    return path;
}

// A grid stand-in: counts what it is told, as a real grid would repaint.
class CountingObserver : public RecordTableObserver {
public:
    void refreshAll(RecordTable&) override { ++refreshes; }
    void currentChanged(RecordTable&) override { ++moves; }
    int64_t refreshes = 0;
    int64_t moves = 0;
};

// Fills the entry table as the Open command does. With `cachedFields` the
// field accessors are looked up once; otherwise by name for every row.
void fillEntryTable(RecordTable& rxm, const std::vector<DirectoryEntry>& entries, bool cachedFields)
{
    bool loadingDirectory = true;
    int64_t handled = 0;
    rxm.SetAfterScroll([&](RecordTable&) {
        if (!loadingDirectory)
            ++handled;
    });
    rxm.Empty();
    rxm.DisableControls();
    RecordField& pos = rxm.FieldByName("Pos");
    RecordField& name = rxm.FieldByName("Name");
    RecordField& size = rxm.FieldByName("Size");
    RecordField& fpos = rxm.FieldByName("FPos");
    for (const DirectoryEntry& e : entries) {
        rxm.Append();
        if (cachedFields) {
            name.SetAsString(e.name);
            size.SetAsInteger(e.size);
            pos.SetAsInteger(e.pos);
            fpos.SetAsInteger(e.offset);
        } else {
            rxm.FieldByName("Name").SetAsString(e.name);
            rxm.FieldByName("Size").SetAsInteger(e.size);
            rxm.FieldByName("Pos").SetAsInteger(e.pos);
            rxm.FieldByName("FPos").SetAsInteger(e.offset);
        }
        rxm.Post();
    }
    rxm.SortOnField("Pos");
    rxm.First();
    rxm.EnableControls();
    loadingDirectory = false;
    benchmark::DoNotOptimize(handled);
}

void BM_ParseDirectoryBuffer(benchmark::State& state)
{
    const auto& bytes = directoryBytes();
    for (auto _ : state) {
        auto entries = parseArchiveDirectory(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(entries.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kEntries));
}
BENCHMARK(BM_ParseDirectoryBuffer)->Unit(benchmark::kMillisecond);

void BM_ReadArchiveDirectoryFile(benchmark::State& state)
{
    const std::string& path = directoryFile();
    for (auto _ : state) {
        auto entries = readArchiveDirectory(path);
        benchmark::DoNotOptimize(entries.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kEntries));
}
BENCHMARK(BM_ReadArchiveDirectoryFile)->Unit(benchmark::kMillisecond);

void BM_OpenDirectoryIntoEntryTable(benchmark::State& state)
{
    const std::string& path = directoryFile();
    const bool cached = state.range(0) != 0;
    auto rxm = makeEntryTable();
    CountingObserver grid;
    rxm->AddObserver(&grid);
    for (auto _ : state) {
        fillEntryTable(*rxm, readArchiveDirectory(path), cached);
        if (rxm->RowCount() != static_cast<int>(kEntries)) {
            state.SkipWithError("wrong row count");
            break;
        }
    }
    rxm->RemoveObserver(&grid);
    state.counters["grid_refreshes_per_open"] =
        benchmark::Counter(static_cast<double>(grid.refreshes), benchmark::Counter::kAvgIterations);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kEntries));
    state.SetLabel(cached ? "fields looked up once" : "FieldByName per write");
}
BENCHMARK(BM_OpenDirectoryIntoEntryTable)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
