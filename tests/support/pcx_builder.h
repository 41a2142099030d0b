// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// PCX and DCX files built byte by byte for the reader tests.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pcx_fixture {

struct PcxFile {
    uint8_t manufacturer = 10;
    uint8_t version = 5;
    uint8_t encoding = 1;
    uint8_t bitsPerPlane = 8;
    uint8_t planes = 1;
    uint16_t xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    uint16_t hDpi = 150, vDpi = 75;
    std::array<uint8_t, 48> palette16{};  // 16 entries of red, green, blue
    uint16_t bytesPerLine = 0;            // 0: the plane's bytes rounded up to even
    // Decoded lines: per row (top first), per plane, bytesPerLine bytes.
    std::vector<uint8_t> lines;
    // When set, stored as the data instead of the encoded `lines`.
    std::vector<uint8_t> rawData;
    bool withTrailer = false;  // the 769-byte 256-colour palette at the end
    std::array<uint8_t, 768> palette256{};
    uint8_t trailerMark = 12;
    size_t headerLength = 128;  // a shorter header is cut there (and no data follows)
};

// bytesPerLine as the builder writes it.
uint16_t effectiveBytesPerLine(const PcxFile& file);

// Run-length encodes `data`; runs never cross a multiple of `lineLength`
// bytes (when it is not 0). Single bytes of 192 and above get a run of one.
std::vector<uint8_t> rleEncode(const std::vector<uint8_t>& data, size_t lineLength);

std::vector<uint8_t> build(const PcxFile& file);

// The lines of a picture given per pixel (top row first) for a bits/planes
// combination: palette indices for 1, 4 and 8 bits, 0xRRGGBB for 8 x 3.
std::vector<uint8_t> linesFor(int width, int height, int bitsPerPlane, int planes, uint16_t bytesPerLine,
                              const std::vector<uint32_t>& pixels);

// A DCX file: the magic number, the page offsets, a 0, then the pages.
std::vector<uint8_t> buildDcx(const std::vector<std::vector<uint8_t>>& pages);

}  // namespace pcx_fixture
