// Fuzzes the metafile reader on placeable Windows metafiles (libwmf) over memory.
#include "imaging/metafile_graphic.h"
#include "platform/streams.h"

#include <QGuiApplication>
#include <cstdint>
#include <vector>

// The program draws metafiles with a QGuiApplication (and its fonts) around;
// so does the fuzzer, with the platform that needs no display.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int qtArgc = 1;
    static char* qtArgv[] = {(*argv)[0], nullptr};
    static QGuiApplication* app = new QGuiApplication(qtArgc, qtArgv);
    (void)app;
    (void)argc;
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
    TReadOnlyMemoryStream stream(bytes.data(), int64_t(bytes.size()));
    TMetaFileGraphic picture;
    try {
        picture.ReadFromStream(stream);
    } catch (const Exception&) {
    }
    return 0;
}
