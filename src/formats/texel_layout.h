// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// How the texels of one texture are laid out: the one description that the
// dictionary reader, the preview, the export, the import and the dictionary
// writers share. Every layout is a row of one table (kLayoutRows below); the
// functions of this header and the decoders and encoders read from it.
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
#include <string_view>
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

// ---- The layout table ----

// How the texels of a row turn into pixels and back.
enum class TexelCodec : uint8_t {
    None,      // no texels (the Unknown row)
    Palette8,  // one index byte into the palette's R, G, B, A entries
    Bgra32,    // B, G, R, A as stored
    Bgrx32,    // B, G, R and an unused byte (read as alpha 255, written 255)
    Packed16,  // a u16 of the row's bit fields
    Grey8,     // one grey byte (written as the luma of the colour)
    Block,     // 4x4 blocks (DXT1, DXT3, DXT5)
};

// One channel of a Packed16 texel: `bits` wide from bit `shift`; bits 0 is a
// channel the texel does not hold (alpha then reads as 255).
struct TexelChannel {
    uint8_t shift = 0;
    uint8_t bits = 0;
};

// How a texture of a section-less dictionary is shown and exported: the
// bytes of its TGA after the 18-byte header.
enum class PlainTga : uint8_t {
    None,       // a layout of the sectioned dictionaries only
    Decoded32,  // 32 bits, first row at the top, 8 alpha bits: the texels decoded to B, G, R, A
                // (each index as its palette entry; 32-bit texels as stored), as many as the data size holds
    Stored16,   // 16 bits, first row at the bottom: the texel bytes as stored; the TGA reader shows
                // them as 5-5-5 colour, each channel times 8, bit 15 ignored
};

struct LayoutRow {
    TexelFormat format = TexelFormat::Unknown;
    const char* name = "";      // short name: "P8", "8888", ... ("" for Unknown)
    const char* typeName = "";  // the `Type` text a texture of this row is listed with
    TexelCodec codec = TexelCodec::None;
    uint8_t bytesPerPixel = 0;  // pixel formats; 0 for block formats
    uint8_t bytesPerBlock = 0;  // bytes of one 4x4 block; 0 for pixel formats
    bool alpha = false;         // the texels carry alpha (DXT1: only with its 1-bit alpha variant)
    // Packed16: the channels, and the bits written set that no channel holds.
    TexelChannel red, green, blue, alphaBits;
    uint16_t fillBits = 0;
    uint8_t depth = 0;                    // the sectioned header's depth byte; a plain kind's bits per pixel
    uint8_t rasterLayout = 0;             // raster format bits 8-11 (DXT1: the opaque variant, 565)
    uint8_t rasterLayoutOneBitAlpha = 0;  // DXT1 with its 1-bit alpha (1555); 0: no such variant
    int8_t olderCompression = -1;         // the older header's compression byte; -1: that header cannot hold it
    uint32_t newerCode = 0;               // the newer header's format code
    uint32_t plainKind = 0;               // the kind value of a section-less dictionary's row; 0 otherwise
    PlainTga plainTga = PlainTga::None;
};

namespace LayoutTable {
// Raster format pixel layouts (bits 8-11 of the sectioned header's raster format).
constexpr uint8_t kRaster1555 = 1, kRaster565 = 2, kRaster4444 = 3, kRasterLum8 = 4, kRaster8888 = 5, kRaster888 = 6,
                  kRaster555 = 0xA;
// The older header's compression byte.
constexpr int8_t kNone = 0, kDxt1 = 1, kDxt3 = 3, kCannotHold = -1;
// The newer header's format codes: numbers, and four-character codes for blocks.
constexpr uint32_t fourCc(const char (&s)[5])
{
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16
           | uint32_t(uint8_t(s[3])) << 24;
}
}  // namespace LayoutTable

// Rows 0 to 11 are the formats in TexelFormat order (0: Unknown); after them
// the three kinds of the section-less dictionaries, which differ from the
// sectioned rows of the same texels in their type text, their kind value and
// their TGA.
inline constexpr LayoutRow kLayoutRows[] =
    {
        // clang-format off
    //  format                 name    type              codec                 px blk alpha  red       green     blue      alpha       fill    depth raster                          1-bit alpha             older                   newer                     plain     TGA
    {TexelFormat::Unknown,   "",     "",               TexelCodec::None,     0, 0,  false, {},       {},       {},       {},         0,      0,    0,                              0,                      LayoutTable::kCannotHold, 0,                           0,       PlainTga::None},
    {TexelFormat::Paletted8, "P8",   "8bit paletted",  TexelCodec::Palette8, 1, 0,  false, {},       {},       {},       {},         0,      8,    LayoutTable::kRaster8888,       0,                      LayoutTable::kNone,       41,                          0,       PlainTga::None},
    {TexelFormat::Bgra8888,  "8888", "32bit",          TexelCodec::Bgra32,   4, 0,  true,  {},       {},       {},       {},         0,      32,   LayoutTable::kRaster8888,       0,                      LayoutTable::kNone,       21,                          0,       PlainTga::None},
    {TexelFormat::Bgrx888,   "888",  "24bit",          TexelCodec::Bgrx32,   4, 0,  false, {},       {},       {},       {},         0,      32,   LayoutTable::kRaster888,        0,                      LayoutTable::kNone,       22,                          0,       PlainTga::None},
    {TexelFormat::Argb1555,  "1555", "16bit 1555",     TexelCodec::Packed16, 2, 0,  true,  {10, 5},  {5, 5},   {0, 5},   {15, 1},    0,      16,   LayoutTable::kRaster1555,       0,                      LayoutTable::kNone,       25,                          0,       PlainTga::None},
    {TexelFormat::Rgb555,    "555",  "16bit 555",      TexelCodec::Packed16, 2, 0,  false, {10, 5},  {5, 5},   {0, 5},   {},         0x8000, 16,   LayoutTable::kRaster555,        0,                      LayoutTable::kNone,       24,                          0,       PlainTga::None},
    {TexelFormat::Rgb565,    "565",  "16bit 565",      TexelCodec::Packed16, 2, 0,  false, {11, 5},  {5, 6},   {0, 5},   {},         0,      16,   LayoutTable::kRaster565,        0,                      LayoutTable::kNone,       23,                          0,       PlainTga::None},
    {TexelFormat::Argb4444,  "4444", "16bit 4444",     TexelCodec::Packed16, 2, 0,  true,  {8, 4},   {4, 4},   {0, 4},   {12, 4},    0,      16,   LayoutTable::kRaster4444,       0,                      LayoutTable::kNone,       26,                          0,       PlainTga::None},
    {TexelFormat::Lum8,      "LUM8", "8bit grey",      TexelCodec::Grey8,    1, 0,  false, {},       {},       {},       {},         0,      8,    LayoutTable::kRasterLum8,       0,                      LayoutTable::kNone,       50,                          0,       PlainTga::None},
    {TexelFormat::Dxt1,      "DXT1", "DXT1",           TexelCodec::Block,    0, 8,  false, {},       {},       {},       {},         0,      16,   LayoutTable::kRaster565,        LayoutTable::kRaster1555, LayoutTable::kDxt1,     LayoutTable::fourCc("DXT1"), 0,       PlainTga::None},
    {TexelFormat::Dxt3,      "DXT3", "DXT3",           TexelCodec::Block,    0, 16, true,  {},       {},       {},       {},         0,      32,   LayoutTable::kRaster4444,       0,                      LayoutTable::kDxt3,       LayoutTable::fourCc("DXT3"), 0,       PlainTga::None},
    {TexelFormat::Dxt5,      "DXT5", "DXT5",           TexelCodec::Block,    0, 16, true,  {},       {},       {},       {},         0,      32,   LayoutTable::kRaster4444,       0,                      LayoutTable::kCannotHold, LayoutTable::fourCc("DXT5"), 0,       PlainTga::None},
    // The section-less dictionaries' kinds (the kind's bytes in file order: bits per pixel, 1, 4, 0).
    {TexelFormat::Paletted8, "P8",   "8bit paletted",  TexelCodec::Palette8, 1, 0,  false, {},       {},       {},       {},         0,      8,    0,                              0,                      LayoutTable::kCannotHold, 0,                           0x40108, PlainTga::Decoded32},
    {TexelFormat::Rgb555,    "555",  "16bit",          TexelCodec::Packed16, 2, 0,  false, {10, 5},  {5, 5},   {0, 5},   {},         0,      16,   0,                              0,                      LayoutTable::kCannotHold, 0,                           0x40110, PlainTga::Stored16},
    {TexelFormat::Bgra8888,  "8888", "32bit",          TexelCodec::Bgra32,   4, 0,  true,  {},       {},       {},       {},         0,      32,   0,                              0,                      LayoutTable::kCannotHold, 0,                           0x40120, PlainTga::Decoded32},
        // clang-format on
};

// The sectioned row of a format (the Unknown row for Unknown).
const LayoutRow& layoutRow(TexelFormat format);
// The row of a layout's format.
inline const LayoutRow& layoutRow(const TexelLayout& layout)
{
    return layoutRow(layout.format);
}
// The sectioned row whose short name is `name` ("P8", "DXT5", ...; letter
// case ignored); nullptr for any other text.
const LayoutRow* layoutRowByName(std::string_view name);
// The row of a section-less dictionary's kind value; nullptr for a kind that
// is not recognised.
constexpr const LayoutRow* plainKindRow(uint32_t kind)
{
    for (const LayoutRow& row : kLayoutRows)
        if (row.plainKind != 0 && row.plainKind == kind)
            return &row;
    return nullptr;
}
// The row a section-less texture is shown and exported by, from the fields
// its listing gives: the paletted kind, the 32-bit kind, and for every other
// kind the 16-bit one.
const LayoutRow& plainRowOf(bool paletted, int bits);

// The one rule that widens a channel of `bits` bits (1 to 8) to 8 bits: the
// nearest value, (v * 255 + (2^bits - 1) div 2) div (2^bits - 1). 5 bits:
// (v * 255 + 15) div 31; 6 bits: (v * 255 + 31) div 63; 4 bits: v * 17;
// 1 bit: 0 or 255.
constexpr uint8_t widenChannel(unsigned v, unsigned bits)
{
    const unsigned top = (1u << bits) - 1;
    return uint8_t((v * 255 + top / 2) / top);
}
// Its reverse: 8 bits to `bits` bits, rounded to the nearest step,
// (v * (2^bits - 1) + 127) div 255. 1 bit: set from 128 on.
constexpr unsigned narrowChannel(unsigned v, unsigned bits)
{
    return (v * ((1u << bits) - 1) + 127) / 255;
}

// ---- Reading the table ----

// The size of level k of a dimension: max(1, size >> k).
int mipLevelSize(int size, int level);

// The number of levels of a full chain down to 1 x 1: floor(log2(max(w, h))) + 1.
int fullLevelCount(int width, int height);

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
