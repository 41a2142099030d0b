// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Builds TGA byte streams for tests, benchmarks and fuzz seeds: every image
// type, pixel depth and row order, colour maps with offsets, image IDs, and
// run-length encoded data laid out in several packet styles.
#include <cstdint>
#include <vector>

namespace tga_fixture {

// Descriptor bit: the first stored row is the top row.
constexpr uint8_t kTopFirst = 0x20;

// Everything a TGA stream consists of; bytes() lays it out.
struct TgaFile {
    uint8_t colorMapType = 0;
    uint8_t imageType = 2;
    uint16_t mapFirst = 0;
    uint16_t mapLength = 0;
    uint8_t mapEntrySize = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t bitsPerPixel = 24;
    uint8_t descriptor = 0;
    std::vector<uint8_t> imageId;    // its length is the header's first byte
    std::vector<uint8_t> colorMap;   // written as given, after the image ID
    std::vector<uint8_t> pixelData;  // written as given (already encoded)

    // The 18-byte header.
    std::vector<uint8_t> header() const;
    // Header, image ID, colour map, pixel data.
    std::vector<uint8_t> bytes() const;
};

// How run-length encoding cuts the pixels into packets.
enum class RlePackets {
    Greedy,    // runs of two or more equal pixels become run packets; packets cross row ends
    PerRow,    // as Greedy, but no packet crosses the end of a row
    RawOnly,   // raw packets of up to 128 pixels, crossing row ends
    RunsOnly,  // only run packets (a single pixel is a run of one), crossing row ends
};

// Encodes `pixels` (stored order, `bytesPerPixel` bytes each, rows of
// `width` pixels) as TGA run-length packets.
std::vector<uint8_t> encodeRle(const std::vector<uint8_t>& pixels, int bytesPerPixel, int width,
                               RlePackets style = RlePackets::Greedy);

// A complete TGA of `imageType` (1, 2, 3, 9, 10, 11) whose stored pixels are
// `storedPixels` in file order (bitsPerPixel / 8 bytes each, rows of `width`),
// encoded for the run-length types with `style`. Colour-mapped types get
// `colorMap` (24-bit entries, blue-green-red) starting at entry `mapFirst`.
TgaFile makeTga(int imageType, int bitsPerPixel, int width, int height, const std::vector<uint8_t>& storedPixels,
                uint8_t descriptor = 0, RlePackets style = RlePackets::Greedy,
                const std::vector<uint8_t>& colorMap = {}, uint16_t mapFirst = 0);

// Test pattern: `count` pixels of `bytesPerPixel` bytes where byte k of
// pixel i is a simple function of i and k, with runs of equal pixels mixed in.
std::vector<uint8_t> patternPixels(int count, int bytesPerPixel, uint32_t seed = 1);

}  // namespace tga_fixture
