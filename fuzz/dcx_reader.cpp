// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes the DCX reader over memory: the page count and the first two pages.
#include "imaging/readers/pcx_graphic.h"
#include "platform/streams.h"

#include <cstdint>

namespace {

uint32_t u32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Pages whose PCX header claims a large picture are skipped to keep each run
// fast (the size limit itself is unit-tested).
bool tooLargeForFuzzing(const uint8_t* data, size_t size)
{
    for (size_t entry = 4; entry + 4 <= size && entry <= 12; entry += 4) {
        const uint32_t offset = u32(data + entry);
        if (offset == 0)
            break;
        if (offset < size && size - offset >= 12) {
            const uint8_t* h = data + offset;
            const int64_t w = int64_t(h[8] | (h[9] << 8)) - (h[4] | (h[5] << 8)) + 1;
            const int64_t ht = int64_t(h[10] | (h[11] << 8)) - (h[6] | (h[7] << 8)) + 1;
            if (w > 0 && ht > 0 && w * ht > (int64_t(1) << 22))
                return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (tooLargeForFuzzing(data, size))
        return 0;
    for (int index = 1; index <= 2; ++index) {
        TReadOnlyMemoryStream stream(data, int64_t(size));
        TDcxGraphic picture;
        try {
            if (index == 1) {
                volatile int pages = picture.CountImages(stream);
                (void)pages;
            }
            picture.ImageIndex = index;
            picture.ReadFromStream(stream);
        } catch (const Exception&) {
        }
    }
    return 0;
}
