// SPDX-License-Identifier: GPL-2.0-or-later
// Replace (F5) over an archive of 20,000 entries, 2,000 of them texture
// dictionaries of 30 textures. Every row the scan passes runs the entry
// table's after-scroll handling: a dictionary row reads its texture list and
// shows its last texture (256 x 256 at 32 bits), as it does when the user
// moves onto it. The dictionary entries all point at one dictionary in the
// data file, so the run measures the handling, not the disk.
#include "app/main_form.h"
#include "app_bench_support.h"
#include "formats/archive_sample.h"
#include "formats/archive_writer.h"
#include "support/archive_builder.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

QApplication& app()
{
    return guiTestApp();
}

void ReplaceOverTwentyThousandEntries(benchmark::State& state)
{
    constexpr int kEntries = 20000;
    archive_fixture::ScratchDir dir("qx_replace_bench");
    std::vector<uint8_t> img = thirtyTextureDictionary();
    const uint32_t dictionarySectors = uint32_t((img.size() + 2047) / 2048);
    img.resize(size_t(dictionarySectors + 1) * 2048, 0);  // one more sector for every other entry
    std::vector<DirectoryRecord> records;
    for (int i = 0; i < kEntries; ++i) {
        char name[32];
        if (i % 10 == 5) {
            std::snprintf(name, sizeof name, "tex%05d.txd", i);
            records.push_back({0, dictionarySectors, name});
        } else {
            std::snprintf(name, sizeof name, "model%05d.dff", i);
            records.push_back({dictionarySectors, 1, name});
        }
    }
    archive_fixture::writeBytes(dir.file("bench.dir"), buildDirectoryBytes(records));
    archive_fixture::writeBytes(dir.file("bench.img"), img);

    app();
    auto owned = std::make_unique<BenchDialogs>(dir.file("bench.dir"));
    BenchDialogs& dialogs = *owned;
    TForm1 form(std::move(owned));
    form.show();
    QApplication::processEvents();
    form.BtnOpenClick();
    // Every row holds a text, every other row one that the first replace changes.
    RecordField& text = form.RxM->FieldByName("String");
    form.RxM->DisableControls();
    for (form.RxM->First(); !form.RxM->Eof(); form.RxM->Next()) {
        form.RxM->Edit();
        text.SetAsString(form.RxM->RecNo() % 2 ? "the old name" : "nothing to see");
        form.RxM->Post();
    }
    form.RxM->EnableControls();
    QApplication::processEvents();

    bool forward = true;
    for (auto _ : state) {
        // Back and forth, so each pass changes the same rows.
        dialogs.request = forward ? ReplaceRequest{"old", "new", true} : ReplaceRequest{"new", "old", true};
        forward = !forward;
        form.BtnReplaceClick(nullptr);
        QApplication::processEvents();
    }
    if (dialogs.lastMessage != "Replaced in 10000 strings")
        state.SkipWithError(("unexpected count: " + dialogs.lastMessage).c_str());
}
BENCHMARK(ReplaceOverTwentyThousandEntries)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

}  // namespace

BENCHMARK_MAIN();
