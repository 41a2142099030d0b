// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The 18-byte TGA file header, field by field (little-endian u16 fields), as
// the TGA codec reads and writes it. Code that builds or takes apart TGA
// streams outside the codec uses these instead of raw offsets.
#include <cstdint>

constexpr int kTgaHeaderSize = 18;
// The colour map the writer puts after the header of an 8-bit image: 256
// entries of blue, green, red.
constexpr int kTgaWrittenColourMapSize = 256 * 3;
// Descriptor bit: the first stored row is the top row.
constexpr uint8_t kTgaTopToBottom = 0x20;

struct TgaHeader {
    uint8_t idLength = 0;
    uint8_t colourMapType = 0;
    uint8_t imageType = 0;
    uint16_t colourMapFirst = 0;
    uint16_t colourMapLength = 0;
    uint8_t colourMapEntrySize = 0;
    uint16_t xOrigin = 0;
    uint16_t yOrigin = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t bitsPerPixel = 0;
    uint8_t descriptor = 0;

    bool topToBottom() const { return (descriptor & kTgaTopToBottom) != 0; }
    // Where the pixel data starts: after the header, the image ID and the colour map.
    int64_t pixelDataOffset() const;
};

// Reads the header from its 18 bytes.
TgaHeader readTgaHeader(const uint8_t* bytes);
// Writes the header as 18 bytes.
void writeTgaHeader(const TgaHeader& header, uint8_t* bytes);
