// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The edits of a sectioned dictionary, as functions over its section tree
// (dictionary_tree.h): a texture's content replaced (any size, layout and
// mip chain), a texture added, textures removed, a texture renamed, and a new
// empty dictionary. Every refusal is an EDictionaryError whose message says
// why; a refused edit leaves the tree as it was. writeDictionaryTree then
// gives the new bytes.
//
// The limits:
//   width and height from 1 to 4096 pixels; DXT layouts need both divisible
//   by 4 (so at least 4);
//   a layout the texture's header cannot hold is refused (DXT5 in the older
//   header);
//   a mip chain of 1 level up to the full chain down to 1 x 1;
//   texture names of 1 to 31 bytes, mask names of 0 to 31 bytes, neither
//   holding a control character; texture names unique in their dictionary,
//   letter case ignored (a texture may be renamed to its own name in other
//   letter case).
#include "formats/dictionary_tree.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A texture's content as stored from its ImagePos: the layout it is read
// with (format, DXT1 alpha, width, height, levels), and its bytes: the
// 1024-byte palette for P8, then every level's u32 size and texels.
struct TextureContent {
    TexelLayout layout;
    std::vector<uint8_t> data;
};

constexpr int kMaxTextureSide = 4096;
constexpr int kMaxNameBytes = 31;

// The library stamps and device ids of a new dictionary of each platform.
constexpr uint32_t kNewerHeaderStamp = 0x1803FFFF;  // platform 9
constexpr uint32_t kOlderHeaderStamp = 0x1003FFFF;  // platform 8
constexpr uint16_t kNewerHeaderDevice = 2;
constexpr uint16_t kOlderHeaderDevice = 1;
// Filtering and addressing of a texture added where no texture gives them.
constexpr uint32_t kDefaultFiltering = 0x1106;

// ---- Limits (each raises EDictionaryError saying why) ----

// Width and height of a texture of `format` (Unknown: of any layout): 1 to
// 4096, and for the DXT layouts divisible by 4 (that message ends with
// `otherSize`: how the user gives another size).
void checkTextureSize(TexelFormat format, int width, int height,
                      const char* otherSize = "give another size with --size");
// A layout the texture header of `platform` (8 or 9) can hold.
void checkHeaderHolds(uint32_t platform, TexelFormat format);
// Names: 1 to 31 bytes (a mask name may be empty), no control characters
// (bytes below 0x20, 0x7F, and the bytes the code page leaves undefined).
void checkTextureName(const std::string& name);
void checkMaskName(const std::string& maskName);
// A content whose layout is one of the table's, whose size passes
// checkTextureSize, whose level count is 1 to the full chain and whose bytes
// have exactly the palette, level sizes and size fields its layout gives.
void checkTextureContent(const TextureContent& content);

// ---- Platforms ----

// The platform a dictionary's library stamp implies: 9 (the newer header)
// for a stamp of library version 3.5 or later (kNewerHeaderStamp is of
// 3.6.0.3), 8 for an earlier one (kOlderHeaderStamp is of 3.4.0.3).
uint32_t platformOfStamp(uint32_t stamp);
// The platform a texture added to the dictionary gets: its first texture's,
// or for an empty dictionary the one its stamp implies. Refused when the
// first texture's header is of a platform other than 8 and 9.
uint32_t platformOfNewTextures(const DictionaryTree& tree);

// The layout add-texture chooses: where both sides are divisible by 4, DXT1
// when every pixel is opaque, else DXT5 (DXT3 in the older header, which has
// no DXT5); otherwise 8888.
TexelFormat chosenLayoutOfAddedTexture(bool opaque, int width, int height, uint32_t platform);

// How many mip levels a texture is to have (`--levels N|all`).
struct LevelsChoice {
    enum Kind { Default, All, Count } kind = Default;
    int count = 0;  // for Count
};
// "all" (any letter case) or a whole number from 1; nothing for other text.
std::optional<LevelsChoice> parseLevelsChoice(const std::string& text);
// The number of levels of a texture of width x height: Count as asked (1 to
// the full chain; refused otherwise), All the full chain down to 1 x 1, and
// Default the full chain where the texture had more than one level
// (`previousLevels`), else one.
int levelCountFor(const LevelsChoice& choice, int width, int height, int previousLevels);

// ---- Edits ----

// The index (0 first) of the texture named `name`, letter case ignored; -1
// when there is none.
int findTextureIgnoringCase(const DictionaryTree& tree, const std::string& name);

// The index (0 first) of the texture `which` (UTF-8) names as a texture of
// a listing is named: the texture of that Pos (1 first) when `which` is a
// decimal number that is one, otherwise the first whose name is exactly
// `which`; -1 when none.
int findTextureByPosOrName(const DictionaryTree& tree, const std::string& which);

// A texture name or mask name given as UTF-8 (typed, or a file's base name)
// in the names' code page (Windows-1250), checked by checkTextureName or
// checkMaskName; refused as well when it has a character the code page
// cannot hold.
std::string textureNameFromUtf8(const std::string& utf8);
std::string maskNameFromUtf8(const std::string& utf8);

// The refusals of replaceTextureContent that do not depend on the new
// content: a texture whose layout is not read, or whose header is of a
// platform other than 8 and 9 (EDictionaryError saying why).
void checkTextureReplaceable(const DictionaryTree& tree, int index);

// A name no texture of the dictionary has, letter case ignored, except
// texture `except` (-1: none); EDictionaryError naming the texture that has it.
void checkTextureNameFree(const DictionaryTree& tree, const std::string& name, int except = -1);

// Replaces the content of texture `index`: its palette and levels, and the
// header fields they decide: the raster format's pixel layout and palette
// flag, and its levels-stored flag as the dictionary uses it (kept on a
// texture that had more than one level as that texture had it, else as the
// dictionary's first texture with more than one level has it; set where none
// has); the older header's alpha field and compression byte or the newer
// header's format code and the alpha and compressed bits of its flags;
// width, height, depth and level count. Every other byte of the texture (its
// platform, filtering, names, other flags, the bytes after its levels inside
// its struct, its extension) is kept. Refused for a texture whose layout is
// not read or whose header is of a platform other than 8 and 9, and for a
// content that fails checkTextureContent or checkHeaderHolds.
void replaceTextureContent(DictionaryTree& tree, int index, TextureContent content);

// Appends a texture after the last texture of the dictionary (before the
// sections that follow the textures): the header's platform and filtering
// from the dictionary's first texture (of an empty dictionary the platform
// its stamp implies and kDefaultFiltering), raster type 4, the fields of the
// layout as replaceTextureContent sets them, an empty extension, and the
// dictionary section's library stamp on each of its sections. Refused by the
// name limits, a name already in the dictionary, checkTextureContent and
// checkHeaderHolds.
void addTexture(DictionaryTree& tree, const std::string& name, const std::string& maskName, TextureContent content);

// Removes the textures of these indices (each 0 first; repeats allowed); a
// dictionary may become empty. Refused for an index outside the dictionary.
void removeTextures(DictionaryTree& tree, const std::vector<int>& indices);

// Renames texture `index`, and sets its mask name when `maskName` is given;
// the 32-byte fields are written with the name and NUL bytes after it. Refused
// by the name limits, a name another texture has, and a header of a platform
// other than 8 and 9.
void renameTexture(DictionaryTree& tree, int index, const std::string& name,
                   const std::optional<std::string>& maskName = std::nullopt);

// An empty standalone dictionary: platform 9 with the library stamp
// kNewerHeaderStamp on every section and device kNewerHeaderDevice, or
// platform 8 with kOlderHeaderStamp and kOlderHeaderDevice. Refused for any
// other platform.
DictionaryTree newDictionaryTree(uint32_t platform);
