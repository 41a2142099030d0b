// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// One small texture of every texel layout a sectioned dictionary holds, with
// its level-0 bytes written by hand from the layout's bit fields and the
// pixels they stand for (B, G, R, A, first row at the top) worked out by hand
// from the widening rules: 5 bits (v * 255 + 15) div 31, 6 bits
// (v * 255 + 31) div 63, 4 bits v * 17, 1 bit 0 or 255. DXT blocks use
// endpoints whose 565 colours widen exactly (0 or 31, 0 or 63 per channel).
#include "formats/sectioned_dictionary_writer.h"
#include "formats/texel_layout.h"

#include <cstdint>
#include <string>
#include <vector>

namespace texel_cases {

struct TexelCase {
    std::string label;             // e.g. "DXT1 with alpha"
    const char* typeName;          // the Type the row is listed with
    uint32_t platform;             // 8 or 9
    TexelLayout layout;            // format, DXT1 alpha, width, height (one level)
    std::vector<uint8_t> palette;  // 1024 bytes for the paletted case
    std::vector<uint8_t> level;    // level 0 as stored
    std::vector<uint8_t> bgra;     // the pixels it decodes to
};

// Every case; each layout at least once, DXT1 both with and without alpha.
std::vector<TexelCase> allCases();

// The case as a one-level texture of a sectioned dictionary.
SectionedTexture textureOf(const TexelCase& c);

// A level of width x height texels of `format` filled with `fill` (for
// levels whose pixels a test does not look at).
std::vector<uint8_t> filledLevel(TexelFormat format, int width, int height, uint8_t fill);

// A texture of `format` with `levels` levels, each level filled with its
// index (level 0 with 0x10, level 1 with 0x11, ...), a palette when paletted.
SectionedTexture mipTexture(const std::string& name, TexelFormat format, int width, int height, int levels,
                            uint32_t platform = 9);

}  // namespace texel_cases
