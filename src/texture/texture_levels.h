// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The stored levels of a texture as pictures. A texture of a sectioned
// dictionary may store mip levels after its first: level k holds
// max(1, W >> k) x max(1, H >> k) pixels in the texture's own layout, each
// level behind its own size field (formats/texel_layout.h). Every other
// texture has one level, the one buildTextureTga shows.
#include "texture/texture_tga.h"

#include <cstdint>
#include <vector>

class TStream;

struct TextureLevel {
    TextureProblem problem = TextureProblem::None;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgra;  // width x height pixels of B, G, R, A, first row at the top
};

// The levels a texture stores: a sectioned texture's level count, 1 for any
// other texture with data, 0 without one.
int textureLevelCount(const TextureRef& texture);

// Level `level` of the texture, read from `archive` (positioned anywhere)
// and decoded whatever its layout. Level 0 of a texture that is not
// sectioned is the picture buildTextureTga gives (alpha 255 for the 16-bit
// kind). Reads nothing outside the texture's own bytes: every size field is
// checked against the layout before the bytes behind it are read, and a
// problem (no data, a size that does not match, data past the end of the
// file) comes back in `problem` with no pixels. A level the texture does not
// store raises ETextureError.
TextureLevel readTextureLevel(TStream& archive, const TextureRef& texture, int level);

// A level as an uncompressed 32-bit TGA, first row at the top, 8 alpha bits:
// the bytes buildTextureTga makes for level 0 of a sectioned texture.
std::vector<uint8_t> tgaOfTextureLevel(const TextureLevel& level);
