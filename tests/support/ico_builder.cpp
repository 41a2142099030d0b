// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/ico_builder.h"

#include "support/bmp_builder.h"

namespace ico_fixture {

using namespace le_bytes;

namespace {

std::vector<uint8_t> imageData(const IconImage& im)
{
    std::vector<uint8_t> out;
    put32(out, 40);
    put32(out, uint32_t(im.width));
    put32(out, uint32_t(im.height * 2));  // colour rows and mask rows
    put16(out, 1);
    put16(out, uint32_t(im.bits));
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    if (im.bits <= 8)
        for (int i = 0; i < (1 << im.bits); ++i) {
            const uint32_t c = i < int(im.palette.size()) ? im.palette[size_t(i)] : 0;
            put8(out, c);
            put8(out, c >> 8);
            put8(out, c >> 16);
            put8(out, 0);
        }
    if (im.bits == 32) {
        const size_t stride = size_t(im.width) * 4;
        std::vector<uint8_t> rows(stride * size_t(im.height));
        for (int y = 0; y < im.height; ++y)
            for (int x = 0; x < im.width; ++x) {
                const uint32_t v = im.pixels[size_t(y * im.width + x)];
                uint8_t* p = rows.data() + size_t(im.height - 1 - y) * stride + size_t(x) * 4;
                p[0] = uint8_t(v);
                p[1] = uint8_t(v >> 8);
                p[2] = uint8_t(v >> 16);
                p[3] = uint8_t(v >> 24);
            }
        putBytes(out, rows);
    } else {
        putBytes(out, bmp_fixture::packRows(im.width, im.height, im.bits, im.pixels));
    }
    std::vector<uint32_t> mask(size_t(im.width) * size_t(im.height), 0);
    for (size_t i = 0; i < im.transparent.size() && i < mask.size(); ++i)
        mask[i] = im.transparent[i] ? 1 : 0;
    putBytes(out, bmp_fixture::packRows(im.width, im.height, 1, mask));
    return out;
}

}  // namespace

std::vector<uint8_t> build(const std::vector<IconImage>& images, uint16_t type)
{
    std::vector<std::vector<uint8_t>> data;
    for (const auto& im : images)
        data.push_back(imageData(im));
    std::vector<uint8_t> out;
    put16(out, 0);
    put16(out, type);
    put16(out, uint32_t(images.size()));
    uint32_t offset = uint32_t(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        const IconImage& im = images[i];
        put8(out, uint32_t(im.width >= 256 ? 0 : im.width));
        put8(out, uint32_t(im.height >= 256 ? 0 : im.height));
        put8(out, uint32_t(im.bits <= 4 ? (1 << im.bits) : 0));
        put8(out, 0);
        put16(out, 1);
        put16(out, im.entryBitCount == 0xFF ? uint32_t(im.bits) : im.entryBitCount);
        put32(out, uint32_t(data[i].size()));
        put32(out, offset);
        offset += uint32_t(data[i].size());
    }
    for (const auto& d : data)
        putBytes(out, d);
    return out;
}

IconImage solidImage(int size, int bits, uint32_t colour)
{
    IconImage im;
    im.width = size;
    im.height = size;
    im.bits = bits;
    const bool indexed = bits <= 8;
    if (indexed)
        im.palette = {0x000000, colour};
    im.pixels.assign(size_t(size) * size_t(size), indexed ? 1u : (bits == 32 ? (0xFF000000u | colour) : colour));
    im.transparent.assign(size_t(size) * size_t(size), 0);
    for (int x = 0; x < size / 2; ++x) {
        im.transparent[size_t(x)] = 1;
        if (bits == 32)
            im.pixels[size_t(x)] = colour;  // alpha 0 as well
    }
    return im;
}

}  // namespace ico_fixture
