// SPDX-License-Identifier: GPL-2.0-or-later
// The full-length kill loop: quarnix-tool import over a 2048 x 2048 32-bit
// texture killed at QX_KILL_TRIES moments (default 300; every third the
// moment its first new byte is visible), each followed by `quarnix-tool
// textures`, which recovers the archive. The counters say how often the
// texture then held its old bytes, its new bytes, or a mixture (torn, which
// must stay 0).
#include "support/archive_builder.h"
#include "support/kill_loop.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

void BM_KillLoop(benchmark::State& state)
{
    const char* env = std::getenv("QX_KILL_TRIES");
    const int tries = env ? std::atoi(env) : 300;
    archive_fixture::ScratchDir dir("qx_kill_loop");
    KillLoop loop(dir.path());
    KillLoopCounts c;
    for (auto _ : state)
        c = loop.run(tries, 7u);
    state.counters["tries"] = c.tries;
    state.counters["old"] = c.old;
    state.counters["new"] = c.fresh;
    state.counters["torn"] = c.torn;
    state.counters["undone"] = c.undone;
    state.counters["journalled"] = c.journalled;
    state.counters["at_first_byte"] = c.atFirstByte;
    state.counters["list_failed"] = c.listFailed;
    state.counters["journals_left"] = c.journalsLeft;
    state.counters["import_ms"] = double(loop.importMicroseconds()) / 1000.0;
}

}  // namespace

BENCHMARK(BM_KillLoop)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
