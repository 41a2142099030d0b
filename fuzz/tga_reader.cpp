// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes the TGA reader: any byte string is read as a TGA stream. A picture
// that reads must also survive a write and a second read unchanged.
#include "imaging/readers/tga_graphic.h"
#include "platform/streams.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Pictures of more than 16 million pixels only cost time here: their
    // stores are refused or allocated untouched, which the tests cover.
    if (size >= 16 && int64_t(data[12] | (data[13] << 8)) * int64_t(data[14] | (data[15] << 8)) > (int64_t(1) << 24))
        return 0;

    TTgaGraphic picture;
    try {
        TReadOnlyMemoryStream stream(data, int64_t(size));
        picture.ReadFromStream(stream);
    } catch (const Exception&) {
        return 0;
    }
    if (picture.IsEmpty())
        __builtin_trap();  // a read that succeeds gives a picture
    const int64_t storeSize = int64_t(picture.Height()) * picture.RowStride();
    if (storeSize > (int64_t(1) << 20))
        return 0;

    TMemoryStream written;
    picture.WriteToStream(written);
    written.Seek(0, SeekOrigin::Begin);
    TTgaGraphic again;
    again.ReadFromStream(written);
    if (again.Width() != picture.Width() || again.Height() != picture.Height()
        || again.ImageFormat() != picture.ImageFormat()
        || std::memcmp(again.Bits(), picture.Bits(), size_t(storeSize)) != 0
        || std::memcmp(&again.Palette(), &picture.Palette(), sizeof(TLogicalPalette)) != 0)
        __builtin_trap();
    return 0;
}
