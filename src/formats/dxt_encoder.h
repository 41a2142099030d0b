// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Block compression of DXT1, DXT3 and DXT5 levels, in two qualities.
//
// Fast (the default): each block starts from stb_dxt's fit (its high-quality
// mode); then its colour endpoints are refined against the block's real
// squared error as the decoder sees it: with the indices fixed, the two
// endpoints that minimise the error (least squares over the block's 4 or 3
// weights) are rounded to the best 565 steps around them and the indices
// chosen again, each pixel's nearest colour; a step is kept only when it
// lowers the error, and repeated while it does (a few passes at most), so no
// block is worse than stb_dxt's own. Then the pixel groups are tried on other
// points of the colour ramp, an endpoint one step along the block's axis,
// and for hard blocks the line between two of its far colours; an opaque
// DXT1 block also tries the 3-colour mode (without its transparent index).
// DXT5 alpha is the better of stb_dxt's and an exhaustive search of the two
// alpha endpoints around the block's smallest and largest alpha; DXT3 alpha
// is each pixel's alpha rounded to 4 bits.
//
// Best: libsquish's iterative cluster fit, tens of times slower.
//
// Both qualities leave pixels outside the level (a level smaller than 4 x 4,
// or the ragged edge of one whose sides are not multiples of 4) out of the
// fit. Block bytes are as the dictionaries store them: DXT1 8 bytes (two
// 565 colours, little-endian, then 2-bit indices, pixel 0 in the lowest
// bits); DXT3 and DXT5 16 bytes, 8 bytes of alpha before the colour block,
// whose colour0 is always above colour1 (its 4-colour mode) or equal to it
// with every index 0.
#include <cstdint>

enum class DxtQuality : uint8_t { Fast, Best };

enum class DxtFormat : uint8_t {
    Dxt1,       // opaque: no block uses the transparent index
    Dxt1Alpha,  // 1-bit alpha: a pixel with alpha below 128 is transparent
    Dxt3,       // explicit 4-bit alpha
    Dxt5,       // interpolated alpha
};

// 8 for DXT1, 16 for DXT3 and DXT5.
int dxtBlockBytes(DxtFormat format);

// Encodes one block of 16 pixels of R, G, B, A (4 rows of 4, top row first)
// into dxtBlockBytes bytes. Bit i of `inside` is set when pixel i lies inside
// the level; the other pixels do not influence the block. The alpha of an
// opaque DXT1 block is not read.
void encodeDxtBlock(DxtFormat format, DxtQuality quality, const uint8_t* rgba, unsigned inside, uint8_t* out);

// Encodes width x height pixels of B, G, R, A (first row at the top) into
// max(1, ceil(width / 4)) x max(1, ceil(height / 4)) blocks, block rows top
// first. The blocks are shared out over `threads` threads (0: one a core,
// fewer for a small level, one under a SingleThreadScope of
// platform/work_threads.h); every block is encoded on its own, so the bytes
// do not depend on the number of threads.
void encodeDxtLevel(DxtFormat format, DxtQuality quality, const uint8_t* bgra, int width, int height, uint8_t* out,
                    int threads = 0);
