// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Builds texture dictionary bytes in the layout of texture_dictionary_layout.h,
// for sample archives and test fixtures. Every field the layout describes can
// be set, including the ones a reader does not interpret and the stored
// count and data sizes, so that damaged dictionaries can be made on purpose.
#include "formats/texture_dictionary_layout.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
    friend bool operator==(const Rgba&, const Rgba&) = default;
};

struct TextureRecord {
    // Written raw into the 32-byte fields and padded with NUL bytes: 32
    // characters leave no NUL, and bytes after an embedded NUL are kept.
    std::string name;
    std::string maskName;
    uint16_t width = 0;
    uint16_t height = 0;
    uint32_t kind = TxdLayout::kKind32;
    // 1024 bytes (256 x R, G, B, A) for the 8-bit kind; empty for the others.
    std::vector<uint8_t> palette;
    // The texel bytes. For a kind that is not recognised these bytes are
    // written straight after the header, with no data size, palette or trailer.
    std::vector<uint8_t> texels;
    // The stored data size D when it must differ from texels.size().
    std::optional<int32_t> dataSizeField;
    std::array<uint8_t, TxdLayout::kTextureLeadSize> lead{};
    std::array<uint8_t, TxdLayout::kReservedSize> reserved{};
    std::array<uint8_t, TxdLayout::kTrailerSize> trailer{};
};

struct TextureDictionary {
    std::array<uint8_t, TxdLayout::kDictionaryHeaderSize> header{};
    // The stored texture count when it must differ from textures.size().
    std::optional<int32_t> countField;
    std::vector<TextureRecord> textures;
};

// Offsets of the pieces of one written texture, from the dictionary's start.
struct WrittenTexture {
    int64_t headerOffset = 0;
    int64_t imagePos = 0;  // just after the header: palette or data size field
    int64_t texelOffset = 0;
    int64_t endOffset = 0;  // where the next texture starts
};

// The dictionary bytes. Raises Exception when a name is longer than 32 bytes,
// when the palette does not fit the kind, or when texels exceed 2^31-1 bytes.
std::vector<uint8_t> buildTextureDictionary(const TextureDictionary& dict,
                                            std::vector<WrittenTexture>* written = nullptr);

// Texel encodings.
// 16-bit: bits 10-14 red, 5-9 green, 0-4 blue (top 5 bits of each), bit 15 set
// when alpha is at least 128. decodeTexel16 widens each channel with the
// layout table's widenChannel and reads bit 15 as alpha 0 or 255.
uint16_t encodeTexel16(Rgba c);
Rgba decodeTexel16(uint16_t v);

// Texture records from pictures given row by row, top row first, width x
// height pixels. Raise Exception when the pixel count does not match.
// 32-bit texels are stored B, G, R, A.
TextureRecord makeTexture32(const std::string& name, const std::string& maskName, uint16_t width, uint16_t height,
                            const std::vector<Rgba>& pixels);
// 16-bit texels are encodeTexel16 values, little-endian.
TextureRecord makeTexture16(const std::string& name, const std::string& maskName, uint16_t width, uint16_t height,
                            const std::vector<Rgba>& pixels);
// 8-bit: one palette index per pixel; `palette` has at most 256 colours
// (the rest of the 256 entries are zero). Raises Exception for an index
// outside the palette.
TextureRecord makeTexturePaletted8(const std::string& name, const std::string& maskName, uint16_t width,
                                   uint16_t height, const std::vector<Rgba>& palette,
                                   const std::vector<uint8_t>& indices);
