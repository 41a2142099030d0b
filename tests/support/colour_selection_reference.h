// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The greedy spread selection of the palette build written out plainly, for
// checking the incremental version against it: every pick recomputes each
// waiting candidate's crowding from all colours placed so far, O(N^2 * K).
// Sums are 64-bit so arbitrary test colours cannot overflow them.
#include <cstdint>
#include <utility>

inline void SelectColoursPlain(uint8_t* candidates, int count, int wanted)
{
    if (count <= 0 || wanted <= 0)
        return;
    if (wanted > count)
        wanted = count;
    auto distance = [](const uint8_t* a, const uint8_t* b) {
        const int32_t d0 = a[0] - b[0], d1 = a[1] - b[1], d2 = a[2] - b[2];
        return d0 * d0 + d1 * d1 + d2 * d2;
    };
    const uint8_t white[3] = {255, 255, 255};
    int chosen = 0;
    int32_t best = distance(candidates, white);
    for (int p = 1; p < count; ++p) {
        const int32_t d = distance(candidates + 3 * p, white);
        if (d < best) {
            best = d;
            chosen = p;
        }
    }
    for (int i = 0; i < wanted; ++i) {
        for (int c = 0; c < 3; ++c)
            std::swap(candidates[3 * chosen + c], candidates[3 * i + c]);
        int64_t least = int64_t(1) << 30;
        int leastPos = i + 1;
        for (int p = i + 1; p < count; ++p) {
            int64_t crowding = 0;
            for (int j = 0; j <= i; ++j) {
                const int32_t d2 = distance(candidates + 3 * p, candidates + 3 * j);
                if (d2 == 0) {
                    crowding = int64_t(1) << 30;
                    break;
                }
                crowding += (int64_t(1) << 30) / d2;
            }
            if (crowding < least) {
                least = crowding;
                leastPos = p;
            }
        }
        chosen = leastPos;
    }
}
