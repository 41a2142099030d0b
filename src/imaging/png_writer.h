// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Writing a PNG into memory straight from rows of pixels handed over one at
// a time: no picture object and no copy of the whole image beside the
// encoded bytes. Made for speed over the last byte of size (zlib at level 1
// with run-length matching on Sub-filtered rows), for bulk exports.
#include <cstdint>
#include <functional>
#include <vector>

struct PngRows {
    int width = 0;
    int height = 0;
    bool alpha = false;  // rows of R, G, B, A bytes; else R, G, B
    // The sRGB chunk's rendering intent (0 perceptual, 1 relative
    // colorimetric, 2 saturation, 3 absolute colorimetric); none when < 0.
    int srgbIntent = -1;
    // Fills row `y` (0 = the top row): width x 3 or 4 bytes. Called once per
    // row, top to bottom; may throw (nothing is returned then).
    std::function<void(int y, uint8_t* row)> row;
};

// The PNG file's bytes: 8 bits per channel, RGB or RGBA, not interlaced.
// EOutOfMemory "Out of memory" when the bytes do not fit in memory,
// EWriteError "Stream write error" when the encoder fails otherwise
// (a width or height outside 1 .. 2^31-1, for one).
std::vector<uint8_t> encodePng(const PngRows& rows);
