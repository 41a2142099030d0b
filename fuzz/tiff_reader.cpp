// Feeds arbitrary bytes to the TIFF reader: it must fail with an exception or
// produce a picture whose rows all lie in its pixel store, never crash or
// leak. The second directory is read too when there is one.
#include "imaging/tiff_graphic.h"
#include "platform/streams.h"

#include <cstddef>
#include <cstdint>

namespace {
void readOne(const uint8_t* data, size_t size, int index)
{
    TReadOnlyMemoryStream stream(data, int64_t(size));
    TTiffGraphic picture;
    try {
        picture.ReadImage(stream, index);
    } catch (const Exception&) {
        return;
    }
    // Every row must lie inside the pixel store: touch both of its ends.
    volatile uint32_t sum = 0;
    for (int y = 0; y < picture.Height(); ++y)
        sum = sum + picture.RowPointer(y)[0] + picture.RowPointer(y)[picture.RowStride() - 1];
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    readOne(data, size, 1);
    TReadOnlyMemoryStream stream(data, int64_t(size));
    TTiffGraphic counter;
    int count = 0;
    try {
        count = counter.CountImages(stream);
    } catch (const Exception&) {
        return 0;
    }
    if (count > 1)
        readOne(data, size, 2);
    return 0;
}
