// SPDX-License-Identifier: GPL-2.0-or-later
// Feeds arbitrary bytes to the TIFF reader: it must fail with an exception or
// produce a picture whose rows all lie in its pixel store, never crash or
// leak. The second directory is read too when there is one.
#include "fuzz_support.h"
#include "imaging/readers/tiff_graphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    readAndTouch<TTiffGraphic>(data, size, 1);
    TReadOnlyMemoryStream stream(data, int64_t(size));
    TTiffGraphic counter;
    int count = 0;
    try {
        count = counter.CountImages(stream);
    } catch (const Exception&) {
        return 0;
    }
    if (count > 1)
        readAndTouch<TTiffGraphic>(data, size, 2);
    return 0;
}
