// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// BMP files built byte by byte for the reader tests: every depth, OS/2 and
// Windows headers of any size, run-length data as given, bit-field files.
#include <cstddef>
#include <cstdint>
#include <vector>

// Little-endian appenders shared by the picture-file builders.
namespace le_bytes {
void put8(std::vector<uint8_t>& out, uint32_t v);
void put16(std::vector<uint8_t>& out, uint32_t v);
void put32(std::vector<uint8_t>& out, uint32_t v);
void putBytes(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes);
void set16(std::vector<uint8_t>& out, size_t at, uint32_t v);
void set32(std::vector<uint8_t>& out, size_t at, uint32_t v);
}  // namespace le_bytes

namespace bmp_fixture {

struct Rgb {
    uint8_t r, g, b;
};

// Rows as a BMP (and the bitmap image) stores them: bottom row first, each
// padded to 4 bytes. `pixels` holds one value per pixel, top row first: a
// palette index for 1, 4 and 8 bits, 0xRRGGBB for 24 and 32 bits (32 bits
// stores blue, green, red, 0), 0xRRGGBB reduced to 5-6-5 for 16 bits.
std::vector<uint8_t> packRows(int width, int height, int bits, const std::vector<uint32_t>& pixels);

// Rows of raw 16-, 24- or 32-bit pixel values, stored little-endian, each row
// padded to 4 bytes; `values` top row first, stored bottom row first unless
// `topDown`.
std::vector<uint8_t> packRawRows(int width, int height, int bits, const std::vector<uint32_t>& values,
                                 bool topDown = false);

struct BmpFile {
    int32_t width = 1;
    int32_t height = 1;  // stored as given; negative means top-down rows
    uint16_t bits = 8;
    uint16_t planes = 1;
    uint32_t headerSize = 40;  // 12 is the OS/2 1.x header; others are written as far as they reach
    uint32_t compression = 0;  // 1 RLE8, 2 RLE4, 3 bit fields
    uint32_t colorsUsed = 0;   // stored in headers longer than 32 bytes
    int32_t pelsPerMeterX = 2835;
    int32_t pelsPerMeterY = 2835;
    std::vector<Rgb> palette;     // stored entries (3 bytes each for OS/2 1.x, else 4)
    std::vector<uint32_t> masks;  // bit-field masks: after a header shorter than 52 bytes, else in it from byte 40
    std::vector<uint8_t> data;    // pixel data exactly as stored
    bool bitmapArray = false;     // prefix an OS/2 "BA" bitmap-array header
    int64_t dataOffsetDelta = 0;  // added to the data offset written in the file header
};

std::vector<uint8_t> build(const BmpFile& file);

// Byte offset of the pixel data in a file built from `file`.
size_t dataOffset(const BmpFile& file);

std::vector<Rgb> greyPalette(int count);

}  // namespace bmp_fixture
