// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// JPEG fixtures written with libjpeg's own compressor, in memory.
#include <cstdint>
#include <vector>

namespace jpeg_fixture {

enum class JpegKind {
    Grey,   // one component, stored greyscale
    YCbCr,  // RGB input, stored as YCbCr
    Cmyk,   // four components, stored CMYK
};

struct JpegRecipe {
    int width = 0;
    int height = 0;
    JpegKind kind = JpegKind::YCbCr;
    // Samples top-down, 1 (grey), 3 (red, green, blue) or 4 (C, M, Y, K) per pixel.
    std::vector<uint8_t> pixels;
    int quality = 95;
    bool progressive = false;
    // Grey only: a progressive file of 631 legal scans (every AC coefficient
    // on its own, refined one bit at a time).
    bool manyScans = false;
    // JFIF density: unit 0 none, 1 dots per inch, 2 dots per centimetre.
    int densityUnit = 0;
    int xDensity = 1;
    int yDensity = 1;
    // Markers written after the JFIF header, in order: code (0xE0 + n for
    // APPn, 0xFE for a comment) and payload (at most 65533 bytes each).
    struct Marker {
        int code;
        std::vector<uint8_t> payload;
    };
    std::vector<Marker> markers;
};

// Throws std::runtime_error with libjpeg's message when the writer refuses.
std::vector<uint8_t> writeJpeg(const JpegRecipe& recipe);

// Samples of a smooth picture (gradients compress with small error):
// red = x * 255 / (w - 1), green = y * 255 / (h - 1), blue = 128; grey is the mean.
std::vector<uint8_t> gradientPixels(int width, int height, JpegKind kind);

}  // namespace jpeg_fixture
