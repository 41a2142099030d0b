// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// How the texels of one texture are laid out: the one description that the
// dictionary reader, the preview, the export and the import share.
//
// A texture's stored data starts at its ImagePos (right after its 112-byte
// header): a 1024-byte palette of 256 x (R, G, B, A) when the format is
// paletted, then `levels` times an i32 size followed by that many bytes,
// level k holding max(1, W >> k) x max(1, H >> k) pixels, rows top first.
//
// Texel formats, byte order as stored (u16 values little-endian):
//   Paletted8  one index byte into the palette
//   Bgra8888   B, G, R, A
//   Bgrx888    B, G, R, unused (4 bytes)
//   Argb1555   u16: alpha bit 15, red 10-14, green 5-9, blue 0-4
//   Rgb555     u16: as 1555 without alpha
//   Rgb565     u16: red 11-15, green 5-10, blue 0-4
//   Argb4444   u16: alpha 12-15, red 8-11, green 4-7, blue 0-3
//   Lum8       one grey byte
//   Dxt1/3/5   4x4 blocks of 8 (DXT1) or 16 (DXT3, DXT5) bytes, block rows
//              top first, max(1, ceil(w/4)) x max(1, ceil(h/4)) blocks a level
// A DXT1 texture whose raster layout is 1555 uses its 1-bit alpha; with 565
// it is opaque.
#include "formats/dxt_encoder.h"

#include <cstdint>
#include <vector>

enum class TexelFormat : uint8_t {
    Unknown,
    Paletted8,
    Bgra8888,
    Bgrx888,
    Argb1555,
    Rgb555,
    Rgb565,
    Argb4444,
    Lum8,
    Dxt1,
    Dxt3,
    Dxt5,
};

struct TexelLayout {
    TexelFormat format = TexelFormat::Unknown;
    bool dxt1Alpha = false;  // DXT1 only: the 1-bit alpha is used (a 1555 raster)
    int width = 0;
    int height = 0;
    int levels = 1;  // stored levels, 1 when there are no mip levels
};

// The size of level k of a dimension: max(1, size >> k).
int mipLevelSize(int size, int level);

// Bytes one level of width x height takes in `format`; 0 for Unknown.
int64_t texelLevelBytes(TexelFormat format, int width, int height);

// True for the formats whose texels carry alpha: 8888, 1555, 4444, DXT3,
// DXT5, and DXT1 when dxt1Alpha is set.
bool texelLayoutHasAlpha(const TexelLayout& layout);

bool texelFormatIsPaletted(TexelFormat format);
bool texelFormatIsCompressed(TexelFormat format);

// The `Type` text a texture of this format is listed with: "8bit paletted",
// "32bit", "24bit", "16bit 1555", "16bit 565", "16bit 4444", "16bit 555",
// "8bit grey", "DXT1", "DXT3", "DXT5"; "" for Unknown.
const char* texelFormatTypeName(TexelFormat format);

// The short name of a format: "P8", "8888", "888", "1555", "555", "565",
// "4444", "LUM8", "DXT1", "DXT3", "DXT5"; "" for Unknown.
const char* texelFormatName(TexelFormat format);

// Bytes of the stored data from ImagePos to the end of the last level, when
// every level has the size its layout needs (palette, size fields included).
int64_t texelDataBytes(const TexelLayout& layout);

// Decodes one level (`src`: exactly texelLevelBytes bytes) into width x
// height pixels of B, G, R, A, first row at the top. `palette` is the
// texture's 1024-byte palette for Paletted8 (unused otherwise).
void decodeTexelLevel(const TexelLayout& layout, const uint8_t* palette, const uint8_t* src, int width, int height,
                      uint8_t* bgra);

// The rows a level decodes in whole groups of: 4 for block-compressed
// formats (a block row), 1 for the others.
int texelRowGroup(TexelFormat format);

// Decodes rows [firstRow, lastRow) of the level as decodeTexelLevel does,
// with `src` and `bgra` the starts of the whole level and picture; firstRow
// is a multiple of texelRowGroup. Rows of different calls never share a byte,
// so parts of a level may be decoded at the same time.
void decodeTexelRows(const TexelLayout& layout, const uint8_t* palette, const uint8_t* src, int width, int height,
                     int firstRow, int lastRow, uint8_t* bgra);

// Encodes width x height pixels of B, G, R, A (first row at the top) into one
// level of the layout's format (`out`: texelLevelBytes bytes). Not for
// Paletted8, whose indices come from the colour reduction. DXT levels are
// block-compressed in the quality asked for (dxt_encoder.h).
void encodeTexelLevel(const TexelLayout& layout, const uint8_t* bgra, int width, int height, uint8_t* out,
                      DxtQuality quality = DxtQuality::Fast);

// The next mip level of width x height pixels of B, G, R, A: each pixel the
// rounded mean ((sum + n / 2) div n) of the 2x2 (or 2x1, 1x2) pixels above it
// that exist, per channel.
std::vector<uint8_t> nextMipLevel(const uint8_t* bgra, int width, int height);
