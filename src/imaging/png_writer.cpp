// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/png_writer.h"

#include "platform/exceptions.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>

// The file is written chunk by chunk here: the signature, IHDR, an optional
// sRGB chunk, the pixels as one zlib stream in IDAT chunks, and IEND. The
// rows are Sub-filtered (each byte less the same channel of the pixel to its
// left) and the whole stream compressed at once by libdeflate at its fastest
// level, which packs tighter than zlib's fastest and takes about half its
// time.

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// An IDAT chunk holds at most 2^31 - 1 bytes; the stream is cut well below.
constexpr size_t kIdatBytes = size_t(1) << 30;
constexpr uint8_t kFilterSub = 1;

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t[], FreeDeleter>;

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const noexcept { libdeflate_free_compressor(c); }
};

// Left as allocated: every byte is written before it is read.
Buffer allocate(size_t bytes)
{
    Buffer b(static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1)));
    if (!b)
        throw EOutOfMemory("Out of memory");
    return b;
}

uint8_t* putBe32(uint8_t* at, uint32_t v)
{
    at[0] = uint8_t(v >> 24);
    at[1] = uint8_t(v >> 16);
    at[2] = uint8_t(v >> 8);
    at[3] = uint8_t(v);
    return at + 4;
}

// A chunk at `at`: its length, type, data and CRC; returns the end.
uint8_t* putChunk(uint8_t* at, const char type[4], const uint8_t* data, size_t length)
{
    uint8_t* const typeAt = putBe32(at, uint32_t(length));
    std::memcpy(typeAt, type, 4);
    if (length)
        std::memcpy(typeAt + 4, data, length);
    return putBe32(typeAt + 4 + length, libdeflate_crc32(0, typeAt, length + 4));
}

}  // namespace

std::vector<uint8_t> encodePng(const PngRows& rows)
{
    if (rows.width <= 0 || rows.height <= 0 || !rows.row || rows.srgbIntent > 3)
        throw streamWriteError("cannot encode a PNG of " + std::to_string(rows.width) + " x "
                               + std::to_string(rows.height) + " pixels");
    const size_t channels = rows.alpha ? 4 : 3;
    const size_t rowBytes = size_t(rows.width) * channels;
    const size_t filteredRow = rowBytes + 1;
    if (size_t(rows.height) > std::numeric_limits<size_t>::max() / 2 / filteredRow)
        throw EOutOfMemory("Out of memory");
    const size_t raw = filteredRow * size_t(rows.height);

    // The rows, each behind its filter byte, filtered in place from the
    // right so that every byte still sees its unfiltered left neighbour.
    Buffer filtered = allocate(raw);
    for (int y = 0; y < rows.height; ++y) {
        uint8_t* line = filtered.get() + size_t(y) * filteredRow;
        line[0] = kFilterSub;
        uint8_t* px = line + 1;
        rows.row(y, px);
        for (size_t i = rowBytes; i-- > channels;)
            px[i] = uint8_t(px[i] - px[i - channels]);
    }
    if (rows.rowsRead)
        rows.rowsRead();

    const std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(libdeflate_alloc_compressor(1));
    if (!compressor)
        throw EOutOfMemory("Out of memory");
    const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), raw);
    Buffer stream = allocate(bound);
    const size_t streamBytes = libdeflate_zlib_compress(compressor.get(), filtered.get(), raw, stream.get(), bound);
    filtered.reset();
    if (streamBytes == 0)
        throw streamWriteError("cannot encode the PNG: the compressed pixels did not fit");

    constexpr size_t kChunkFrame = 12;  // length, type, CRC
    const size_t idatChunks = (streamBytes + kIdatBytes - 1) / kIdatBytes;
    const size_t fileBytes = sizeof kSignature + kChunkFrame + 13 + (rows.srgbIntent >= 0 ? kChunkFrame + 1 : 0)
                             + kChunkFrame * idatChunks + streamBytes + kChunkFrame;
    std::vector<uint8_t> out;
    try {
        out.resize(fileBytes);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("Out of memory");
    }
    uint8_t* at = out.data();
    std::memcpy(at, kSignature, sizeof kSignature);
    at += sizeof kSignature;
    const uint32_t w = uint32_t(rows.width), h = uint32_t(rows.height);
    uint8_t header[13];
    putBe32(header, w);
    putBe32(header + 4, h);
    header[8] = 8;                            // bits per channel
    header[9] = uint8_t(rows.alpha ? 6 : 2);  // RGBA or RGB
    header[10] = 0;                           // deflate
    header[11] = 0;                           // the five adaptive filters
    header[12] = 0;                           // not interlaced
    at = putChunk(at, "IHDR", header, sizeof header);
    if (rows.srgbIntent >= 0) {
        const uint8_t intent = uint8_t(rows.srgbIntent);
        at = putChunk(at, "sRGB", &intent, 1);
    }
    for (size_t from = 0; from < streamBytes; from += kIdatBytes)
        at = putChunk(at, "IDAT", stream.get() + from, std::min(kIdatBytes, streamBytes - from));
    putChunk(at, "IEND", nullptr, 0);
    return out;
}
