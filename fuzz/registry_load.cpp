// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes loading by name: the first byte chooses one of the registered
// extensions (or, past their count, a name the registry does not know), the
// rest is the picture stream.
#include "imaging/picture_registry.h"
#include "platform/streams.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    RegisterImportPreviewFormats();
    const auto& formats = PictureFormatRegistry();
    const size_t choice = data[0] % (formats.size() + 2);
    std::string name;
    if (choice < formats.size())
        name = "picture." + formats[choice].extension;
    else if (choice == formats.size())
        name = "picture.gif";
    else
        name = "picture";
    TReadOnlyMemoryStream stream(data + 1, int64_t(size - 1));
    try {
        std::unique_ptr<TDibGraphic> picture = LoadPictureFromStream(stream, name, 1);
        if (!picture)
            __builtin_trap();
    } catch (const Exception&) {
    }
    return 0;
}
