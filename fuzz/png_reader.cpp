// SPDX-License-Identifier: GPL-2.0-or-later
// Feeds arbitrary bytes to the PNG reader: it must fail with an exception or
// produce a picture whose rows all lie in its pixel store, never crash or leak.
#include "fuzz_support.h"
#include "imaging/readers/png_graphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    readAndTouch<TPngGraphic>(data, size);
    return 0;
}
