// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/tiff_builder.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

namespace tiff_fixture {
namespace {

struct MemoryFile {
    std::vector<uint8_t> data;
    uint64_t position = 0;
    char message[512] = {};
};

tmsize_t readProc(thandle_t h, void* buf, tmsize_t size)
{
    auto* f = static_cast<MemoryFile*>(h);
    if (f->position >= f->data.size())
        return 0;
    const size_t n = std::min<size_t>(size_t(size), f->data.size() - size_t(f->position));
    std::memcpy(buf, f->data.data() + f->position, n);
    f->position += n;
    return tmsize_t(n);
}

tmsize_t writeProc(thandle_t h, void* buf, tmsize_t size)
{
    auto* f = static_cast<MemoryFile*>(h);
    try {
        if (f->position + uint64_t(size) > f->data.size())
            f->data.resize(size_t(f->position + uint64_t(size)));
    } catch (...) {
        return -1;
    }
    std::memcpy(f->data.data() + f->position, buf, size_t(size));
    f->position += uint64_t(size);
    return size;
}

toff_t seekProc(thandle_t h, toff_t offset, int whence)
{
    auto* f = static_cast<MemoryFile*>(h);
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = int64_t(f->position);
    else if (whence == SEEK_END)
        base = int64_t(f->data.size());
    const int64_t target = base + int64_t(offset);
    if (target < 0)
        return toff_t(-1);
    f->position = uint64_t(target);
    return f->position;
}

int closeProc(thandle_t)
{
    return 0;
}
toff_t sizeProc(thandle_t h)
{
    return static_cast<MemoryFile*>(h)->data.size();
}
int mapProc(thandle_t, void**, toff_t*)
{
    return 0;
}
void unmapProc(thandle_t, void*, toff_t) {}

int errorHandler(TIFF*, void* user, const char* module, const char* fmt, va_list ap)
{
    auto* f = static_cast<MemoryFile*>(user);
    char text[400];
    std::vsnprintf(text, sizeof text, fmt, ap);
    std::snprintf(f->message, sizeof f->message, "%s: %s", module ? module : "", text);
    return 1;
}

int warningHandler(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

[[noreturn]] void fail(const MemoryFile& f, const char* what)
{
    throw std::runtime_error(std::string("tiff fixture: ") + what + " " + f.message);
}

void writePage(TIFF* tif, const TiffPage& p, MemoryFile& f)
{
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, p.width) && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, p.height)
              && TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, p.bitsPerSample)
              && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, p.samplesPerPixel)
              && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, p.photometric)
              && TIFFSetField(tif, TIFFTAG_COMPRESSION, p.compression)
              && TIFFSetField(tif, TIFFTAG_PLANARCONFIG, p.planar);
    if (!ok)
        fail(f, "tags");
    if (p.extraSamples) {
        const uint16_t kinds[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, kinds);
    }
    if (!p.red.empty())
        TIFFSetField(tif, TIFFTAG_COLORMAP, p.red.data(), p.green.data(), p.blue.data());
    if (p.xResolution)
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, double(*p.xResolution));
    if (p.yResolution)
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, double(*p.yResolution));
    if (p.resolutionUnit)
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, *p.resolutionUnit);
    if (p.orientation)
        TIFFSetField(tif, TIFFTAG_ORIENTATION, *p.orientation);
    if (p.compression == COMPRESSION_CCITTFAX3)
        TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, p.t4Options);
    if (p.compression == COMPRESSION_JPEG) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 95);
        if (p.photometric == PHOTOMETRIC_YCBCR)
            TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }

    const size_t row = rowBytes(p);
    const uint16_t planes = p.planar == PLANARCONFIG_SEPARATE ? p.samplesPerPixel : 1;
    if (p.pixels.size() != row * p.height * planes)
        fail(f, "wrong pixel byte count");

    if (p.tileWidth) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, p.tileWidth);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, p.tileLength);
        if (p.bitsPerSample % 8 || planes != 1)
            fail(f, "tiles need whole-byte contiguous samples");
        const size_t pixelBytes = size_t(p.bitsPerSample / 8) * p.samplesPerPixel;
        std::vector<uint8_t> tile(size_t(TIFFTileSize(tif)));
        for (uint32_t ty = 0; ty < p.height; ty += p.tileLength)
            for (uint32_t tx = 0; tx < p.width; tx += p.tileWidth) {
                std::fill(tile.begin(), tile.end(), 0);
                for (uint32_t y = 0; y < p.tileLength && ty + y < p.height; ++y)
                    for (uint32_t x = 0; x < p.tileWidth && tx + x < p.width; ++x)
                        std::memcpy(&tile[(size_t(y) * p.tileWidth + x) * pixelBytes],
                                    &p.pixels[size_t(ty + y) * row + size_t(tx + x) * pixelBytes], pixelBytes);
                if (TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) < 0)
                    fail(f, "TIFFWriteTile");
            }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, p.rowsPerStrip ? p.rowsPerStrip : p.height);
        std::vector<uint8_t> line(row);
        for (uint16_t plane = 0; plane < planes; ++plane)
            for (uint32_t y = 0; y < p.height; ++y) {
                std::memcpy(line.data(), &p.pixels[(size_t(plane) * p.height + y) * row], row);
                if (TIFFWriteScanline(tif, line.data(), y, plane) < 0)
                    fail(f, "TIFFWriteScanline");
            }
    }
    if (!TIFFWriteDirectory(tif))
        fail(f, "TIFFWriteDirectory");
}

uint16_t get16(const std::vector<uint8_t>& b, size_t at)
{
    if (at + 2 > b.size())
        throw std::runtime_error("tiff fixture: offset out of the file");
    return uint16_t(b[at] | b[at + 1] << 8);
}
uint32_t get32(const std::vector<uint8_t>& b, size_t at)
{
    if (at + 4 > b.size())
        throw std::runtime_error("tiff fixture: offset out of the file");
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// Position of the 12-byte entry of `tag` in the first directory.
size_t findEntry(const std::vector<uint8_t>& file, uint16_t tag)
{
    if (file.size() < 8 || file[0] != 'I')
        throw std::runtime_error("tiff fixture: not a little-endian TIFF");
    const size_t ifd = get32(file, 4);
    const uint16_t count = get16(file, ifd);
    for (uint16_t i = 0; i < count; ++i) {
        const size_t entry = ifd + 2 + size_t(i) * 12;
        if (get16(file, entry) == tag)
            return entry;
    }
    throw std::runtime_error("tiff fixture: tag not found");
}

uint32_t arrayValue(const std::vector<uint8_t>& file, uint16_t tag, uint32_t index)
{
    const size_t entry = findEntry(file, tag);
    const uint16_t type = get16(file, entry + 2);
    const uint32_t count = get32(file, entry + 4);
    if (index >= count)
        throw std::runtime_error("tiff fixture: index beyond the tag's values");
    const size_t width = type == TIFF_SHORT ? 2 : 4;
    const size_t base = count * width <= 4 ? entry + 8 : get32(file, entry + 8);
    return width == 2 ? get16(file, base + index * 2) : get32(file, base + index * 4);
}

}  // namespace

size_t rowBytes(const TiffPage& page)
{
    const uint16_t samples = page.planar == PLANARCONFIG_SEPARATE ? 1 : page.samplesPerPixel;
    return (size_t(page.width) * page.bitsPerSample * samples + 7) / 8;
}

std::vector<uint8_t> writeTiff(const std::vector<TiffPage>& pages)
{
    MemoryFile f;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, errorHandler, &f);
    TIFFOpenOptionsSetWarningHandlerExtR(options, warningHandler, &f);
    TIFF* tif = TIFFClientOpenExt("fixture", "wl", &f, readProc, writeProc, seekProc, closeProc, sizeProc, mapProc,
                                  unmapProc, options);
    TIFFOpenOptionsFree(options);
    if (!tif)
        fail(f, "TIFFClientOpen");
    try {
        for (const TiffPage& page : pages)
            writePage(tif, page, f);
    } catch (...) {
        TIFFClose(tif);
        throw;
    }
    TIFFClose(tif);
    return f.data;
}

void setTagValue(std::vector<uint8_t>& file, uint16_t tag, uint32_t value)
{
    const size_t entry = findEntry(file, tag);
    const uint16_t type = get16(file, entry + 2);
    if (get32(file, entry + 4) != 1)
        throw std::runtime_error("tiff fixture: tag holds more than one value");
    if (type == TIFF_SHORT) {
        file[entry + 8] = uint8_t(value);
        file[entry + 9] = uint8_t(value >> 8);
    } else if (type == TIFF_LONG) {
        for (int i = 0; i < 4; ++i)
            file[entry + 8 + size_t(i)] = uint8_t(value >> (8 * i));
    } else {
        throw std::runtime_error("tiff fixture: tag is neither SHORT nor LONG");
    }
}

void renameTag(std::vector<uint8_t>& file, uint16_t tag, uint16_t newTag)
{
    const size_t entry = findEntry(file, tag);
    file[entry] = uint8_t(newTag);
    file[entry + 1] = uint8_t(newTag >> 8);
}

uint32_t stripOffset(const std::vector<uint8_t>& file, uint32_t index)
{
    return arrayValue(file, TIFFTAG_STRIPOFFSETS, index);
}

uint32_t stripByteCount(const std::vector<uint8_t>& file, uint32_t index)
{
    return arrayValue(file, TIFFTAG_STRIPBYTECOUNTS, index);
}

uint32_t tileOffset(const std::vector<uint8_t>& file, uint32_t index)
{
    return arrayValue(file, TIFFTAG_TILEOFFSETS, index);
}

uint32_t tileByteCount(const std::vector<uint8_t>& file, uint32_t index)
{
    return arrayValue(file, TIFFTAG_TILEBYTECOUNTS, index);
}

}  // namespace tiff_fixture
