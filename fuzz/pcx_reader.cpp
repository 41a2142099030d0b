// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes the PCX reader over memory.
#include "fuzz_support.h"
#include "imaging/readers/pcx_graphic.h"

#include <cstdint>

namespace {

// Pictures the reader accepts can be up to a gigabyte; the fuzzer skips the
// large ones so that each run stays fast (the size limit itself is unit-tested).
bool tooLargeForFuzzing(const uint8_t* h, size_t size)
{
    if (size < 12)
        return false;
    const int64_t w = int64_t(h[8] | (h[9] << 8)) - (h[4] | (h[5] << 8)) + 1;
    const int64_t ht = int64_t(h[10] | (h[11] << 8)) - (h[6] | (h[7] << 8)) + 1;
    return w > 0 && ht > 0 && w * ht > (int64_t(1) << 22);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (tooLargeForFuzzing(data, size))
        return 0;
    readAndTouch<TPcxGraphic>(data, size);
    return 0;
}
