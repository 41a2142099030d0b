// Fuzzes the icon reader (Qt's ICO reader behind it) over memory.
#include "imaging/icon_graphic.h"
#include "platform/streams.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TReadOnlyMemoryStream stream(data, int64_t(size));
    TIconGraphic picture;
    try {
        picture.ReadFromStream(stream);
    } catch (const Exception&) {
    }
    return 0;
}
