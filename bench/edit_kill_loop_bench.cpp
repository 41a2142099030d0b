// SPDX-License-Identifier: GPL-2.0-or-later
// The full-length kill loop over the archive edits: add of a large file,
// replace that grows, remove and rebuild, in both flavours, and an import
// that grows a texture 16-fold and moves its dictionary, each killed at
// QX_EDIT_KILL_TRIES moments (default 40; every third the moment the first
// byte of either archive file changes), then listed. The counters say how
// often the archive was then exactly the old one, exactly the new one, or
// anything else (torn: must stay 0).
#include "support/archive_builder.h"
#include "support/edit_kill_loop.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

void EditKillLoopOf(benchmark::State& state)
{
    const char* env = std::getenv("QX_EDIT_KILL_TRIES");
    const int tries = env ? std::atoi(env) : 40;
    archive_fixture::ScratchDir dir("qx_edit_kill_loop");
    std::vector<EditKillCase> cases = editKillCases(dir.path());
    cases.push_back(dictionaryKillCase(dir.path()));
    const EditKillCase edit = cases.at(size_t(state.range(0)));
    state.SetLabel(edit.label);
    EditKillLoop loop(dir.path(), edit);
    EditKillCounts c;
    for (auto _ : state)
        c = loop.run(tries, 5u + unsigned(state.range(0)));
    state.counters["tries"] = c.tries;
    state.counters["old"] = c.old;
    state.counters["new"] = c.fresh;
    state.counters["torn"] = c.torn;
    state.counters["at_first_byte"] = c.atFirstByte;
    state.counters["list_failed"] = c.listFailed;
    state.counters["left_over"] = c.journalsLeft;
    state.counters["edit_ms"] = double(loop.editMicroseconds()) / 1000.0;
    if (!c.firstFailure.empty())
        state.SetLabel(edit.label + "; list said: " + c.firstFailure);
}

}  // namespace

BENCHMARK(EditKillLoopOf)->DenseRange(0, 8)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
