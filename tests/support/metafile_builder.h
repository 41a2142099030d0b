// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Small metafiles built byte by byte for the reader tests: placeable Windows
// metafiles and enhanced metafiles that fill rectangles with solid colours.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace metafile_fixture {

struct FilledRect {
    int32_t left, top, right, bottom;  // logical units
    uint8_t r, g, b;
};

// One Windows metafile record: size in words, function, 16-bit parameters.
std::vector<uint8_t> wmfRecord(uint16_t function, const std::vector<int16_t>& params);

// Records that fill each rectangle with its colour, without an outline,
// after setting the window origin and extent.
std::vector<uint8_t> wmfFillRecords(int16_t orgX, int16_t orgY, int16_t extX, int16_t extY,
                                    const std::vector<FilledRect>& rects);

// A TextOut record writing `text` at (x, y).
std::vector<uint8_t> wmfTextOut(int16_t x, int16_t y, const std::string& text);

// A packed 24-bit device-independent bitmap (40-byte header, then bottom-up
// rows) of one colour 0xRRGGBB; `pixelBytes` cuts or pads the pixel part
// (default: exactly the rows).
std::vector<uint8_t> packedDib24(int32_t width, int32_t height, uint32_t colour, int64_t pixelBytes = -1);

// A StretchDIB record drawing the whole of `dib` (width x height) into the
// destination rectangle.
std::vector<uint8_t> wmfStretchDib(int16_t x, int16_t y, int16_t cx, int16_t cy, int16_t width, int16_t height,
                                   const std::vector<uint8_t>& dib);

// A placeable metafile: the 22-byte header (bounding box, units per inch,
// checksum), the 18-byte metafile header, `records` and the end record.
std::vector<uint8_t> placeableWmf(int16_t left, int16_t top, int16_t right, int16_t bottom, uint16_t inch,
                                  const std::vector<uint8_t>& records, bool correctChecksum = true);

// One enhanced metafile record: type, size, payload of 32-bit values.
std::vector<uint8_t> emfRecord(uint32_t type, const std::vector<int32_t>& payload);

// Records that fill each rectangle with its colour, without an outline.
std::vector<uint8_t> emfFillRecords(const std::vector<FilledRect>& rects);

// An ExtTextOutW record writing `text` (ASCII) at (x, y).
std::vector<uint8_t> emfTextOut(int32_t x, int32_t y, const std::string& text);

// A StretchDIBits record drawing the whole of a packed 24-bit `dib`
// (width x height) into the destination rectangle.
std::vector<uint8_t> emfStretchDibits(int32_t x, int32_t y, int32_t cx, int32_t cy, int32_t width, int32_t height,
                                      const std::vector<uint8_t>& dib);

struct EmfHeader {
    int32_t bounds[4] = {0, 0, 99, 99};     // device pixels, inclusive
    int32_t frame[4] = {0, 0, 2645, 2645};  // hundredths of a millimetre
    int32_t devicePixels[2] = {960, 960};
    int32_t deviceMillimetres[2] = {254, 254};  // with devicePixels: 96 pixels per inch
};

// An enhanced metafile: the 88-byte header record, `records` and the end record.
std::vector<uint8_t> enhancedMetafile(const EmfHeader& header, const std::vector<uint8_t>& records);

}  // namespace metafile_fixture
