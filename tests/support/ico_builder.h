// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Icon files built byte by byte for the reader tests: each image a
// BITMAPINFOHEADER, its colour table, the colour rows and the AND mask.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ico_fixture {

struct IconImage {
    int width = 16;
    int height = 16;
    int bits = 4;                      // 1, 4, 8, 24 or 32
    std::vector<uint32_t> palette;     // 0xRRGGBB, 2^bits entries for 1, 4 and 8 bits
    std::vector<uint32_t> pixels;      // top row first: an index, 0xRRGGBB (24) or 0xAARRGGBB (32)
    std::vector<uint8_t> transparent;  // top row first: 1 where the AND mask is set; empty = opaque
    uint8_t entryBitCount = 0xFF;      // the directory's bit count; 0xFF writes `bits`
};

// An icon file: type 1 (or `type`), the directory, then the images in order.
std::vector<uint8_t> build(const std::vector<IconImage>& images, uint16_t type = 1);

// An image of one colour (index 1 of a two-entry palette for palette depths),
// with the left half of its first row transparent.
IconImage solidImage(int size, int bits, uint32_t colour);

}  // namespace ico_fixture
