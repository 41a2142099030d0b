// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes the icon reader (Qt's ICO reader behind it) over memory.
#include "fuzz_support.h"
#include "imaging/readers/icon_graphic.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    readAndTouch<TIconGraphic>(data, size);
    return 0;
}
