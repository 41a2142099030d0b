// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes the metafile reader on placeable Windows metafiles (libwmf) over memory.
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
    // The fuzzer rarely keeps the header's checksum right by chance; set it,
    // so that mutated headers reach libwmf too.
    std::vector<uint8_t> bytes(data, data + size);
    if (bytes.size() >= 22) {
        uint16_t sum = 0;
        for (int i = 0; i < 10; ++i)
            sum ^= uint16_t(bytes[size_t(2 * i)] | (bytes[size_t(2 * i + 1)] << 8));
        bytes[20] = uint8_t(sum);
        bytes[21] = uint8_t(sum >> 8);
    }
    // Pictures the reader accepts can be up to a gigabyte; the fuzzer skips
    // the large ones so that each run stays fast (the size limit itself is
    // unit-tested).
    const MetafileInfo info = InspectMetafile(bytes.data(), bytes.size());
    if (info.kind != MetafileKind::Placeable || double(info.width) * double(info.height) > double(1 << 20))
        return 0;
    readAndTouch<TMetaFileGraphic>(bytes.data(), bytes.size());
    return 0;
}
