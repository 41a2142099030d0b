// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Writing a PNG into memory straight from rows of pixels handed over one at
// a time: no picture object. Made for speed over the last byte of size
// (Sub-filtered rows, compressed by libdeflate at its fastest level), for
// bulk exports. At its peak it holds the filtered rows and the compressed
// stream, or the stream and the file's bytes: each at most about the size
// of the pixels.
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
    // Called once every row has been read, before the compression: the
    // caller may let the rows' source go. May be empty.
    std::function<void()> rowsRead;
};

// The PNG file's bytes: 8 bits per channel, RGB or RGBA, not interlaced.
// EOutOfMemory "Out of memory" when the bytes do not fit in memory,
// EWriteError "Stream write error" when the encoder fails otherwise
// (a width or height outside 1 .. 2^31-1, or an intent above 3, for one).
std::vector<uint8_t> encodePng(const PngRows& rows);
