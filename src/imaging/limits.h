// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The limits every picture reader and codec shares: how long a pixel row is,
// how large a picture may be before memory is spent on it, and how a
// resolution in dots per inch is brought into range.
#include <cstdint>

// A bitmap keeps its image size in 32 bits, and every user of its rows may
// compute offsets as height * row stride in 32-bit signed arithmetic.
inline constexpr int64_t kMaxImageBytes = INT32_MAX;

// Readers refuse pictures whose pixel store (or, for the platform's readers,
// the image they decode into first) would exceed this, before allocating it.
inline constexpr int64_t kMaxPixelStoreBytes = int64_t(1) << 30;

// Bytes of one pixel row padded to a multiple of four:
// ((width * bits per pixel + 31) div 32) * 4, computed in 64 bits.
constexpr int64_t DibRowStride(int64_t width, int bitsPerPixel)
{
    return ((width * bitsPerPixel + 31) / 32) * 4;
}

// ETavrinError "Image is too large" when a width x height picture of
// `bitsPerPixel` would not fit a bitmap (kMaxImageBytes).
void checkImageSize(uint64_t width, uint64_t height, int bitsPerPixel);

// A resolution as NewImage takes it: clamped to 0..65535 dots per inch.
uint16_t resolutionArgument(int dpi);

// A resolution a file states, in dots per inch: rounded to the nearest
// integer (halves to even); a value that is no resolution (negative, above
// 65535, not a number) becomes 0.
uint16_t resolutionOrZero(double dpi);
