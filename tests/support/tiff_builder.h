// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// TIFF fixtures written with libtiff's own writer, in memory, plus small
// byte-level edits of the written file for cases the writer will not make.
#include <cstdint>
#include <optional>
#include <vector>

namespace tiff_fixture {

struct TiffPage {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitsPerSample = 8;
    uint16_t samplesPerPixel = 1;
    uint16_t photometric = 1;   // 0 white is zero, 1 black is zero, 2 RGB, 3 palette, 6 YCbCr
    uint16_t compression = 1;   // libtiff's COMPRESSION_* numbers
    uint16_t planar = 1;        // 1 contiguous, 2 separate planes
    uint32_t rowsPerStrip = 0;  // 0: the whole picture in one strip
    uint32_t tileWidth = 0;     // non-zero (multiples of 16): tiled
    uint32_t tileLength = 0;
    uint16_t extraSamples = 0;  // 1: the last sample is alpha (unassociated)
    uint32_t t4Options = 0;     // Group 3 options
    // Rows top-down, each packed as the file stores it: ceil(width *
    // bitsPerSample * samplesPerPixel / 8) bytes (16-bit samples in machine
    // order). With separate planes, all rows of plane 0, then plane 1, ...
    std::vector<uint8_t> pixels;
    std::vector<uint16_t> red, green, blue;  // colour map, 2^bitsPerSample entries
    std::optional<float> xResolution, yResolution;
    std::optional<uint16_t> resolutionUnit;
    std::optional<uint16_t> orientation;
};

// Writes the pages as consecutive directories of one little-endian file.
// Throws std::runtime_error with libtiff's message when the writer refuses.
std::vector<uint8_t> writeTiff(const std::vector<TiffPage>& pages);

// Bytes per packed row of a page.
size_t rowBytes(const TiffPage& page);

// Edits of the first directory of a file written by writeTiff.
// Replaces the value of a SHORT or LONG tag that holds one value.
void setTagValue(std::vector<uint8_t>& file, uint16_t tag, uint32_t value);
// Renumbers a tag, so that readers no longer see it under its own number.
void renameTag(std::vector<uint8_t>& file, uint16_t tag, uint16_t newTag);
// File offset and byte count of strip `index` of the first directory.
uint32_t stripOffset(const std::vector<uint8_t>& file, uint32_t index);
uint32_t stripByteCount(const std::vector<uint8_t>& file, uint32_t index);
// The same for tile `index` of a tiled first directory.
uint32_t tileOffset(const std::vector<uint8_t>& file, uint32_t index);
uint32_t tileByteCount(const std::vector<uint8_t>& file, uint32_t index);

}  // namespace tiff_fixture
