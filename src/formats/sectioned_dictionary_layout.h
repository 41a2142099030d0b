// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The byte layout of a sectioned texture dictionary, shared by its reader and
// writer. Everything in it is a section: a 12-byte header (u32 type, u32 size
// of the body that follows the header, u32 library version: any value) and
// its body. All numbers are little-endian.
//
// Dictionary, at offset 0 of the entry:
//   0    section 0x16 (the dictionary)
//   12   section 0x01 (struct), body of 4 bytes at 24:
//   24   u16 texture count, u16 device number (not used)
//   28   the textures, each a section 0x15, the next right after the body of
//        the previous one; then a section 0x03 (extension) ends the dictionary
// Texture at offset T:
//   T      section 0x15 of size S: the next texture starts at T + 12 + S
//   T+12   section 0x01 (struct), its body from T+24:
//   T+24   u32 platform: 8 (older header) or 9 (newer header)
//   T+28   4 bytes filtering and addressing (not interpreted)
//   T+32   32 bytes name, T+64 32 bytes mask name (as the plain layout)
//   T+96   u32 raster format: bits 8-11 the pixel layout, flags 0x1000 levels
//          made by the engine, 0x2000 8-bit palette, 0x4000 4-bit palette,
//          0x8000 levels stored
//   T+100  u32 platform 8: has alpha (0 or 1); platform 9: the format code
//   T+104  u16 width, u16 height
//   T+108  u8 depth in bits per pixel, u8 levels, u8 raster type (4),
//          u8 platform 8: compression (0 none, 1 DXT1, 3 DXT3);
//          platform 9: flags (bit 0 alpha, 1 cube map, 2 engine levels, 3 compressed)
//   T+112  1024 bytes palette, 256 x (R, G, B, A): only with the 8-bit palette flag
//   then   per level: u32 size, then that many bytes
//   then   section 0x03 (extension), skipped through the texture's size S
#include <cstdint>

namespace TxdSections {

constexpr uint32_t kTypeStruct = 0x01;
constexpr uint32_t kTypeExtension = 0x03;
constexpr uint32_t kTypeTexture = 0x15;
constexpr uint32_t kTypeDictionary = 0x16;

constexpr int64_t kSectionHeaderSize = 12;
constexpr int64_t kDictionaryStructOffset = 12;
constexpr int64_t kCountOffset = 24;   // u16
constexpr int64_t kDeviceOffset = 26;  // u16
constexpr int64_t kDictionaryStructSize = 4;
constexpr int64_t kFirstTextureOffset = 28;

// From the texture section's start.
constexpr int64_t kTextureStructOffset = 12;
constexpr int64_t kPlatformOffset = 24;
constexpr int64_t kFilterOffset = 28;  // u32 filtering and addressing
constexpr int64_t kNameOffset = 32;
constexpr int64_t kMaskNameOffset = 64;
constexpr int64_t kNameFieldSize = 32;
constexpr int64_t kRasterFormatOffset = 96;
constexpr int64_t kAlphaOrCodeOffset = 100;
constexpr int64_t kWidthOffset = 104;   // u16
constexpr int64_t kHeightOffset = 106;  // u16
constexpr int64_t kDepthOffset = 108;
constexpr int64_t kLevelsOffset = 109;
constexpr int64_t kRasterTypeOffset = 110;
constexpr int64_t kCompressionOffset = 111;
constexpr int64_t kHeaderEnd = 112;                       // palette or level 0's size field
constexpr int64_t kStructHeaderFields = kHeaderEnd - 24;  // the struct body up to the palette

constexpr uint32_t kPlatformOlder = 8;
constexpr uint32_t kPlatformNewer = 9;
constexpr uint8_t kRasterTypeTexture = 4;

// Raster format: the pixel layout (bits 8-11; its values are the layout
// table's rasterLayout, texel_layout.h) and flags.
constexpr uint32_t kRasterLayoutMask = 0x0F00;
constexpr uint32_t kFlagEngineLevels = 0x1000;
constexpr uint32_t kFlagPalette8 = 0x2000;
constexpr uint32_t kFlagPalette4 = 0x4000;
constexpr uint32_t kFlagLevelsStored = 0x8000;
constexpr uint32_t layoutOfRasterFormat(uint32_t rasterFormat)
{
    return (rasterFormat >> 8) & 0xF;
}

// The older header's compression byte and the newer header's format code
// are the layout table's olderCompression and newerCode.

// Platform 9 flags byte.
constexpr uint8_t kFlagAlpha = 0x01;
constexpr uint8_t kFlagCubeMap = 0x02;
constexpr uint8_t kFlagEngineLevels9 = 0x04;
constexpr uint8_t kFlagCompressed = 0x08;

constexpr int64_t kPaletteSize = 1024;

}  // namespace TxdSections
