// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Reading a texture dictionary's texture list (layout in
// texture_dictionary_layout.h) into plain rows, one per texture, in
// dictionary order. Only the texture headers and data sizes are read; texels
// are never decoded here.
//
// The list is bounded by the end of the dictionary's entry (its FPos + Size
// in the data file, a standalone dictionary's whole file), clamped to the
// stream's length: everything past that end is treated as past the end of
// the file. So a damaged or foreign file can neither hang the reader nor
// exhaust memory, and no row ever points at texture data that is not wholly
// inside its entry:
// - a texture whose 112-byte header does not fit ends the list (not listed);
// - a texture whose palette, data size field or texels would run past the
//   end, or whose data size is negative, is listed with its header fields
//   only (the kind fields stay unset, as for an unknown kind) and ends the list;
// - a texture of a kind that is not recognised is listed the same way and
//   ends the list, since where its data ends is unknown.
#include "formats/texel_layout.h"

#include <cstdint>
#include <string>
#include <vector>

class TStream;

struct TextureRow {
    int64_t pos = 0;       // 1 for the first texture of the dictionary, 2 for the second, ...
    std::string name;      // raw Windows-1250 bytes, up to the first NUL (at most 32)
    std::string maskName;  // same rule
    int width = 0;
    int height = 0;
    uint32_t kind = 0;  // the stored kind value
    // Set only for a recognised kind whose data lies wholly inside the file:
    bool hasData = false;
    std::string type;  // "8bit paletted", "16bit", "32bit"; a sectioned texture's texelFormatTypeName
    int bits = 0;      // 8, 16, 32; a sectioned texture's depth byte
    bool paletted = false;
    int64_t imagePos = 0;  // absolute offset just after the header (palette or data size field)
    int64_t dataSize = 0;  // the data size D (level 0's size in a sectioned dictionary)
    // Sectioned dictionaries (section headers around every texture) describe
    // their texels in full; in the others the layout follows from the kind.
    // Every row of a sectioned dictionary is marked, also one without data;
    // its layout is set only with hasData.
    bool sectioned = false;
    TexelLayout layout;
    uint32_t platform = 0;  // a sectioned texture's platform field (8, 9 or another), 0 otherwise

    // "<width>x<height>", e.g. "256x128".
    std::string dimensions() const;
};

// How a listing ended.
enum class TextureListEnd {
    Complete,       // every texture the count promised was listed
    HeaderPastEnd,  // the next texture's header would run past the end of the file
    DataPastEnd,    // the last row's palette, size field or texels run past the end (or D < 0)
    UnknownKind,    // the last row has a kind that is not recognised
};

struct TextureListing {
    std::vector<TextureRow> rows;
    int32_t storedCount = 0;  // the count as stored; 0 when the file ends before it
    TextureListEnd end = TextureListEnd::Complete;
};

// The layout of a row with data: a sectioned texture's own, or the one its
// kind gives (8-bit paletted, 16-bit 555, 32-bit 8888; one level); format
// Unknown for a row without data.
TexelLayout textureRowLayout(const TextureRow& row);

// The type text of a recognised kind ("8bit paletted", "16bit", "32bit"); "" otherwise.
const char* textureTypeName(uint32_t kind);

// Reads the texture list of the dictionary starting at absolute offset
// `dictionaryOffset` of the stream, whose entry ends at `entryEnd` (its
// offset plus its size; the file's length for a standalone dictionary;
// clamped to the stream's length). Fails only when the stream itself fails.
//
// A dictionary that starts with the section headers of the sectioned layout
// (sectioned_dictionary_layout.h) is read through its sections, bounded by
// the entry: each texture is reached through the size of the one before it,
// so a texture of a layout that is not read (a 4-bit palette, a cube map,
// another platform, levels whose sizes do not fit the layout) is listed with
// its header fields only and the list goes on; sections of other types
// between the textures, inside the dictionary section, are passed over; a
// texture whose own sections are broken ends the list. Any other dictionary is read by the plain layout
// of texture_dictionary_layout.h.
TextureListing readTextureDictionary(TStream& stream, int64_t dictionaryOffset, int64_t entryEnd);

// The layout of a sectioned dictionary's texture from its 112 header bytes
// (from the texture section's start); format Unknown for a texture of a
// layout that is not read: a raster type other than a texture, no levels, a
// width or height of 0, a 4-bit palette, a cube map, a platform other than 8
// and 9, or a depth byte that does not fit the layout.
TexelLayout sectionedTexelLayout(const uint8_t* header);

// True when readTextureDictionary reads these bytes (a dictionary from
// its first byte, `size` bytes long) as a sectioned dictionary rather than
// by the plain layout.
bool isSectionedDictionary(const uint8_t* bytes, int64_t size);

// True when an entry with this name is read as a texture dictionary: ".txd"
// occurs anywhere in it, with only the letters A to Z folded to lower case
// ("menu.txd", "MENU.TXD" and "a.txd.old" count, "menu.tx" does not).
bool entryIsTextureDictionary(const std::string& entryName);
