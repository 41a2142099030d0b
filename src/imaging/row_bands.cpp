// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/row_bands.h"

#include "platform/cancellation.h"
#include "platform/work_threads.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <vector>

namespace {
std::atomic<int> g_workers{0};
}

int RowBandWorkers()
{
    const int chosen = g_workers.load(std::memory_order_relaxed);
    if (chosen > 0)
        return chosen;
    static const int cores = std::max(1, int(std::thread::hardware_concurrency()));
    return cores;
}

void SetRowBandWorkers(int workers)
{
    g_workers.store(std::max(workers, 0), std::memory_order_relaxed);
}

void ForEachRowBand(int32_t rowCount, int32_t minRowsPerBand, const std::function<void(int32_t, int32_t)>& band)
{
    if (rowCount <= 0)
        return;
    // Work that may be cancelled hands each band's rows out in pieces, with
    // a check between them; the pieces cover the band's rows in order, and
    // rows do not depend on how they are cut, so the result is the same.
    const std::atomic<bool>* cancel = currentCancelFlag();
    const auto runRows = [&](int32_t first, int32_t last) {
        if (!cancel) {
            band(first, last);
            return;
        }
        const int32_t piece = std::max<int32_t>({minRowsPerBand, 1, (last - first + 15) / 16});
        for (int32_t at = first; at < last;) {
            throwIfCancelled();
            const int32_t next = int32_t(std::min<int64_t>(int64_t(at) + piece, last));
            band(at, next);
            at = next;
        }
    };
    const int32_t most = std::max<int32_t>(1, rowCount / std::max<int32_t>(minRowsPerBand, 1));
    // One of several pieces of work running side by side keeps to its thread.
    const int bands = singleThreadRequested() ? 1 : std::min<int32_t>(RowBandWorkers(), most);
    if (bands <= 1) {
        runRows(0, rowCount);
        return;
    }

    std::vector<std::exception_ptr> errors(static_cast<size_t>(bands));
    auto run = [&](int k) {
        const int32_t first = int32_t(int64_t(rowCount) * k / bands);
        const int32_t last = int32_t(int64_t(rowCount) * (k + 1) / bands);
        try {
            CancelScope scope(cancel);
            runRows(first, last);
        } catch (...) {
            errors[size_t(k)] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(size_t(bands - 1));
    try {
        for (int k = 1; k < bands; ++k)
            threads.emplace_back(run, k);
    } catch (...) {
        // No thread to be had: the remaining bands run here.
        for (int k = int(threads.size()) + 1; k < bands; ++k)
            run(k);
    }
    run(0);
    for (std::thread& t : threads)
        t.join();
    for (const std::exception_ptr& e : errors)
        if (e)
            std::rethrow_exception(e);
}
