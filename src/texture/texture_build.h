// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The content of a texture of a sectioned dictionary made from a picture:
// the picture brought to the texture's size and pixel format as the import
// brings it, its palette (P8) and every level of its mip chain encoded in the
// texture's layout. The import over a sectioned texture and the edits that
// give a texture a new size, layout or chain, or add one, share these steps.
//
// Level 0 is the picture, resampled (cubic B-spline, alpha alike) and
// reduced (256 colours with an optimised palette and dithering for P8, true
// colour otherwise); level k + 1 is nextMipLevel of level k's unencoded
// pixels (each the rounded mean of the 2 x 2 above it, colour and alpha
// alike), and every level is encoded on its own, the levels smaller than a
// 4 x 4 block from their own pixels. P8's levels after the first are its
// colours before the reduction, mipped and mapped onto level 0's palette with
// dithering. Alpha is kept where the layout holds it; DXT1 takes its 1-bit
// alpha where level 0 has a pixel with alpha below 128, and is opaque (the
// 565 variant) otherwise.
#include "formats/dictionary_edit.h"
#include "formats/texel_layout.h"
#include "imaging/dib_graphic.h"

#include <QSize>

#include <cstdint>
#include <optional>
#include <vector>

// Width x height pixels of B, G, R, A, first row at the top, from a picture
// and its alpha (empty: opaque).
std::vector<uint8_t> pictureBgra(const TDibGraphic& picture, const std::vector<uint8_t>& alpha);

// How a picture is brought to what a texture's texels are made from.
struct PicturePreparation {
    // Resampled to this size; nothing: kept at its own size, not resampled.
    std::optional<QSize> size;
    // Then reduced to ifColor256 (the 8-bit palette) or ifRgb24 (every
    // other layout); nothing: not reduced.
    std::optional<TImageFormat> format;
    // A picture that already has `size` is not resampled, and one of at most
    // 256 colours reduced to ifColor256 keeps exactly its colours (its own
    // palette, no dithering).
    bool exact = false;
    // Keep the colours before the reduction (a paletted texture's further
    // mip levels are made from them).
    bool keepUnreduced = false;
};

struct PreparedPicture {
    std::vector<uint8_t> alpha;          // at the picture's new size; empty: opaque
    std::vector<uint8_t> unreducedBgra;  // with keepUnreduced and ifColor256: B, G, R, A before the reduction
};

// Brings `picture` to `how` in place: resampled (its alpha plane `alpha`,
// width x height bytes, alike; an alpha of another size is dropped), then
// reduced. ETavrinError "Destination graphic too small" for a size below
// 2 x 2.
PreparedPicture preparePictureForTexture(TDibGraphic& picture, std::vector<uint8_t> alpha,
                                         const PicturePreparation& how);

// The picture format a layout's level 0 is reduced to: ifColor256 for P8,
// ifRgb24 for the others.
TImageFormat pictureFormatOfLayout(TexelFormat format);

// Writes the texture's stored data for `layout` into `out` (texelDataBytes
// bytes): for P8 the palette of the picture (alpha 255), then every level's
// u32 size and texels, from a picture already at the layout's size and in
// pictureFormatOfLayout. `alpha` is used where the layout holds alpha;
// `unreducedBgra` (when it has the picture's size) gives a P8 texture's
// further levels. Raises EDictionaryError when the picture does not match.
// DXT levels are encoded at `quality`.
void encodeTextureData(const TDibGraphic& picture, const TexelLayout& layout, const std::vector<uint8_t>& alpha,
                       const std::vector<uint8_t>& unreducedBgra, uint8_t* out, DxtQuality quality = DxtQuality::Fast);

// What a texture is built as.
struct TextureBuildRequest {
    // The texture's size: the picture resampled to it; nothing: the
    // picture's own size, not resampled.
    std::optional<QSize> size;
    // The layout; nothing: as add-texture chooses it (chosenLayoutOfAddedTexture
    // over the picture's alpha at the texture's size, for `platform`).
    std::optional<TexelFormat> format;
    LevelsChoice levels;                // Default: the full chain where previousLevels > 1, else one
    int previousLevels = 1;             // the level count of the texture being replaced (1 for a new one)
    uint32_t platform = 9;              // the header the texture is written with (8 or 9)
    bool exact = false;                 // as PicturePreparation::exact
    DxtQuality dxt = DxtQuality::Fast;  // how DXT levels are encoded
};

// The content of a texture built from `picture` and its alpha plane (width x
// height bytes, top row first; empty: opaque), which the picture is brought
// to the texture's size and format in place. The limits come first, before
// the picture changes: checkTextureSize (the picture's own size when it is
// not resampled), checkHeaderHolds, the level count; EDictionaryError says
// why. A side below 2 cannot be resampled to: a texture of 1 pixel's width or
// height is made from a picture of that size at its own size.
TextureContent buildTextureContent(TDibGraphic& picture, std::vector<uint8_t> alpha,
                                   const TextureBuildRequest& request);
