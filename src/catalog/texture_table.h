// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The texture table QueryTXD: its fields, how it is filled from a
// dictionary listing and how its current row is read back as a TextureRef.
// The only place that spells its field names.
#include "catalog/entry_table.h"
#include "formats/texture_dictionary.h"
#include "texture/texture_tga.h"

#include <memory>
#include <vector>

class RecordTable;

namespace TextureField {
constexpr const char* kPos = "Pos";
constexpr const char* kDirId = "DirID";
constexpr const char* kName = "Name";
constexpr const char* kDesc = "Desc";
constexpr const char* kSize = "Size";
constexpr const char* kType = "Type";
constexpr const char* kDimensions = "Dimensions";
constexpr const char* kImagePos = "ImagePos";
constexpr const char* kPaletted = "Paletted";
constexpr const char* kWidth = "Width";
constexpr const char* kHeight = "Height";
constexpr const char* kBits = "Bits";
// Set for every texture whose data can be read, as `quarnix-tool textures
// --long` prints them:
constexpr const char* kFormat = "Format";  // the layout's short name (P8, 8888, ..., DXT5)
constexpr const char* kLevels = "Levels";  // stored levels
constexpr const char* kAlpha = "Alpha";    // "yes" when its texels carry alpha, else "no"
// Set only for a texture of a sectioned dictionary whose data can be read:
constexpr const char* kLayout = "Layout";  // the TexelFormat, as its number
}  // namespace TextureField

// Pos, DirID, Name (32), Desc (32), Size, Type (40), Dimensions (40),
// ImagePos, Paletted, Width, Height, Bits, Format (8), Levels, Alpha (3),
// Layout; filtered (not numbered).
std::unique_ptr<RecordTable> makeTextureTable();
// The columns of the texture grid: Pos, Name, Size, Type, Dimensions, Desc,
// then Format, Levels, Alpha.
std::vector<TableColumn> textureGridColumns();

// Appends one row per texture of `listing` with DirID `dirId`, with its
// grid's updates suspended. A texture whose data cannot be reached keeps
// its kind fields (Type, ImagePos, Paletted, Bits, Size, Format, Levels,
// Alpha, Layout) unset.
void fillTextureTable(RecordTable& table, const TextureListing& listing, int64_t dirId);

// The current row as a TextureRef (present false when the table has no
// current row); a sectioned texture's row gives its whole layout.
TextureRef currentTextureRef(RecordTable& table);
