// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes the BMP reader (codec first, Qt's BMP reader second) over memory.
#include "fuzz_support.h"
#include "imaging/readers/bmp_graphic.h"
#include "platform/byte_order.h"

#include <cstdint>
#include <cstdlib>

namespace {

// Pictures the readers accept can be up to a gigabyte; the fuzzer skips the
// large ones so that each run stays fast (the size limit itself is unit-tested).
bool tooLargeForFuzzing(const uint8_t* data, size_t size)
{
    const size_t start = (size >= 2 && data[0] == 'B' && data[1] == 'A') ? 14 : 0;
    if (size < start + 26)
        return false;
    const uint8_t* h = data + start;
    int64_t w, ht;
    if (readLe32(h + 14) == 12) {
        w = h[18] | (h[19] << 8);
        ht = h[20] | (h[21] << 8);
    } else {
        w = std::llabs(int64_t(int32_t(readLe32(h + 18))));
        ht = std::llabs(int64_t(int32_t(readLe32(h + 22))));
    }
    return w * ht > (int64_t(1) << 22);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (tooLargeForFuzzing(data, size))
        return 0;
    readAndTouch<TBitmapGraphic>(data, size);
    return 0;
}
