// Feeds arbitrary bytes to the PNG reader: it must fail with an exception or
// produce a picture whose rows all lie in its pixel store, never crash or leak.
#include "imaging/png_graphic.h"
#include "platform/environment.h"
#include "platform/streams.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        setWarningHook([](const std::string&, const std::string&) {});
        return true;
    }();
    (void)quiet;
    TReadOnlyMemoryStream stream(data, int64_t(size));
    TPngGraphic picture;
    try {
        picture.ReadImage(stream, 1);
    } catch (const Exception&) {
        return 0;
    }
    // Every row must lie inside the pixel store: touch both of its ends.
    volatile uint32_t sum = 0;
    for (int y = 0; y < picture.Height(); ++y)
        sum = sum + picture.RowPointer(y)[0] + picture.RowPointer(y)[picture.RowStride() - 1];
    return 0;
}
