// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The second BMP reader's own path for true-colour pixels: 16 and 32 bits,
// uncompressed or with bit-field masks, and 24 bits, under a Windows
// information header of 40, 52, 56, 108 or 124 bytes, rows bottom-up or
// top-down.
//
// Masks: a 40-byte header is followed by the red, green and blue masks (and
// an alpha mask for compression 6); longer headers hold them from their byte
// 40 on (alpha from byte 52, in headers of 56 bytes and more). Uncompressed
// 16-bit pixels are 5-5-5, 32-bit ones 8-8-8 in the low three bytes. Each
// colour mask must be one run of 1 to 32 set bits inside the pixel, and no
// two masks may share a bit; the alpha mask's bits inside the pixel, if any,
// must form one run too; the alpha channel is read only for a picture that
// keeps alpha (TDibGraphic::AlphaPlane: the alpha mask, or for uncompressed
// 32 bits the one a header of 56 bytes or more names). A channel of n bits becomes a byte as v << 3
// (n = 5), v << 2 (n = 6), else round(v * 255 / (2^n - 1)).
#include "imaging/dib_graphic.h"

#include <cstdint>

// Decodes `file` (`size` bytes, starting with "BM" and checked for one
// colour plane and for its size) into `picture` as ifRgb24 and returns true;
// returns false, leaving `picture` alone, when the file is of another kind.
// EInvalidGraphic "Bitmap image is not valid" for masks this reader must
// refuse, a size of 0 or a data offset beyond the end of the file. Rows the
// file does not hold stay black.
bool ReadTrueColourBmp(const uint8_t* file, int64_t size, TDibGraphic& picture);
