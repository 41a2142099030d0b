// SPDX-License-Identifier: GPL-2.0-or-later
// The archive edits of the main window, on an archive directory of 10,000
// entries (a sparse data file), its undo records in a scratch state folder:
// - RenameEntry10000: a rename from the handler's start until both lists
//   are read again (the transaction, its undo record, the new listing);
// - ReloadArchive10000: reading the lists again alone, the part of every
//   edit that grows with the archive;
// - UndoItemsOf100Records: naming Undo and Redo (updateArchiveItems) with
//   100 changes of 256 KiB each kept, beside reading every record as the
//   undo list does (UndoableOf100Records).
#include "app/main_form.h"
#include "app_bench_support.h"
#include "archive/archive.h"
#include "archive/entry_edits.h"
#include "archive/undo.h"
#include "formats/archive_writer.h"
#include "support/archive_builder.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

using archive_fixture::ScratchDir;
using archive_fixture::writeBytes;

// The undo records of the benchmarks go to a scratch state folder.
ScratchDir& stateFolder()
{
    static ScratchDir state{"qx_bench_state"};
    ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
    return state;
}

std::string entryName(int64_t i)
{
    std::string name = "e";
    name += std::to_string(i);
    name += ".dff";
    return name;
}

// 10,000 records of 4 sectors over a sparse data file.
void bigArchive(const std::string& dir, const std::string& img)
{
    std::vector<DirectoryRecord> records;
    for (int64_t i = 0; i < 10000; ++i)
        records.push_back({uint32_t(i * 4), 4, entryName(i)});
    writeBytes(dir, buildDirectoryBytes(records));
    const int fd = ::open(img.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0 || ::ftruncate(fd, 10000 * 4 * 2048) != 0)
        std::abort();
    ::close(fd);
}

struct OpenForm {
    explicit OpenForm(const std::string& path) : form(std::make_unique<BenchDialogs>(path))
    {
        form.resize(1019, 667);
        form.show();
        QApplication::processEvents();
        form.guard([&] { form.BtnOpenClick(); });
        form.guard([&] {
            form.RxM->GoToRowNumber(5000);
            form.RxM->FireAfterScroll();
        });
    }
    QApplication& app = guiTestApp();  // before any widget
    TForm1 form;
};

void RenameEntry10000(benchmark::State& state)
{
    stateFolder();
    ScratchDir dir{"qx_bench_rename"};
    bigArchive(dir.file("big.dir"), dir.file("big.img"));
    OpenForm open(dir.file("big.dir"));
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        open.form.RenameEntry(flip ? "renamed.dff" : "e4999.dff");
    }
}
BENCHMARK(RenameEntry10000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

void ReloadArchive10000(benchmark::State& state)
{
    stateFolder();
    ScratchDir dir{"qx_bench_reload"};
    bigArchive(dir.file("big.dir"), dir.file("big.img"));
    OpenForm open(dir.file("big.dir"));
    for (auto _ : state)
        open.form.ReloadArchive();
}
BENCHMARK(ReloadArchive10000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// An archive whose one entry was replaced 100 times with 256 KiB each time:
// 100 undo records of about 256 KiB.
struct HundredRecords {
    HundredRecords()
    {
        stateFolder();
        std::vector<uint8_t> bytes(256 * 1024);
        writeArchive(dir.file("u.dir"), dir.file("u.img"), {{"one", bytes}});
        ArchiveEditor editor(dir.file("u.dir"));
        for (int i = 0; i < 100; ++i) {
            std::fill(bytes.begin(), bytes.end(), uint8_t(i + 1));
            replaceEntryBytes(editor, editor.contents().entries[0], bytes, [] {
                ChangeLabel label;
                label.description = "replace of one";
                return label;
            }());
        }
    }
    ScratchDir dir{"qx_bench_undo"};
};

void UndoItemsOf100Records(benchmark::State& state)
{
    HundredRecords records;
    OpenForm open(records.dir.file("u.dir"));
    for (auto _ : state)
        open.form.updateArchiveItems();
}
BENCHMARK(UndoItemsOf100Records)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

void UndoableOf100Records(benchmark::State& state)
{
    HundredRecords records;
    UndoStore store(records.dir.file("u.img"), systemArchiveFs());
    for (auto _ : state)
        benchmark::DoNotOptimize(store.undoable());
}
BENCHMARK(UndoableOf100Records)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
