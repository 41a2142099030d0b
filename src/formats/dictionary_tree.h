// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A sectioned texture dictionary (sectioned_dictionary_layout.h) as the
// sections it is made of, and the writer that turns the tree back into
// bytes. The tree keeps every byte: the dictionary's own bytes are held as
// read, and each section that no edit changes is written back from them byte
// for byte (other textures, unknown sections, extensions, every section's own
// library stamp). A texture an edit changed gets a new struct and texture
// section size, the dictionary section its new size, and the count in the
// dictionary's struct follows the texture sections.
//
// The edits themselves are in dictionary_edit.h.
#include "formats/texel_layout.h"
#include "platform/exceptions.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Raised when a dictionary cannot be rewritten safely, or an edit is refused;
// the message says why.
QX_DECLARE_ERROR(EDictionaryError);

// A section's 12-byte header as it lies in the bytes.
struct SectionHeader {
    uint32_t type = 0;
    uint32_t size = 0;    // bytes of the body after the header
    uint32_t stamp = 0;   // the library stamp the section carries
    int64_t offset = -1;  // of the header, from the dictionary's first byte; -1 for a section an edit made

    int64_t bodyOffset() const { return offset + 12; }
    int64_t end() const { return offset + 12 + int64_t(size); }
};

// The struct's first 88 bytes in a texture (from the texture section's
// start + 24): platform, filtering and addressing, name, mask name, raster
// format, the older header's alpha field or the newer header's format code,
// width, height, depth, level count, raster type, and the older header's
// compression byte or the newer header's flags.
constexpr int kTextureHeaderFieldBytes = 88;

struct DictionaryTexture {
    SectionHeader section;        // 0x15, the texture
    SectionHeader structSection;  // 0x01, the first section inside it
    // The sections after the struct inside the texture (its extension, and
    // whatever else it holds), written back byte for byte.
    std::vector<SectionHeader> extras;
    // The struct's header fields as they are now (an edit changes the fields
    // it sets and no other byte).
    std::array<uint8_t, kTextureHeaderFieldBytes> header{};
    // The layout the header and levels give (as the dictionary reader reads
    // it); format Unknown for a layout that is not read or levels whose sizes
    // do not fit it.
    TexelLayout layout;
    // Bytes from ImagePos (after the header fields) to the end of the last
    // level as read; the rest of the struct after them is kept as it is.
    // For a layout that is not read: the whole rest of the struct.
    int64_t sourceDataBytes = 0;

    // Edits.
    bool added = false;          // made by an edit: no bytes in the source
    bool headerChanged = false;  // `header` differs from the source's
    bool dataReplaced = false;   // `data` replaces the source's palette and levels
    std::vector<uint8_t> data;   // palette and levels (each after its u32 size) when dataReplaced

    uint32_t platform() const;   // u32 at 24: 8 older header, 9 newer header
    uint32_t filtering() const;  // u32 at 28: filtering and addressing
    std::string name() const;    // up to the first NUL, at most 32 bytes
    std::string maskName() const;
    int width() const;
    int height() const;
    int levelCount() const;  // the header's level count byte
};

// A section inside the dictionary after its struct: a texture, or any other
// section (the closing extension, or one this program does not know), kept
// as it is.
struct DictionaryNode {
    bool isTexture = false;
    SectionHeader raw;  // when !isTexture
    DictionaryTexture texture;
};

struct DictionaryTree {
    // The dictionary section's bytes as read; bytes of the entry after its
    // end are not part of the dictionary and are not kept.
    std::vector<uint8_t> source;
    SectionHeader dictionary;  // 0x16
    SectionHeader info;        // 0x01: u16 count, u16 device (and any further bytes, kept)
    uint16_t device = 0;
    std::vector<DictionaryNode> nodes;  // the sections after the struct, in file order

    int textureCount() const;
    // The index-th texture in dictionary order (0 first); EDictionaryError
    // for an index outside the dictionary.
    DictionaryTexture& texture(int index);
    const DictionaryTexture& texture(int index) const;
};

// Parses a dictionary from the entry's bytes, starting with its dictionary
// section; the entry's size bounds every section. Raises EDictionaryError
// with a message saying why for what it cannot rewrite safely: a dictionary
// of the plain, section-less layout; a dictionary, struct or texture section
// that runs past what holds it; sections that do not fill their parent
// exactly; a texture section that does not start with its struct, or a
// struct shorter than the header fields; a stored count other than the
// number of texture sections.
DictionaryTree parseDictionaryTree(std::vector<uint8_t> entry);

// Where a texture lies in the bytes writeDictionaryTree returns.
struct WrittenTreeTexture {
    int64_t sectionOffset = 0;  // the texture section's header
    int64_t imagePos = 0;       // after the header fields: the palette or level 0's size field
    int64_t endOffset = 0;      // right after its section
};

// The dictionary's bytes with every edit made: sections no edit changed are
// copied from the source byte for byte. Raises EDictionaryError when a
// section would outgrow its 32-bit size field or the count its 16 bits.
std::vector<uint8_t> writeDictionaryTree(const DictionaryTree& tree,
                                         std::vector<WrittenTreeTexture>* written = nullptr);
