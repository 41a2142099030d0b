// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Per-row work spread over the machine's cores. Rows are cut into
// contiguous bands, one per worker; each band runs exactly the code a single
// thread would run for those rows, so the result does not depend on how many
// workers there are.
#include <cstdint>
#include <functional>

// Calls band(first, last) for bands covering rows [0, rowCount) in order of
// rows, on up to one thread per core; the calling thread takes the first
// band itself. Work below `minRowsPerBand` rows per band is not split. When
// a band throws, the other bands still finish and the first band's
// exception (in row order) is rethrown. Under a CancelScope
// (platform/cancellation.h) each band's rows are handed to `band` in pieces,
// and ECancelled is raised between them once the flag is set.
// Under a SingleThreadScope (platform/work_threads.h) every band runs on the
// calling thread.
void ForEachRowBand(int32_t rowCount, int32_t minRowsPerBand,
                    const std::function<void(int32_t first, int32_t last)>& band);

// The number of workers ForEachRowBand uses at most: the cores (at least
// 1) unless SetRowBandWorkers chose another number.
int RowBandWorkers();
// 0 goes back to one worker per core; 1 runs every band on the calling
// thread. Tests use it to compare split work with the single-threaded run.
void SetRowBandWorkers(int workers);
