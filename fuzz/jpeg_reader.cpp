// SPDX-License-Identifier: GPL-2.0-or-later
// Feeds arbitrary bytes to the JPEG reader: it must fail with an exception or
// produce a picture whose rows all lie in its pixel store, never crash or leak.
#include "fuzz_support.h"
#include "imaging/readers/jpeg_graphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    readAndTouch<TJpegGraphic>(data, size);
    return 0;
}
