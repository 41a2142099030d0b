// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/png_writer.h"

#include "platform/exceptions.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <new>
#include <string>

// libpng is C: an error there must never unwind C++ frames. Its error
// function records the message and longjmps back to the setjmp of one of the
// small step functions below, which hold nothing with a destructor and return
// false; the exception is thrown back in C++ code. The output callback
// catches a failed allocation and reports it to libpng the same way.

namespace {

struct PngSink {
    std::vector<uint8_t>* out = nullptr;
    bool outOfMemory = false;
    char message[256] = {};
};

extern "C" void pngWriterError(png_structp png, png_const_charp message)
{
    auto* sink = static_cast<PngSink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", message ? message : "");
    png_longjmp(png, 1);
}

extern "C" void pngWriterWarning(png_structp, png_const_charp) {}

extern "C" void pngWriterOutput(png_structp png, png_bytep data, size_t count)
{
    auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    try {
        sink->out->insert(sink->out->end(), data, data + count);
    } catch (...) {
        sink->outOfMemory = true;
    }
    if (sink->outOfMemory)
        png_error(png, "out of memory");
}

extern "C" void pngWriterFlush(png_structp) {}

bool writeHeader(png_structp png, png_infop info, const PngRows& rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_IHDR(png, info, png_uint_32(rows.width), png_uint_32(rows.height), 8,
                 rows.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    if (rows.srgbIntent >= 0)
        png_set_sRGB(png, info, rows.srgbIntent);
    png_write_info(png, info);
    return true;
}

bool writeRow(png_structp png, uint8_t* row)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_write_row(png, row);
    return true;
}

bool writeEnd(png_structp png, png_infop info)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_write_end(png, info);
    return true;
}

struct PngWriteStruct {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngWriteStruct() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

}  // namespace

std::vector<uint8_t> encodePng(const PngRows& rows)
{
    if (rows.width <= 0 || rows.height <= 0 || !rows.row)
        throw streamWriteError("cannot encode a PNG of " + std::to_string(rows.width) + " x "
                               + std::to_string(rows.height) + " pixels");
    const size_t rowBytes = size_t(rows.width) * (rows.alpha ? 4 : 3);
    std::vector<uint8_t> out;
    std::vector<uint8_t> row;
    try {
        // Room for the worst case (stored blocks) is only reserved: pages
        // that the encoded bytes never reach are never touched.
        const size_t raw = (rowBytes + 1) * size_t(rows.height);
        out.reserve(raw + raw / 256 + 4096);
        row.resize(rowBytes);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("Out of memory");
    }
    PngSink sink;
    sink.out = &out;
    PngWriteStruct s;
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, pngWriterError, pngWriterWarning);
    if (s.png)
        s.info = png_create_info_struct(s.png);
    if (!s.png || !s.info)
        throw EOutOfMemory("Out of memory");
    png_set_write_fn(s.png, &sink, pngWriterOutput, pngWriterFlush);

    const auto fail = [&]() {
        if (sink.outOfMemory)
            throw EOutOfMemory("Out of memory");
        throw streamWriteError(std::string("cannot encode the PNG: ") + sink.message);
    };
    if (!writeHeader(s.png, s.info, rows))
        fail();
    for (int y = 0; y < rows.height; ++y) {
        rows.row(y, row.data());
        if (!writeRow(s.png, row.data()))
            fail();
    }
    if (!writeEnd(s.png, s.info))
        fail();
    return out;
}
