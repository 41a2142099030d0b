// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The byte layout of a texture dictionary, shared by its reader and writer.
// All numbers are little-endian; offsets are from the start of the dictionary
// or of one texture record.
//
// Dictionary:
//   0    24 bytes   not interpreted
//   24   i32        texture count (0 or less: no textures)
//   28   ...        first texture; each further texture follows the previous
// Texture:
//   0    32 bytes   not interpreted
//   32   32 bytes   texture name (up to the first NUL, or all 32 bytes)
//   64   32 bytes   mask name (same rule)
//   96   8 bytes    not interpreted
//   104  u16        width
//   106  u16        height
//   108  u32        kind: bits per pixel, then 1, 4, 0 in file order
//   112  1024 bytes palette, 256 x (R, G, B, A): only for the 8-bit kind
//   then i32        data size D, the number of texel bytes
//   then D bytes    texels: 8-bit palette index; 16-bit 5-5-5 colour (bits
//                   10-14 red, 5-9 green, 0-4 blue); 32-bit B, G, R, A
//   then 12 bytes   not interpreted
#include "formats/texel_layout.h"

#include <cstdint>

namespace TxdLayout {

constexpr int64_t kDictionaryHeaderSize = 24;  // bytes before the count
constexpr int64_t kCountOffset = 24;
constexpr int64_t kFirstTextureOffset = 28;

constexpr int64_t kTextureLeadSize = 32;  // bytes before the name
constexpr int64_t kNameOffset = 32;
constexpr int64_t kNameLength = 32;
constexpr int64_t kMaskNameOffset = 64;
constexpr int64_t kMaskNameLength = 32;
constexpr int64_t kReservedOffset = 96;
constexpr int64_t kReservedSize = 8;
constexpr int64_t kWidthOffset = 104;
constexpr int64_t kHeightOffset = 106;
constexpr int64_t kKindOffset = 108;
constexpr int64_t kTextureHeaderSize = 112;

constexpr int64_t kPaletteEntries = 256;
constexpr int64_t kPaletteSize = 1024;  // 256 entries of R, G, B, A
constexpr int64_t kDataSizeFieldSize = 4;
constexpr int64_t kTrailerSize = 12;  // after the texels

constexpr uint32_t kKindPaletted8 = 0x40108;  // 08 01 04 00
constexpr uint32_t kKind16 = 0x40110;         // 10 01 04 00
constexpr uint32_t kKind32 = 0x40120;         // 20 01 04 00

// Bits per pixel of a recognised kind, 0 for any other value (from the
// layout table, texel_layout.h).
constexpr int bitsOfKind(uint32_t kind)
{
    return plainKindRow(kind) ? plainKindRow(kind)->depth : 0;
}
constexpr bool kindHasPalette(uint32_t kind)
{
    return plainKindRow(kind) && plainKindRow(kind)->codec == TexelCodec::Palette8;
}
static_assert(bitsOfKind(kKindPaletted8) == 8 && bitsOfKind(kKind16) == 16 && bitsOfKind(kKind32) == 32
                  && kindHasPalette(kKindPaletted8) && !kindHasPalette(kKind16) && !kindHasPalette(kKind32),
              "the layout table holds the three kinds");

}  // namespace TxdLayout
