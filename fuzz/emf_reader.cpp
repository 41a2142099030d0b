// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes the metafile reader on enhanced metafiles (libemf2svg) over memory.
#include "fuzz_support.h"
#include "imaging/readers/metafile_graphic.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    (void)argc;
    startGuiApplication(*argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The header's total size must match the input for the reader to take
    // it; set it, so that mutations that change the length reach libemf2svg.
    std::vector<uint8_t> bytes(data, data + size);
    if (bytes.size() >= 52) {
        const uint32_t n = uint32_t(bytes.size());
        bytes[48] = uint8_t(n);
        bytes[49] = uint8_t(n >> 8);
        bytes[50] = uint8_t(n >> 16);
        bytes[51] = uint8_t(n >> 24);
    }
    // Pictures the reader accepts can be up to a gigabyte; the fuzzer skips
    // the large ones so that each run stays fast (the size limit itself is
    // unit-tested).
    const MetafileInfo info = InspectMetafile(bytes.data(), bytes.size());
    if (info.kind != MetafileKind::Enhanced || double(info.width) * double(info.height) > double(1 << 20))
        return 0;
    readAndTouch<TMetaFileGraphic>(bytes.data(), bytes.size());
    return 0;
}
