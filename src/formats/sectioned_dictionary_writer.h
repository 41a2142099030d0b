// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Builds sectioned texture dictionary bytes (sectioned_dictionary_layout.h)
// from textures given by their layout, palette and level bytes, for sample
// archives and test fixtures. The header fields follow from the layout and
// the platform; each can be overridden, and so can the section sizes and the
// stored count, so that damaged or foreign dictionaries can be made on purpose.
#include "formats/texel_layout.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct SectionedTexture {
    // Written raw into the 32-byte fields and padded with NUL bytes.
    std::string name;
    std::string maskName;
    uint32_t platform = 9;  // 8 (older header: no DXT5) or 9 (newer header)
    // Format, DXT1 alpha, width, height and level count.
    TexelLayout layout;
    // 1024 bytes (256 x R, G, B, A) for Paletted8; empty for the others.
    std::vector<uint8_t> palette;
    // The bytes of each level, level 0 first: layout.levels of them, each
    // written after its u32 size.
    std::vector<std::vector<uint8_t>> levels;
    // The body of the texture's extension section (usually empty).
    std::vector<uint8_t> extension;

    // Header fields written instead of the ones the layout gives.
    std::optional<uint32_t> platformField;
    std::optional<uint32_t> rasterFormat;
    std::optional<uint32_t> alphaOrCode;  // platform 8: has alpha; 9: the layout code
    std::optional<uint8_t> depth;
    std::optional<uint8_t> levelCount;
    std::optional<uint8_t> rasterType;
    std::optional<uint8_t> compressionOrFlags;  // platform 8: compression; 9: flags
    // Level sizes written instead of the lengths of `levels` (by index).
    std::vector<std::optional<uint32_t>> levelSizeFields;
    // Section sizes written instead of the true ones.
    std::optional<uint32_t> textureSectionSize;
    std::optional<uint32_t> structSectionSize;
};

struct SectionedDictionary {
    std::vector<SectionedTexture> textures;
    uint16_t device = 0;                 // stored beside the count, not used by readers
    std::optional<uint16_t> countField;  // the stored count when it must differ from textures.size()
    uint32_t libraryVersion = 0;         // written into every section header
    std::vector<uint8_t> extension;      // the body of the dictionary's closing extension section
};

// Offsets of the pieces of one written texture, from the dictionary's start.
struct WrittenSectionedTexture {
    int64_t sectionOffset = 0;          // the texture section's header
    int64_t imagePos = 0;               // after the 112 header bytes: palette or level 0's size field
    std::vector<int64_t> levelOffsets;  // each level's size field
    int64_t endOffset = 0;              // where the next texture starts
};

// The header fields a texture of this layout is written with on a platform.
struct SectionedHeaderFields {
    uint32_t rasterFormat = 0;
    uint32_t alphaOrCode = 0;
    uint8_t depth = 0;
    uint8_t compressionOrFlags = 0;
};
// Raises Exception for a layout the platform cannot hold (Unknown; DXT5 or
// a platform other than 8 or 9 on the older header).
SectionedHeaderFields sectionedHeaderFields(uint32_t platform, const TexelLayout& layout);

// The dictionary bytes. Raises Exception when a name is longer than 32
// bytes, when the palette does not fit the format, or when `levels` does not
// hold layout.levels levels.
std::vector<uint8_t> buildSectionedDictionary(const SectionedDictionary& dict,
                                              std::vector<WrittenSectionedTexture>* written = nullptr);
